// Shared libraries loaded at run time (in-process automation servers), and
// which file a piece of code was loaded from.
//
// A library once loaded stays loaded for the rest of the process: objects it
// made may outlive every handle to it, and their code must stay mapped.
//
//   DynamicLibrary lib = DynamicLibrary::Load("/opt/varn/lib/libVarnDrv.so");
//   auto get = lib.Function<IDispatch* (*)(const char*)>("VarnDllGetObject");
//   std::string mine = ModulePathOf(reinterpret_cast<const void*>(&SomeFunction));
#pragma once

#include <string>

namespace varn {

class DynamicLibrary {
 public:
  // Every symbol is resolved at once, and nothing the library exports is seen
  // by libraries loaded later. Loading a library that is loaded already gives
  // the same one. EOSError with the system loader's text when it cannot load.
  static DynamicLibrary Load(const std::string& path);

  // The address of an exported symbol; nullptr when the library has none.
  void* Symbol(const char* name) const;
  template <class F>
  F Function(const char* name) const {
    return reinterpret_cast<F>(Symbol(name));
  }
  const std::string& Path() const { return m_path; }

 private:
  DynamicLibrary(void* handle, std::string path) : m_handle(handle), m_path(std::move(path)) {}
  void* m_handle;  // never closed
  std::string m_path;
};

// The absolute path of the program or shared library whose code or data holds
// `address` (the program's own file for code linked into it); "" when the
// system cannot tell.
std::string ModulePathOf(const void* address);

// The folder of the running program's file; "" when the system cannot tell.
std::string ProgramDirectory();

}  // namespace varn
