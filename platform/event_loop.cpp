#include "platform/event_loop.h"

#include <cstdio>
#include <exception>
#include <stdexcept>

namespace varn {
namespace {

// Marks the calling thread as the loop's thread for a scope.
class LoopThreadScope {
 public:
  explicit LoopThreadScope(std::atomic<std::thread::id>& slot)
      : m_slot(slot), m_previous(slot.exchange(std::this_thread::get_id())) {}
  ~LoopThreadScope() { m_slot.store(m_previous); }

 private:
  std::atomic<std::thread::id>& m_slot;
  std::thread::id m_previous;
};

}  // namespace

void TEventLoop::Post(Task task) {
  {
    std::lock_guard lock(m_mutex);
    m_tasks.push_back(std::move(task));
  }
  m_wake.notify_one();
}

void TEventLoop::CheckLoopThread(const char* what) const {
  if (!InLoopThread())
    throw std::logic_error(std::string(what) + " outside the loop's thread; post it instead");
}

void TEventLoop::StartTimer(int32_t id, std::chrono::milliseconds interval, Task onFire) {
  CheckLoopThread("StartTimer");
  if (interval < std::chrono::milliseconds(1)) interval = std::chrono::milliseconds(1);
  auto it = m_timers.find(id);
  if (it != m_timers.end()) m_deadlines.erase({it->second.due, id});
  const MonoTime due = m_clock.Now() + interval;
  m_timers[id] = Timer{interval, due, std::move(onFire)};
  m_deadlines.insert({due, id});
}

void TEventLoop::StopTimer(int32_t id) {
  CheckLoopThread("StopTimer");
  auto it = m_timers.find(id);
  if (it == m_timers.end()) return;
  m_deadlines.erase({it->second.due, id});
  m_timers.erase(it);
}

std::optional<std::chrono::milliseconds> TEventLoop::TimerInterval(int32_t id) const {
  CheckLoopThread("TimerInterval");
  auto it = m_timers.find(id);
  if (it == m_timers.end()) return std::nullopt;
  return it->second.interval;
}

void TEventLoop::RunGuarded(const Task& task) {
  // A failing task must not take the loop (and every timer) down with it.
  try {
    task();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "event loop: a task failed: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "event loop: a task failed\n");
  }
}

bool TEventLoop::RunTasks(std::unique_lock<std::mutex>& lock) {
  while (!m_tasks.empty() && !m_quit) {
    std::deque<Task> batch;
    batch.swap(m_tasks);
    lock.unlock();
    for (auto& task : batch) RunGuarded(task);
    lock.lock();
  }
  return !m_quit;
}

void TEventLoop::FireDueTimers() {
  const MonoTime now = m_clock.Now();
  // A fired timer is due again only after `now`, so each fires once a pass.
  while (!m_deadlines.empty() && m_deadlines.begin()->first <= now) {
    const int32_t id = m_deadlines.begin()->second;
    m_deadlines.erase(m_deadlines.begin());
    Timer& timer = m_timers.at(id);
    timer.due = now + timer.interval;
    m_deadlines.insert({timer.due, id});
    const Task onFire = timer.onFire;  // the callback may stop or restart its timer
    RunGuarded(onFire);
  }
}

void TEventLoop::RunPending() {
  LoopThreadScope scope(m_loopThread);
  std::unique_lock lock(m_mutex);
  if (!RunTasks(lock)) return;
  lock.unlock();
  FireDueTimers();
  lock.lock();
  RunTasks(lock);  // whatever the timers posted
}

void TEventLoop::Run() {
  LoopThreadScope scope(m_loopThread);
  std::unique_lock lock(m_mutex);
  for (;;) {
    if (!RunTasks(lock)) break;
    lock.unlock();
    FireDueTimers();
    lock.lock();
    if (!m_tasks.empty() || m_quit) continue;
    if (m_deadlines.empty() || !m_clock.Ticks()) {
      m_wake.wait(lock);
    } else {
      // steady_clock time points; a ticking IClock other than SteadyClock
      // would need its own conversion here.
      m_wake.wait_until(lock, m_deadlines.begin()->first);
    }
  }
  m_quit = false;  // consumed: the next Run() runs again
}

void TEventLoop::Quit() {
  {
    std::lock_guard lock(m_mutex);
    m_quit = true;
  }
  m_wake.notify_all();
}

}  // namespace varn
