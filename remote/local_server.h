// Local activation: how a driver reaches the port server on this computer.
//
// The server listens on a Unix socket in the runtime folder. A connector
// first just connects; when nothing listens it takes the start lock (a file
// lock beside the socket), looks again, and only then starts the registered
// server with -Embedding and waits for it to listen (at most 10 s). Two
// drivers starting at once therefore end up with one server: the second
// waits for the lock and finds the first one's server listening.
//
//   TkxLocalSocketConnection conn;
//   conn.ServerGUID = kServerClsid;
//   TLocalServerConnector connector;
//   connector.ServerGUID = kServerClsid;
//   connector.Open(conn);               // starts VarnSrv when needed
//   DispatchPtr server = conn.ServerObject();
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "remote/connection.h"

namespace varn::remote {

// $VARN_RUNTIME_DIR/VarnSrv.sock (see RuntimeDirectory()).
std::string LocalServerSocketPath();
// The start lock beside the socket at `socketPath`: held by a connector
// that found nothing listening until a server listens, and by a server
// started on demand while it decides to end, so that the connector starts
// a new server only once the old one has stopped for good.
std::string LocalServerStartLockPath(const std::string& socketPath);

// The port server's class (the server's own kVarnSrvClsid).
inline constexpr const char* kPortServerClsid = "{51FABCFE-95AD-4BC9-BABA-97F9D279F37E}";

// Starts the server program of class `clsid` with -Embedding: the
// LocalServer32 path registered for it; for the port server's class only,
// else VarnSrv beside this program or library, else VarnSrv on PATH (that
// program serves no other class). EDriverError REGDB_E_CLASSNOTREG when
// there is none (for the port server: "Сервер Варн не установлен или ещё ни
// разу не запускался: ..."); EOSError when it cannot be run. Returns its
// process id.
int64_t StartRegisteredServer(const std::string& clsid);

class TLocalServerConnector {
 public:
  TLocalServerConnector();

  std::string SocketPath;  // default: LocalServerSocketPath() when constructed
  std::string ServerGUID;  // whose LocalServer32 is started
  // How long a started server may take to listen.
  std::chrono::milliseconds StartLimit{std::chrono::seconds(10)};
  std::chrono::milliseconds RetryInterval{std::chrono::milliseconds(25)};
  // The step that starts the server; default StartRegisteredServer(ServerGUID).
  std::function<void()> StartServer;

  // Sets conn.Path to SocketPath and opens it, starting the server first
  // when nothing listens there. Raises what Open raises, the start step's
  // error, or ESocketConnectionError when the server did not listen in time.
  void Open(TkxLocalSocketConnection& conn);

 private:
  bool TryOpen(TkxLocalSocketConnection& conn);
};

}  // namespace varn::remote
