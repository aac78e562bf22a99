#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/errors.h"
#include "platform/posix/os_error.h"
#include "platform/testing/datagram_receiver.h"

namespace varn {

DatagramReceiver::DatagramReceiver(const std::string& address) : m_address(address) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (address.empty() || address.size() >= sizeof addr.sun_path)
    throw EOSError(ENAMETOOLONG, "datagram socket \"" + address + "\": empty or too long");
  const bool abstract = address[0] == '@';
  std::memcpy(addr.sun_path, address.data(), address.size());
  if (abstract)
    addr.sun_path[0] = '\0';
  else
    ::unlink(address.c_str());
  const socklen_t len =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size() + (abstract ? 0 : 1));
  m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (m_fd < 0) ThrowErrno("socket");
  if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
    const int err = errno;
    ::close(m_fd);
    m_fd = -1;
    throw EOSError(err, "bind " + address + ": " + ErrnoText(err));
  }
}

DatagramReceiver::~DatagramReceiver() {
  if (m_fd >= 0) ::close(m_fd);
  if (!m_address.empty() && m_address[0] != '@') ::unlink(m_address.c_str());
}

std::optional<std::string> DatagramReceiver::Receive(std::chrono::milliseconds limit) {
  pollfd p{m_fd, POLLIN, 0};
  int r;
  do r = ::poll(&p, 1, static_cast<int>(limit.count()));
  while (r < 0 && errno == EINTR);
  if (r <= 0) return std::nullopt;
  char buf[4096];
  const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
  if (n < 0) return std::nullopt;
  return std::string(buf, static_cast<size_t>(n));
}

}  // namespace varn
