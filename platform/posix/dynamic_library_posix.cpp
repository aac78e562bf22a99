// dlopen/dlsym/dladdr. dladdr names the main program by the argv[0] it was
// started with (relative, or only a name found on PATH), so code in the
// program itself is located through /proc/self/exe instead.
#include <dlfcn.h>
#include <link.h>
#include <stdlib.h>

#include <climits>

#include "platform/dynamic_library.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/process_info.h"

namespace varn {

DynamicLibrary DynamicLibrary::Load(const std::string& path) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    throw EOSError(0, why ? why : "dlopen " + path + " failed");
  }
  return DynamicLibrary(handle, path);
}

void* DynamicLibrary::Symbol(const char* name) const {
  return ::dlsym(m_handle, name);
}

std::string ModulePathOf(const void* address) {
  Dl_info info{};
  link_map* module = nullptr;
  if (!::dladdr1(address, &info, reinterpret_cast<void**>(&module), RTLD_DL_LINKMAP) || !module)
    return {};
  if (!module->l_name || module->l_name[0] == '\0') {  // the program itself
    try {
      return ExecutablePath();
    } catch (const EOSError&) {
      return {};
    }
  }
  char buf[PATH_MAX];
  return ::realpath(module->l_name, buf) ? std::string(buf) : std::string(module->l_name);
}

std::string ProgramDirectory() {
  try {
    return ParentDirectory(ExecutablePath());
  } catch (const EOSError&) {
    return {};
  }
}

std::string CurrentModulePath() {
  return ModulePathOf(reinterpret_cast<const void*>(&CurrentModulePath));
}

}  // namespace varn
