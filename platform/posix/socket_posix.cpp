// Stream sockets on POSIX: getaddrinfo for names, poll for readiness with a
// time limit, MSG_NOSIGNAL so a vanished peer is an error and not SIGPIPE,
// and a self-pipe that wakes a blocked accept from another thread.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"
#include "platform/posix/os_error.h"
#include "platform/socket.h"

namespace varn {
namespace {

[[noreturn]] void Fail(const std::string& what, int err = errno) {
  const bool nothing = err == ECONNREFUSED || err == ENOENT;
  throw ESocketError(err, what + ": " + ErrnoText(err), nothing);
}

void CloseFd(int& fd) {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
}

// poll() on one or two descriptors for input, restarted after signals with
// the time that is left. Returns the revents of the first, 0 on time-out.
short PollIn(int fd, int wakeFd, std::optional<std::chrono::microseconds> limit,
             bool* woken = nullptr) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = limit ? Clock::now() + *limit : Clock::time_point::max();
  pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
  const nfds_t count = wakeFd >= 0 ? 2 : 1;
  for (;;) {
    int ms = -1;
    if (limit) {
      const auto left = deadline - Clock::now();
      // Round up so that a short limit still waits instead of spinning.
      ms = left <= Clock::duration::zero()
               ? 0
               : static_cast<int>(std::min<int64_t>(
                     std::chrono::ceil<std::chrono::milliseconds>(left).count(), INT32_MAX));
    }
    const int r = ::poll(fds, count, ms);
    if (r > 0) {
      if (woken) *woken = count == 2 && fds[1].revents != 0;
      return fds[0].revents;
    }
    if (r == 0) {
      if (!limit || Clock::now() >= deadline) return 0;
      continue;
    }
    if (errno != EINTR) Fail("poll");
  }
}

std::string AddressText(const sockaddr* sa) {
  char host[INET6_ADDRSTRLEN] = {};
  if (sa->sa_family == AF_INET) {
    auto* in = reinterpret_cast<const sockaddr_in*>(sa);
    inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(in->sin_port));
  }
  if (sa->sa_family == AF_INET6) {
    auto* in6 = reinterpret_cast<const sockaddr_in6*>(sa);
    inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
    return "[" + std::string(host) + "]:" + std::to_string(ntohs(in6->sin6_port));
  }
  return "local";
}

sockaddr_un UnixAddress(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path)
    throw ESocketError(ENAMETOOLONG, "socket path \"" + path + "\" is empty or longer than " +
                                         std::to_string(sizeof addr.sun_path - 1) + " bytes");
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return addr;
}

// Binds `fd` (of `family`) to the numeric address `text`, any port; false
// with errno set when it cannot.
bool BindSource(int fd, int family, const std::string& text) {
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (::getaddrinfo(text.c_str(), "0", &hints, &found) != 0) {
    errno = EAFNOSUPPORT;  // not an address of that family
    return false;
  }
  const bool bound = ::bind(fd, found->ai_addr, found->ai_addrlen) == 0;
  const int error = errno;
  ::freeaddrinfo(found);
  errno = error;
  return bound;
}

}  // namespace

// --- StreamSocket -------------------------------------------------------------

StreamSocket::~StreamSocket() {
  Close();
}

StreamSocket::StreamSocket(StreamSocket&& o) noexcept : m_fd(o.m_fd) {
  o.m_fd = -1;
}

StreamSocket& StreamSocket::operator=(StreamSocket&& o) noexcept {
  if (this != &o) {
    Close();
    m_fd = o.m_fd;
    o.m_fd = -1;
  }
  return *this;
}

StreamSocket StreamSocket::ConnectTcp(const std::string& host, uint16_t port,
                                      const std::string& fromAddress) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (rc != 0) {
    throw ESocketError(rc == EAI_SYSTEM ? errno : 0,
                       "resolve \"" + host + "\": " + ::gai_strerror(rc));
  }
  int lastErr = ECONNREFUSED;
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) {
      lastErr = errno;
      continue;
    }
    if (!fromAddress.empty() && !BindSource(fd, ai->ai_family, fromAddress)) {
      lastErr = errno;
      ::close(fd);
      continue;
    }
    int r;
    do r = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
    while (r != 0 && errno == EINTR);
    if (r == 0) {
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      ::freeaddrinfo(list);
      return StreamSocket(fd);
    }
    lastErr = errno;
    ::close(fd);
  }
  ::freeaddrinfo(list);
  Fail("connect to " + host + ":" + service, lastErr);
}

