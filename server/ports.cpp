#include "server/ports.h"

#include "platform/errors.h"
#include "platform/paths.h"

namespace varn {

TPorts::TPorts(std::shared_ptr<TServerSettings> settings, TTimers& timers, TLineFactory lines)
    : m_settings(std::move(settings)),
      m_timers(timers),
      m_lines(std::move(lines)),
      m_logWriter(std::make_shared<TExchangeLogWriter>()),
      m_abort(std::make_shared<SerialAbort>()) {
  // No port exists yet, so no exchange reads the path while it is set; it
  // follows the environment of this run (VARN_LOG_DIR).
  m_settings->LogFile = LogDirectory() + "/VarnSrv.log";
}

TPorts::~TPorts() {
  // Not under the state lock while a port goes: its destruction waits for
  // an auto-unlock firing in progress, and that firing takes the state lock.
  while (!m_items.empty()) {
    std::unique_ptr<TPort> port;
    {
      std::lock_guard lock(m_stateLock);
      port = std::move(m_items.back());
      m_items.pop_back();
      Changed();
    }
    port.reset();
  }
}

TPort* TPorts::Find(int32_t number) const {
  for (const auto& p : m_items)
    if (p->PortNumber() == number) return p.get();
  return nullptr;
}

TPort& TPorts::FindOrCreate(int32_t number) {
  if (TPort* port = Find(number)) return *port;
  if (Count() >= kMaxPorts) throw EDriverError(rc::kPortUnavailable, msg::kPortUnavailable);
  auto port = std::make_unique<TPort>(m_settings, &m_stateLock, m_logWriter, &m_timers, m_lines);
  port->SetPortNumber(number);
  port->SetAbort(m_abort);
  m_items.push_back(std::move(port));
  Changed();
  return *m_items.back();
}

void TPorts::UnlockAll() {
  std::lock_guard lock(m_stateLock);
  for (auto& p : m_items) p->Unlock();
}

void TPorts::CloseAll() {
  std::vector<TPort*> ports;
  {
    std::lock_guard lock(m_stateLock);
    for (auto& p : m_items) ports.push_back(p.get());
  }
  // Ports stay listed while the list lives: safe without the state lock.
  for (TPort* p : ports) {
    std::lock_guard exchange(p->ExchangeLock());
    if (p->Opened()) p->Close();
  }
}

void TPorts::AbortExchanges() {
  m_abort->Raise();
}

void TPorts::UpdateTimers() {
  std::lock_guard lock(m_stateLock);
  for (auto& p : m_items) p->UpdateTimer();
}

}  // namespace varn
