// For tests: how a serial line's driver answers the low-latency switch of
// OpenSerialLine, which a pseudo-terminal cannot show. While an answer other
// than System is set, the flags of every line opened are read and written
// here instead of by the system.
//
//   AnswerSerialFlags(SerialFlagsAnswer::Accept);
//   auto line = OpenSerialLine(pty.SlavePath());
//   EXPECT_EQ(SerialFlagsLog().lowLatencyWrites, 1);
#pragma once

namespace varn {

enum class SerialFlagsAnswer {
  System,       // the system's own ioctl
  Accept,       // a USB adapter: flags read (low latency off), the write taken
  AlreadySet,   // low latency on already: nothing to write
  Refuse,       // the read works, the write is refused (EPERM)
  Unsupported,  // no such flags on this line (ENOTTY)
};

struct SerialFlagsCalls {
  int reads = 0;
  int writes = 0;
  int lowLatencyWrites = 0;  // writes with low latency on
};

// Sets the answer and clears the counts.
void AnswerSerialFlags(SerialFlagsAnswer answer);
SerialFlagsCalls SerialFlagsLog();

}  // namespace varn
