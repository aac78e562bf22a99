#include "server/link/port.h"

#include <algorithm>
#include <climits>

#include "platform/errors.h"
#include "platform/text.h"
#include "protocol/frame.h"

namespace varn {

TPort::TPort(std::shared_ptr<const TLinkSettings> settings, std::recursive_mutex* listLock)
    : m_settings(settings),
      m_listLock(listLock),
      m_timer(std::make_unique<TTimer>()),
      m_log(std::move(settings)) {
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

void TPort::ExchangeSucceeded() {
  // Stop, then start again: the countdown runs from the end of this exchange.
  m_timer->SetEnabled(false);
  UpdateTimer();
}

void TPort::AutoUnlockFired() {
  // The port list lock too, so that an unlock by time cannot interleave
  // with a client's lock operation (always list lock first, then our own).
  std::unique_lock<std::recursive_mutex> list;
  if (m_listLock) list = std::unique_lock(*m_listLock);
  // A restart or stop posted before we got the lock overtakes this firing.
  if (m_timer->ChangePending()) return;
  std::lock_guard own(m_ownLock);
  Unlock();
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

bool TPort::Receive(size_t count, std::string& bytes) {
  try {
    bytes = Read(count);
  } catch (const std::exception& e) {
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

void TPort::AppendOutput(std::string_view part) {
  if (!m_output.empty()) m_output += " | ";
  m_output += part;
}

bool TPort::ReadAnswer(std::string& payload) {
  std::string b;
  SetAnswerTimeout(link::kAnswerStartTimeout);
  if (!Receive(1, b) || b[0] != protocol::STX) return false;
  AppendOutput(HexDump(b));
  if (!Receive(1, b)) return false;
  AppendOutput(HexDump(b));
  const auto len = static_cast<unsigned char>(b[0]);
  SetAnswerTimeout(link::kAnswerBodyTimeout);
  std::string data;
  if (!Receive(len, data)) return false;
  if (len >= 1) AppendOutput(HexDump(data.substr(0, 1)));
  if (len >= 2) AppendOutput(HexDump(data.substr(1, 1)));
  if (len >= 3) AppendOutput(HexDump(std::string_view(data).substr(2)));
  if (!Receive(1, b)) return false;
  AppendOutput(HexDump(b));
  if (protocol::CheckByte(data) == static_cast<unsigned char>(b[0])) {
    Send(std::string(1, protocol::ACK));
    payload = std::move(data);
    return true;
  }
  Send(std::string(1, protocol::NAK));
  return false;
}

std::string TPort::Exchange(std::string_view request) {
  m_input.clear();
  m_output.clear();
  // The log is closed at the end of every exchange, however it ends.
  struct LogCloser {
    TExchangeLog& log;
    ~LogCloser() { log.Close(); }
  } closer{m_log};

  bool sent = false;
  if (!Opened()) Open();
  m_input = HexDump(request);

  int answerFailures = 0, sendFailures = 0, replyFailures = 0, deliveries = 0;
  const std::string enq(1, protocol::ENQ);
  std::string reply, payload;
  for (;;) {
    Purge();
    Send(enq);
    if (!Receive(1, reply)) {
      ++replyFailures;
    } else if (reply[0] == protocol::ACK) {
      // An answer read while the request is not delivered is a stale one.
      if (ReadAnswer(payload) && sent) break;
      ++answerFailures;
    } else if (reply[0] == protocol::NAK) {
      sent = Send(request);
      if (!sent) {
        ++sendFailures;
      } else if (!Receive(1, reply) || reply[0] != protocol::ACK) {
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
