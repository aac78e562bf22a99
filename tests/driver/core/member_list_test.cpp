// The reference member list itself: its counts are checked where it is
// compiled; here, that hosts can find every member by either of its names.
#include "tests/driver/core/member_list.h"
#include "platform/text.h"
#include "tests/support/test_env.h"

namespace varn {
namespace {

TEST(DriverMemberList, EveryNameAndHelpStringFindsOneMember) {
  // The 1C adapter looks members up by English name or help string,
  // ignoring case: no two of those texts may collide.
  std::vector<std::string> texts;
  for (const test::TMemberRow& row : test::kDriverMembers) {
    texts.push_back(row.Name);
    if (*row.Help) texts.push_back(row.Help);
    EXPECT_EQ(*row.ArgumentName != 0, row.ArgumentType != VT_EMPTY) << row.Name;
    EXPECT_TRUE(row.Kind != test::kMethod || row.Type == VT_I4) << row.Name;
  }
  EXPECT_EQ(texts.size(), 129u + 127u);  // FileVersionMS and FileVersionLS have no help
  for (size_t i = 0; i < texts.size(); ++i)
    for (size_t j = i + 1; j < texts.size(); ++j)
      EXPECT_FALSE(EqualNoCase(texts[i], texts[j])) << texts[i] << " / " << texts[j];
}

}  // namespace
}  // namespace varn
