#include "emulator/registration.h"

#include "platform/com_ports.h"
#include "platform/serial.h"

namespace varn::emu {

TComRegistration::TComRegistration(int com, std::string path)
    : m_registry(Registry::Default()),
      m_name("COM" + std::to_string(com)),
      m_path(std::move(path)) {
  m_registry.Update([&](RegistryData& data) {
    if (const RegValue* old = data.Value(kPortsKey, m_name);
        old && old->type == RegValue::Type::String)
      m_replaced = old->text;
    data.SetValue(kPortsKey, m_name, RegValue{RegValue::Type::String, m_path, 0});
  });
}

TComRegistration::~TComRegistration() {
  try {
    m_registry.Update([&](RegistryData& data) {
      const RegValue* now = data.Value(kPortsKey, m_name);
      // Someone pointed COM N elsewhere meanwhile: theirs stays.
      if (!now || now->type != RegValue::Type::String || now->text != m_path) return;
      if (m_replaced)
        data.SetValue(kPortsKey, m_name, RegValue{RegValue::Type::String, *m_replaced, 0});
      else
        data.DeleteValue(kPortsKey, m_name);
    });
  } catch (...) {
    // A registry that became unreadable is left alone; it is never overwritten.
  }
}

}  // namespace varn::emu
