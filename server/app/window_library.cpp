#include "server/app/window_library.h"

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/dynamic_library.h"
#include "platform/files.h"

#ifndef VARN_SRVGUI_FROM_BINDIR
#define VARN_SRVGUI_FROM_BINDIR "../lib/varn"
#endif

namespace varn {

std::unique_ptr<IServerFace> LoadWindowFace(const TStartOptions& options) {
  const std::string dir = ProgramDirectory();
  if (dir.empty()) throw std::runtime_error("не удалось узнать папку программы");
  const std::vector<std::string> candidates = {
      dir + "/" + kWindowLibraryName,
      dir + "/" + VARN_SRVGUI_FROM_BINDIR + "/" + kWindowLibraryName};
  for (const std::string& path : candidates) {
    if (!FileExists(path)) continue;
    TMakeFaceEntry make = nullptr;
    try {
      make = DynamicLibrary::Load(path).Function<TMakeFaceEntry>(kMakeFaceEntryName);
    } catch (const std::exception& e) {
      throw std::runtime_error("библиотека окна " + path + " не загружена (" + e.what() + ")");
    }
    if (!make) throw std::runtime_error("в библиотеке окна " + path + " нет точки входа");
    char error[512] = {};
    std::unique_ptr<IServerFace> face(make(&options, error, sizeof error));
    if (!face) throw std::runtime_error(std::string("окно не создано: ") + error);
    return face;
  }
  throw std::runtime_error("библиотека окна " + std::string(kWindowLibraryName) +
                           " не найдена (пакет varn-gui не установлен?)");
}

}  // namespace varn
