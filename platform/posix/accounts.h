// The user and group database and the process's groups, as the serial line
// and the device facts both explain access by them.
#pragma once

#include <sys/types.h>

#include <string>

namespace varn::posix {

// The names, or the number when the database has none.
std::string UserName(uid_t uid);
std::string GroupName(gid_t gid);
// Whether this process is in group `gid`: its effective group or a
// supplementary one.
bool InGroup(gid_t gid);
// Whether the database lists `user` in group `gid` (or as the user's own
// group), whatever this login's groups are.
bool ListedInGroup(gid_t gid, const std::string& user);

}  // namespace varn::posix
