// libVarnDrv.so: the driver as an in-process server library. Hosts create
// its class by ProgID or CLSID through the object model (CreateObject);
// they never link it. The class is the 1C adapter, a driver object that
// also offers the add-in interfaces.
#include "driver/host/ole1c.h"
#include "platform/automation/inproc_server.h"

namespace {

std::vector<varn::ClassEntry> DriverClasses() {
  return {
      {varn::kVarnDrvClsid, varn::kVarnDrvProgId, [] { return varn::MakeObject<varn::Tole1C>(); }}};
}

}  // namespace

VARN_INPROC_SERVER(DriverClasses)
