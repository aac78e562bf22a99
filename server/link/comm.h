// TComm: the port server's synchronous wrapper of one serial port.
//
// It opens COM N exclusively, keeps the baud rate and the five time-outs
// whether or not the port is open and applies them on every (re)open, and
// reads and writes with those time-outs. Not thread-safe: the server calls
// it under the port's exchange lock (Opened() alone may be asked from any
// thread). Only TPort derives from it.
//
//   TComm comm;
//   comm.SetPortNumber(3);
//   comm.Open();                      // EDriverError -2 / -3
//   comm.Write(std::string("\x05", 1));
//   std::string b = comm.Read(1);     // "" after 100*1+1 ms of silence
//
// The line itself comes from a TLineFactory: the system's serial devices by
// default, or any ISerialLine (a scripted one runs the link without a
// device and without waiting).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/serial.h"

namespace varn {

// Opens the line of COM `portNumber` whose waits end when `abort` (may be
// null) is raised; raises as OpenSerialLine does.
using TLineFactory =
    std::function<std::unique_ptr<ISerialLine>(int32_t portNumber, const SerialAbort* abort)>;

// The system's devices: the path of COM N from the registry (ComPortPath).
TLineFactory SystemLines();

class TComm {
 public:
  // `lines` empty: SystemLines().
  explicit TComm(TLineFactory lines = {});
  virtual ~TComm();  // the guarded close
  TComm(const TComm&) = delete;
  TComm& operator=(const TComm&) = delete;

  bool Opened() const { return m_opened.load(); }
  // Opens the device of PortNumber and applies time-outs, line settings and
  // modem lines. On a failure after the device was opened it stays open.
  void Open();
  void Close();              // does nothing on a closed port
  void CheckOpened() const;  // EDriverError -17 "Порт не открыт"

  // All bytes or an error: EOSError, or a plain error on a short write.
  void Write(std::string_view data);
  // Fewer than `count` bytes (maybe none) when a time-out came first.
  std::string Read(size_t count);
  void SetBaudRate(int32_t value);  // no effect when unchanged
  void SetTimeouts(const CommTimeouts& timeouts);
  bool Purge();

  int32_t BaudRate() const { return m_baudRate; }
  int32_t PortNumber() const { return m_portNumber; }
  void SetPortNumber(int32_t number) { m_portNumber = number; }
  // Lines opened from now on end their waits when `abort` is raised.
  void SetAbort(std::shared_ptr<const SerialAbort> abort) { m_abort = std::move(abort); }
  const CommTimeouts& Timeouts() const { return m_timeouts; }

 private:
  void ApplyLine();

  TLineFactory m_lines;
  std::shared_ptr<const SerialAbort> m_abort;  // may be null; outlives m_handle
  std::unique_ptr<ISerialLine> m_handle;       // null while closed
  std::atomic<bool> m_opened{false};           // m_handle is set; for readers on other threads
  int32_t m_baudRate = 4800;                   // bits per second
  int32_t m_portNumber = 1;                    // N of COM N
  CommTimeouts m_timeouts;
};

}  // namespace varn
