// The class table: CLSID and ProgID to a factory, in-process, and the
// registration of classes into the registry store.
//
//   ClassTable::Instance().Add({"{51FABCFE-...}", "VarnSrv.VarnSrv", [] { ... }});
//   DispatchPtr obj = ClassTable::Instance().Create(u"{51FABCFE-...}");
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/automation/dispatch.h"

namespace varn {

class Registry;

struct ClassEntry {
  std::string clsid;   // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case
  std::string progId;  // "Library.Class"
  std::function<DispatchPtr()> factory;
};

class ClassTable {
 public:
  static ClassTable& Instance();
  void Add(ClassEntry entry);  // replaces an entry with the same CLSID
  // By ProgID, or by CLSID text in braces (case-insensitive). The table
  // first, then the ProgID a CLSID is registered under in the registry.
  // EDriverError (code REGDB_E_CLASSNOTREG) when nothing fits.
  DispatchPtr Create(const std::u16string& nameOrClsid) const;
  std::optional<ClassEntry> Find(const std::string& nameOrClsid) const;

 private:
  mutable std::mutex m_lock;
  std::vector<ClassEntry> m_entries;
};

// HKCU\SOFTWARE\Classes\CLSID\{..}\ProgID (default value = ProgID),
// ...\LocalServer32 (default value = the server program, when given), and
// HKCU\SOFTWARE\Classes\<ProgID>\CLSID (default value = the CLSID).
void RegisterClass(Registry& reg, const std::string& clsid, const std::string& progId,
                   const std::string& localServerPath = {});
void UnregisterClass(Registry& reg, const std::string& clsid, const std::string& progId);
// The ProgID registered for a CLSID, or the LocalServer32 path of a CLSID.
std::optional<std::string> RegisteredProgId(const Registry& reg, const std::string& clsid);
std::optional<std::string> RegisteredLocalServer(const Registry& reg, const std::string& clsid);

}  // namespace varn
