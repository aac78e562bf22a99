// Process facts on Linux: /proc/self/exe for the program's file,
// gethostname for the computer name, and SO_PEERCRED, which on a connected
// Unix socket gives the credentials the listening process had when it
// called listen().
#include <signal.h>
#include <unistd.h>
#include <cstdio>

#include <cerrno>
#include <climits>

#include "platform/errors.h"
#include "platform/posix/os_error.h"
#include "platform/process_info.h"
#include "platform/socket.h"

namespace varn {

std::string ExecutablePath() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) ThrowErrno("readlink /proc/self/exe");
  return std::string(buf, static_cast<size_t>(n));
}

std::string HostName() {
  char buf[HOST_NAME_MAX + 1] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) return {};
  return buf;
}

namespace {

std::optional<std::string> CommOf(const std::string& proc) {
  char buf[64] = {};
  FILE* f = std::fopen(("/proc/" + proc + "/comm").c_str(), "r");
  if (!f) return std::nullopt;
  if (!std::fgets(buf, sizeof buf, f)) buf[0] = '\0';
  std::fclose(f);
  std::string name = buf;
  while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
  return name;
}

}  // namespace

std::string ProgramName() {
  return CommOf("self").value_or("");
}

std::optional<std::string> ProcessName(int64_t pid) {
  if (pid <= 0) return std::nullopt;
  return CommOf(std::to_string(pid));
}

void IgnoreBrokenPipes() {
  ::signal(SIGPIPE, SIG_IGN);
}

std::optional<int64_t> UnixSocketListenerProcessId(const std::string& path) {
  try {
    return StreamSocket::ConnectUnix(path).PeerProcessId();
  } catch (const ESocketError& e) {
    if (e.NothingListens()) return std::nullopt;
    throw;
  }
}

}  // namespace varn
