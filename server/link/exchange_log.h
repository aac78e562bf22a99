// The exchange log: one file for all ports, a line per event on the line.
//
// Lines are "<time stamp> <event>\r\n", written only while LogOn is true
// (read at every line). Each port logs through its own TExchangeLog; all of
// them share one TExchangeLogWriter. The first line of an exchange takes the
// writer and opens the file (other writers denied); Close() at the end of
// the exchange closes the file and lets the writer go. So the lines of one
// exchange stay together even when ports exchange in parallel, at the price
// that, while logging is on, exchanges that log wait for each other. Between
// exchanges the file is not held: it can be read, moved or removed.
//
//   auto writer = std::make_shared<TExchangeLogWriter>();   // one per server
//   TExchangeLog log(settings, writer);                      // one per port
//   log.Line("-> 05");   // waits while another port's exchange is logging
//   log.Close();         // at the end of every exchange
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
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

// The one log file's writer lock: held by one exchange at a time, from its
// first line to its end.
class TExchangeLogWriter {
 private:
  friend class TExchangeLog;
  std::mutex m_lock;
};

class TExchangeLog {
 public:
  // `writer` is shared by every port that writes the same file; none gives
  // this log a writer of its own.
  explicit TExchangeLog(std::shared_ptr<const TLinkSettings> settings,
                        std::shared_ptr<TExchangeLogWriter> writer = nullptr);
  ~TExchangeLog() { Close(); }
  TExchangeLog(const TExchangeLog&) = delete;
  TExchangeLog& operator=(const TExchangeLog&) = delete;

  // EOSError when the file cannot be opened or written.
  void Line(std::string_view event);
  // Ends this exchange's part of the log (nothing when it wrote no line).
  void Close();
  bool IsOpen() const { return m_file != nullptr; }

 private:
  std::shared_ptr<const TLinkSettings> m_settings;
  std::shared_ptr<TExchangeLogWriter> m_writer;
  std::unique_lock<std::mutex> m_hold;  // the writer, from the first line to Close
  std::unique_ptr<AppendOnlyFile> m_file;
};

}  // namespace varn
