// The server's window from its library (libVarnSrvGui.so, server/window),
// loaded only when a window is to be shown: beside the program (the build
// tree), else in the installed private folder
// (<bindir>/VARN_SRVGUI_FROM_BINDIR, e.g. ../lib/x86_64-linux-gnu/varn).
//
//   VarnSrvMain(args, LoadWindowFace);   // headless with one line without it
#pragma once

#include <memory>

#include "server/app/program.h"

namespace varn {

inline constexpr const char* kWindowLibraryName = "libVarnSrvGui.so";
// The entry point the library exports: the face, or null with the reason in
// `error` (at most `size` bytes with its terminating zero).
using TMakeFaceEntry = IServerFace* (*)(const TStartOptions* options, char* error, size_t size);
inline constexpr const char* kMakeFaceEntryName = "VarnSrvGuiMakeFace";

// A TFaceFactory: the window from the first library found. Raises, saying
// why (none found, not loadable, no entry, the window refused), in Russian.
std::unique_ptr<IServerFace> LoadWindowFace(const TStartOptions& options);

}  // namespace varn
