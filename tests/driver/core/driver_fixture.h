// What the driver tests share: a private environment, the device emulator
// registered as COM1, the built VarnSrv registered as the port server's
// local program (the driver starts it on demand), and a driver object made
// the way hosts make it, called by name.
#pragma once

#include <memory>
#include <string>

#include "driver/core/varn_drv.h"
#include "emulator/emulated_device.h"
#include "emulator/registration.h"
#include "platform/automation/classes.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tests/support/port_server.h"
#include "tests/support/test_env.h"

namespace varn::test {

// The driver as hosts get it: libVarnDrv.so, found beside the test program.
class Driver {
 public:
  Driver() : m_obj(CreateObject(u"VarnDrv.VarnDrv")) {}
  explicit Driver(DispatchPtr obj) : m_obj(std::move(obj)) {}

  int32_t Call(const char16_t* name) { return CallMethod(*m_obj, name).ToInt32(); }
  Variant Get(const char16_t* name) { return GetProperty(*m_obj, name); }
  int32_t Int(const char16_t* name) { return Get(name).ToInt32(); }
  std::string Text(const char16_t* name) { return Utf16ToUtf8(Get(name).ToString()); }
  void Set(const char16_t* name, Variant v) { PutProperty(*m_obj, name, std::move(v)); }
  void Set(const char16_t* name, const char* utf8) { Set(name, Variant(Utf8ToUtf16(utf8))); }
  // ResultCode and ResultCodeDescription together.
  std::pair<int32_t, std::string> Result() {
    return {Int(u"ResultCode"), Text(u"ResultCodeDescription")};
  }
  IDispatch& Object() { return *m_obj; }
  // Only for an object made in this process (MakeObject<TVarnDrv>).
  TVarnDrv& Impl() { return dynamic_cast<TVarnDrv&>(*m_obj); }
  void Release() { m_obj = {}; }

 private:
  DispatchPtr m_obj;
};

class DriverTest : public ::testing::Test {
 protected:
  DriverTest() {
    RegisterClass(registry, test::kPortServer.Clsid, "VarnSrv.VarnSrv", VARNSRV_PROGRAM);
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
