// See held_output.h. Definitions in the program win over the C library's
// for every call the program makes itself; the system's own functions are
// reached through RTLD_NEXT.
#include <dlfcn.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <condition_variable>
#include <cstdarg>
#include <mutex>

#include "platform/posix/testing/held_output.h"

namespace {

std::mutex g_lock;
std::condition_variable g_released;
bool g_held = false;

bool Held() {
  std::lock_guard guard(g_lock);
  return g_held;
}

}  // namespace

namespace varn {

void HoldSerialOutput(bool held) {
  {
    std::lock_guard guard(g_lock);
    g_held = held;
  }
  g_released.notify_all();
}

}  // namespace varn

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  if (request == TIOCOUTQ && Held()) {
    *static_cast<int*>(arg) = 1;
    return 0;
  }
  using Ioctl = int (*)(int, unsigned long, ...);
  static const auto real = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
  return real(fd, request, arg);
}

extern "C" int tcdrain(int fd) {
  {
    std::unique_lock guard(g_lock);
    g_released.wait(guard, [] { return !g_held; });
  }
  using Tcdrain = int (*)(int);
  static const auto real = reinterpret_cast<Tcdrain>(dlsym(RTLD_NEXT, "tcdrain"));
  return real(fd);
}
