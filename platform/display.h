// Whether a window can be shown here: Qt ends the whole process when its
// platform plugin cannot reach the display, so programs look first and go on
// without a window instead. A display counts when its server takes a
// connection (X11: the local socket of DISPLAY, or TCP 6000+N on this
// computer; a display on another computer is taken on trust;
// Wayland: the socket of WAYLAND_DISPLAY), or when QT_QPA_PLATFORM names a
// platform that needs none (offscreen, minimal, vnc, or any other but xcb
// and wayland).
//
//   const DisplayCheck d = CheckDisplay();
//   if (!d.available) Say("без окна: " + d.reason);
#pragma once

#include <cstdlib>
#include <string>

#include "platform/socket.h"

namespace varn {

struct DisplayCheck {
  bool available = false;
  bool configured = false;  // some display was named at all
  std::string reason;       // why not, in Russian; empty when available
};

namespace display_detail {

inline std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Empty when the X display `name` ("[host]:N[.S]") takes a connection.
inline std::string ReachX(const std::string& name) {
  const size_t colon = name.rfind(':');
  if (colon == std::string::npos) return "дисплей \"" + name + "\" задан неверно";
  const std::string host = name.substr(0, colon);
  std::string number = name.substr(colon + 1);
  number = number.substr(0, number.find('.'));
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos ||
      number.size() > 4)
    return "дисплей \"" + name + "\" задан неверно";
  try {
    if (host.empty() || host == "unix")
      StreamSocket::ConnectUnix("/tmp/.X11-unix/X" + number);
    else if (host == "localhost" || host == "127.0.0.1")
      StreamSocket::ConnectTcp(host, static_cast<uint16_t>(6000 + std::stoi(number)));
    // Another computer's display is left to Qt: a connect there is not
    // bounded in time.
    return "";
  } catch (const std::exception& e) {
    const std::string text = e.what();
    const size_t at = text.rfind(": ");
    return "дисплей " + name + " недоступен (" +
           (at == std::string::npos ? text : text.substr(at + 2)) + ")";
  }
}

inline std::string ReachWayland(const std::string& name) {
  std::string path = name;
  if (path.front() != '/') {
    const std::string runtime = Env("XDG_RUNTIME_DIR");
    if (runtime.empty())
      return "дисплей Wayland " + name + " недоступен (XDG_RUNTIME_DIR не задан)";
    path = runtime + "/" + name;
  }
  try {
    StreamSocket::ConnectUnix(path);
    return "";
  } catch (const std::exception& e) {
    const std::string text = e.what();
    const size_t at = text.rfind(": ");
    return "дисплей Wayland " + name + " недоступен (" +
           (at == std::string::npos ? text : text.substr(at + 2)) + ")";
  }
}

}  // namespace display_detail

inline DisplayCheck CheckDisplay() {
  using namespace display_detail;
  const std::string qpa = Env("QT_QPA_PLATFORM");
  const std::string x = Env("DISPLAY");
  const std::string wayland = Env("WAYLAND_DISPLAY");
  DisplayCheck d;
  d.configured = !qpa.empty() || !x.empty() || !wayland.empty();
  for (const char* windowless : {"offscreen", "minimal", "vnc"})
    if (qpa.rfind(windowless, 0) == 0) {
      d.available = true;
      return d;
    }
  const bool onlyX = qpa.rfind("xcb", 0) == 0;
  const bool onlyWayland = qpa.rfind("wayland", 0) == 0;
  if (!qpa.empty() && !onlyX && !onlyWayland) {
    d.available = true;  // a platform of its own (a frame buffer, ...)
    return d;
  }
  std::string reasons;
  auto add = [&](const std::string& why) {
    if (why.empty()) return;
    reasons += (reasons.empty() ? "" : "; ") + why;
  };
  if (!wayland.empty() && !onlyX) {
    const std::string why = ReachWayland(wayland);
    if (why.empty()) {
      d.available = true;
      return d;
    }
    add(why);
  }
  if (!x.empty() && !onlyWayland) {
    const std::string why = ReachX(x);
    if (why.empty()) {
      d.available = true;
      return d;
    }
    add(why);
  }
  d.reason = reasons.empty() ? "нет дисплея (DISPLAY, WAYLAND_DISPLAY и QT_QPA_PLATFORM не заданы)"
                             : reasons;
  return d;
}

}  // namespace varn
