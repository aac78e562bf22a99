// File primitives the registry store and the logs need, behind a small
// interface so that nothing above platform/ touches POSIX calls.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace varn {

// Whole contents, or nullopt when the file does not exist. EOSError otherwise.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Whole contents of a regular file of at most `maxBytes` (for files a user
// names): EOSError with ENOENT when missing, EFBIG when larger, EINVAL when
// not a regular file, so a FIFO or device never blocks and a huge file is
// never read into memory.
std::string ReadRegularFile(const std::string& path, size_t maxBytes);

// Writes a temporary file beside `path`, fsyncs it and renames it over, so
// readers see the old or the new contents, never a mix. EOSError on failure.
void ReplaceFileAtomically(const std::string& path, std::string_view contents);

// Creates the folder and its parents (mode for the ones created).
void MakeDirectories(const std::string& path, unsigned mode = 0755);

// Refuses (EOSError EACCES, naming `what`, the path and the fault) a folder
// that is not the current user's alone: when it exists it must belong to
// the current user and be closed to everybody else (mode 0700); its parent
// must belong to the current user or root and be writable by nobody else
// (unless sticky), or another user could put a folder of his own in its
// place. A folder that does not exist yet passes (its parent is checked).
//   CheckPrivateFolder(RuntimeDirectory(), "the runtime folder");
void CheckPrivateFolder(const std::string& path, const std::string& what);
// Refuses (EOSError EACCES) a file that exists and belongs to another user.
void CheckOwnFile(const std::string& path, const std::string& what);

bool FileExists(const std::string& path);
void RemoveFile(const std::string& path);  // missing is fine

// An exclusive advisory lock on a lock file, held while the object lives.
class FileLock {
 public:
  explicit FileLock(const std::string& lockPath);  // blocks until granted
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int m_fd = -1;
};

// A log file open for appending, other writers denied (readers allowed):
// every Write is one write() of a whole line.
class AppendOnlyFile {
 public:
  // EOSError when it cannot be created or another writer holds it.
  explicit AppendOnlyFile(const std::string& path);
  ~AppendOnlyFile();
  AppendOnlyFile(const AppendOnlyFile&) = delete;
  AppendOnlyFile& operator=(const AppendOnlyFile&) = delete;
  void Write(std::string_view line);

 private:
  int m_fd = -1;
  std::string m_path;
};

// The parent folder part of a path ("" for a bare name).
std::string ParentDirectory(const std::string& path);

// Whether standard error goes to a terminal: lines rewritten in place (live
// progress) only make sense there.
bool StandardErrorIsTerminal();

}  // namespace varn
