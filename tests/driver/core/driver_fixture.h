// What the driver tests share: a private environment, the device emulator
// registered as COM1, the built VarnSrv registered as the port server's
// local program (the driver starts it on demand), and a driver object made
// the way hosts make it, called by name through the hosts' client.
#pragma once

#include <memory>
#include <string>

#include "driver/client/driver_client.h"
#include "driver/core/varn_drv.h"
#include "emulator/emulated_device.h"
#include "emulator/registration.h"
#include "platform/automation/classes.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "remote/local_server.h"
#include "tests/support/test_env.h"

namespace varn::test {

// The driver as hosts get it: libVarnDrv.so, found beside the test program,
// through the hosts' client; the tests call it by name.
class Driver : public DriverClient {
 public:
  Driver() : DriverClient(CreateObject(kDriverProgId)) {}
  explicit Driver(DispatchPtr obj) : DriverClient(std::move(obj)) {}

  using DriverClient::Set;
  void Set(const char16_t* name, Variant v) {
    DriverClient::Set(std::u16string(name), std::move(v));
  }
  void Set(const char16_t* name, const char* utf8) { Set(name, Variant(Utf8ToUtf16(utf8))); }
  // ResultCode and ResultCodeDescription together.
  std::pair<int32_t, std::string> Result() {
    return {Int(drv_dispid::kResultCode), Text(drv_dispid::kResultCodeDescription)};
  }
  // Only for an object made in this process (MakeObject<TVarnDrv>).
  TVarnDrv& Impl() { return dynamic_cast<TVarnDrv&>(Object()); }
};

class DriverTest : public ::testing::Test {
 protected:
  DriverTest() {
    RegisterClass(registry, remote::kPortServerClsid, "VarnSrv.VarnSrv", VARNSRV_PROGRAM);
  }
  // The emulator as COM `com`, answering at 4800 bit/s (the driver's default).
  void StartDevice(emu::EmulatorOptions options = {}, int com = 1) {
    options.paperPath = env.Path("paper.txt");
    devices.push_back(std::make_unique<emu::EmulatedDevice>(options));
    registrations.push_back(
        std::make_unique<emu::TComRegistration>(com, devices.back()->SlavePath()));
  }
  std::string Paper() const { return ReadFileOrEmpty(env.Path("paper.txt")); }

  TempEnv env;
  Registry registry = Registry::Default();
  std::vector<std::unique_ptr<emu::EmulatedDevice>> devices;
  std::vector<std::unique_ptr<emu::TComRegistration>> registrations;
};

}  // namespace varn::test