StreamSocket StreamSocket::ConnectUnix(const std::string& path) {
  const sockaddr_un addr = UnixAddress(path);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail("socket");
  int r;
  do r = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  while (r != 0 && errno == EINTR);
  if (r != 0) {
    const int err = errno;
    ::close(fd);
    Fail("connect to " + path, err);
  }
  return StreamSocket(fd);
}

int64_t StreamSocket::PeerProcessId() const {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(m_fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) Fail("SO_PEERCRED");
  return static_cast<int64_t>(cred.pid);
}

void StreamSocket::SendAll(std::span<const uint8_t> bytes) {
  if (m_fd < 0) throw ESocketError(ENOTCONN, "send: the socket is closed");
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("send");
    }
    done += static_cast<size_t>(n);
  }
}

bool StreamSocket::WaitReadable(std::optional<std::chrono::microseconds> limit) {
  if (m_fd < 0) throw ESocketError(ENOTCONN, "wait: the socket is closed");
  return PollIn(m_fd, -1, limit) != 0;
}

size_t StreamSocket::Receive(void* buffer, size_t size) {
  if (m_fd < 0) throw ESocketError(ENOTCONN, "receive: the socket is closed");
  for (;;) {
    const ssize_t n = ::recv(m_fd, buffer, size, 0);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno == EINTR) continue;
    // A peer that reset the connection has closed it as far as we care.
    if (errno == ECONNRESET) return 0;
    Fail("receive");
  }
}

std::optional<size_t> StreamSocket::ReceiveWithin(void* buffer, size_t size,
                                                  std::optional<std::chrono::microseconds> limit) {
  if (m_fd < 0) throw ESocketError(ENOTCONN, "receive: the socket is closed");
  for (bool waited = false;;) {
    const ssize_t n = ::recv(m_fd, buffer, size, MSG_DONTWAIT);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno == EINTR) continue;
    if (errno == ECONNRESET) return 0;
    if (errno != EAGAIN && errno != EWOULDBLOCK) Fail("receive");
    if (waited) return std::nullopt;
    if (PollIn(m_fd, -1, limit) == 0) return std::nullopt;
    waited = true;
  }
}

void StreamSocket::Shutdown() {
  if (m_fd >= 0) ::shutdown(m_fd, SHUT_RDWR);
}

void StreamSocket::Close() {
  CloseFd(m_fd);
}

