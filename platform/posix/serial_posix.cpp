// The serial line on POSIX: termios for the line, ppoll for the time-outs.
// Reads and writes reproduce the Win32 COMMTIMEOUTS semantics the link
// protocol was designed around, to the millisecond, with no VMIN/VTIME.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/diagnostics.h"
#include "platform/errors.h"
#include "platform/posix/accounts.h"
#include "platform/posix/line_speed_linux.h"
#include "platform/posix/os_error.h"
#include "platform/posix/serial_flags.h"
#include "platform/serial.h"

namespace varn {

int SystemSerialFlagsIoctl(int fd, unsigned long request, void* arg) {
  return ioctl(fd, request, arg);
}

std::atomic<SerialFlagsIoctl> g_serialFlagsIoctl{&SystemSerialFlagsIoctl};

namespace {

using Clock = std::chrono::steady_clock;
constexpr timespec kNoWait{0, 0};

[[noreturn]] void Aborted(const char* what) {
  throw EOSError(ECANCELED,
                 std::string(what) + ": " + ErrnoText(ECANCELED) + " (the program is ending)");
}

bool IsRaised(int abortFd) {
  if (abortFd < 0) return false;
  pollfd p{abortFd, POLLIN, 0};
  return ppoll(&p, 1, &kNoWait, nullptr) > 0;
}

// Waits for `events` until `deadline`; false when the deadline passed first.
// A line that hung up (device unplugged, the pty's device end closed) or
// failed is an error at once: it also reports itself readable, and reads
// of 0 bytes would spin until the deadline. So is a raised abort
// (`abortFd`, -1 for none).
bool WaitFor(int fd, short events, Clock::time_point deadline, const char* what, int abortFd) {
  for (;;) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return false;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    pollfd p[2] = {{fd, events, 0}, {abortFd, POLLIN, 0}};
    const int r = ppoll(p, abortFd >= 0 ? 2 : 1, &ts, nullptr);
    if (r > 0) {
      if (p[1].revents & POLLIN) Aborted(what);
      if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL))
        throw EOSError(EIO, std::string(what) + ": " + ErrnoText(EIO) + " (the line hung up)");
      if (p[0].revents & events) return true;
    }
    if (r < 0 && errno != EINTR) ThrowErrno("poll");
  }
}

class PosixSerialLine final : public ISerialLine {
 public:
  PosixSerialLine(int fd, int abortFd) : m_fd(fd), m_abortFd(abortFd) {}
  ~PosixSerialLine() override {
    ioctl(m_fd, TIOCNXCL);  // on a pty exclusive mode outlives the close
    close(m_fd);            // also drops the flock
  }

  void ApplyLineSettings(int32_t baudRate) override {
    if (baudRate <= 0) throw EOSError(EINVAL, "Unsupported baud rate " + std::to_string(baudRate));
    termios tio{};
    if (tcgetattr(m_fd, &tio) != 0) ThrowErrno("tcgetattr");
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(m_fd, TCSANOW, &tio) != 0) ThrowErrno("tcsetattr");
    // Any rate the driver can make (a user may set 14400 or 256000 for an
    // adapter); one it can only come near is refused: more than 2 % off,
    // the device would not understand a byte.
    const int32_t took = SetLineSpeed(m_fd, baudRate);
    if (took < 0) ThrowErrno("set line speed " + std::to_string(baudRate));
    if (std::abs(int64_t{took} - baudRate) * 50 > baudRate)
      throw EOSError(EINVAL, "Unsupported baud rate " + std::to_string(baudRate) +
                                 " (the line can run at " + std::to_string(took) + ")");
    // Start bit, 8 data bits, stop bit.
    m_byteTime = std::chrono::nanoseconds(10'000'000'000LL / took);
  }

  void SetModemLines(bool dtr, bool rts) override {
    ModemLine(dtr ? TIOCMBIS : TIOCMBIC, TIOCM_DTR);
    ModemLine(rts ? TIOCMBIS : TIOCMBIC, TIOCM_RTS);
  }

