// The server's window as its face (server/app/program.h): Qt's application
// and loop, TfmMain and the tray icon around a TServerApp.
//
//   int main(int argc, char** argv) {
//     return varn::VarnSrvMain({argv + 1, argv + argc}, varn::MakeWindowFace);
//   }
#pragma once

#include <memory>

#include "server/app/program.h"

namespace varn {

// The face on the display Qt finds (QT_QPA_PLATFORM chooses another).
std::unique_ptr<IServerFace> MakeWindowFace(const TStartOptions& options);

}  // namespace varn
