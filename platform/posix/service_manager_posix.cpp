// The notification protocol in a few lines instead of a library: a
// datagram socket per message (messages are rare: ready, stopping).
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/posix/os_error.h"
#include "platform/service_manager.h"

namespace varn {

ServiceNotifier ServiceNotifier::FromEnvironment() {
  ServiceNotifier n;
  if (const char* address = std::getenv("NOTIFY_SOCKET")) n.m_address = address;
  ::unsetenv("NOTIFY_SOCKET");
  return n;
}

bool ServiceNotifier::Notify(const std::string& state, std::string* error) const {
  if (m_address.empty()) return true;
  auto fail = [&](const std::string& text) {
    if (error) *error = "notify " + m_address + ": " + text;
    return false;
  };
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  // "@name": the abstract namespace, whose names start with a zero byte.
  const bool abstract = m_address[0] == '@';
  if (m_address.size() >= sizeof addr.sun_path || (m_address[0] != '/' && !abstract))
    return fail("not a socket path or @name");
  std::memcpy(addr.sun_path, m_address.data(), m_address.size());
  if (abstract) addr.sun_path[0] = '\0';
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + m_address.size() +
                                               (abstract ? 0 : 1));
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return fail(ErrnoText(errno));
  ssize_t sent;
  do
    sent = ::sendto(fd, state.data(), state.size(), MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(&addr), len);
  while (sent < 0 && errno == EINTR);
  const int err = errno;
  ::close(fd);
  if (sent < 0) return fail(ErrnoText(err));
  if (static_cast<size_t>(sent) != state.size()) return fail("the message was cut short");
  return true;
}

}  // namespace varn
