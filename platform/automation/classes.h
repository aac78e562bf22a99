// Classes: the in-process class table (CLSID and ProgID to a factory), class
// registration in the registry store, and CreateObject, which finds a class
// wherever it lives: in this module's table, in a registered in-process
// server library, or in a library beside the program.
//
//   ClassTable::Instance().Add({"{51FABCFE-...}", "VarnSrv.VarnSrv", [] { ... }});
//   DispatchPtr drv = CreateObject(u"VarnDrv.VarnDrv");
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

// One table per module: a program and each in-process server library it
// loads have their own.
class ClassTable {
 public:
  static ClassTable& Instance();
  void Add(ClassEntry entry);  // replaces an entry with the same CLSID
  // By ProgID, or by CLSID text in braces (case-insensitive). The table
  // first, then the ProgID a CLSID is registered under in the registry.
  // EDriverError (code REGDB_E_CLASSNOTREG) when nothing fits. Only this
  // table's classes: a server creating objects for remote callers uses this,
  // never CreateObject, so no caller can make it load a library.
  DispatchPtr Create(const std::u16string& nameOrClsid) const;
  std::optional<ClassEntry> Find(const std::string& nameOrClsid) const;

 private:
  mutable std::mutex m_lock;
  std::vector<ClassEntry> m_entries;
};

// Creates an object by ProgID or CLSID text in braces (case-insensitive):
// 1. this module's ClassTable (also by the ProgID a CLSID is registered as);
// 2. the registry: ProgID -> CLSID -> InprocServer32 -> the library, loaded
//    and asked through its VarnDllGetObject (platform/automation/inproc_server.h);
// 3. a library named after the ProgID's first part ("VarnDrv.VarnDrv" ->
//    libVarnDrv.so) in LibraryFolders() (beside the running program, so that
//    a fresh build works before anything is registered, then the installed
//    private folder relative to it), then in `moreFolders`. Step 3 also runs
//    when the registered library's file is gone, and a library it finds
//    registers its classes (VarnDllRegisterServer), replacing the stale
//    registration, so that hosts that only read the registry find it.
// EDriverError: REGDB_E_CLASSNOTREG (not found anywhere; for a ProgID the
// text goes on with the registry file and folders looked in, and what to
// do), CO_E_DLLNOTFOUND
// (the library cannot be loaded; the loader's text follows), CO_E_ERRORINDLL
// (no entry point), CLASS_E_CLASSNOTAVAILABLE (the library does not make it).
DispatchPtr CreateObject(const std::u16string& progIdOrClsid);
DispatchPtr CreateObject(const std::u16string& progIdOrClsid,
                         const std::vector<std::string>& moreFolders);
// The folders of step 3: the program's, then the installed private library
// folder relative to it (<bindir>/../lib/<multiarch>/varn, normalized).
std::vector<std::string> LibraryFolders();
// The object `name` (a CLSID, or a ProgID when no CLSID is known) from the
// in-process server library at `path`, with CreateObject's errors: for a
// host that knows where the library is when the object model cannot.
DispatchPtr CreateObjectFromLibrary(const std::string& path, const std::string& name);

// dir/lib<first part of the ProgID>.so, "" when the ProgID is not a plain
// "Name.Class" (so that no ProgID leads out of `dir`) or `dir` is empty.
std::string LibraryFileFor(const std::string& progId, const std::string& dir);
// The library a class would come from by step 3 above ("" when the name
// gives none): ProgramDirectory()/lib<first part>.so.
std::string LibraryBesideProgram(const std::string& progId);

enum class ServerKind {
  Local,      // LocalServer32: a program started with -Embedding
  InProcess,  // InprocServer32: a shared library, apartment threading
};

// HKCU\SOFTWARE\Classes\CLSID\{..} (default value = ProgID), its ProgID
// subkey, the server's subkey when a path is given (LocalServer32 or
// InprocServer32 with ThreadingModel "Apartment", default value = the path),
// and HKCU\SOFTWARE\Classes\<ProgID>\CLSID (default value = the CLSID).
void RegisterClass(Registry& reg, const std::string& clsid, const std::string& progId,
                   const std::string& serverPath = {}, ServerKind kind = ServerKind::Local);
void UnregisterClass(Registry& reg, const std::string& clsid, const std::string& progId);
// What a registration says: the ProgID of a CLSID, the CLSID of a ProgID,
// the server program or library of a CLSID.
std::optional<std::string> RegisteredProgId(const Registry& reg, const std::string& clsid);
std::optional<std::string> RegisteredClsid(const Registry& reg, const std::string& progId);
std::optional<std::string> RegisteredLocalServer(const Registry& reg, const std::string& clsid);
std::optional<std::string> RegisteredInprocServer(const Registry& reg, const std::string& clsid);

}  // namespace varn
