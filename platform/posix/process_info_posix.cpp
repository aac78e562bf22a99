// Process facts on Linux: /proc/self/exe for the program's file, and
// SO_PEERCRED, which on a connected Unix socket gives the credentials the
// listening process had when it called listen().
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/errors.h"
#include "platform/process_info.h"
#include "platform/socket.h"

namespace varn {

std::string ExecutablePath() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) {
    const int err = errno;
    throw EOSError(err, std::string("readlink /proc/self/exe: ") + std::strerror(err));
  }
  return std::string(buf, static_cast<size_t>(n));
}

void IgnoreBrokenPipes() {
  ::signal(SIGPIPE, SIG_IGN);
}

std::optional<int64_t> UnixSocketListenerProcessId(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path)
    throw ESocketError(ENAMETOOLONG, "socket path \"" + path + "\" is empty or too long");
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    const int err = errno;
    throw ESocketError(err, std::string("socket: ") + std::strerror(err));
  }
  int r;
  do r = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  while (r != 0 && errno == EINTR);
  if (r != 0) {
    const int err = errno;
    ::close(fd);
    if (err == ENOENT || err == ECONNREFUSED) return std::nullopt;
    throw ESocketError(err, "connect to " + path + ": " + std::strerror(err));
  }
  ucred cred{};
  socklen_t len = sizeof cred;
  const int got = ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len);
  const int err = errno;
  ::close(fd);
  if (got != 0) throw ESocketError(err, "SO_PEERCRED on " + path + ": " + std::strerror(err));
  return static_cast<int64_t>(cred.pid);
}

}  // namespace varn
