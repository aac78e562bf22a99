#include "server/app/options.h"

#include <cstdlib>

namespace varn {
namespace {

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// The name of a "-X" or "/X" switch in upper case, or "" for anything else.
std::string SwitchName(const std::string& arg) {
  if (arg.size() < 2 || (arg[0] != '-' && arg[0] != '/')) return {};
  return Upper(arg.substr(1));
}

std::chrono::milliseconds ParseIdleLimit(const std::string& value) {
  const std::string what = "--idle-limit-ms: \"" + value + "\" is not a number of milliseconds";
  if (value.empty() || value.size() > 9) throw EUsageError(what);
  for (char c : value)
    if (c < '0' || c > '9') throw EUsageError(what);
  return std::chrono::milliseconds(std::stol(value));
}

int32_t ParseTcpPort(const std::string& value) {
  const std::string what = "--tcp: \"" + value + "\" is not a TCP port 1..65535";
  if (value.empty() || value.size() > 5) throw EUsageError(what);
  for (char c : value)
    if (c < '0' || c > '9') throw EUsageError(what);
  const int32_t port = std::stoi(value);
  if (port < 1 || port > 65535) throw EUsageError(what);
  return port;
}

}  // namespace

TStartOptions ParseCommandLine(const std::vector<std::string>& args) {
  TStartOptions o;
  // Checked before anything else: a close request starts nothing, so the
  // rest of the line does not matter.
  if (!args.empty() && args[0].find("close") != std::string::npos) {
    o.close = true;
    return o;
  }
  bool automation = false, regServer = false, unregServer = false;
  for (const std::string& arg : args) {
    if (arg.rfind("--", 0) == 0) {
      const size_t eq = arg.find('=');
      const std::string name = arg.substr(0, eq);
      if (arg == "--headless") {
        o.headless = true;
      } else if (arg == "--help") {
        o.help = true;
      } else if (name == "--idle-limit-ms") {
        if (eq == std::string::npos) throw EUsageError("--idle-limit-ms needs a value");
        o.idleLimit = ParseIdleLimit(arg.substr(eq + 1));
      } else if (name == "--tcp") {
        o.tcpPort = eq == std::string::npos ? 0 : ParseTcpPort(arg.substr(eq + 1));
      } else {
        throw EUsageError("unknown option \"" + arg + "\"");
      }
      continue;
    }
    const std::string name = SwitchName(arg);
    if (name == "AUTOMATION" || name == "EMBEDDING") automation = true;
    if (name == "REGSERVER") regServer = true;
    if (name == "UNREGSERVER") unregServer = true;
  }
  // Started for a client wins over the registry switches, and registering
  // over unregistering, whatever their order on the line.
  if (automation)
    o.mode = TStartMode::Automation;
  else if (regServer)
    o.mode = TStartMode::RegServer;
  else if (unregServer)
    o.mode = TStartMode::UnregServer;
  return o;
}

bool RunsHeadless(const TStartOptions& options) {
  if (options.headless) return true;
  auto set = [](const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
  };
  return !set("DISPLAY") && !set("WAYLAND_DISPLAY");
}

std::string UsageText() {
  return "Usage: VarnSrv [-Embedding | -Automation | /RegServer | /UnregServer] [--headless]\n"
         "               [--tcp[=PORT]]\n"
         "       VarnSrv close\n"
         "\n"
         "The port server: shares the computer's COM ports among the drivers of\n"
         "this computer (a Unix socket in the runtime folder) and of others (TCP,\n"
         "when TCPEnabled is set in the registry).\n"
         "\n"
         "  (no switch)     run until closed\n"
         "  -Embedding      started for a client: end when the last object goes\n"
         "  /RegServer      register the class (LocalServer32 = this program) and end\n"
         "  /UnregServer    remove the registration and end\n"
         "  close           ask the running server to close (exit code 1 when none runs)\n"
         "  --headless      no window (also without a display)\n"
         "  --tcp[=PORT]    listen on TCP for this run whatever TCPEnabled says, on PORT\n"
         "                  or TCPPort; the registry is not changed, and a port that\n"
         "                  cannot be had ends the start with an error\n"
         "\n"
         "Started by a service manager's socket (LISTEN_FDS), it serves that socket\n"
         "and runs until stopped; with NOTIFY_SOCKET set it reports when it is ready\n"
         "and when it stops.\n";
}

}  // namespace varn
