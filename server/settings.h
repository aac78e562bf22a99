// The port server's settings: one record of six values per server (in its
// TServerContext), kept in the registry under
// HKEY_CURRENT_USER\SOFTWARE\Kvelta\Варн\Сервер.
//
// It is the link's TLinkSettings (LogOn, AutoUnlock, PortTimeout, read by
// every port at every use) plus what only the program reads. Every field is
// atomic: the window changes them while clients' calls read them.
//
//   TServerSettings& s = context.Settings();
//   s.LoadSettings();           // defaults for whatever is missing
//   s.AutoUnlock = true;
//   context.Ports().UpdateTimers();  // the timers follow the new values
//   s.SaveSettings();
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "server/link/exchange_log.h"

namespace varn {

inline constexpr const char* kServerKey = "SOFTWARE\\Kvelta\\Варн\\Сервер";

struct TServerSettings : TLinkSettings {
  std::atomic<bool> Warning{true};  // ask before closing while clients are connected
  std::atomic<int32_t> TCPPort{211};
  std::atomic<bool> TCPEnabled{false};

  // Defaults; then the values present in the registry. A registry that
  // cannot be read stops the reading where it failed, silently.
  void LoadSettings();
  // Creates the key when missing. Registry errors are ignored.
  void SaveSettings() const;
  // The six defaults (LogFile stays).
  void ResetSettings();
};

}  // namespace varn
