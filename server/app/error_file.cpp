#include "server/app/error_file.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace varn {

std::string ServerErrorFilePath() {
  return LogDirectory() + "/VarnSrv.err";
}

bool StandardErrorIsJournal() {
  for (const char* name : {"JOURNAL_STREAM", "INVOCATION_ID"}) {
    const char* v = std::getenv(name);
    if (v && *v) return true;
  }
  return false;
}

void AppendErrorLine(const std::string& text) {
  if (StandardErrorIsJournal()) return;
  // The file denies a second writer: lines of this process come one by one.
  static std::mutex lock;
  std::lock_guard hold(lock);
  const std::string path = ServerErrorFilePath();
  try {
    std::unique_ptr<AppendOnlyFile> file;
    try {
      file = std::make_unique<AppendOnlyFile>(path);
    } catch (const EOSError& e) {
      if (e.Errno != ENOENT) throw;
      MakeDirectories(ParentDirectory(path), 0700);
      file = std::make_unique<AppendOnlyFile>(path);
    }
    file->Write(LogTimeStamp() + " " + text + "\n");
  } catch (const std::exception&) {
    // Standard error has the line; nothing else to tell it to.
  }
}

}  // namespace varn
