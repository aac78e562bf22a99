// Diagnostics of a program: problems it runs on with that its user should
// hear of but that reach no client as such (why a device could not be
// opened). The program decides where they go (the port server: its standard
// error, which is the journal of a service); by default nowhere.
//
//   SetDiagnosticSink([](const std::string& text) { Say(text); });
//   Diagnose("COM5: Permission denied: /dev/ttyUSB0");
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <utility>

namespace varn {

namespace diagnostics_detail {
struct Sink {
  std::mutex lock;
  std::function<void(const std::string&)> handler;
};
inline Sink& TheSink() {
  static Sink sink;
  return sink;
}
}  // namespace diagnostics_detail

// Any thread; the sink runs on the caller's thread, one call at a time.
inline void SetDiagnosticSink(std::function<void(const std::string&)> handler) {
  auto& sink = diagnostics_detail::TheSink();
  std::lock_guard guard(sink.lock);
  sink.handler = std::move(handler);
}

inline void Diagnose(const std::string& text) {
  auto& sink = diagnostics_detail::TheSink();
  std::lock_guard guard(sink.lock);
  if (sink.handler) sink.handler(text);
}

}  // namespace varn
