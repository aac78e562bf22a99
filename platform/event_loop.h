// The main loop: the server's "main thread" as a queue of posted tasks plus
// timers, drained by one thread.
//
// IEventLoop is what the rest of the system sees; TEventLoop is our own
// implementation (one thread, a task queue, an ordered set of deadlines);
// the GUI build puts the same interface on Qt's loop. Tasks run in the order
// they were posted; timers are started and stopped only on the loop's
// thread, so any other thread changes a timer by posting a task (TTimer in
// platform/timers.h does exactly that).
//
//   TEventLoop loop;
//   std::thread main([&] { loop.Run(); });
//   loop.Post([&] { loop.StartTimer(7, 1000ms, [] { Tick(); }); });
//   ...
//   loop.Quit();
//   main.join();
//
// Time comes from an IClock. Tests pass a ManualClock and drive the loop
// themselves with RunPending(), so timer logic is checked without sleeping.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

#include "platform/clock.h"

namespace varn {

class IEventLoop {
 public:
  using Task = std::function<void()>;
  virtual ~IEventLoop() = default;

  // Any thread. Runs `task` on the loop's thread after every task posted
  // before it.
  virtual void Post(Task task) = 0;
  // The loop's thread only (inside a task or a timer callback). Starts timer
  // `id`, or restarts its countdown when it runs: `onFire` runs every
  // `interval` until StopTimer. Intervals below 1 ms count as 1 ms.
  virtual void StartTimer(int32_t id, std::chrono::milliseconds interval, Task onFire) = 0;
  // The loop's thread only. A timer that does not run is fine.
  virtual void StopTimer(int32_t id) = 0;
  // Runs tasks and timers on the calling thread until Quit().
  virtual void Run() = 0;
  // Any thread. Makes the running Run() (or the next one) return.
  virtual void Quit() = 0;
  // True on the thread that runs the loop right now.
  virtual bool InLoopThread() const = 0;
};

class TEventLoop final : public IEventLoop {
 public:
  explicit TEventLoop(IClock& clock = SteadyClock()) : m_clock(clock) {}
  TEventLoop(const TEventLoop&) = delete;
  TEventLoop& operator=(const TEventLoop&) = delete;

  void Post(Task task) override;
  void StartTimer(int32_t id, std::chrono::milliseconds interval, Task onFire) override;
  void StopTimer(int32_t id) override;
  void Run() override;
  void Quit() override;
  bool InLoopThread() const override { return m_loopThread.load() == std::this_thread::get_id(); }

  // One pass on the calling thread: every task posted so far (and those they
  // post), then every timer that is due. For tests that drive the loop.
  void RunPending();
  // The loop's thread only: the interval of a running timer.
  std::optional<std::chrono::milliseconds> TimerInterval(int32_t id) const;
  size_t RunningTimers() const { return m_timers.size(); }

 private:
  struct Timer {
    std::chrono::milliseconds interval;
    MonoTime due;
    Task onFire;
  };
  void CheckLoopThread(const char* what) const;
  // Runs the queue until it is empty; false when Quit() was called.
  bool RunTasks(std::unique_lock<std::mutex>& lock);
  void FireDueTimers();
  static void RunGuarded(const Task& task);

  IClock& m_clock;
  std::mutex m_mutex;  // guards m_tasks and m_quit
  std::condition_variable m_wake;
  std::deque<Task> m_tasks;
  bool m_quit = false;
  std::atomic<std::thread::id> m_loopThread{};
  // Touched only on the loop's thread, so not under m_mutex.
  std::map<int32_t, Timer> m_timers;
  std::set<std::pair<MonoTime, int32_t>> m_deadlines;  // (due, id), earliest first
};

}  // namespace varn
