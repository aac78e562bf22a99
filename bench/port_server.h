// The port server as the benchmarks start and reach it: the class, socket
// and program it gives itself (server/varn_srv.h), for benchmarks that do
// not link it.
#pragma once

#include <string>

#include "remote/local_server.h"

namespace varn::bench {

inline constexpr remote::TLocalServer kPortServer{"{51FABCFE-95AD-4BC9-BABA-97F9D279F37E}",
                                                  "VarnSrv.sock", "VarnSrv"};

inline std::string PortServerSocketPath() {
  return remote::LocalServerSocketPath(kPortServer);
}

}  // namespace varn::bench
