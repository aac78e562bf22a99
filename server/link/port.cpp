#include "server/link/port.h"

#include <algorithm>
#include <climits>

#include "platform/diagnostics.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "protocol/frame.h"

namespace varn {

TPort::TPort(std::shared_ptr<const TLinkSettings> settings, std::mutex* stateLock,
             std::shared_ptr<TExchangeLogWriter> logWriter, TTimers* timers, TLineFactory lines)
    : TComm(std::move(lines)),
      m_settings(settings),
      m_stateLock(stateLock),
      m_timer(timers ? std::make_unique<TTimer>(*timers) : std::make_unique<TTimer>()),
      m_log(std::move(settings), std::move(logWriter)) {
  m_timer->SetOnTimer([this] { AutoUnlockFired(); });
  UpdateTimer();
  SetTimeout(100);
}

TPort::~TPort() {
  m_log.Close();
  // Waits for a firing in progress, which uses this port.
  m_timer.reset();
}

void TPort::Lock(int32_t client, int32_t pid, std::string appName, std::string compName) {
  m_timer->SetEnabled(m_settings->AutoUnlock);
  m_locker = client;
  m_lockPID = pid;
  m_lockAppName = std::move(appName);
  m_lockCompName = std::move(compName);
  Changed();
}

void TPort::Unlock() {
  m_timer->SetEnabled(false);
  m_lockPID = 0;
  m_lockAppName.clear();
  m_lockCompName.clear();
  m_locker = 0;
  Changed();
}

void TPort::UpdateTimer() {
  m_timer->SetEnabled(Locked() && m_settings->AutoUnlock);
  // Seconds from the settings; a stored value out of range never overflows.
  const int64_t ms = int64_t{m_settings->PortTimeout} * 1000;
  m_timer->SetInterval(static_cast<int32_t>(std::clamp<int64_t>(ms, 0, INT32_MAX)));
}

std::unique_lock<std::mutex> TPort::StateLock() {
  return m_stateLock ? std::unique_lock(*m_stateLock) : std::unique_lock<std::mutex>();
}

void TPort::ExchangeSucceeded() {
  // The lock state belongs to the state lock, taken here inside the
  // exchange lock (never the other way round).
  auto state = StateLock();
  // Stop, then start again: the countdown runs from the end of this exchange.
  m_timer->SetEnabled(false);
  UpdateTimer();
}

void TPort::AutoUnlockFired() {
  // The state lock alone, so that an unlock by time cannot interleave with
  // a client's lock operation, and an exchange in progress cannot hold up
  // the main loop.
  auto state = StateLock();
  // A restart or stop posted before we got the lock overtakes this firing.
  if (m_timer->ChangePending()) return;
  Unlock();
}

void TPort::OpenDevice() {
  try {
    Open();
  } catch (const EPortOpenError& e) {
    const std::string text = "COM" + std::to_string(PortNumber()) + ": " + e.Reason;
    // A client that retries every second must not fill the journal.
    if (text != m_openFailure) Diagnose(text);
    m_openFailure = text;
    m_log.Line("Error: " + text);
    m_log.Close();
    throw;
  }
  m_openFailure.clear();
}

void TPort::SetTimeout(int32_t t) {
  if (t == m_timeout) return;
  CommTimeouts to = Timeouts();
  const auto ut = static_cast<uint32_t>(t);
  to.ReadIntervalTimeout = ut;
  to.ReadTotalTimeoutMultiplier = ut;
  to.WriteTotalTimeoutMultiplier = ut;
  SetTimeouts(to);
  m_timeout = t;
}

void TPort::SetAnswerTimeout(uint32_t c) {
  CommTimeouts to = Timeouts();
  to.ReadTotalTimeoutConstant = c;
  SetTimeouts(to);
}

bool TPort::Send(std::string_view bytes) {
  try {
    Write(bytes);
  } catch (const std::exception& e) {
    m_log.Line("-> " + HexDump(bytes) + " Error: " + e.what());
    return false;
  }
  m_log.Line("-> " + HexDump(bytes));
  return true;
}

bool TPort::Receive(size_t count, std::string& bytes, uint32_t constant) {
  SetAnswerTimeout(constant);
  try {
    bytes = Read(count);
  } catch (const std::exception& e) {
    // A line the system refuses (hung up, device gone) is of no more use:
    // closed, the next exchange opens the device again from its path.
    Close();
    m_log.Line(std::string("Error: ") + e.what());
    throw;
  }
  if (bytes.size() == count) {
    m_log.Line("<- " + HexDump(bytes));
    return true;
  }
  m_log.Line("<- " + HexDump(bytes) + " Error: Timeout");
  return false;
}

std::string TPort::Input() const {
  std::lock_guard text(m_textLock);
  return m_input;
}

std::string TPort::Output() const {
  std::lock_guard text(m_textLock);
  return m_output;
}

void TPort::AppendOutput(std::string_view part) {
  std::lock_guard text(m_textLock);
  if (!m_output.empty()) m_output += " | ";
  m_output += part;
}

bool TPort::ReadAnswer(std::string& payload) {
  // STX and LEN: T + 10 000 ms each; until LEN is in, the next reply to
  // ENQ waits as long.
  std::string b;
  m_replyConstant = link::kAnswerStartTimeout;
  if (!Receive(1, b, link::kAnswerStartTimeout) || b[0] != protocol::STX) return false;
  AppendOutput(HexDump(b));
  if (!Receive(1, b, link::kAnswerStartTimeout)) return false;
  AppendOutput(HexDump(b));
  const auto len = static_cast<unsigned char>(b[0]);
  // The payload: T between bytes, T x LEN + 1 ms in all; the check byte
  // T + 1 ms; from here on the reply to ENQ waits T + 1 ms.
  m_replyConstant = link::kAnswerBodyTimeout;
  std::string data;
  if (!Receive(len, data, link::kAnswerBodyTimeout)) return false;
  if (len >= 1) AppendOutput(HexDump(data.substr(0, 1)));
  if (len >= 2) AppendOutput(HexDump(data.substr(1, 1)));
  if (len >= 3) AppendOutput(HexDump(std::string_view(data).substr(2)));
  if (!Receive(1, b, link::kAnswerBodyTimeout)) return false;
  AppendOutput(HexDump(b));
  if (protocol::CheckByte(data) == static_cast<unsigned char>(b[0])) {
    Send(std::string(1, protocol::ACK));
    payload = std::move(data);
    return true;
  }
  Send(std::string(1, protocol::NAK));
  return false;
}

bool TPort::RequestAccepted(std::string& reply) {
  // A device answers every ENQ, even one whose wait ran out: those late NAKs
  // come before the ACK of the request (the device replies in order). Taken
  // for a refusal, they would have the request sent, and printed, twice.
  for (int skipped = 0;; ++skipped) {
    if (!Receive(1, reply, m_replyConstant)) return false;
    if (reply[0] == protocol::ACK) {
      m_lateReplies = 0;  // every earlier reply is in: back in step
      return true;
    }
    if (reply[0] != protocol::NAK || skipped >= m_lateReplies) return false;
  }
}

std::string TPort::Exchange(std::string_view request) {
  {
    std::lock_guard text(m_textLock);
    m_input.clear();
    m_output.clear();
  }
  // The log is closed at the end of every exchange, however it ends.
  struct LogCloser {
    TExchangeLog& log;
    ~LogCloser() { log.Close(); }
  } closer{m_log};

  bool sent = false;
  if (!Opened()) OpenDevice();
  {
    std::lock_guard text(m_textLock);
    m_input = HexDump(request);
  }

  int answerFailures = 0, sendFailures = 0, replyFailures = 0, deliveries = 0;
  const std::string enq(1, protocol::ENQ);
  std::string reply, payload;
  for (;;) {
    Purge();
    Send(enq);
    // The reply to ENQ and the ACK after the request wait T + C.
    if (!Receive(1, reply, m_replyConstant)) {
      ++replyFailures;
      // Its reply may yet come, behind the next ENQ's.
      m_lateReplies = std::min(m_lateReplies + 1, link::kMaxLateReplies);
    } else if (reply[0] == protocol::ACK) {
      // An answer read while the request is not delivered is a stale one.
      if (ReadAnswer(payload) && sent) break;
      ++answerFailures;
    } else if (reply[0] == protocol::NAK) {
      sent = Send(request);
      if (!sent) {
        ++sendFailures;
      } else if (!RequestAccepted(reply)) {
        ++sendFailures;
      } else {
        answerFailures = 0;
        ++deliveries;
        if (ReadAnswer(payload)) break;
        answerFailures = 1;
        if (deliveries >= link::kMaxDeliveries) answerFailures = 3;
      }
    } else {
      ++replyFailures;
    }
    if (answerFailures > 2 || sendFailures > 2 || replyFailures > 2)
      throw EDriverError(rc::kNoLink, msg::kNoLink);
  }
  ExchangeSucceeded();
  return payload;
}

}  // namespace varn
