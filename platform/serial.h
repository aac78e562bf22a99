// The serial line at the platform boundary.
//
// ISerialLine is one open serial device: raw 8-N-1 line settings, modem
// lines, and reads and writes bounded by the COMMTIMEOUTS-style limits
// below. The POSIX implementation (platform/posix/serial_posix.cpp) is the
// only code that knows termios. TComm (server/link) is its one user.
//
//   auto line = OpenSerialLine("/dev/ttyUSB0");   // EDriverError -2 / -3
//   line->ApplyLineSettings(4800);
//   line->SetModemLines(/*dtr=*/true, /*rts=*/false);
//   line->SetTimeouts(timeouts);
//   std::string got = line->Read(1);              // short on time-out
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace varn {

// All values in milliseconds, with the meaning of the Win32 record:
struct CommTimeouts {
  uint32_t ReadIntervalTimeout = 100;          // max gap between two bytes, after the first
  uint32_t ReadTotalTimeoutMultiplier = 100;   // per requested byte, whole read
  uint32_t ReadTotalTimeoutConstant = 1;       // added once to the whole read
  uint32_t WriteTotalTimeoutMultiplier = 100;  // per byte, whole write
  uint32_t WriteTotalTimeoutConstant = 100;    // added once to the whole write
  bool operator==(const CommTimeouts&) const = default;
};

// Ends the waits of every line opened with it, for a program that is
// ending: once raised (from any thread, for good), a read, write or purge
// in progress or to come on such a line, and an open with it, fails at once
// with EOSError ECANCELED.
class SerialAbort {
 public:
  SerialAbort();
  ~SerialAbort();
  SerialAbort(const SerialAbort&) = delete;
  SerialAbort& operator=(const SerialAbort&) = delete;
  void Raise();
  bool Raised() const;
  // What a line's waits watch besides the device (the platform's handle).
  int WaitHandle() const { return m_handle; }

 private:
  int m_handle = -1;
};

class ISerialLine {
 public:
  virtual ~ISerialLine() = default;
  // Raw 8 data bits, no parity, 1 stop bit, no flow control. EOSError on failure.
  virtual void ApplyLineSettings(int32_t baudRate) = 0;
  // Lines a pseudo-terminal does not have are not an error.
  virtual void SetModemLines(bool dtr, bool rts) = 0;
  virtual void SetTimeouts(const CommTimeouts& timeouts) = 0;
  // Returns as soon as `count` bytes came, or fewer (maybe none) when the
  // interval or total limit expired first. EOSError when the system refuses.
  virtual std::string Read(size_t count) = 0;
  // Returns the number of bytes written before the write limit expired.
  virtual size_t Write(std::string_view data) = 0;
  // Lets pending output leave, then drops pending input. False on failure.
  virtual bool Purge() = 0;
};

// Opens exclusively. EPortOpenError -3 when another program holds the
// device, -2 when it is missing, not accessible or not a terminal (with the
// reason). `abort`, when given, must outlive the line. The line is asked
// for low-latency mode (a USB adapter then passes input on at once, not at
// its latency timer); a line without it opens all the same, and a refusal
// is told once per path through the diagnostics sink.
std::unique_ptr<ISerialLine> OpenSerialLine(const std::string& path,
                                            const SerialAbort* abort = nullptr);

}  // namespace varn
