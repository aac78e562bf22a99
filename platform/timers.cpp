#include "platform/timers.h"

#include <condition_variable>
#include <stdexcept>
#include <unordered_map>

namespace varn {

namespace timers_detail {

// The state the posted messages reach; shared with them, so a message still
// queued when the service goes away finds it intact (and nothing in it).
struct Service : std::enable_shared_from_this<Service> {
  explicit Service(IEventLoop& l) : loop(l) {}

  IEventLoop& loop;
  std::mutex lock;  // the TTimers lock: items and firing
  std::condition_variable idle;
  std::unordered_map<int32_t, TTimer*> items;
  int32_t firing = 0;  // the timer whose OnTimer runs now, 0 when none

  // The start and stop messages, carried out on the loop's thread.
  void Start(int32_t id, int32_t interval, uint64_t seq) {
    std::lock_guard guard(lock);
    auto it = items.find(id);
    if (it == items.end()) return;  // destroyed meanwhile; its stop follows
    std::weak_ptr<Service> self = weak_from_this();
    loop.StartTimer(id, std::chrono::milliseconds(interval), [self, id] {
      if (auto s = self.lock()) s->Fire(id);
    });
    it->second->m_handle = id;
    it->second->m_applied = seq;
  }

  void Stop(int32_t id, uint64_t seq) {
    std::lock_guard guard(lock);
    loop.StopTimer(id);  // also for a timer already destroyed
    auto it = items.find(id);
    if (it == items.end()) return;
    it->second->m_handle = 0;
    it->second->m_applied = seq;
  }

  void Fire(int32_t id) {
    TTimer* timer;
    {
      std::lock_guard guard(lock);
      auto it = items.find(id);
      if (it == items.end()) {
        loop.StopTimer(id);
        return;
      }
      timer = it->second;
      firing = id;
    }
    // Outside the lock: OnTimer may take other locks (the port list lock),
    // which are always taken before this one, never after.
    struct Done {
      Service& s;
      ~Done() {
        {
          std::lock_guard guard(s.lock);
          s.firing = 0;
        }
        s.idle.notify_all();
      }
    } done{*this};  // also when OnTimer throws
    timer->Timer();
  }
};

namespace {

std::mutex g_currentLock;
std::shared_ptr<Service> g_current;
std::atomic<int32_t> g_lastId{0};

std::shared_ptr<Service> Current() {
  std::lock_guard guard(g_currentLock);
  return g_current;
}

}  // namespace
}  // namespace timers_detail

using timers_detail::Service;

TTimers::TTimers(IEventLoop& loop) : m_service(std::make_shared<Service>(loop)) {
  std::lock_guard guard(timers_detail::g_currentLock);
  timers_detail::g_current = m_service;
}

TTimers::~TTimers() {
  std::lock_guard guard(timers_detail::g_currentLock);
  if (timers_detail::g_current == m_service) timers_detail::g_current.reset();
}

size_t TTimers::Count() const {
  std::lock_guard guard(m_service->lock);
  return m_service->items.size();
}

TTimer::TTimer() : TTimer(timers_detail::Current()) {}

TTimer::TTimer(TTimers& service) : TTimer(service.m_service) {}

TTimer::TTimer(std::shared_ptr<timers_detail::Service> service)
    : m_id(++timers_detail::g_lastId), m_service(std::move(service)) {
  if (!m_service) return;
  std::lock_guard guard(m_service->lock);
  m_service->items.emplace(m_id, this);
}

TTimer::~TTimer() {
  if (!m_service) return;
  {
    std::unique_lock guard(m_service->lock);
    m_service->items.erase(m_id);
    // A firing on the loop's thread right now still uses this object. On
    // the loop's thread itself the firing is further up this very stack.
    m_service->idle.wait(
        guard, [&] { return m_service->firing != m_id || m_service->loop.InLoopThread(); });
  }
  std::lock_guard guard(m_lock);
  if (m_started) {
    const int32_t id = m_id;
    const uint64_t seq = ++m_posted;
    m_service->loop.Post([s = m_service, id, seq] { s->Stop(id, seq); });
  }
}

bool TTimer::Enabled() const {
  std::lock_guard guard(m_lock);
  return m_enabled;
}

int32_t TTimer::Interval() const {
  std::lock_guard guard(m_lock);
  return m_interval;
}

void TTimer::SetEnabled(bool value) {
  std::lock_guard guard(m_lock);
  if (value == m_enabled) return;
  m_enabled = value;
  UpdateTimer();
}

void TTimer::SetInterval(int32_t value) {
  std::lock_guard guard(m_lock);
  if (value == m_interval) return;
  m_interval = value;
  UpdateTimer();
}

void TTimer::SetOnTimer(std::function<void()> handler) {
  std::lock_guard guard(m_lock);
  m_onTimer = std::move(handler);
  UpdateTimer();
}

bool TTimer::ChangePending() const {
  std::lock_guard guard(m_lock);
  return m_applied.load() != m_posted;
}

void TTimer::UpdateTimer() {
  // Posting under m_lock keeps the messages in the order of the changes.
  const int32_t id = m_id;
  if (m_interval > 0 && m_enabled && m_onTimer) {
    if (!m_service) throw std::logic_error("TTimer: no timer service to run the timer");
    const int32_t interval = m_interval;
    const uint64_t seq = ++m_posted;
    m_service->loop.Post([s = m_service, id, interval, seq] { s->Start(id, interval, seq); });
    m_started = true;
  } else if (m_started) {
    // Not only when it runs: a start still on its way must be undone too.
    const uint64_t seq = ++m_posted;
    m_service->loop.Post([s = m_service, id, seq] { s->Stop(id, seq); });
    m_started = false;
  }
}

void TTimer::Timer() {
  std::function<void()> handler;
  {
    std::lock_guard guard(m_lock);
    handler = m_onTimer;
  }
  // Nothing of this object is touched after the handler: it may free it.
  if (handler) handler();
}

}  // namespace varn
