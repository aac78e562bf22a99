// The exchange log: one file for all ports, a line per event on the line.
//
// Lines are "<time stamp> <event>\r\n", written only while LogOn is true
// (read at every line). Each port logs through its own TExchangeLog; all of
// them share one TExchangeLogWriter. An exchange's lines are collected in
// memory, each with the time stamp of its event, and Close() at the end of
// the exchange appends them with one write under the writer's short lock.
// So the lines of one exchange stay together while ports exchange in
// parallel, and a port whose device keeps silent holds up nobody else's
// exchanges. Between exchanges the file is not held: it can be read, moved
// or removed.
//
// The log is a diagnostic: a file that cannot be opened or written (a full
// disk, another writer) never changes an exchange's outcome. The lines are
// counted as lost; the first loss goes to the program's diagnostics, and
// the next write that succeeds begins with a line telling how many were
// lost.
//
//   auto writer = std::make_shared<TExchangeLogWriter>();   // one per server
//   TExchangeLog log(settings, writer);                      // one per port
//   log.Line("-> 05");   // kept in memory
//   log.Close();         // at the end of every exchange: one append
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

// The one log file's writer: appends whole exchanges, one at a time, and
// counts what could not be written. Never throws.
class TExchangeLogWriter {
 public:
  // `block` holds `lines` whole lines. The file is opened (its folder made
  // on the first log of a fresh install), appended to and closed again.
  void Append(const std::string& path, std::string_view block, uint64_t lines);
  // Lines lost since the last write that succeeded (0 once one did).
  uint64_t LostLines() const;
  // Lines lost over the writer's life.
  uint64_t TotalLostLines() const;

 private:
  mutable std::mutex m_lock;
  uint64_t m_lost = 0;       // since the last successful write
  uint64_t m_totalLost = 0;  // ever
  std::string m_lossReason;  // what the first failure of the current loss said
};

class TExchangeLog {
 public:
  // An exchange's lines beyond this are counted as lost rather than kept:
  // the retry limits bound an exchange far below it.
  static constexpr size_t kMaxPending = 1 << 20;

  // `writer` is shared by every port that writes the same file; none gives
  // this log a writer of its own.
  explicit TExchangeLog(std::shared_ptr<const TLinkSettings> settings,
                        std::shared_ptr<TExchangeLogWriter> writer = nullptr);
  ~TExchangeLog() { Close(); }
  TExchangeLog(const TExchangeLog&) = delete;
  TExchangeLog& operator=(const TExchangeLog&) = delete;

  // Kept until Close(); never throws but for lack of memory.
  void Line(std::string_view event);
  // Ends this exchange's part of the log: appends its lines (nothing when
  // it has none). Never throws.
  void Close() noexcept;
  TExchangeLogWriter& Writer() const { return *m_writer; }

 private:
  std::shared_ptr<const TLinkSettings> m_settings;
  std::shared_ptr<TExchangeLogWriter> m_writer;
  std::string m_pending;  // this exchange's lines
  uint64_t m_pendingLines = 0;
  uint64_t m_overflow = 0;  // lines not kept past kMaxPending
};

}  // namespace varn
