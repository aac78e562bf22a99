// For tests: a serial line whose output never drains, as on a device that
// holds the line with hardware flow control. Linking this library into a
// test program replaces the program's own ioctl and tcdrain; while the
// output is held, every TIOCOUTQ reports a byte still waiting and tcdrain
// blocks until the hold ends. Everything else goes to the system.
//
//   HoldSerialOutput(true);
//   port.Exchange(frame);      // its purge must not wait for ever
//   HoldSerialOutput(false);   // frees a tcdrain that waits
#pragma once

namespace varn {

void HoldSerialOutput(bool held);

}  // namespace varn
