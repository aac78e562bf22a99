#include "platform/clock.h"

namespace varn {
namespace {

class SystemSteadyClock final : public IClock {
 public:
  MonoTime Now() const override { return std::chrono::steady_clock::now(); }
  bool Ticks() const override { return true; }
};

}  // namespace

IClock& SteadyClock() {
  static SystemSteadyClock clock;
  return clock;
}

}  // namespace varn
