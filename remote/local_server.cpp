#include "remote/local_server.h"

#include <thread>

#include "platform/automation/classes.h"
#include "platform/files.h"
#include "platform/install_layout.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace varn::remote {

std::string LocalServerSocketPath(const TLocalServer& server) {
  return RuntimeDirectory() + "/" + server.SocketName;
}

std::string LocalServerStartLockPath(const std::string& socketPath) {
  return socketPath + ".start.lock";
}

int64_t StartRegisteredServer(const TLocalServer& server) {
  std::string program = RegisteredLocalServer(Registry::Default(), server.Clsid).value_or("");
  if (program.empty() && server.Program && *server.Program) {
    // Beside this program or library (the build's bin/), then the installed
    // program folder seen from the private library folder, then PATH.
    const std::string here = ParentDirectory(CurrentModulePath());
    for (const std::string& dir : {here, here + "/" + install::kBinFromPrivateLib}) {
      const std::string candidate = dir + "/" + server.Program;
      if (program.empty() && FileExists(candidate)) program = candidate;
    }
    if (program.empty()) program = FindOnPath(server.Program);
  }
  if (program.empty())
    throw EDriverError(REGDB_E_CLASSNOTREG,
                       server.NotFound ? std::string(server.NotFound)
                                       : std::string("Класс не зарегистрирован: ") + server.Clsid);
  return StartDetachedProcess(program, {"-Embedding"});
}

TLocalServerConnector::TLocalServerConnector(const TLocalServer& server)
    : SocketPath(LocalServerSocketPath(server)),
      StartServer([server] { StartRegisteredServer(server); }) {}

bool TLocalServerConnector::TryOpen(TkxLocalSocketConnection& conn) {
  try {
    conn.Open();
    return true;
  } catch (const ESocketError& e) {
    if (e.NothingListens()) return false;
    throw;
  }
}

void TLocalServerConnector::Open(TkxLocalSocketConnection& conn) {
  conn.Path = SocketPath;
  if (TryOpen(conn)) return;
  // Whoever holds the lock is starting a server, or is a server started on
  // demand deciding whether to end; after it we find one listening or none.
  FileLock starting(LocalServerStartLockPath(SocketPath));
  if (TryOpen(conn)) return;
  StartServer();
  const auto deadline = std::chrono::steady_clock::now() + StartLimit;
  for (;;) {
    if (TryOpen(conn)) return;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(RetryInterval);
  }
  const auto ms = StartLimit.count();
  throw ESocketConnectionError(
      "Сервер Варн не начал слушать " + SocketPath + " за " +
      (ms % 1000 == 0 ? std::to_string(ms / 1000) + " с" : std::to_string(ms) + " мс"));
}

}  // namespace varn::remote
