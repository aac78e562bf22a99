// The VarnSrv program's steps, from the command line to the exit code.
//
//   int main(int argc, char** argv) { return varn::VarnSrvMain({argv + 1, argv + argc}); }
//
// Start-up errors are printed as "Сервер Варн: <message>" on standard error
// and end the program with exit code 1.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/event_loop.h"
#include "server/app/options.h"

namespace varn {

inline constexpr const char* kServerTitle = "Сервер Варн";

// The class registration for `mode`: removed for UnregServer, otherwise
// written with this program as LocalServer32. Raises the registry's error.
void UpdateRegistration(TStartMode mode);

// Asks the server listening at `socketPath` to close. False when none
// listens there (then nothing happens; `VarnSrv close` says so and ends
// with 1); raises when it cannot be asked.
bool RequestClose(const std::string& socketPath);

class TServerApp;

// What a server with a window adds around TServerApp (server/window
// implements it; this library knows no toolkit). The calls come in this
// order, all on the main thread but CloseRequested.
class IServerFace {
 public:
  virtual ~IServerFace() = default;
  // The loop the server runs on.
  virtual IEventLoop& Loop() = 0;
  // Before TServerApp::Start: its hooks (warnings, the question) go here.
  virtual void Attach(TServerApp& app) = 0;
  // After a successful start: the window filled, the tray icon shown.
  virtual void Started() = 0;
  // Any thread (a termination signal, a close request): the window's close,
  // which may ask first and be refused.
  virtual void CloseRequested() = 0;
  // After the loop ended, before TServerApp::Shutdown.
  virtual void Detach() = 0;
};
// Makes the face, or returns null when none can be shown (then the server
// runs headless).
using TFaceFactory = std::function<std::unique_ptr<IServerFace>(const TStartOptions&)>;

// `face`: how a program built with a window makes it; it is used only when
// RunsHeadless is false.
int VarnSrvMain(const std::vector<std::string>& args, const TFaceFactory& face = {});

}  // namespace varn
