#include "server/link/exchange_log.h"

#include <cerrno>

#include "platform/diagnostics.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/text.h"

namespace varn {
namespace {

std::string StampedLine(std::string_view event) {
  std::string line = LogTimeStamp();
  line += ' ';
  line += event;
  line += "\r\n";
  return line;
}

void AppendToFile(const std::string& path, std::string_view text) {
  std::unique_ptr<AppendOnlyFile> file;
  try {
    file = std::make_unique<AppendOnlyFile>(path);
  } catch (const EOSError& e) {
    // Only the first log of a fresh install pays for creating the folder.
    const std::string dir = ParentDirectory(path);
    if (e.Errno != ENOENT || dir.empty()) throw;
    MakeDirectories(dir, 0700);
    file = std::make_unique<AppendOnlyFile>(path);
  }
  file->Write(text);
}

}  // namespace

void TExchangeLogWriter::Append(const std::string& path, std::string_view block, uint64_t lines) {
  std::string told;  // to the diagnostics, after the lock is let go
  {
    std::lock_guard hold(m_lock);
    try {
      if (m_lost == 0) {
        AppendToFile(path, block);
      } else {
        const std::string lost = std::to_string(m_lost);
        std::string text =
            StampedLine("Error: " + lost + " lines of this log could not be written");
        text += block;
        AppendToFile(path, text);
        m_lost = 0;
        told = "exchange log " + path + " is written again; " + lost + " lines were lost (" +
               m_lossReason + ")";
      }
    } catch (const std::exception& e) {
      // Told once per run of losses, not at every exchange.
      if (m_lost == 0) {
        m_lossReason = e.what();
        told = "exchange log: " + m_lossReason +
               "; its lines are lost (and counted) until it can be written";
      }
      m_lost += lines;
      m_totalLost += lines;
    }
  }
  try {
    if (!told.empty()) Diagnose(told);
  } catch (...) {
  }
}

uint64_t TExchangeLogWriter::LostLines() const {
  std::lock_guard hold(m_lock);
  return m_lost;
}

uint64_t TExchangeLogWriter::TotalLostLines() const {
  std::lock_guard hold(m_lock);
  return m_totalLost;
}

TExchangeLog::TExchangeLog(std::shared_ptr<const TLinkSettings> settings,
                           std::shared_ptr<TExchangeLogWriter> writer)
    : m_settings(std::move(settings)),
      m_writer(writer ? std::move(writer) : std::make_shared<TExchangeLogWriter>()) {}

void TExchangeLog::Line(std::string_view event) {
  if (!m_settings->LogOn.load(std::memory_order_relaxed)) return;
  if (m_pending.size() + event.size() > kMaxPending) {
    ++m_overflow;
    return;
  }
  m_pending += StampedLine(event);
  ++m_pendingLines;
}

void TExchangeLog::Close() noexcept {
  if (m_pending.empty() && m_overflow == 0) return;
  std::string block;
  block.swap(m_pending);
  const uint64_t lines = m_pendingLines;
  const uint64_t overflow = m_overflow;
  m_pendingLines = 0;
  m_overflow = 0;
  if (overflow != 0) {
    try {
      block += StampedLine("Error: " + std::to_string(overflow) +
                           " more lines of this exchange were not kept");
    } catch (...) {
    }
  }
  try {
    m_writer->Append(m_settings->LogFile, block, lines + overflow);
  } catch (...) {
    // Out of memory for a diagnostic text: the exchange goes on without it.
  }
}

}  // namespace varn
