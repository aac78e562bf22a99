// See serial_flags.h: the seam of platform/posix/serial_flags.h, answered.
#include "platform/posix/testing/serial_flags.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <mutex>

#include "platform/posix/serial_flags.h"

namespace varn {
namespace {

std::mutex g_lock;
SerialFlagsAnswer g_answer = SerialFlagsAnswer::System;
SerialFlagsCalls g_calls;

int Answer(int fd, unsigned long request, void* arg) {
  std::lock_guard guard(g_lock);
  if (g_answer == SerialFlagsAnswer::System) return SystemSerialFlagsIoctl(fd, request, arg);
  if (g_answer == SerialFlagsAnswer::Unsupported) {
    errno = ENOTTY;
    return -1;
  }
  auto* flags = static_cast<serial_struct*>(arg);
  if (request == TIOCGSERIAL) {
    ++g_calls.reads;
    *flags = serial_struct{};
    flags->type = PORT_16550A;
    if (g_answer == SerialFlagsAnswer::AlreadySet) flags->flags = ASYNC_LOW_LATENCY;
    return 0;
  }
  ++g_calls.writes;
  if (g_answer == SerialFlagsAnswer::Refuse) {
    errno = EPERM;
    return -1;
  }
  if (flags->flags & ASYNC_LOW_LATENCY) ++g_calls.lowLatencyWrites;
  return 0;
}

}  // namespace

void AnswerSerialFlags(SerialFlagsAnswer answer) {
  {
    std::lock_guard guard(g_lock);
    g_answer = answer;
    g_calls = {};
  }
  g_serialFlagsIoctl.store(answer == SerialFlagsAnswer::System ? &SystemSerialFlagsIoctl : &Answer);
}

SerialFlagsCalls SerialFlagsLog() {
  std::lock_guard guard(g_lock);
  return g_calls;
}

}  // namespace varn