  void SetTimeouts(const CommTimeouts& timeouts) override { m_timeouts = timeouts; }

  std::string Read(size_t count) override {
    std::string out;
    if (count == 0) return out;
    out.resize(count);
    // write(2) returns once the bytes are queued, not sent: a reply cannot
    // come before they are on the line, so its wait starts when they are
    // (a long request at a low rate would otherwise time out unanswered).
    const auto start = std::max(Clock::now(), m_outputLeavesAt);
    const uint64_t totalMs = uint64_t{m_timeouts.ReadTotalTimeoutMultiplier} * count +
                             m_timeouts.ReadTotalTimeoutConstant;
    const auto totalDeadline = start + std::chrono::milliseconds(totalMs);
    const auto interval = std::chrono::milliseconds(m_timeouts.ReadIntervalTimeout);
    size_t got = 0;
    Clock::time_point lastByte{};
    while (got < count) {
      ssize_t n = read(m_fd, out.data() + got, count - got);
      if (n > 0) {
        got += static_cast<size_t>(n);
        lastByte = Clock::now();
        continue;
      }
      // A raw line with VMIN 0 reads 0 bytes when nothing is there.
      if (n < 0 && errno != EAGAIN && errno != EINTR) ThrowErrno("read");
      // Interval limit counts only once the first byte is in.
      auto deadline = totalDeadline;
      if (got > 0 && m_timeouts.ReadIntervalTimeout != 0 && lastByte + interval < deadline)
        deadline = lastByte + interval;
      if (!WaitFor(m_fd, POLLIN, deadline, "read", m_abortFd)) break;
    }
    out.resize(got);
    return out;
  }

  size_t Write(std::string_view data) override {
    const uint64_t totalMs = uint64_t{m_timeouts.WriteTotalTimeoutMultiplier} * data.size() +
                             m_timeouts.WriteTotalTimeoutConstant;
    const auto deadline = Clock::now() + std::chrono::milliseconds(totalMs);
    size_t done = 0;
    while (done < data.size()) {
      ssize_t n = write(m_fd, data.data() + done, data.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
        // Queued behind what is still going out, at the line's rate.
        m_outputLeavesAt = std::max(Clock::now(), m_outputLeavesAt) + m_byteTime * n;
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) ThrowErrno("write");
      if (!WaitFor(m_fd, POLLOUT, deadline, "write", m_abortFd)) break;
    }
    return done;
  }

  bool Purge() override {
    // Output is drained, never discarded: it may be the ACK the device has
    // yet to read. A device that holds the line with flow control may never
    // let it leave, so the wait is bounded as a write of it is; pending
    // input is dropped either way.
    const bool drained = WaitForOutputToLeave();
    return tcflush(m_fd, TCIFLUSH) == 0 && drained;
  }

 private:
  // False when output is still waiting once a write of it would have timed
  // out (WriteTotalTimeoutMultiplier x bytes + WriteTotalTimeoutConstant).
  bool WaitForOutputToLeave() {
    int pending = 0;
    if (ioctl(m_fd, TIOCOUTQ, &pending) != 0) return false;
    if (pending <= 0) return true;
    const uint64_t limitMs =
        uint64_t{m_timeouts.WriteTotalTimeoutMultiplier} * static_cast<uint64_t>(pending) +
        m_timeouts.WriteTotalTimeoutConstant;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    // No call waits for the output with a limit: look again each
    // millisecond (a byte takes 2 ms at 4800 baud).
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (ioctl(m_fd, TIOCOUTQ, &pending) != 0) return false;
      if (pending <= 0) return true;
      if (Clock::now() >= deadline || IsRaised(m_abortFd)) return false;
    }
  }

  void ModemLine(unsigned long request, int bit) {
    if (ioctl(m_fd, request, &bit) != 0 && errno != EINVAL && errno != ENOTTY && errno != EIO)
      ThrowErrno("modem lines");
  }

  int m_fd;
  int m_abortFd;  // the abort's eventfd, -1 for none
  CommTimeouts m_timeouts;
  Clock::duration m_byteTime{};          // one byte's time on the line at its rate
  Clock::time_point m_outputLeavesAt{};  // when the last byte written is sent
};