std::string StreamSocket::PeerName() const {
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  if (m_fd < 0 || ::getpeername(m_fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return "?";
  return AddressText(reinterpret_cast<const sockaddr*>(&ss));
}

std::optional<IpAddress> StreamSocket::PeerAddress() const {
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  if (m_fd < 0 || ::getpeername(m_fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0)
    return std::nullopt;
  IpAddress a;
  if (ss.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&ss);
    std::memcpy(a.bytes.data(), &in->sin_addr, 4);
    return a;
  }
  if (ss.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&ss);
    a.v6 = true;
    std::memcpy(a.bytes.data(), &in6->sin6_addr, 16);
    return a;
  }
  return std::nullopt;
}

void StreamSocket::SetKeepAlive(const TcpKeepAlive& k) {
  if (m_fd < 0) throw ESocketError(ENOTCONN, "keepalive: the socket is closed");
  auto set = [&](int level, int name, int value, const char* what) {
    if (::setsockopt(m_fd, level, name, &value, sizeof value) != 0)
      Fail(std::string("setsockopt ") + what);
  };
  set(SOL_SOCKET, SO_KEEPALIVE, 1, "SO_KEEPALIVE");
  set(IPPROTO_TCP, TCP_KEEPIDLE, static_cast<int>(k.idle.count()), "TCP_KEEPIDLE");
  set(IPPROTO_TCP, TCP_KEEPINTVL, static_cast<int>(k.interval.count()), "TCP_KEEPINTVL");
  set(IPPROTO_TCP, TCP_KEEPCNT, k.count, "TCP_KEEPCNT");
  set(IPPROTO_TCP, TCP_USER_TIMEOUT, static_cast<int>(k.userTimeout.count()), "TCP_USER_TIMEOUT");
}

std::optional<TcpKeepAlive> StreamSocket::KeepAlive() const {
  auto get = [&](int level, int name, const char* what) {
    int value = 0;
    socklen_t len = sizeof value;
    if (::getsockopt(m_fd, level, name, &value, &len) != 0) Fail(std::string("getsockopt ") + what);
    return value;
  };
  if (!get(SOL_SOCKET, SO_KEEPALIVE, "SO_KEEPALIVE")) return std::nullopt;
  TcpKeepAlive k;
  k.idle = std::chrono::seconds(get(IPPROTO_TCP, TCP_KEEPIDLE, "TCP_KEEPIDLE"));
  k.interval = std::chrono::seconds(get(IPPROTO_TCP, TCP_KEEPINTVL, "TCP_KEEPINTVL"));
  k.count = get(IPPROTO_TCP, TCP_KEEPCNT, "TCP_KEEPCNT");
  k.userTimeout = std::chrono::milliseconds(get(IPPROTO_TCP, TCP_USER_TIMEOUT, "TCP_USER_TIMEOUT"));
  return k;
}

// --- ListeningSocket ------------------------------------------------------------

ListeningSocket::~ListeningSocket() {
  Close();
}

ListeningSocket::ListeningSocket(ListeningSocket&& o) noexcept
    : m_fd(o.m_fd),
      m_wakeRead(o.m_wakeRead),
      m_wakeWrite(o.m_wakeWrite),
      m_lockFd(o.m_lockFd),
      m_path(std::move(o.m_path)),
      m_inherited(o.m_inherited) {
  o.m_fd = o.m_wakeRead = o.m_wakeWrite = o.m_lockFd = -1;
  o.m_path.clear();
  o.m_inherited = false;
}

ListeningSocket& ListeningSocket::operator=(ListeningSocket&& o) noexcept {
  if (this != &o) {
    Close();
    m_fd = o.m_fd;
    m_wakeRead = o.m_wakeRead;
    m_wakeWrite = o.m_wakeWrite;
    m_lockFd = o.m_lockFd;
    m_path = std::move(o.m_path);
    m_inherited = o.m_inherited;
    o.m_fd = o.m_wakeRead = o.m_wakeWrite = o.m_lockFd = -1;
    o.m_path.clear();
    o.m_inherited = false;
  }
  return *this;
}

namespace {

// Binds and listens; closes `fd` and raises on failure.
void BindAndListen(int fd, const sockaddr* addr, socklen_t len, const std::string& what,
                   uint16_t port) {
  if (::bind(fd, addr, len) != 0 || ::listen(fd, SOMAXCONN) != 0) {
    const int err = errno;
    ::close(fd);
    std::string text = what + ": " + ErrnoText(err);
    if (err == EACCES && port != 0 && port < 1024)
      text += " (ports below 1024 need root or the CAP_NET_BIND_SERVICE capability)";
    throw ESocketError(err, text);
  }
}

void MakeWakePipe(int& readFd, int& writeFd) {
  int p[2];
  if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) Fail("pipe");
  readFd = p[0];
  writeFd = p[1];
}

}  // namespace

ListeningSocket ListeningSocket::ListenTcp(uint16_t port, const std::string& bindAddress) {
  const std::string what = "listen on TCP port " + std::to_string(port);
  int fd = -1;
  if (bindAddress.empty()) {
    // Dual stack where the system has IPv6, plain IPv4 otherwise (also
    // when IPv6 exists but is switched off).
    fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
      const int zero = 0, one = 1;
      ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
      ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      sockaddr_in6 a{};
      a.sin6_family = AF_INET6;
      a.sin6_addr = in6addr_any;
      a.sin6_port = htons(port);
      try {
        BindAndListen(fd, reinterpret_cast<sockaddr*>(&a), sizeof a, what, port);
      } catch (const ESocketError& e) {
        if (e.Errno != EADDRNOTAVAIL && e.Errno != EAFNOSUPPORT) throw;
        fd = -1;
      }
    }
    if (fd < 0) {
      fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (fd < 0) Fail(what);
      const int one = 1;
      ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_ANY);
      a.sin_port = htons(port);
      BindAndListen(fd, reinterpret_cast<sockaddr*>(&a), sizeof a, what, port);
    }
  } else {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    const int rc = ::getaddrinfo(bindAddress.c_str(), service.c_str(), &hints, &list);
    if (rc != 0) throw ESocketError(0, "resolve \"" + bindAddress + "\": " + ::gai_strerror(rc));
    fd = ::socket(list->ai_family, list->ai_socktype | SOCK_CLOEXEC, list->ai_protocol);
    if (fd < 0) {
      const int err = errno;
      ::freeaddrinfo(list);
      Fail(what, err);
    }
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    try {
      BindAndListen(fd, list->ai_addr, list->ai_addrlen, what, port);
    } catch (...) {
      ::freeaddrinfo(list);
      throw;
    }
    ::freeaddrinfo(list);
  }
  ListeningSocket l;
  l.m_fd = fd;
  MakeWakePipe(l.m_wakeRead, l.m_wakeWrite);
  return l;
}

