// The timer service: timers that any thread may change and that fire on the
// main loop's thread.
//
// TTimers is a service bound to a main loop; a TTimer given one registers
// with it (the port server's ports take their server's), and one given none
// registers with the service made last that still exists. A change of a timer on
// any thread only posts a start or stop message to the loop, in the order of
// the changes; the loop's thread alone starts, stops and fires the timers,
// so a stop followed by a start always restarts the countdown.
//
//   TEventLoop loop;
//   TTimers timers(loop);           // the process's timer service
//   TTimer t;
//   t.SetInterval(10000);           // ms
//   t.SetOnTimer([] { Expired(); }); // runs on the loop's thread
//   t.SetEnabled(true);             // posts "start"
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/event_loop.h"

namespace varn {

namespace timers_detail {
struct Service;
}

class TTimers {
 public:
  // Becomes the process's service until destroyed; it must outlive every
  // timer created while it exists, and the loop must outlive it.
  explicit TTimers(IEventLoop& loop);
  ~TTimers();
  TTimers(const TTimers&) = delete;
  TTimers& operator=(const TTimers&) = delete;

  size_t Count() const;  // timers registered

 private:
  friend class TTimer;
  std::shared_ptr<timers_detail::Service> m_service;
};

class TTimer {
 public:
  // Takes the next process-wide Id (the first timer is 1). Without a timer
  // service the timer can be configured but not started (std::logic_error).
  TTimer();
  // On `service` rather than the process's current one.
  explicit TTimer(TTimers& service);
  // Stops the timer; when it is firing on another thread, waits for that
  // firing to end, so OnTimer never runs on a destroyed owner.
  virtual ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  int32_t Id() const { return m_id; }
  // Non-zero while the loop runs the timer (set on the loop's thread).
  int32_t Handle() const { return m_handle.load(); }
  bool Enabled() const;
  int32_t Interval() const;  // ms, 1000 by default

  void SetEnabled(bool value);
  void SetInterval(int32_t value);
  void SetOnTimer(std::function<void()> handler);

  // True while a start or stop posted by this timer has not reached the
  // loop yet: a firing seen then is already overtaken by a later change.
  bool ChangePending() const;

 protected:
  // The firing: calls OnTimer. Runs on the loop's thread.
  virtual void Timer();

 private:
  friend struct timers_detail::Service;
  explicit TTimer(std::shared_ptr<timers_detail::Service> service);
  void UpdateTimer();  // with m_lock held

  const int32_t m_id;
  std::shared_ptr<timers_detail::Service> m_service;  // null: no service
  mutable std::mutex m_lock;                          // the settings below, and the order of posts
  bool m_enabled = false;
  int32_t m_interval = 1000;
  std::function<void()> m_onTimer;
  bool m_started = false;              // the last message posted was "start"
  uint64_t m_posted = 0;               // messages posted so far
  std::atomic<uint64_t> m_applied{0};  // messages the loop has carried out
  std::atomic<int32_t> m_handle{0};
};

}  // namespace varn
