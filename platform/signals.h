// Ending a program cleanly on SIGINT, SIGTERM or SIGHUP.
//
// The signals are blocked when the object is made and taken synchronously
// by Wait(), so no handler runs at an arbitrary point. Make it before any
// thread starts: threads inherit the mask, so none of them is picked to
// receive the signal instead.
//
//   TerminationSignals signals;          // first thing in main()
//   std::thread worker(...);
//   while (!signals.Wait(std::chrono::seconds(1))) { ... }
#pragma once

#include <chrono>

namespace varn {

class TerminationSignals {
 public:
  TerminationSignals();   // blocks them in the calling thread
  ~TerminationSignals();  // restores the previous mask
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

  // True when one of them came within `wait`; it is consumed.
  bool Wait(std::chrono::milliseconds wait);
};

}  // namespace varn
