// The device end of a pseudo-terminal: what a simulated device (the
// emulator, the tests' scripted devices) uses to play a serial device. The
// slave path is what the port server opens as a COM port.
//
//   PtyDevice pty;                       // raw slave, no echo
//   reg.WriteString(kPortsKey, "COM1", pty.SlavePath());
//   std::string got = pty.ReadSome(64, std::chrono::milliseconds(500));
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace varn {

class PtyDevice {
 public:
  PtyDevice();  // EOSError when no pty can be made
  ~PtyDevice();
  PtyDevice(const PtyDevice&) = delete;
  PtyDevice& operator=(const PtyDevice&) = delete;

  const std::string& SlavePath() const { return m_slavePath; }

  // Up to `max` bytes; empty when none came within `wait`.
  std::string ReadSome(size_t max, std::chrono::milliseconds wait);
  // Exactly `count` bytes unless `wait` (for the whole read) runs out first.
  std::string ReadExactly(size_t count, std::chrono::milliseconds wait);
  void Write(std::string_view bytes);  // all of them (blocks while the line is full)
  // As many as the line takes within `wait` (Interrupt ends it early); the count.
  size_t WriteSome(std::string_view bytes, std::chrono::milliseconds wait);
  // The line speed the slave side set, in bits per second (0 if unknown).
  int32_t LineBaud() const;
  // Drops whatever the host wrote and the device has not read.
  void DiscardInput();
  // Wakes a ReadSome/ReadExactly waiting in another thread; they return empty.
  void Interrupt();
  // Clears the exclusive mode (TIOCEXCL) a host left on the line when it
  // went away without clearing it (killed): a pty keeps the mode while its
  // device end lives, and an ordinary user could not open the line again
  // until the device restarted. While a host holds the line (its flock
  // says so) nothing changes. Returns true when it cleared the mode.
  bool ReleaseStaleExclusiveMode();

 private:
  int m_master = -1;
  int m_slaveKeep = -1;  // held open so the master never sees a hang-up
  int m_wake[2] = {-1, -1};
  std::string m_slavePath;
};

}  // namespace varn
