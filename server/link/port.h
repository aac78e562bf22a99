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
// PortTimeout seconds without a successful exchange.
//
//   port.Lock(client, pid, appName, compName);   // timer on with AutoUnlock
//   port.Exchange(frame);                        // success restarts the countdown
//   port.Unlock();
//
// Two locks, never one for both: the device half (Open, Close, settings,
// Exchange) runs under the port's own ExchangeLock(), held across the I/O,
// so one exchange at a time per port and ports in parallel; the sharing half
// runs under the owning list's state lock (TPorts), which is never held
// across I/O. The auto-unlock firing and the restart after an exchange take
// the state lock themselves. Opened(), Input() and Output() may be read
// from any thread without either.
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
// The constant part C of a read's whole limit (T x bytes + C), in ms.
// How long the device may take to start its answer (STX and LEN).
inline constexpr uint32_t kAnswerStartTimeout = 10000;
// Before the payload and the check byte.
inline constexpr uint32_t kAnswerBodyTimeout = 1;
// A device that takes every request and never answers properly would keep
// the loop going; this many deliveries of one request and we give up.
inline constexpr int kMaxDeliveries = 10;
// At most this many late replies to ENQ are passed over after a request: a
// line that brings nothing but NAKs must not hold the exchange.
inline constexpr int kMaxLateReplies = 16;
// The longest byte time-out T a client may ask for, in ms: the most the
// device's own time-out code expresses (codes 250..255 are 15 s steps up to
// 7 x 15 s). Every read of an exchange is bounded by T, so a larger one
// would only let a silent device hold the port longer.
inline constexpr int32_t kMaxTimeout = 105000;
}  // namespace link

class TPort : public TComm {
 public:
  // `stateLock` is the owning list's state lock, `logWriter` the writer of
  // the server's one exchange log and `timers` the service its auto-unlock
  // timer runs on (none: a port of its own, as in the link's tests and
  // benchmarks). `lines` opens the device (empty: the system's).
  explicit TPort(std::shared_ptr<const TLinkSettings> settings, std::mutex* stateLock = nullptr,
                 std::shared_ptr<TExchangeLogWriter> logWriter = nullptr, TTimers* timers = nullptr,
                 TLineFactory lines = {});
  // A port of its own on the lines of `lines`.
  TPort(std::shared_ptr<const TLinkSettings> settings, TLineFactory lines)
      : TPort(std::move(settings), nullptr, nullptr, nullptr, std::move(lines)) {}
  ~TPort() override;

  // --- device half; under ExchangeLock() ------------------------------------
  std::mutex& ExchangeLock() { return m_exchangeLock; }

  // Open() that tells the system's reason of a refusal (EPortOpenError) to
  // the program's diagnostics (once while it stays the same) and to the
  // exchange log; the error itself goes on to the caller unchanged.
  void OpenDevice();

  int32_t Timeout() const { return m_timeout; }
  // T: the byte interval and per-byte read/write limits, in ms.
  void SetTimeout(int32_t t);
  // C: the constant part of the whole-read limit, in ms.
  void SetAnswerTimeout(uint32_t c);

  // False when the write failed, which is logged and swallowed: a write
  // that did not go through is one more thing the retry loop recovers from
  // (the next attempt starts with ENQ), like a reply that did not come.
  bool Send(std::string_view bytes);
  // Reads `count` bytes within T x count + `constant` ms (T between bytes).
  // False when fewer came (a time-out: the retry loop's business). A read
  // the system refuses (the line hung up) closes the device, so the next
  // exchange opens it again, and is rethrown: no retry can read from a line
  // that is gone, so the exchange ends at once and the server object
  // reports it as -8 with the system's text.
  bool Receive(size_t count, std::string& bytes, uint32_t constant);
  bool ReadAnswer(std::string& payload);
  std::string Exchange(std::string_view request);

  // Copies: another client may be exchanging on the port meanwhile.
  std::string Input() const;
  std::string Output() const;

  // --- sharing half; under the state lock -----------------------------------
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
  // How many client objects have this port as their current one. A port
  // none of them has any more is closed by the client that left it last.
  int Users() const { return m_users; }
  void AddUser() { ++m_users; }
  void RemoveUser() {
    if (m_users > 0) --m_users;
  }
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
  // Reads the reply to the request: true on ACK, passing over the late
  // replies to ENQs whose wait ran out.
  bool RequestAccepted(std::string& reply);
  void AutoUnlockFired();  // the timer's OnTimer, on the main loop's thread
  void Changed() {
    if (m_onChange) m_onChange();
  }
  std::unique_lock<std::mutex> StateLock();  // the owner's, or none

  std::shared_ptr<const TLinkSettings> m_settings;
  std::mutex* m_stateLock;          // the owner's state lock, not owned; may be null
  std::mutex m_exchangeLock;        // the device half, across its I/O
  std::unique_ptr<TTimer> m_timer;  // the auto-unlock timer
  int32_t m_lockPID = 0;
  std::string m_lockAppName;
  std::string m_lockCompName;
  int32_t m_locker = 0;  // ClientNumber of the holder, 0 when unlocked
  int m_users = 0;       // client objects whose current port this is
  std::function<void()> m_onChange;

  std::string m_openFailure;  // the last refusal told to the diagnostics
  int32_t m_timeout = 0;      // T in ms; SetTimeout(100) in the constructor
  // C of the reply to ENQ and of the ACK after the request, in ms: what the
  // last answer read left (the body's constant once it got past LEN, the
  // start's when it stopped before), carried between exchanges.
  uint32_t m_replyConstant = 1;
  // ENQs whose reply did not come in time, since the device last accepted a
  // request; carried between exchanges like the constant above.
  int m_lateReplies = 0;
  TExchangeLog m_log;
  mutable std::mutex m_textLock;  // the two texts below; taken alone
  std::string m_input;            // hex dump of the last request
  std::string m_output;           // answer summaries of the last exchange
};

}  // namespace varn
