// The exchange log: one file for all ports, a line per event on the line.
//
// Lines are "<time stamp> <event>\r\n", written only while LogOn is true
// (read at every line). The file is opened at the first line of an exchange
// with other writers denied, each line is one write, and Close() at the end
// of the exchange releases it, so it can be read, moved or removed between
// exchanges.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace varn {

// The part of the server's settings the port reads: the exchange log, and
// the auto-unlock timer of its sharing half. Read at every use, so a change
// applies at once (to the timers after TPorts::UpdateTimers).
struct TLinkSettings {
  std::atomic<bool> LogOn{false};
  std::string LogFile;                   // full path; set before the first exchange
  std::atomic<bool> AutoUnlock{false};   // release a lock after PortTimeout
  std::atomic<int32_t> PortTimeout{10};  // seconds without a successful exchange
};

class TExchangeLog {
 public:
  explicit TExchangeLog(std::shared_ptr<const TLinkSettings> settings)
      : m_settings(std::move(settings)) {}
  // EOSError when the file cannot be opened or written.
  void Line(std::string_view event);
  void Close() { m_file.reset(); }
  bool IsOpen() const { return m_file != nullptr; }

 private:
  std::shared_ptr<const TLinkSettings> m_settings;
  std::unique_ptr<AppendOnlyFile> m_file;
};

}  // namespace varn
