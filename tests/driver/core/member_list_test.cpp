// The reference member list itself: its counts are checked where it is
// compiled; here, that hosts can find every member by either of its names.
#include "tests/driver/core/member_list.h"
#include "driver/core/varn_drv.h"
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

TEST(DriverMemberList, TheDriverObjectOffersExactlyTheseMembers) {
  test::TempEnv env;
  DispatchPtr drv = MakeObject<TVarnDrv>();
  const auto& info = dynamic_cast<ITypeInfoSource&>(*drv).TypeInfo();
  size_t entries = 0;
  for (const test::TMemberRow& row : test::kDriverMembers) {
    DISPID id = 0;
    ASSERT_EQ(GetIDOfName(*drv, Utf8ToUtf16(row.Name), id), S_OK) << row.Name;
    EXPECT_EQ(id, row.DispId) << row.Name;
    std::vector<const MemberInfo*> found;
    for (const MemberInfo& m : info)
      if (m.id == row.DispId) found.push_back(&m);
    const size_t expected = row.Kind == test::kReadWrite ? 2 : 1;
    ASSERT_EQ(found.size(), expected) << row.Name;
    entries += found.size();
    for (const MemberInfo* m : found) {
      EXPECT_EQ(m->name, row.Name);
      EXPECT_EQ(m->help, row.Help) << row.Name;
      if (row.Kind == test::kMethod) {
        EXPECT_EQ(m->kind, MemberKind::Method) << row.Name;
        EXPECT_EQ(m->result, row.Type) << row.Name;
        ASSERT_EQ(m->params.size(), *row.ArgumentName ? 1u : 0u) << row.Name;
        if (*row.ArgumentName) {
          EXPECT_STREQ(m->params[0].name, row.ArgumentName);
          EXPECT_EQ(m->params[0].type, row.ArgumentType);
        }
      } else if (m->kind == MemberKind::PropertyGet) {
        EXPECT_EQ(m->result, row.Type) << row.Name;
      } else {
        EXPECT_EQ(row.Kind, test::kReadWrite) << row.Name;
        ASSERT_EQ(m->params.size(), 1u);
        EXPECT_EQ(m->params[0].type, row.Type) << row.Name;
      }
    }
  }
  EXPECT_EQ(entries, info.size());  // nothing beyond the list
}

}  // namespace
}  // namespace varn
