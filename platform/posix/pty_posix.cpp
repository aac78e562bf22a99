// Pseudo-terminal pairs for simulated devices.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/errors.h"
#include "platform/posix/line_speed_linux.h"
#include "platform/posix/os_error.h"
#include "platform/pty.h"

namespace varn {
PtyDevice::PtyDevice() {
  m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_master < 0) ThrowErrno("posix_openpt");
  if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) ThrowErrno("unlockpt");
  char name[128];
  if (ptsname_r(m_master, name, sizeof name) != 0) ThrowErrno("ptsname");
  m_slavePath = name;
  m_slaveKeep = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_slaveKeep < 0) ThrowErrno("open pty slave");
  termios tio{};
  tcgetattr(m_slaveKeep, &tio);
  cfmakeraw(&tio);  // no echo before the host configures the line
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  tcsetattr(m_slaveKeep, TCSANOW, &tio);
  fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
  if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) ThrowErrno("pipe");
}

PtyDevice::~PtyDevice() {
  for (int fd : {m_master, m_slaveKeep, m_wake[0], m_wake[1]})
    if (fd >= 0) close(fd);
}

std::string PtyDevice::ReadSome(size_t max, std::chrono::milliseconds wait) {
  std::string out(max, '\0');
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    ssize_t n = read(m_master, out.data(), max);
    if (n > 0) {
      out.resize(static_cast<size_t>(n));
      return out;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) ThrowErrno("read pty");
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return {};
    pollfd p[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    if (poll(p, 2, static_cast<int>(std::min<int64_t>(left.count() + 1, 1 << 30))) < 0 &&
        errno != EINTR)
      ThrowErrno("poll pty");
    if (p[1].revents && !(p[0].revents & POLLIN)) {
      char drain[64];
      while (read(m_wake[0], drain, sizeof drain) > 0) {
      }
      return {};
    }
  }
}

std::string PtyDevice::ReadExactly(size_t count, std::chrono::milliseconds wait) {
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (out.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    std::string part = ReadSome(count - out.size(), left);
    if (part.empty()) break;
    out += part;
  }
  return out;
}

void PtyDevice::Write(std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd p{m_master, POLLOUT, 0};
      poll(&p, 1, 100);
    } else {
      ThrowErrno("write pty");
    }
  }
}

size_t PtyDevice::WriteSome(std::string_view bytes, std::chrono::milliseconds wait) {
  size_t done = 0;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (done < bytes.size()) {
    ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) ThrowErrno("write pty");
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p[2] = {{m_master, POLLOUT, 0}, {m_wake[0], POLLIN, 0}};
    if (poll(p, 2, static_cast<int>(std::min<int64_t>(left.count() + 1, 1 << 30))) < 0 &&
        errno != EINTR)
      ThrowErrno("poll pty");
    if (p[1].revents && !(p[0].revents & POLLOUT)) {
      char drain[64];
      while (read(m_wake[0], drain, sizeof drain) > 0) {
      }
      break;
    }
  }
  return done;
}

bool PtyDevice::ReleaseStaleExclusiveMode() {
  int exclusive = 0;
  if (ioctl(m_slaveKeep, TIOCGEXCL, &exclusive) != 0 || !exclusive) return false;
  // Every host locks the line it opens (and keeps the lock until it goes),
  // so a lock we can take means nobody holds the line any more.
  if (flock(m_slaveKeep, LOCK_EX | LOCK_NB) != 0) return false;
  const bool cleared = ioctl(m_slaveKeep, TIOCNXCL) == 0;
  flock(m_slaveKeep, LOCK_UN);
  return cleared;
}

int32_t PtyDevice::LineBaud() const {
  return LineSpeed(m_slaveKeep);
}

void PtyDevice::DiscardInput() {
  char buf[4096];
  while (read(m_master, buf, sizeof buf) > 0) {
  }
}

void PtyDevice::Interrupt() {
  const char b = 1;
  (void)!write(m_wake[1], &b, 1);
}

}  // namespace varn
