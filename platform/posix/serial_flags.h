// The driver flags of a serial line (TIOCGSERIAL, TIOCSSERIAL), reached
// through one pointer: OpenSerialLine turns on low-latency mode with them,
// and a test (platform/posix/testing/serial_flags.h) answers in their place
// as a USB adapter, a refusing driver or a plain UART would, which no
// pseudo-terminal can show.
#pragma once

#include <atomic>

namespace varn {

using SerialFlagsIoctl = int (*)(int fd, unsigned long request, void* arg);

// The system's ioctl.
int SystemSerialFlagsIoctl(int fd, unsigned long request, void* arg);

// What OpenSerialLine calls for the two requests; the system's by default.
extern std::atomic<SerialFlagsIoctl> g_serialFlagsIoctl;

}  // namespace varn
