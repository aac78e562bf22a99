// Line speeds of a terminal in bits per second, for any rate its driver can
// take: the standard constants where they exist, termios2's BOTHER (Linux)
// for the others (110 has a constant, 14400 or 256000 have none). In a file
// of its own because the kernel's termios2 header and the C library's
// <termios.h> cannot be included together.
//
//   int32_t took = SetLineSpeed(fd, 14400);   // -1 and errno on failure
#pragma once

#include <cstdint>

namespace varn {

// Sets both directions to `baud` (> 0) and returns the rate the driver
// took (it may round to what its clock can divide), or -1 with errno.
int32_t SetLineSpeed(int fd, int32_t baud);
// The output speed, 0 when it cannot be read.
int32_t LineSpeed(int fd);

}  // namespace varn