// What to add to "Permission denied: <path>": the group to join when the
// device is open to a group the user is not in, else whose it is.
std::string WhyDenied(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {};
  if ((st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP) && !posix::InGroup(st.st_gid))
    return " — is the user in the " + posix::GroupName(st.st_gid) + " group?";
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  return " (owner " + posix::UserName(st.st_uid) + ", group " + posix::GroupName(st.st_gid) +
         ", mode " + mode + ")";
}

// The kernel's "no such ioctl here" before it reaches user space as ENOTTY;
// some drivers let it through.
constexpr int kNoIoctlCommand = 515;  // ENOIOCTLCMD

// A line whose driver has no such flags: a pseudo-terminal, a plain UART.
bool FlagsUnsupported(int err) {
  return err == ENOTTY || err == EINVAL || err == kNoIoctlCommand || err == EOPNOTSUPP ||
         err == ENOSYS;
}

// Said once per path for the life of the program: a server reopens its
// ports all day, and the journal needs the fact once.
void TellLowLatencyRefused(const std::string& path, int err) {
  static std::mutex lock;
  static std::set<std::string> told;
  {
    std::lock_guard guard(lock);
    if (!told.insert(path).second) return;
  }
  Diagnose(path + ": low-latency mode refused (" + ErrnoText(err) +
           "); input may lag by the adapter's latency timer");
}

// USB serial adapters hold input back for their latency timer (often
// 16 ms) unless the line asks for low latency, and the link turns the line
// around six times a command. Never a reason to fail the open.
void AskForLowLatency(int fd, const std::string& path) {
  const SerialFlagsIoctl call = g_serialFlagsIoctl.load();
  serial_struct flags{};
  int err = 0;
  if (call(fd, TIOCGSERIAL, &flags) != 0) {
    err = errno;
  } else {
    if (flags.flags & ASYNC_LOW_LATENCY) return;
    flags.flags |= ASYNC_LOW_LATENCY;
    if (call(fd, TIOCSSERIAL, &flags) == 0) return;
    err = errno;
  }
  if (!FlagsUnsupported(err)) TellLowLatencyRefused(path, err);
}

}  // namespace

SerialAbort::SerialAbort() : m_handle(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (m_handle < 0) ThrowErrno("eventfd");
}

SerialAbort::~SerialAbort() {
  close(m_handle);
}

void SerialAbort::Raise() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(m_handle, &one, sizeof one);
}

bool SerialAbort::Raised() const {
  return IsRaised(m_handle);
}

std::unique_ptr<ISerialLine> OpenSerialLine(const std::string& path, const SerialAbort* abort) {
  if (abort && abort->Raised()) Aborted(("open " + path).c_str());
  if (path.empty())
    throw EPortOpenError(rc::kPortUnavailable, msg::kPortUnavailable, "no device for this number");
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    std::string reason = ErrnoText(err) + ": " + path;
    // EBUSY is another opener's TIOCEXCL; everything else means no usable port.
    if (err == EBUSY)
      throw EPortOpenError(rc::kPortBusy, msg::kPortBusy,
                           reason + " — another program holds it in exclusive mode");
    if (err == EACCES) reason += WhyDenied(path);
    throw EPortOpenError(rc::kPortUnavailable, msg::kPortUnavailable, reason);
  }
  // Root ignores TIOCEXCL, so the flock is the guard that always holds.
  if (!isatty(fd)) {
    close(fd);
    // A file or folder put where the device should be: no port there.
    throw EPortOpenError(rc::kPortUnavailable, msg::kPortUnavailable, path + " is not a terminal");
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    throw EPortOpenError(rc::kPortBusy, msg::kPortBusy,
                         path + " is locked by another program (flock)");
  }
  ioctl(fd, TIOCEXCL);
  AskForLowLatency(fd, path);
  return std::make_unique<PosixSerialLine>(fd, abort ? abort->WaitHandle() : -1);
}

}  // namespace varn
