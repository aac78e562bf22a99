// libVarnDrv.so: the driver as an in-process server library. Hosts create
// its class by ProgID or CLSID through the object model (CreateObject);
// they never link it.
#include "driver/core/varn_drv.h"
#include "platform/automation/inproc_server.h"

namespace {

std::vector<varn::ClassEntry> DriverClasses() {
  return {{varn::kVarnDrvClsid, varn::kVarnDrvProgId,
           [] { return varn::MakeObject<varn::TVarnDrv>(); }}};
}

}  // namespace

VARN_INPROC_SERVER(DriverClasses)
