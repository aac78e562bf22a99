// File primitives on POSIX: flock for the lock files and the log's
// deny-writers mode, fsync + rename for atomic replacement.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/posix/os_error.h"

namespace varn {
namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : fallback;
}

std::string Home() {
  return EnvOr("HOME", "/tmp");
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    ThrowErrno("open " + path);
  }
  std::string out;
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      out.append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      const int err = errno;
      close(fd);
      errno = err;
      ThrowErrno("read " + path);
    }
  }
  close(fd);
  return out;
}

std::string ReadRegularFile(const std::string& path, size_t maxBytes) {
  // Non-blocking open: opening a FIFO for reading would wait for a writer.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) ThrowErrno("open " + path);
  auto fail = [&](int err, const std::string& what) {
    close(fd);
    ThrowErrno(what, err);
  };
  struct stat st {};
  if (fstat(fd, &st) != 0) fail(errno, "stat " + path);
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    throw EOSError(EINVAL, path + ": not a regular file");
  }
  if (static_cast<uint64_t>(st.st_size) > maxBytes) fail(EFBIG, path);
  std::string out(static_cast<size_t>(st.st_size), '\0');
  size_t done = 0;
  // The file may grow meanwhile: never past the limit, never past the buffer.
  while (done < out.size()) {
    const ssize_t n = read(fd, out.data() + done, out.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      fail(errno, "read " + path);
    }
  }
  close(fd);
  out.resize(done);
  return out;
}

void ReplaceFileAtomically(const std::string& path, std::string_view contents) {
  const std::string dir = ParentDirectory(path);
  if (!dir.empty()) MakeDirectories(dir, 0700);
  const std::string tmp = path + ".tmp." + std::to_string(getpid());
  const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) ThrowErrno("create " + tmp);
  size_t done = 0;
  while (done < contents.size()) {
    ssize_t n = write(fd, contents.data() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = errno;
      close(fd);
      unlink(tmp.c_str());
      errno = err;
      ThrowErrno("write " + tmp);
    }
    done += static_cast<size_t>(n);
  }
  if (fsync(fd) != 0 || close(fd) != 0) {
    const int err = errno;
    unlink(tmp.c_str());
    errno = err;
    ThrowErrno("sync " + tmp);
  }
  if (rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    unlink(tmp.c_str());
    errno = err;
    ThrowErrno("rename " + path);
  }
  // The rename itself lasts only once the folder is on the disk; a folder
  // that cannot be opened or synced (some file systems) leaves it to them.
  const int dirFd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
}

void MakeDirectories(const std::string& path, unsigned mode) {
  if (path.empty()) return;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    const std::string part = path.substr(0, pos);
    if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST) ThrowErrno("mkdir " + part);
  }
}

namespace {

[[noreturn]] void Refuse(const std::string& what, const std::string& path,
                         const std::string& fault) {
  throw EOSError(EACCES, what + " " + path + " is not safe to use: " + fault);
}

std::string OctalMode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

std::string NotOurs(uid_t owner) {
  return "it belongs to user " + std::to_string(owner) + ", not to this user (" +
         std::to_string(geteuid()) + ")";
}

// lstat; false when nothing is there. A symbolic link must be ours (or
// root's) as well, since its owner could point it elsewhere at any time.
bool StatNoFollow(const std::string& path, struct stat& st) {
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return false;
    ThrowErrno("stat " + path);
  }
  return true;
}

}  // namespace

void CheckPrivateFolder(const std::string& path, const std::string& what) {
  const uid_t me = geteuid();
  const std::string parent = ParentDirectory(path);
  struct stat st {};
  if (!parent.empty() && StatNoFollow(parent, st)) {
    if (S_ISLNK(st.st_mode) && st.st_uid != me && st.st_uid != 0)
      Refuse(what, path,
             "its parent " + parent + " is a link of user " + std::to_string(st.st_uid));
    if (stat(parent.c_str(), &st) != 0) ThrowErrno("stat " + parent);
    if (st.st_uid != me && st.st_uid != 0)
      Refuse(what, path, "its parent " + parent + " belongs to user " + std::to_string(st.st_uid));
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0)
      Refuse(what, path,
             "its parent " + parent + " is writable by other users (mode " + OctalMode(st.st_mode) +
                 ")");
  }
  if (!StatNoFollow(path, st)) return;
  if (st.st_uid != me) Refuse(what, path, NotOurs(st.st_uid));
  if (S_ISLNK(st.st_mode) && stat(path.c_str(), &st) != 0) ThrowErrno("stat " + path);
  if (!S_ISDIR(st.st_mode)) Refuse(what, path, "it is not a folder");
  if (st.st_uid != me) Refuse(what, path, NotOurs(st.st_uid));
  if ((st.st_mode & 077) != 0)
    Refuse(what, path,
           "it is open to other users (mode " + OctalMode(st.st_mode) + "; it must be 0700)");
}

