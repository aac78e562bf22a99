#include "remote/local_server.h"

#include <thread>

#include "platform/automation/classes.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace varn::remote {

std::string LocalServerSocketPath() {
  return RuntimeDirectory() + "/VarnSrv.sock";
}

std::string LocalServerStartLockPath(const std::string& socketPath) {
  return socketPath + ".start.lock";
}

int64_t StartRegisteredServer(const std::string& clsid) {
  std::string program = RegisteredLocalServer(Registry::Default(), clsid).value_or("");
  if (program.empty() && EqualNoCase(clsid, kPortServerClsid)) {
    const std::string beside = ParentDirectory(CurrentModulePath()) + "/VarnSrv";
    program = FileExists(beside) ? beside : FindOnPath("VarnSrv");
    // A driver unpacked alone (the 1C add-in) has only the registration
    // that every server start writes: without it the server was never
    // installed or never ran as this user.
    if (program.empty())
      throw EDriverError(REGDB_E_CLASSNOTREG,
                         "Сервер Варн не установлен или ещё ни разу не запускался: "
                         "нет его регистрации (LocalServer32), рядом с драйвером и в PATH "
                         "его тоже нет");
  }
  if (program.empty())
    throw EDriverError(REGDB_E_CLASSNOTREG, "Класс не зарегистрирован: " + clsid);
  return StartDetachedProcess(program, {"-Embedding"});
}

TLocalServerConnector::TLocalServerConnector()
    : SocketPath(LocalServerSocketPath()),
      StartServer([this] { StartRegisteredServer(ServerGUID); }) {}

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
