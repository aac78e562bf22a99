// A simulated device on a pseudo-terminal: the device side of the link
// protocol on a thread of its own, in front of TDeviceModel.
//
// ENQ is answered with NAK when the device holds no answer and with ACK
// followed by the held answer when it does. A frame with a good check byte
// is taken with ACK, run, and its answer sent and held until the host
// acknowledges it; a bad one gets NAK. The device answers only while the
// line speed the host set equals its own; at any other speed it is silent.
// A host that was killed leaves the line in exclusive mode; the device
// clears that once the line is quiet, so the host can open it again.
//
//   EmulatedDevice device(options);              // answering from here on
//   registry.WriteString(kPortsKey, "COM1", device.SlavePath());
//   ...                                          // TPort::Exchange on COM1
//   device.Stop();                               // or let it go out of scope
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "emulator/device_model.h"
#include "emulator/options.h"
#include "platform/pty.h"

namespace varn::emu {

class EmulatedDevice {
 public:
  // EOSError without a pty, EDriverError -8 for an unusable state file,
  // std::invalid_argument for a baud-rate code outside 0..6.
  explicit EmulatedDevice(const EmulatorOptions& options);
  ~EmulatedDevice();
  EmulatedDevice(const EmulatedDevice&) = delete;
  EmulatedDevice& operator=(const EmulatedDevice&) = delete;

  const std::string& SlavePath() const { return m_pty.SlavePath(); }
  // The speed it answers at now, in bits per second.
  int32_t BaudRate() const { return m_rate; }
  // Takes effect from the next bytes on the line.
  void SetFaults(const FaultOptions& faults);
  // Ends the thread; the pty stays until destruction. Idempotent.
  void Stop();

  // A frame left unfinished this long is dropped, so that the next ENQ is
  // heard: the host waits at least this long for an ACK before it retries.
  static constexpr std::chrono::milliseconds kFrameGap{50};
  // How long a write may wait for a host that does not read.
  static constexpr std::chrono::milliseconds kWriteLimit{2000};

 private:
  enum class Rx {
    Idle,     // between frames: ENQ, ACK, NAK or STX expected
    Length,   // STX seen, LEN next
    Payload,  // LEN seen, collecting the payload
    Check,    // payload complete, check byte next
  };

  void Run();
  void Step();
  void OnByte(uint8_t b);
  void OnEnq();
  void OnFrame(uint8_t check);
  void OnHostAck();
  void SendAnswer(bool fresh);
  void Transmit(const std::string& bytes);
  bool Pause(std::chrono::steady_clock::time_point until);  // false when stopping
  void Diagnose(const std::string& text) const;

  EmulatorOptions m_options;
  PtyDevice m_pty;
  TDeviceModel m_model;

  std::mutex m_mutex;  // guards m_stop and m_faults
  std::condition_variable m_wake;
  bool m_stop = false;
  std::atomic<bool> m_stopping{false};  // m_stop, for checks between bytes
  FaultOptions m_faults;

  // Owned by the device thread:
  FaultOptions m_active;  // the faults in force for the current bytes
  std::atomic<int32_t> m_rate;
  int32_t m_pendingRate = 0;  // set by 0x14, in force once its answer is taken
  Rx m_rx = Rx::Idle;
  size_t m_length = 0;  // LEN of the frame being read
  std::string m_frame;
  std::chrono::steady_clock::time_point m_lastByte{};
  std::optional<std::string> m_held;  // the answer not yet acknowledged
  bool m_staleServed = false;
  uint64_t m_answersSent = 0;
  uint64_t m_framesTaken = 0;
  // The host stopped reading and a write ran out of time: later writes do
  // not wait until one goes through whole, as a real line never waits.
  bool m_lineFull = false;
  // With line timing: when the last byte given to the line is whole, as
  // scheduled (not as the thread happened to wake). A transmission starts
  // no earlier, so bytes sent back to back keep the line's own rhythm.
  std::chrono::steady_clock::time_point m_lineFreeAt{};
  bool m_backToBack = false;  // the next transmission follows the last at once
  // With line timing: when the last byte from the host is whole on the line.
  std::chrono::steady_clock::time_point m_rxWholeAt{};

  std::thread m_thread;  // last: starts when everything above is ready
};

}  // namespace varn::emu
