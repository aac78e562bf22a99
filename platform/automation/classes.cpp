#include "platform/automation/classes.h"

#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace varn {
namespace {

const std::string kClasses = "SOFTWARE\\Classes\\";

bool IsClsid(const std::string& s) {
  return s.size() > 2 && s.front() == '{' && s.back() == '}';
}

}  // namespace

ClassTable& ClassTable::Instance() {
  static ClassTable table;
  return table;
}

void ClassTable::Add(ClassEntry entry) {
  std::lock_guard lock(m_lock);
  std::erase_if(m_entries, [&](const ClassEntry& e) { return EqualNoCase(e.clsid, entry.clsid); });
  m_entries.push_back(std::move(entry));
}

std::optional<ClassEntry> ClassTable::Find(const std::string& name) const {
  std::lock_guard lock(m_lock);
  for (const auto& e : m_entries)
    if (EqualNoCase(e.clsid, name) || EqualNoCase(e.progId, name)) return e;
  return std::nullopt;
}

DispatchPtr ClassTable::Create(const std::u16string& nameOrClsid) const {
  const std::string name = Utf16ToUtf8(nameOrClsid);
  auto entry = Find(name);
  if (!entry && IsClsid(name)) {
    // A class known only by its registration: the ProgID it is registered as.
    if (auto progId = RegisteredProgId(Registry::Default(), name)) entry = Find(*progId);
  }
  if (!entry) throw EDriverError(REGDB_E_CLASSNOTREG, "Класс не зарегистрирован: " + name);
  DispatchPtr obj = entry->factory();
  if (!obj) throw EDriverError(E_FAIL, "Не удалось создать объект " + name);
  return obj;
}

void RegisterClass(Registry& reg, const std::string& clsid, const std::string& progId,
                   const std::string& localServerPath) {
  reg.Update([&](RegistryData& d) {
    const std::string key = kClasses + "CLSID\\" + clsid;
    d.SetValue(key, "", RegValue{RegValue::Type::String, progId, 0});
    d.SetValue(key + "\\ProgID", "", RegValue{RegValue::Type::String, progId, 0});
    if (!localServerPath.empty())
      d.SetValue(key + "\\LocalServer32", "", RegValue{RegValue::Type::String, localServerPath, 0});
    d.SetValue(kClasses + progId + "\\CLSID", "", RegValue{RegValue::Type::String, clsid, 0});
  });
}

void UnregisterClass(Registry& reg, const std::string& clsid, const std::string& progId) {
  reg.Update([&](RegistryData& d) {
    d.DeleteTree(kClasses + "CLSID\\" + clsid);
    d.DeleteTree(kClasses + progId);
  });
}

std::optional<std::string> RegisteredProgId(const Registry& reg, const std::string& clsid) {
  return reg.ReadString(kClasses + "CLSID\\" + clsid + "\\ProgID", "");
}

std::optional<std::string> RegisteredLocalServer(const Registry& reg, const std::string& clsid) {
  return reg.ReadString(kClasses + "CLSID\\" + clsid + "\\LocalServer32", "");
}

}  // namespace varn
