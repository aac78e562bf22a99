// Child processes through posix_spawn: the output file and /dev/null are
// set up by spawn file actions, the signal mask is cleared and SIGPIPE put
// back to its default, so the child starts as from a shell.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/errors.h"
#include "platform/posix/os_error.h"
#include "platform/testing/child_process.h"

extern char** environ;

namespace varn {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& outputPath) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, pipe;
  sigemptyset(&none);
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &pipe);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int err = ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (err != 0) ThrowErrno("start " + program, err);
  m_pid = pid;
}

ChildProcess::~ChildProcess() {
  if (m_status || m_pid <= 0) return;
  Kill();
  while (::waitpid(static_cast<pid_t>(m_pid), nullptr, 0) < 0 && errno == EINTR) {
  }
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds limit) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + limit;
  while (!m_status) {
    int status = 0;
    const pid_t r = ::waitpid(static_cast<pid_t>(m_pid), &status, WNOHANG);
    if (r == static_cast<pid_t>(m_pid)) {
      m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (r < 0 && errno != EINTR) {
      const int err = errno;
      ThrowErrno("wait for " + std::to_string(m_pid), err);
    }
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return m_status;
}

void ChildProcess::Send(int signal) {
  // A child already reaped may have had its id reused: never signal it then.
  if (!m_status && m_pid > 0) ::kill(static_cast<pid_t>(m_pid), signal);
}

void ChildProcess::Terminate() {
  Send(SIGTERM);
}

void ChildProcess::Interrupt() {
  Send(SIGINT);
}

void ChildProcess::Kill() {
  Send(SIGKILL);
}

}  // namespace varn
