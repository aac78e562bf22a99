#include "platform/automation/inproc_server.h"

#include <mutex>

#include "platform/dynamic_library.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace varn::inproc {
namespace {

// A library serves one list; it is read at the first call of an entry point.
const std::vector<ClassEntry>& Served(ClassList classes) {
  static std::once_flag once;
  static std::vector<ClassEntry> served;
  std::call_once(once, [&] {
    std::vector<ClassEntry> list = classes();
    for (const auto& e : list) ClassTable::Instance().Add(e);
    served = std::move(list);
  });
  return served;
}

}  // namespace

IDispatch* GetObject(ClassList classes, const char* clsid) noexcept {
  try {
    if (!clsid) return nullptr;
    for (const auto& e : Served(classes)) {
      if (!EqualNoCase(e.clsid, clsid) && !EqualNoCase(e.progId, clsid)) continue;
      DispatchPtr obj = e.factory();
      IDispatch* p = obj.get();
      if (p) p->AddRef();  // the caller's reference; `obj` drops its own
      return p;
    }
  } catch (...) {
  }
  return nullptr;
}

int RegisterServer(ClassList classes, const void* self) noexcept {
  try {
    const std::string path = ModulePathOf(self);
    if (path.empty()) return SELFREG_E_CLASS;
    Registry reg = Registry::Default();
    for (const auto& e : Served(classes))
      RegisterClass(reg, e.clsid, e.progId, path, ServerKind::InProcess);
    return 0;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

int UnregisterServer(ClassList classes) noexcept {
  try {
    Registry reg = Registry::Default();
    for (const auto& e : Served(classes)) UnregisterClass(reg, e.clsid, e.progId);
    return 0;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

}  // namespace varn::inproc
