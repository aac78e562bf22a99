// Local activation: how a client reaches a server program on this
// computer. The server and its clients each name it (TLocalServer): the
// class it serves, its socket, its program; this layer knows none of them.
//
// The server listens on a Unix socket in the runtime folder. A connector
// first just connects; when nothing listens it takes the start lock (a file
// lock beside the socket), looks again, and only then starts the registered
// server with -Embedding and waits for it to listen (at most 10 s). Two
// drivers starting at once therefore end up with one server: the second
// waits for the lock and finds the first one's server listening.
//
//   constexpr TLocalServer kServer{"{...}", "Server.sock", "Server"};
//   TkxLocalSocketConnection conn;
//   conn.ServerGUID = kServer.Clsid;
//   TLocalServerConnector connector(kServer);
//   connector.Open(conn);               // starts the program when needed
//   DispatchPtr server = conn.ServerObject();
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "remote/connection.h"

namespace varn::remote {

// What a local server is known by.
struct TLocalServer {
  const char* Clsid;       // the class it serves, its LocalServer32 in the registry
  const char* SocketName;  // its socket's file name in the runtime folder
  // Its program's file name, for a class not registered: looked for beside
  // the calling program or library, then in the installed program folder
  // relative to it (install::kBinFromPrivateLib), then on PATH.
  const char* Program;
  // What to say when the program is found nowhere (the class is then not
  // registered either); none: "Класс не зарегистрирован: <Clsid>".
  const char* NotFound = nullptr;
};

// $VARN_RUNTIME_DIR/<SocketName> (see RuntimeDirectory()).
std::string LocalServerSocketPath(const TLocalServer& server);
// The start lock beside the socket at `socketPath`: held by a connector
// that found nothing listening until a server listens, and by a server
// started on demand while it decides to end, so that the connector starts
// a new server only once the old one has stopped for good.
std::string LocalServerStartLockPath(const std::string& socketPath);

// Starts the program of `server` with -Embedding: the LocalServer32 path
// registered for its class, else its Program beside
// this program or library, else in the installed program folder relative
// to it, else on PATH. EDriverError REGDB_E_CLASSNOTREG when there is
// none (with its NotFound text); EOSError when it cannot be run. Returns its
// process id.
int64_t StartRegisteredServer(const TLocalServer& server);

class TLocalServerConnector {
 public:
  explicit TLocalServerConnector(const TLocalServer& server);

  std::string SocketPath;  // default: LocalServerSocketPath(server)
  // How long a started server may take to listen.
  std::chrono::milliseconds StartLimit{std::chrono::seconds(10)};
  std::chrono::milliseconds RetryInterval{std::chrono::milliseconds(25)};
  // The step that starts the server; default StartRegisteredServer(server).
  std::function<void()> StartServer;

  // Sets conn.Path to SocketPath and opens it, starting the server first
  // when nothing listens there. Raises what Open raises, the start step's
  // error, or ESocketConnectionError when the server did not listen in time.
  void Open(TkxLocalSocketConnection& conn);

 private:
  bool TryOpen(TkxLocalSocketConnection& conn);
};

}  // namespace varn::remote
