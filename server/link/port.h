// TPort: a COM port of the server with the device's link protocol.
//
// Exchange() carries one request frame (built whole by the client) to the
// device and returns the payload of the device's answer, by the half-duplex
// protocol: ENQ; NAK means "send", ACK means "I hold an answer"; frames are
// STX, LEN, payload, XOR check byte. Three failure counters bound the
// retries; any of them above two ends the exchange with -4 "Нет связи".
// Every byte on the line goes to the exchange log.
//
//   TPort port(settings);
//   port.SetPortNumber(1);
//   std::string answer = port.Exchange(frame);   // EDriverError -4, -2, -3
//
// The sharing half: which client holds the port's advisory lock (by its
// ClientNumber) and the auto-unlock timer that frees a lock after
// PortTimeout seconds without a successful exchange. The server's port list
// (TPorts) creates the ports and passes its lock; every call here runs
// under that lock, and the timer's firing takes it too.
//
//   port.Lock(client, pid, appName, compName);   // timer on with AutoUnlock
//   port.Exchange(frame);                        // success restarts the countdown
//   port.Unlock();
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/timers.h"
#include "server/link/comm.h"
#include "server/link/exchange_log.h"

namespace varn {

namespace link {
// How long the device may take to start its answer (ms).
inline constexpr uint32_t kAnswerStartTimeout = 10000;
// Gap allowed before the payload and the check byte, on top of T (ms).
inline constexpr uint32_t kAnswerBodyTimeout = 1;
// A device that takes every request and never answers properly would keep
// the loop going; this many deliveries of one request and we give up.
inline constexpr int kMaxDeliveries = 10;
}  // namespace link

class TPort : public TComm {
 public:
  // `listLock` is the owning list's port list lock (none for a port of its
  // own, as in the link's tests and benchmarks).
  explicit TPort(std::shared_ptr<const TLinkSettings> settings,
                 std::recursive_mutex* listLock = nullptr);
  ~TPort() override;

  int32_t Timeout() const { return m_timeout; }
  // T: the byte interval and per-byte read/write limits, in ms.
  void SetTimeout(int32_t t);
  // C: the constant part of the whole-read limit, in ms.
  void SetAnswerTimeout(uint32_t c);

  // False when the write failed, which is logged and swallowed: a write
  // that did not go through is one more thing the retry loop recovers from
  // (the next attempt starts with ENQ), like a reply that did not come.
  bool Send(std::string_view bytes);
  // False when fewer than `count` bytes came (a time-out: the retry loop's
  // business). A read the system refuses is logged and rethrown: no retry
  // can read from a line that is gone, so the exchange ends at once and the
  // server object reports it as -8 with the system's text.
  bool Receive(size_t count, std::string& bytes);
  bool ReadAnswer(std::string& payload);
  std::string Exchange(std::string_view request);

  const std::string& Input() const { return m_input; }
  const std::string& Output() const { return m_output; }

  // --- sharing half; under the port list lock -------------------------------
  bool Locked() const { return m_locker != 0; }
  // The holder's ClientNumber, 0 when unlocked. Only ever compared: numbers
  // are never reused, so a departed holder is never taken for a new client.
  int32_t Locker() const { return m_locker; }
  int32_t LockPID() const { return m_lockPID; }
  const std::string& LockAppName() const { return m_lockAppName; }
  const std::string& LockCompName() const { return m_lockCompName; }

  // Locking again by the holder replaces its identification and leaves a
  // running countdown alone.
  void Lock(int32_t client, int32_t pid, std::string appName, std::string compName);
  void Unlock();  // also when not locked; raises OnChange either way
  // Timer on when locked and AutoUnlock is set; interval from PortTimeout.
  void UpdateTimer();
  // Raised after every Lock and Unlock (only posts: see server/notify.h).
  void SetOnChange(std::function<void()> handler) { m_onChange = std::move(handler); }
  const TTimer& AutoUnlockTimer() const { return *m_timer; }

 protected:
  // Called after every successful exchange (restarts the auto-unlock timer).
  virtual void ExchangeSucceeded();

 private:
  void AppendOutput(std::string_view part);
  void AutoUnlockFired();  // the timer's OnTimer, on the main loop's thread
  void Changed() {
    if (m_onChange) m_onChange();
  }

  std::shared_ptr<const TLinkSettings> m_settings;
  std::recursive_mutex* m_listLock;  // the owner's port list lock, not owned
  std::mutex m_ownLock;              // held only by the auto-unlock handler
  std::unique_ptr<TTimer> m_timer;   // the auto-unlock timer
  int32_t m_lockPID = 0;
  std::string m_lockAppName;
  std::string m_lockCompName;
  int32_t m_locker = 0;  // ClientNumber of the holder, 0 when unlocked
  std::function<void()> m_onChange;

  int32_t m_timeout = 0;  // T in ms; SetTimeout(100) in the constructor
  TExchangeLog m_log;
  std::string m_input;   // hex dump of the last request
  std::string m_output;  // answer summaries of the last exchange
};

}  // namespace varn
