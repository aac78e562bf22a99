#include "server/link/exchange_log.h"

#include <cerrno>

#include "platform/errors.h"
#include "platform/text.h"

namespace varn {

TExchangeLog::TExchangeLog(std::shared_ptr<const TLinkSettings> settings,
                           std::shared_ptr<TExchangeLogWriter> writer)
    : m_settings(std::move(settings)),
      m_writer(writer ? std::move(writer) : std::make_shared<TExchangeLogWriter>()) {}

void TExchangeLog::Line(std::string_view event) {
  if (!m_settings->LogOn.load(std::memory_order_relaxed)) return;
  if (!m_hold) m_hold = std::unique_lock(m_writer->m_lock);
  if (!m_file) {
    try {
      m_file = std::make_unique<AppendOnlyFile>(m_settings->LogFile);
    } catch (const EOSError& e) {
      // Only the first log of a fresh install pays for creating the folder.
      const std::string dir = ParentDirectory(m_settings->LogFile);
      if (e.Errno != ENOENT || dir.empty()) throw;
      MakeDirectories(dir, 0700);
      m_file = std::make_unique<AppendOnlyFile>(m_settings->LogFile);
    }
  }
  std::string line = LogTimeStamp();
  line += ' ';
  line += event;
  line += "\r\n";
  m_file->Write(line);
}

void TExchangeLog::Close() {
  m_file.reset();
  if (m_hold) m_hold.unlock();
}

}  // namespace varn
