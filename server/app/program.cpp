#include "server/app/program.h"

#include <atomic>
#include <cstdio>
#include <thread>

#include "platform/automation/classes.h"
#include "platform/diagnostics.h"
#include "platform/display.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/process_info.h"
#include "platform/registry.h"
#include "platform/service_manager.h"
#include "platform/signals.h"
#include "platform/socket.h"
#include "remote/local_server.h"
#include "server/app/error_file.h"
#include "server/app/server_app.h"
#include "server/varn_srv.h"

namespace varn {
namespace {

void Say(const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", kServerTitle, text.c_str());
  std::fflush(stderr);
}

int Fail(const std::string& text) {
  Say(text);
  return 1;
}

// What a service manager hears: where clients reach the server.
std::string ServiceStatus(const TServerApp& app, const std::string& socketPath) {
  std::string status = "STATUS=Сервер Варн слушает " + socketPath;
  if (app.TcpListening()) status += " и TCP-порт " + std::to_string(app.TcpPort());
  return status;
}

void NotifyManager(const ServiceNotifier& notifier, const std::string& state) {
  std::string error;
  if (!notifier.Notify(state, &error)) Say("менеджер служб не извещён: " + error);
}

int RunServer(const TStartOptions& options, const TFaceFactory& makeFace) {
  // The environment is read before any thread starts (and cleaned of what
  // was meant for this process alone).
  std::optional<ListeningSocket> inherited;
  try {
    inherited = ListeningSocket::Inherited();
  } catch (const ESocketError& e) {
    // Listening anywhere else would leave the manager's clients unserved.
    throw std::runtime_error(std::string("сокет от менеджера служб не принят: ") + e.what());
  }
  const ServiceNotifier notifier = ServiceNotifier::FromEnvironment();
  // Started by its socket, the server runs until the manager stops it, even
  // with -Embedding: the socket stays with the manager, so ending when idle
  // would gain one process's memory and cost a start per client, and the
  // careful end (stop listening, look, listen again) cannot reopen a socket
  // that is not ours.
  TStartMode mode = options.mode;
  if (inherited && mode == TStartMode::Automation) mode = TStartMode::StandAlone;
  // Before any thread starts, so that every thread inherits the blocked
  // signals and only the watcher below takes them.
  TerminationSignals signals;
  IgnoreBrokenPipes();
  // Made before the server, which runs on its loop, and gone after it.
  std::unique_ptr<IServerFace> face;
  if (makeFace && !RunsHeadless(options)) {
    // Qt would end the process on a display that does not answer.
    if (const DisplayCheck display = CheckDisplay(); display.available) {
      try {
        face = makeFace(options);
      } catch (const std::exception& e) {
        Say(std::string("окно не показано: ") + e.what() + "; сервер работает без окна");
      }
    } else
      Say("окно не показано: " + display.reason + "; сервер работает без окна");
  }
  TServerApp app(mode, face ? &face->Loop() : nullptr);
  app.IdleLimit = options.idleLimit;
  app.InheritedSocket = std::move(inherited);
  app.TcpForRun = options.tcpPort;
  // Why a port could not be opened (the clients only get -2 or -3), and
  // what the server runs on without: also in VarnSrv.err, for a server
  // whose standard error nobody reads.
  auto report = [](const std::string& text) {
    Say(text);
    AppendErrorLine(text);
  };
  app.OnWarning = report;
  SetDiagnosticSink(report);
  // Headless, nobody can be asked: a close drops the clients without a
  // question. The window asks (and may be told No).
  if (face) face->Attach(app);
  app.Start();
  if (face) face->Started();
  // Ready once the loop runs: the listeners accept from the start.
  if (notifier.Enabled())
    app.Loop().Post([&] {
      NotifyManager(notifier, "READY=1\nMAINPID=" + std::to_string(CurrentProcessId()) + "\n" +
                                  ServiceStatus(app, app.SocketPath));
    });
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    while (!done)
      if (signals.Wait(std::chrono::milliseconds(200))) {
        if (face)
          face->CloseRequested();
        else
          app.Close();
      }
  });
  app.Run();
  if (notifier.Enabled())
    NotifyManager(notifier, "STOPPING=1\nSTATUS=Сервер Варн завершает работу");
  done = true;
  watcher.join();
  if (face) face->Detach();
  app.Shutdown();
  SetDiagnosticSink(nullptr);
  return 0;
}

}  // namespace

void UpdateRegistration(TStartMode mode) {
  Registry reg = Registry::Default();
  if (mode == TStartMode::UnregServer)
    UnregisterClass(reg, kVarnSrvClsid, kVarnSrvProgId);
  else
    RegisterClass(reg, kVarnSrvClsid, kVarnSrvProgId, ExecutablePath());
}

bool RequestClose(const std::string& socketPath) {
  CheckPrivateFolder(ParentDirectory(socketPath), "the runtime folder");
  CheckOwnFile(socketPath, "the server's socket");
  const std::optional<int64_t> pid = UnixSocketListenerProcessId(socketPath);
  if (!pid) return false;
  if (*pid <= 0 || *pid == CurrentProcessId())
    throw std::runtime_error("cannot tell which process listens at " + socketPath);
  // A socket a service manager holds reports the manager as its listener:
  // terminating that would end far more than the server.
  const std::optional<std::string> name = ProcessName(*pid);
  if (name && *name != ProgramName())
    throw std::runtime_error("the socket " + socketPath + " is held by process " +
                             std::to_string(*pid) + " (" + *name +
                             "), not by a port server; a service is stopped by its manager "
                             "(systemctl --user stop varnsrv.socket varnsrv.service)");
  // The server takes SIGTERM as its close: listeners, objects and ports go
  // in order, and the socket file with them.
  TerminateProcess(*pid);
  return true;
}

int VarnSrvMain(const std::vector<std::string>& args, const TFaceFactory& face) {
  TStartOptions options;
  try {
    options = ParseCommandLine(args);
  } catch (const EUsageError& e) {
    return Fail(std::string(e.what()) + " (see --help)");
  }
  if (options.help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (options.close) {
    // A script that closes a server that is not there learns it.
    const std::string socket = remote::LocalServerSocketPath(kVarnSrvLocalServer);
    try {
      if (!RequestClose(socket))
        return Fail("сервер не запущен (никто не слушает " + socket + "), закрывать нечего");
    } catch (const std::exception& e) {
      return Fail(e.what());
    }
    return 0;
  }
  const bool registryOnly =
      options.mode == TStartMode::RegServer || options.mode == TStartMode::UnregServer;
  try {
    UpdateRegistration(options.mode);
  } catch (const std::exception& e) {
    // Only an explicit registration must succeed; a server that cannot
    // update its registration still serves.
    if (options.mode == TStartMode::RegServer) return Fail(e.what());
  }
  if (registryOnly) return 0;
  try {
    return RunServer(options, face);
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}

}  // namespace varn
