// Device facts from stat(2), access(2), the group database, /proc/tty and
// /proc/*/fd; nothing opens the device itself.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "platform/device_files.h"
#include "platform/posix/accounts.h"

namespace varn {
namespace {

constexpr size_t kMaxCommandLine = 300;

std::string ModeText(mode_t m) {
  std::string s = S_ISCHR(m)    ? "c"
                  : S_ISBLK(m)  ? "b"
                  : S_ISDIR(m)  ? "d"
                  : S_ISFIFO(m) ? "p"
                  : S_ISSOCK(m) ? "s"
                  : S_ISLNK(m)  ? "l"
                                : "-";
  const char* rwx = "rwxrwxrwx";
  for (int i = 0; i < 9; ++i) s += (m & (0400 >> i)) ? rwx[i] : '-';
  return s;
}

// Whether a character device belongs to a terminal driver, by the kernel's
// table of them ("name /dev/node major minor[-minor] type").
bool TerminalDevice(dev_t rdev) {
  std::ifstream drivers("/proc/tty/drivers");
  std::string line;
  while (std::getline(drivers, line)) {
    std::istringstream words(line);
    std::string name, node, minors;
    unsigned maj = 0;
    if (!(words >> name >> node >> maj >> minors)) continue;
    if (maj != major(rdev)) continue;
    const unsigned long first = std::strtoul(minors.c_str(), nullptr, 10);
    const auto dash = minors.find('-');
    const unsigned long last =
        dash == std::string::npos ? first : std::strtoul(minors.c_str() + dash + 1, nullptr, 10);
    if (minor(rdev) >= first && minor(rdev) <= last) return true;
  }
  return false;
}

struct CloseDir {
  void operator()(DIR* d) const { closedir(d); }
};
using Dir = std::unique_ptr<DIR, CloseDir>;

std::string ReadSmallFile(const std::string& path, size_t max) {
  std::ifstream in(path, std::ios::binary);
  std::string text(max, '\0');
  in.read(text.data(), static_cast<std::streamsize>(max));
  text.resize(static_cast<size_t>(in.gcount()));
  return text;
}

}  // namespace

std::string CurrentUserName() {
  return posix::UserName(geteuid());
}

DeviceFileFacts InspectDeviceFile(const std::string& path) {
  DeviceFileFacts f;
  struct stat link {};
  if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
    f.target = real ? real.get() : "(a broken link)";
  }
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return f;
  f.exists = true;
  f.terminal = S_ISCHR(st.st_mode) && TerminalDevice(st.st_rdev);
  f.mode = ModeText(st.st_mode);
  f.owner = posix::UserName(st.st_uid);
  f.group = posix::GroupName(st.st_gid);
  f.listedInGroup = posix::ListedInGroup(st.st_gid, CurrentUserName());
  f.readWrite = access(path.c_str(), R_OK | W_OK) == 0;
  f.groupReadWrite = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  f.inGroup = posix::InGroup(st.st_gid);
  return f;
}

std::vector<FileHolder> FileHolders(const std::string& path) {
  std::vector<FileHolder> holders;
  struct stat want {};
  if (stat(path.c_str(), &want) != 0) return holders;
  const bool device = S_ISCHR(want.st_mode) || S_ISBLK(want.st_mode);
  const auto same = [&](const struct stat& s) {
    if (device) return (s.st_mode & S_IFMT) == (want.st_mode & S_IFMT) && s.st_rdev == want.st_rdev;
    return s.st_dev == want.st_dev && s.st_ino == want.st_ino;
  };
  Dir proc(opendir("/proc"));
  if (!proc) return holders;
  while (dirent* e = readdir(proc.get())) {
    char* end = nullptr;
    const long pid = std::strtol(e->d_name, &end, 10);
    if (pid <= 0 || *end) continue;
    const std::string base = std::string("/proc/") + e->d_name;
    Dir fds(opendir((base + "/fd").c_str()));
    if (!fds) continue;  // gone, or not ours to look into
    bool holds = false;
    while (dirent* fd = readdir(fds.get())) {
      if (fd->d_name[0] == '.') continue;
      struct stat s {};
      if (stat((base + "/fd/" + fd->d_name).c_str(), &s) == 0 && same(s)) {
        holds = true;
        break;
      }
    }
    if (!holds) continue;
    FileHolder h;
    h.pid = pid;
    h.program = ReadSmallFile(base + "/comm", 64);
    while (!h.program.empty() && h.program.back() == '\n') h.program.pop_back();
    std::string words = ReadSmallFile(base + "/cmdline", kMaxCommandLine);
    while (!words.empty() && words.back() == '\0') words.pop_back();
    for (char& c : words)
      if (c == '\0') c = ' ';
    h.commandLine = words.empty() ? "[" + h.program + "]" : words;
    holders.push_back(std::move(h));
  }
  return holders;
}

}  // namespace varn
