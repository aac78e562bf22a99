// Processes on POSIX. A detached start forks twice (the middle process exits
// at once, so the server is nobody's child and never a zombie of the driver's
// host) and reports the server's pid, or the errno of a failed exec, through a
// close-on-exec pipe. Between fork and exec only async-signal-safe calls run.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/posix/os_error.h"
#include "platform/process.h"

namespace varn {
namespace {

// What the forked processes tell the starter: a pid, or an errno.
struct StartReport {
  int64_t pid;
  int32_t err;
};

void Report(int fd, int64_t pid, int32_t err) {
  const StartReport r{pid, err};
  [[maybe_unused]] const ssize_t n = ::write(fd, &r, sizeof r);
}

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t pos = 0;
  while (pos <= dirs.size()) {
    size_t end = dirs.find(':', pos);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(pos, end - pos);
    if (dir.empty()) dir = ".";
    const std::string candidate = dir + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    pos = end + 1;
  }
  return {};
}

int64_t StartDetachedProcess(const std::string& program, const std::vector<std::string>& args) {
  std::string path = program;
  if (program.find('/') == std::string::npos) {
    path = FindOnPath(program);
    if (path.empty()) throw EOSError(ENOENT, "start " + program + ": not found on PATH");
  }
  // Everything the children need is prepared here: no allocation after fork.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  int p[2];
  if (::pipe2(p, O_CLOEXEC) != 0) {
    const int err = errno;
    ThrowErrno("start " + path + ": pipe", err);
  }
  const pid_t middle = ::fork();
  if (middle < 0) {
    const int err = errno;
    ::close(p[0]);
    ::close(p[1]);
    ThrowErrno("start " + path + ": fork", err);
  }
  if (middle == 0) {
    ::close(p[0]);
    ::setsid();
    const pid_t server = ::fork();
    if (server < 0) Report(p[1], 0, errno);
    if (server != 0) ::_exit(0);
    // The server: standard streams on /dev/null, the report pipe as fd 3,
    // every other descriptor closed.
    const int devnull = ::open("/dev/null", O_RDWR);
    int report = p[1];
    if (report < 3) report = ::fcntl(report, F_DUPFD_CLOEXEC, 3);
    if (devnull >= 0) {
      ::dup2(devnull, 0);
      ::dup2(devnull, 1);
      ::dup2(devnull, 2);
    }
    if (report != 3) {
      ::dup2(report, 3);
      report = 3;
    }
    ::fcntl(report, F_SETFD, FD_CLOEXEC);
    ::closefrom(4);
    ::signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    Report(report, ::getpid(), 0);
    ::execv(argv[0], argv.data());
    Report(report, 0, errno);
    ::_exit(127);
  }
  ::close(p[1]);
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  // Reads until every write end is closed: the exec closed the server's.
  int64_t pid = 0;
  int32_t err = 0;
  StartReport r{};
  size_t have = 0;
  for (;;) {
    const ssize_t n = ::read(p[0], reinterpret_cast<char*>(&r) + have, sizeof r - have);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    have += static_cast<size_t>(n);
    if (have == sizeof r) {
      if (r.err != 0) err = r.err;
      if (r.pid != 0) pid = r.pid;
      have = 0;
    }
  }
  ::close(p[0]);
  if (err != 0) ThrowErrno("start " + path, err);
  if (pid == 0) throw EOSError(0, "start " + path + ": the process did not start");
  return pid;
}

bool ProcessIsRunning(int64_t pid) {
  if (pid <= 0) return false;
  if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
  // A zombie still answers kill(); its state letter in /proc says it ended.
  std::optional<std::string> stat;
  try {
    stat = ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
  } catch (const EOSError&) {
    return false;  // gone while we looked
  }
  if (!stat) return false;
  const auto close = stat->rfind(')');
  if (close == std::string::npos || close + 2 >= stat->size()) return true;
  const char state = (*stat)[close + 2];
  return state != 'Z' && state != 'X';
}

void TerminateProcess(int64_t pid) {
  if (pid > 0) ::kill(static_cast<pid_t>(pid), SIGTERM);
}

int64_t CurrentProcessId() {
  return ::getpid();
}

int64_t CurrentUserId() {
  return ::geteuid();
}

}  // namespace varn
