// libVarnSrvGui.so: VarnSrv's window, loaded by the program at start when it
// is to show one, so that the program itself (and package varn) needs no
// Qt. One entry point; everything else is hidden. The server's own code is
// not in here: it stays in the program, which exports it, so the window
// works on the one server (its class table, its settings, its lists).
#include <cstring>
#include <exception>

#include "server/window/window_face.h"

extern "C" __attribute__((visibility("default"))) varn::IServerFace* VarnSrvGuiMakeFace(
    const varn::TStartOptions* options, char* error, size_t size) {
  auto fail = [&](const char* message) -> varn::IServerFace* {
    if (size > 0) {
      std::strncpy(error, message, size - 1);
      error[size - 1] = '\0';
    }
    return nullptr;
  };
  try {
    if (!options) return fail("no start options");
    return varn::MakeWindowFace(*options).release();
  } catch (const std::exception& e) {
    return fail(e.what());
  } catch (...) {
    return fail("unknown error");
  }
}
