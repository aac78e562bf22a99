// The port server's settings: one record of eight values per server (in its
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
#include <mutex>
#include <string>

#include "server/link/exchange_log.h"

namespace varn {

inline constexpr const char* kServerKey = "SOFTWARE\\Kvelta\\Варн\\Сервер";

// A text setting the window changes while another thread reads it.
class TSharedText {
 public:
  std::string load() const {
    std::lock_guard lock(m_lock);
    return m_text;
  }
  TSharedText& operator=(std::string text) {
    std::lock_guard lock(m_lock);
    m_text = std::move(text);
    return *this;
  }

 private:
  mutable std::mutex m_lock;
  std::string m_text;
};

struct TServerSettings : TLinkSettings {
  std::atomic<bool> Warning{true};  // ask before closing while clients are connected
  std::atomic<int32_t> TCPPort{211};
  std::atomic<bool> TCPEnabled{false};
  // The address the TCP listener listens on: an IPv4 or IPv6 literal or
  // "localhost"; empty: every interface.
  TSharedText TCPAddress;
  // The client networks the TCP listener lets in, CIDR ("192.168.1.0/24
  // 10.0.0.5 fd00::/8", see platform/ip_address.h); empty: everyone.
  TSharedText TCPAllow;

  // Defaults; then the values present in the registry. A registry that
  // cannot be read stops the reading where it failed, silently.
  void LoadSettings();
  // Creates the key when missing. Registry errors are ignored.
  void SaveSettings() const;
  // The eight defaults (LogFile stays).
  void ResetSettings();
};

}  // namespace varn