void CheckOwnFile(const std::string& path, const std::string& what) {
  struct stat st {};
  if (!StatNoFollow(path, st)) return;
  if (st.st_uid != geteuid()) Refuse(what, path, NotOurs(st.st_uid));
}

bool FileExists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

void RemoveFile(const std::string& path) {
  if (unlink(path.c_str()) != 0 && errno != ENOENT) ThrowErrno("unlink " + path);
}

std::string ParentDirectory(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool StandardErrorIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

FileLock::FileLock(const std::string& lockPath) {
  const std::string dir = ParentDirectory(lockPath);
  if (!dir.empty()) MakeDirectories(dir, 0700);
  m_fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (m_fd < 0) ThrowErrno("open " + lockPath);
  while (flock(m_fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      const int err = errno;
      close(m_fd);
      errno = err;
      ThrowErrno("lock " + lockPath);
    }
  }
}

FileLock::~FileLock() {
  if (m_fd >= 0) close(m_fd);
}

AppendOnlyFile::AppendOnlyFile(const std::string& path) : m_path(path) {
  m_fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (m_fd < 0) ThrowErrno("open " + path);
  if (flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    close(m_fd);
    m_fd = -1;
    throw EOSError(err, "open " + path + ": the file is being written by another process");
  }
}

AppendOnlyFile::~AppendOnlyFile() {
  if (m_fd >= 0) close(m_fd);
}

void AppendOnlyFile::Write(std::string_view line) {
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = write(m_fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ThrowErrno("write " + m_path);
    done += static_cast<size_t>(n);
  }
}

std::string RegistryFilePath() {
  if (const char* v = std::getenv("VARN_REGISTRY"); v && *v) return v;
  return EnvOr("XDG_CONFIG_HOME", Home() + "/.config") + "/varn/registry.reg";
}

std::string LogDirectory() {
  if (const char* v = std::getenv("VARN_LOG_DIR"); v && *v) return v;
  return EnvOr("XDG_STATE_HOME", Home() + "/.local/state") + "/varn";
}

std::string RuntimeDirectory() {
  if (const char* v = std::getenv("VARN_RUNTIME_DIR"); v && *v) return v;
  if (const char* v = std::getenv("XDG_RUNTIME_DIR"); v && *v) return std::string(v) + "/varn";
  // /tmp is everybody's: another user may have made our folder there first.
  // Refusing it is safe but would leave this user unable to print, so the
  // folder then is a private one in our own state folder; every process of
  // the user comes to the same answer, so server and clients still meet.
  const std::string shared = "/tmp/varn-" + std::to_string(getuid());
  try {
    CheckPrivateFolder(shared, "the runtime folder");
    CheckPrivateFolder(shared + "/varn", "the runtime folder");
    return shared + "/varn";
  } catch (const EOSError& refused) {
    const std::string own = EnvOr("XDG_STATE_HOME", Home() + "/.local/state") + "/varn/run";
    // A socket path must fit sockaddr_un (108 bytes with its zero).
    constexpr size_t kSocketPathRoom = 107 - sizeof "/VarnSrv.sock" + 1;
    static std::once_flag said;
    if (own.size() > kSocketPathRoom) {
      std::call_once(said, [&] {
        std::fprintf(stderr, "varn: %s; %s is too long a path for a socket to use instead\n",
                     refused.what(), own.c_str());
      });
      return shared + "/varn";  // refused again where it is used
    }
    std::call_once(said, [&] {
      std::fprintf(stderr, "varn: %s; using %s instead\n", refused.what(), own.c_str());
    });
    return own;
  }
}

}  // namespace varn