namespace {

// Whether `path` names the file open as `fd`.
bool SameFile(int fd, const std::string& path) {
  struct stat open {
  }, named{};
  return ::fstat(fd, &open) == 0 && ::stat(path.c_str(), &named) == 0 &&
         open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// Takes "<path>.lock" for the listener at `path` into `lockFd`. The last
// listener removes the lock file as it ends (holding it); one that locked
// the file in that moment holds a file no longer there, so it takes the file
// again until the one it holds is the one at the path.
void TakeListenLock(int& lockFd, const std::string& path) {
  const std::string lockPath = path + ".lock";
  for (;;) {
    lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd < 0) Fail("open " + lockPath);
    if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno == EWOULDBLOCK ? EADDRINUSE : errno;
      CloseFd(lockFd);
      throw ESocketError(err, "listen at " + path + ": another process is listening there");
    }
    if (SameFile(lockFd, lockPath)) return;
    CloseFd(lockFd);
  }
}

// The socket activation protocol's descriptors start here.
constexpr int kFirstInheritedFd = 3;

// A decimal number of the environment, or nullopt when unset or not one.
std::optional<long> NumberFromEnvironment(const char* name) {
  const char* text = std::getenv(name);
  if (!text || !*text) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || n < 0) return std::nullopt;
  return n;
}

int SocketOption(int fd, int option, const std::string& what) {
  int value = 0;
  socklen_t len = sizeof value;
  if (::getsockopt(fd, SOL_SOCKET, option, &value, &len) != 0) {
    const int err = errno;
    throw ESocketError(err, what + ": " + ErrnoText(err));
  }
  return value;
}

}  // namespace

std::optional<ListeningSocket> ListeningSocket::Inherited() {
  const char* pidText = std::getenv("LISTEN_PID");
  const char* fdsText = std::getenv("LISTEN_FDS");
  const bool present = pidText || fdsText;
  const std::optional<long> pid = NumberFromEnvironment("LISTEN_PID");
  const std::optional<long> fds = NumberFromEnvironment("LISTEN_FDS");
  // Read once: a child of ours must not think the socket is meant for it.
  ::unsetenv("LISTEN_PID");
  ::unsetenv("LISTEN_FDS");
  ::unsetenv("LISTEN_FDNAMES");
  // Variables left for another process (our parent's) are not ours.
  if (!present || !pid || *pid != static_cast<long>(::getpid())) return std::nullopt;
  const std::string what = "the socket handed over by the service manager (descriptor 3)";
  if (!fds)
    throw ESocketError(EINVAL, what + ": LISTEN_FDS=\"" + std::string(fdsText ? fdsText : "") +
                                   "\" is not a number of descriptors");
  if (*fds == 0) return std::nullopt;
  // Only the first one is served; the others are not left to children.
  for (long i = 0; i < std::min<long>(*fds, 1024); ++i) {
    const int fd = kFirstInheritedFd + static_cast<int>(i);
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags < 0) {
      if (i == 0) Fail(what);
      continue;
    }
    ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
  }
  const int fd = kFirstInheritedFd;
  const std::string check = what + " is not a listening Unix stream socket";
  if (SocketOption(fd, SO_DOMAIN, check) != AF_UNIX ||
      SocketOption(fd, SO_TYPE, check) != SOCK_STREAM ||
      SocketOption(fd, SO_ACCEPTCONN, check) == 0)
    throw ESocketError(EINVAL, check);
  ListeningSocket l;
  l.m_fd = fd;
  l.m_inherited = true;
  const std::string path = l.UnixPath();
  if (!path.empty()) {
    TakeListenLock(l.m_lockFd, path);
    l.m_path = path;
  }
  MakeWakePipe(l.m_wakeRead, l.m_wakeWrite);
  return l;
}

