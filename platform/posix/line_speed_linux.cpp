// See line_speed_linux.h.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "platform/posix/line_speed_linux.h"

namespace varn {
namespace {

struct Standard {
  int32_t baud;
  unsigned constant;
};
// Every rate with a constant of its own; the driver knows these exactly.
constexpr Standard kStandard[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

}  // namespace

int32_t SetLineSpeed(int fd, int32_t baud) {
  termios2 tio{};
  if (ioctl(fd, TCGETS2, &tio) != 0) return -1;
  unsigned constant = BOTHER;
  for (const Standard& s : kStandard)
    if (s.baud == baud) constant = s.constant;
  tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= constant | (constant << IBSHIFT);
  tio.c_ispeed = static_cast<speed_t>(baud);
  tio.c_ospeed = static_cast<speed_t>(baud);
  if (ioctl(fd, TCSETS2, &tio) != 0) return -1;
  const int32_t took = LineSpeed(fd);
  return took > 0 ? took : baud;
}

int32_t LineSpeed(int fd) {
  termios2 tio{};
  if (ioctl(fd, TCGETS2, &tio) != 0) return 0;
  const unsigned constant = tio.c_cflag & CBAUD;
  if (constant == BOTHER) return static_cast<int32_t>(tio.c_ospeed);
  for (const Standard& s : kStandard)
    if (s.constant == constant) return s.baud;
  return 0;
}

}  // namespace varn
