#include "platform/posix/accounts.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace varn::posix {

std::string UserName(uid_t uid) {
  passwd p{}, *found = nullptr;
  std::vector<char> buf(16384);
  if (getpwuid_r(uid, &p, buf.data(), buf.size(), &found) == 0 && found) return p.pw_name;
  return std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  group g{}, *found = nullptr;
  std::vector<char> buf(65536);  // a big group's member list
  if (getgrgid_r(gid, &g, buf.data(), buf.size(), &found) == 0 && found) return g.gr_name;
  return std::to_string(gid);
}

bool InGroup(gid_t gid) {
  if (getegid() == gid) return true;  // open(2) goes by the effective one
  const int n = getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(n));
  const int got = getgroups(n, groups.data());
  for (int i = 0; i < got; ++i)
    if (groups[static_cast<size_t>(i)] == gid) return true;
  return false;
}

bool ListedInGroup(gid_t gid, const std::string& user) {
  group g{}, *found = nullptr;
  std::vector<char> buf(65536);
  if (getgrgid_r(gid, &g, buf.data(), buf.size(), &found) != 0 || !found) return false;
  for (char** m = g.gr_mem; m && *m; ++m)
    if (user == *m) return true;
  passwd p{}, *me = nullptr;
  std::vector<char> pbuf(16384);
  return getpwnam_r(user.c_str(), &p, pbuf.data(), pbuf.size(), &me) == 0 && me &&
         me->pw_gid == gid;
}

}  // namespace varn::posix
