// The command line of VarnSrv.
//
//   VarnSrv                      stand-alone: runs until closed
//   VarnSrv -Embedding           started for a client (also -Automation):
//                                ends when its last object is released
//   VarnSrv /RegServer           register the class and end
//   VarnSrv /UnregServer         remove the registration and end
//   VarnSrv close                ask the running server to close
//   --headless                   no window even where a display exists
//   --tcp[=PORT]                 TCP listener on for this run (the registry
//                                unchanged), on PORT or the registry's TCPPort
//
// The switches take "-" or "/" and any letter case; "close" may stand
// anywhere in the first parameter (in that case, and only there). Other
// parameters are ignored as the component system may add its own, but an
// unknown "--" option is an error: it can only be a typing mistake.
//
//   TStartOptions o = ParseCommandLine({"/regserver"});  // o.mode == RegServer
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace varn {

enum class TStartMode {
  StandAlone,   // started by the user: runs until closed
  Automation,   // started for a client: also ends with its last object
  RegServer,    // registers and ends
  UnregServer,  // removes the registration and ends
};

struct TStartOptions {
  bool close = false;  // ask a running server to close, start nothing
  TStartMode mode = TStartMode::StandAlone;
  bool headless = false;  // --headless
  bool help = false;      // --help
  // --idle-limit-ms=N (not in the usage text): closes a connection idle
  // this long. The server runs with none; tests use a short one.
  std::chrono::milliseconds idleLimit{0};
  // --tcp[=PORT]: listen on TCP this run whatever TCPEnabled says; the port
  // given, or 0 for the registry's TCPPort. Unset: as the registry says.
  std::optional<int32_t> tcpPort;
};

class EUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// `args` without the program name. EUsageError says what is wrong.
TStartOptions ParseCommandLine(const std::vector<std::string>& args);

// True when the program runs without a window: asked to, or no display.
bool RunsHeadless(const TStartOptions& options);

// The text --help prints.
std::string UsageText();

}  // namespace varn
