// The contract between a host and an in-process server library: the three C
// entry points the library exports, and the macro that defines them from the
// classes the library serves.
//
// A library is linked with hidden visibility (add_varn_inproc_library in
// cmake/VarnHelpers.cmake), so it carries its own copy of the platform code
// and exports these three names only. What crosses is IDispatch (a table of
// virtual functions; an object is released into the library that made it),
// Variant and DispParams (same layout on both sides, memory from the one
// C++ runtime) and type information through dynamic_cast<ITypeInfoSource*>.
// Nothing throws across: the entry points catch everything.
//
//   // in the library, once:
//   std::vector<varn::ClassEntry> DriverClasses() {
//     return {{kVarnDrvClsid, "VarnDrv.VarnDrv", [] { return MakeObject<TVarnDrv>(); }}};
//   }
//   VARN_INPROC_SERVER(DriverClasses)
#pragma once

#include <vector>

#include "platform/automation/classes.h"
#include "platform/automation/dispatch.h"

#define VARN_INPROC_EXPORT __attribute__((visibility("default")))

extern "C" {
// The object of the class `clsid` ("{...}", any case; its ProgID is accepted
// too, for a host that found the library beside itself and knows no CLSID),
// with one reference the caller owns; nullptr when the library does not serve
// that class or cannot make the object.
VARN_INPROC_EXPORT varn::IDispatch* VarnDllGetObject(const char* clsid);
// Writes the registration of every class the library serves (InprocServer32
// = the library's absolute path) into the current user's registry, or
// removes it. 0 on success, else an HRESULT (SELFREG_E_CLASS).
VARN_INPROC_EXPORT int VarnDllRegisterServer();
VARN_INPROC_EXPORT int VarnDllUnregisterServer();
}

namespace varn::inproc {

using GetObjectFunction = IDispatch* (*)(const char* clsid);
using RegisterFunction = int (*)();
inline constexpr const char* kGetObject = "VarnDllGetObject";
inline constexpr const char* kRegisterServer = "VarnDllRegisterServer";
inline constexpr const char* kUnregisterServer = "VarnDllUnregisterServer";

using ClassList = std::vector<ClassEntry> (*)();

// What the entry points do. The list is read once, and its classes are also
// added to the library's own ClassTable, so that code in the library
// creates them without going through the registry.
IDispatch* GetObject(ClassList classes, const char* clsid) noexcept;
// `self`: any address in the library (its path is found from it).
int RegisterServer(ClassList classes, const void* self) noexcept;
int UnregisterServer(ClassList classes) noexcept;

}  // namespace varn::inproc

// Defines the three entry points for the classes `classList()` returns.
#define VARN_INPROC_SERVER(classList)                                                      \
  extern "C" VARN_INPROC_EXPORT varn::IDispatch* VarnDllGetObject(const char* clsid) {     \
    return varn::inproc::GetObject(&classList, clsid);                                     \
  }                                                                                        \
  extern "C" VARN_INPROC_EXPORT int VarnDllRegisterServer() {                              \
    return varn::inproc::RegisterServer(&classList,                                        \
                                        reinterpret_cast<const void*>(&VarnDllGetObject)); \
  }                                                                                        \
  extern "C" VARN_INPROC_EXPORT int VarnDllUnregisterServer() {                            \
    return varn::inproc::UnregisterServer(&classList);                                     \
  }
