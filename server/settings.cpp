#include "server/settings.h"

#include "platform/registry.h"

namespace varn {

void TServerSettings::ResetSettings() {
  Warning = true;
  LogOn = false;
  TCPPort = 211;
  AutoUnlock = false;
  TCPEnabled = false;
  PortTimeout = 10;
  TCPAddress = "";
  TCPAllow = "";
}

void TServerSettings::LoadSettings() {
  ResetSettings();
  try {
    const Registry reg = Registry::Default();
    if (!reg.KeyExists(kServerKey)) return;
    auto flag = [&](const char* name, std::atomic<bool>& field) {
      if (auto v = reg.ReadDword(kServerKey, name)) field = *v != 0;
    };
    auto number = [&](const char* name, std::atomic<int32_t>& field) {
      if (auto v = reg.ReadDword(kServerKey, name)) field = static_cast<int32_t>(*v);
    };
    flag("Warning", Warning);
    flag("LogOn", LogOn);
    flag("AutoUnlock", AutoUnlock);
    number("PortTimeout", PortTimeout);
    flag("TCPEnabled", TCPEnabled);
    number("TCPPort", TCPPort);
    auto text = [&](const char* name, TSharedText& field) {
      if (auto v = reg.ReadString(kServerKey, name)) field = *v;
    };
    text("TCPAddress", TCPAddress);
    text("TCPAllow", TCPAllow);
  } catch (const std::exception&) {
    // Whatever was read stays; the rest keeps its default.
  }
}

void TServerSettings::SaveSettings() const {
  try {
    Registry::Default().Update([&](RegistryData& d) {
      auto put = [&](const char* name, uint32_t value) {
        d.SetValue(kServerKey, name, RegValue{RegValue::Type::Dword, {}, value});
      };
      d.Ensure(kServerKey);
      put("LogOn", LogOn ? 1 : 0);
      put("Warning", Warning ? 1 : 0);
      put("TCPPort", static_cast<uint32_t>(TCPPort.load()));
      put("TCPEnabled", TCPEnabled ? 1 : 0);
      put("AutoUnlock", AutoUnlock ? 1 : 0);
      put("PortTimeout", static_cast<uint32_t>(PortTimeout.load()));
      d.SetValue(kServerKey, "TCPAddress", RegValue{RegValue::Type::String, TCPAddress.load(), 0});
      d.SetValue(kServerKey, "TCPAllow", RegValue{RegValue::Type::String, TCPAllow.load(), 0});
    });
  } catch (const std::exception&) {
    // An unwritable registry leaves the settings in force for this run only.
  }
}

}  // namespace varn
