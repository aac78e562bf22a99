// What the system says about a device file and who has it open, for the
// port tools (`varn ports`). Nothing here opens the device: the first open
// of a serial line raises its DTR, which some devices take as a reset.
//
//   DeviceFileFacts f = InspectDeviceFile("/dev/serial/by-id/usb-...");
//   f.target;   // "/dev/ttyUSB0"
//   f.mode;     // "crw-rw----", f.owner "root", f.group "dialout"
//   for (const FileHolder& h : FileHolders(f.target)) ...;
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varn {

struct DeviceFileFacts {
  bool exists = false;    // the path, or the end of its links
  std::string target;     // where its symbolic links end, "" when it is none
  bool terminal = false;  // a character device of a terminal driver
  std::string mode;       // "crw-rw----"
  std::string owner, group;
  bool readWrite = false;  // this process may open it for reading and writing
  // Why not, when the group may read and write it:
  bool groupReadWrite = false;  // the group may read and write it
  bool inGroup = false;         // this process has the group
  bool listedInGroup = false;   // the group lists this user (joined since the login?)
};

DeviceFileFacts InspectDeviceFile(const std::string& path);

struct FileHolder {
  int64_t pid = 0;
  std::string program;      // the short name (what ps shows)
  std::string commandLine;  // its words joined by blanks, at most a few hundred bytes
};

// The processes that have `path` (its device, for a device file) open,
// this one included, by their open files under /proc; processes this user
// may not look into are left out. Empty when the path does not exist.
std::vector<FileHolder> FileHolders(const std::string& path);

// The name of the user this process runs as (the number when unknown).
std::string CurrentUserName();

}  // namespace varn
