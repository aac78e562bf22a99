#include "platform/automation/classes.h"

#include <cctype>
#include <filesystem>

#include "platform/automation/inproc_server.h"
#include "platform/dynamic_library.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/install_layout.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace varn {
namespace {

const std::string kClasses = "SOFTWARE\\Classes\\";

bool IsClsid(const std::string& s) {
  return s.size() > 2 && s.front() == '{' && s.back() == '}';
}

[[noreturn]] void NotRegistered(const std::string& name) {
  throw EDriverError(REGDB_E_CLASSNOTREG, "Класс не зарегистрирован: " + name);
}

// Says where CreateObject looked for `progId`'s library and what to do.
[[noreturn]] void NotFound(const std::string& name, const std::string& progId,
                           const std::vector<std::string>& folders) {
  const std::string file = LibraryFileFor(progId, ".");
  if (file.empty()) NotRegistered(name);
  const std::string library = file.substr(2);
  std::string where;
  for (const auto& dir : folders) {
    if (dir.empty()) continue;
    if (!where.empty()) where += ", ";
    where += dir;
  }
  throw EDriverError(
      REGDB_E_CLASSNOTREG,
      "Класс не зарегистрирован: " + name + ". Его нет в реестре (" + RegistryFilePath() + "), и " +
          library + " нет в папках: " + (where.empty() ? "(не известны)" : where) +
          ". Установите пакет " + "varn или положите " + library + " рядом с программой");
}

// A library found by a path rule writes its classes' registration (its own
// absolute path as InprocServer32), so that hosts that only read the
// registry find it too. A registry that cannot be written changes nothing
// here: the object is made either way.
void RegisterFoundLibrary(const std::string& path) {
  try {
    const DynamicLibrary lib = DynamicLibrary::Load(path);
    if (const auto reg = lib.Function<inproc::RegisterFunction>(inproc::kRegisterServer)) reg();
  } catch (const std::exception&) {
  }
}

DispatchPtr FromEntry(const ClassEntry& entry, const std::string& name) {
  DispatchPtr obj = entry.factory();
  if (!obj) throw EDriverError(E_FAIL, "Не удалось создать объект " + name);
  return obj;
}

}  // namespace

DispatchPtr CreateObjectFromLibrary(const std::string& path, const std::string& name) {
  std::optional<DynamicLibrary> lib;
  try {
    lib = DynamicLibrary::Load(path);
  } catch (const EOSError& e) {
    throw EDriverError(CO_E_DLLNOTFOUND,
                       "Не удалось загрузить библиотеку " + path + ": " + e.what());
  }
  const auto get = lib->Function<inproc::GetObjectFunction>(inproc::kGetObject);
  if (!get)
    throw EDriverError(CO_E_ERRORINDLL, "В библиотеке " + path + " нет точки входа " +
                                            std::string(inproc::kGetObject));
  IDispatch* obj = get(name.c_str());
  if (!obj)
    throw EDriverError(CLASS_E_CLASSNOTAVAILABLE,
                       "Библиотека " + path + " не создаёт объект " + name);
  return DispatchPtr::Adopt(obj);
}

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
  if (!entry) NotRegistered(name);
  return FromEntry(*entry, name);
}

std::string LibraryFileFor(const std::string& progId, const std::string& dir) {
  // Only a plain name: a ProgID must not lead anywhere but into `dir`.
  const std::string first = progId.substr(0, progId.find('.'));
  if (dir.empty() || first.empty() || first.size() == progId.size()) return {};
  for (const char c : first)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') return {};
  return dir + "/lib" + first + ".so";
}

std::string LibraryBesideProgram(const std::string& progId) {
  return LibraryFileFor(progId, ProgramDirectory());
}

std::vector<std::string> LibraryFolders() {
  const std::string program = ProgramDirectory();
  if (program.empty()) return {};
  const std::filesystem::path installed =
      std::filesystem::path(program + "/" + install::kPrivateLibFromBin).lexically_normal();
  std::string dir = installed.string();
  if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return {program, dir};
}

DispatchPtr CreateObject(const std::u16string& progIdOrClsid) {
  return CreateObject(progIdOrClsid, {});
}

DispatchPtr CreateObject(const std::u16string& progIdOrClsid,
                         const std::vector<std::string>& moreFolders) {
  const std::string name = Utf16ToUtf8(progIdOrClsid);
  if (auto entry = ClassTable::Instance().Find(name)) return FromEntry(*entry, name);

  std::string clsid, progId, library;
  try {
    const Registry reg = Registry::Default();
    if (IsClsid(name)) {
      clsid = name;
      progId = RegisteredProgId(reg, clsid).value_or("");
    } else {
      progId = name;
      clsid = RegisteredClsid(reg, progId).value_or("");
    }
    if (!clsid.empty()) library = RegisteredInprocServer(reg, clsid).value_or("");
  } catch (const ERegistryError& e) {
    throw EDriverError(E_FAIL, e.what());
  }
  if (!progId.empty())
    if (auto entry = ClassTable::Instance().Find(progId)) return FromEntry(*entry, name);
  if (!library.empty() && FileExists(library)) return CreateObjectFromLibrary(library, clsid);

  // No registered library, or one whose file is gone (the package removed or
  // moved): the path rules, and what they find is registered in its place.
  std::vector<std::string> folders = LibraryFolders();
  folders.insert(folders.end(), moreFolders.begin(), moreFolders.end());
  if (!progId.empty()) {
    for (const auto& dir : folders) {
      const std::string path = LibraryFileFor(progId, dir);
      if (path.empty() || !FileExists(path)) continue;
      DispatchPtr obj = CreateObjectFromLibrary(path, clsid.empty() ? progId : clsid);
      RegisterFoundLibrary(path);
      return obj;
    }
  }
  // A registration naming a file that is gone and nothing found instead:
  // the loader says which file it was.
  if (!library.empty()) return CreateObjectFromLibrary(library, clsid);
  if (progId.empty()) NotRegistered(name);
  NotFound(name, progId, folders);
}

void RegisterClass(Registry& reg, const std::string& clsid, const std::string& progId,
                   const std::string& serverPath, ServerKind kind) {
  reg.Update([&](RegistryData& d) {
    const std::string key = kClasses + "CLSID\\" + clsid;
    const auto text = [](const std::string& s) { return RegValue{RegValue::Type::String, s, 0}; };
    d.SetValue(key, "", text(progId));
    d.SetValue(key + "\\ProgID", "", text(progId));
    if (!serverPath.empty() && kind == ServerKind::Local) {
      d.SetValue(key + "\\LocalServer32", "", text(serverPath));
    } else if (!serverPath.empty()) {
      d.SetValue(key + "\\InprocServer32", "", text(serverPath));
      d.SetValue(key + "\\InprocServer32", "ThreadingModel", text("Apartment"));
    }
    d.SetValue(kClasses + progId + "\\CLSID", "", text(clsid));
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

std::optional<std::string> RegisteredClsid(const Registry& reg, const std::string& progId) {
  return reg.ReadString(kClasses + progId + "\\CLSID", "");
}

std::optional<std::string> RegisteredLocalServer(const Registry& reg, const std::string& clsid) {
  return reg.ReadString(kClasses + "CLSID\\" + clsid + "\\LocalServer32", "");
}

std::optional<std::string> RegisteredInprocServer(const Registry& reg, const std::string& clsid) {
  return reg.ReadString(kClasses + "CLSID\\" + clsid + "\\InprocServer32", "");
}

}  // namespace varn