ListeningSocket ListeningSocket::ListenUnix(const std::string& path) {
  const sockaddr_un addr = UnixAddress(path);
  const std::string dir = ParentDirectory(path);
  if (!dir.empty()) MakeDirectories(dir, 0700);
  ListeningSocket l;
  TakeListenLock(l.m_lockFd, path);
  l.m_path = path;  // from here on Close removes the lock file
  // Holding the lock, any socket file still there was left by a listener
  // that died: replace it.
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) Fail("remove stale socket " + path);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail("socket");
  BindAndListen(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr, "listen at " + path, 0);
  l.m_fd = fd;
  l.m_path = path;
  MakeWakePipe(l.m_wakeRead, l.m_wakeWrite);
  return l;
}

std::string ListeningSocket::UnixPath() const {
  sockaddr_un addr{};
  socklen_t len = sizeof addr;
  if (m_fd < 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
      addr.sun_family != AF_UNIX || len <= offsetof(sockaddr_un, sun_path) ||
      addr.sun_path[0] == '\0')
    return {};  // not Unix, unnamed, or abstract
  return std::string(addr.sun_path, strnlen(addr.sun_path, len - offsetof(sockaddr_un, sun_path)));
}

uint16_t ListeningSocket::Port() const {
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  if (m_fd < 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return 0;
  if (ss.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
  if (ss.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
  return 0;
}

std::optional<StreamSocket> ListeningSocket::Accept() {
  if (m_fd < 0) return std::nullopt;
  for (;;) {
    bool woken = false;
    const short ev = PollIn(m_fd, m_wakeRead, std::nullopt, &woken);
    if (woken) return std::nullopt;
    if (ev == 0) continue;
    const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // fails harmlessly on Unix
      return StreamSocket(fd);
    }
    // The client may have gone between poll and accept; out of descriptors
    // is passed on so that the caller can report it.
    if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN || errno == EPROTO) continue;
    Fail("accept");
  }
}

void ListeningSocket::Shutdown() {
  if (m_wakeWrite >= 0) {
    const char c = 'x';
    [[maybe_unused]] const ssize_t n = ::write(m_wakeWrite, &c, 1);
  }
}

std::vector<StreamSocket> ListeningSocket::CloseKeepingQueued() {
  std::vector<StreamSocket> queued;
  if (m_fd < 0) return queued;
  // A shut-down Unix listener refuses connects (ECONNREFUSED) but keeps its
  // queue; on TCP the same call would reset the queue.
  // An inherited socket is shared with the service manager: shutting it
  // down would refuse its later clients too; they wait in its queue for the
  // next start instead.
  if (!m_path.empty() && !m_inherited) ::shutdown(m_fd, SHUT_RD);
  const int flags = ::fcntl(m_fd, F_GETFL);
  if (flags >= 0) ::fcntl(m_fd, F_SETFL, flags | O_NONBLOCK);
  for (;;) {
    const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // fails harmlessly on Unix
      queued.push_back(StreamSocket(fd));
      continue;
    }
    // A client that gave up while queued (ECONNABORTED) is skipped; EAGAIN:
    // the queue is empty; anything else ends the taking.
    if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO) continue;
    break;
  }
  Close();
  return queued;
}

void ListeningSocket::Close() {
  if (m_fd >= 0 && !m_path.empty() && !m_inherited) ::unlink(m_path.c_str());
  CloseFd(m_fd);
  CloseFd(m_wakeRead);
  CloseFd(m_wakeWrite);
  // The lock goes last, after the socket file is gone, and its file with it
  // while it is still ours (see ListenUnix).
  if (m_lockFd >= 0 && !m_path.empty() && SameFile(m_lockFd, m_path + ".lock"))
    ::unlink((m_path + ".lock").c_str());
  CloseFd(m_lockFd);
  m_path.clear();
  m_inherited = false;
}

}  // namespace varn
