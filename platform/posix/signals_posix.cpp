// Termination signals through sigprocmask and sigtimedwait: the signal is
// taken by the thread that waits, never delivered to a handler.
#include <signal.h>

#include <cerrno>

#include "platform/errors.h"
#include "platform/posix/os_error.h"
#include "platform/signals.h"

namespace varn {
namespace {

sigset_t TerminationSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

// The mask before the first object; one program has one such object.
sigset_t g_previous;

}  // namespace

TerminationSignals::TerminationSignals() {
  const sigset_t set = TerminationSet();
  const int err = pthread_sigmask(SIG_BLOCK, &set, &g_previous);
  if (err != 0) ThrowErrno("pthread_sigmask", err);
}

TerminationSignals::~TerminationSignals() {
  pthread_sigmask(SIG_SETMASK, &g_previous, nullptr);
}

bool TerminationSignals::Wait(std::chrono::milliseconds wait) {
  const sigset_t set = TerminationSet();
  const auto ms = wait.count() < 0 ? 0 : wait.count();
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  for (;;) {
    if (sigtimedwait(&set, nullptr, &ts) > 0) return true;
    if (errno == EAGAIN) return false;
    if (errno != EINTR) ThrowErrno("sigtimedwait");
  }
}

}  // namespace varn
