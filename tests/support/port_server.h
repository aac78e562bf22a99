// The port server as the suites meet it: the class, socket and program it
// gives itself (server/varn_srv.h) and the driver looks for, for suites that
// register it, wait for its socket or start it without linking either.
#pragma once

#include <string>

#include "remote/local_server.h"

namespace varn::test {

inline constexpr remote::TLocalServer kPortServer{"{51FABCFE-95AD-4BC9-BABA-97F9D279F37E}",
                                                  "VarnSrv.sock", "VarnSrv"};

inline std::string PortServerSocketPath() {
  return remote::LocalServerSocketPath(kPortServer);
}

}  // namespace varn::test
