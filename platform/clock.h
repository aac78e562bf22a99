// Monotonic time behind an interface, so that whatever depends on time
// (the main loop's timers, the emulated device's drawer and test run) can
// be driven by a test without waiting.
//
//   ManualClock clock;
//   TEventLoop loop(clock);             // or: EmulatorOptions o; o.clock = &clock;
//   clock.Advance(std::chrono::seconds(3));
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace varn {

using MonoTime = std::chrono::steady_clock::time_point;

class IClock {
 public:
  virtual ~IClock() = default;
  virtual MonoTime Now() const = 0;
  // Whether Now() moves by itself; a loop on a clock that does not only
  // looks at its timers again when something is posted.
  virtual bool Ticks() const = 0;
};

// The monotonic system clock.
IClock& SteadyClock();

// A clock that moves only when told to (tests).
class ManualClock final : public IClock {
 public:
  MonoTime Now() const override { return MonoTime(std::chrono::nanoseconds(m_now.load())); }
  bool Ticks() const override { return false; }
  void Advance(std::chrono::nanoseconds by) { m_now += by.count(); }

 private:
  // Starts well past zero so that "now minus something" stays positive.
  std::atomic<int64_t> m_now{int64_t{1000} * 1000 * 1000 * 1000};
};

}  // namespace varn
