#include "server/context.h"

namespace varn {

TServerContext::TServerContext(TTimers& timers, std::shared_ptr<TServerSettings> settings,
                               TLineFactory lines)
    : m_timers(timers),
      m_settings(settings ? std::move(settings) : std::make_shared<TServerSettings>()),
      m_ports(m_settings, timers, std::move(lines)) {}

void TServerContext::SetOnLastObjectReleased(std::function<void()> handler) {
  std::lock_guard lock(m_lastReleasedLock);
  m_onLastReleased = std::move(handler);
}

void TServerContext::ObjectReleased() {
  if (--m_objects != 0) return;
  std::function<void()> handler;
  {
    std::lock_guard lock(m_lastReleasedLock);
    handler = m_onLastReleased;
  }
  if (handler) handler();
}

}  // namespace varn
