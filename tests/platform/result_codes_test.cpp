// The one result-code table: what the programs raise and what varn(1)
// documents come from it (tests/docs/man checks the page side).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/errors.h"
#include "platform/result_codes.h"

namespace varn {
namespace {

TEST(ResultCodes, TableIsConsistentAndDocumentsEveryCode) {
  std::set<int32_t> codes;
  std::set<std::string_view> names;
  for (const TResultCode& r : kResultCodes) {
    SCOPED_TRACE(r.Code);
    EXPECT_TRUE(codes.insert(r.Code).second) << "code listed twice";
    EXPECT_TRUE(names.insert(r.Name).second) << "name listed twice: " << r.Name;
    EXPECT_TRUE(r.Code <= 0) << "the device's codes come from the protocol";
    EXPECT_EQ(FindResultCode(r.Code), &r);
    ASSERT_NE(r.Text, nullptr);
    ASSERT_NE(r.Giver, nullptr);
    EXPECT_TRUE(std::string(r.Giver) == "driver" || std::string(r.Giver) == "server" ||
                std::string(r.Giver) == "driver, server")
        << r.Giver;
    // Each is a sentence or more that a reader can act on.
    ASSERT_NE(r.Meaning, nullptr);
    ASSERT_NE(r.Remedy, nullptr);
    EXPECT_GT(std::string(r.Meaning).size(), 20u);
    EXPECT_GT(std::string(r.Remedy).size(), 5u);
  }
  EXPECT_EQ(FindResultCode(1), nullptr);
  EXPECT_EQ(FindResultCode(-1), nullptr);
}

TEST(ResultCodes, EveryConstantIsTheTablesByNameAndText) {
  struct Named {
    int32_t code;
    std::string_view name;
  };
  for (const Named& n :
       {Named{rc::kOk, "kOk"}, Named{rc::kPortUnavailable, "kPortUnavailable"},
        Named{rc::kPortBusy, "kPortBusy"}, Named{rc::kNoLink, "kNoLink"},
        Named{rc::kWrongLength, "kWrongLength"}, Named{rc::kOSError, "kOSError"},
        Named{rc::kRangeError, "kRangeError"}, Named{rc::kConnectionError, "kConnectionError"},
        Named{rc::kPortNotOpen, "kPortNotOpen"}, Named{rc::kPortLocked, "kPortLocked"}}) {
    const TResultCode* r = FindResultCode(n.code);
    ASSERT_NE(r, nullptr) << n.name;
    EXPECT_EQ(r->Name, n.name);
  }
  // The texts the programs raise are the table's own strings, and these
  // are the bytes clients compare (the port texts start with the Cyrillic Es).
  struct Text {
    const char* used;
    int32_t code;
    const char* expected;
  };
  for (const Text& t :
       {Text{msg::kDriverNoError, 0, "Ошибок нет."},
        Text{msg::kPortUnavailable, -2, "\xD0\xA1OM порт не доступен"},
        Text{msg::kPortBusy, -3, "\xD0\xA1OM порт занят другим приложением"},
        Text{msg::kNoLink, -4, "Нет связи"}, Text{msg::kWrongLength, -7, "Неверная длина ответа."},
        Text{msg::kRangeError, -9, "Параметр вне диапазона."},
        Text{msg::kConnectionError, -16, "Ошибка подключения."},
        Text{msg::kPortNotOpen, -17, "Порт не открыт"},
        Text{msg::kPortLocked, -18, "Порт заблокирован"}}) {
    SCOPED_TRACE(t.code);
    EXPECT_EQ(t.used, FindResultCode(t.code)->Text);
    EXPECT_STREQ(t.used, t.expected);
  }
  EXPECT_EQ(msg::kNoError, FindResultCode(0)->ServerText);
  EXPECT_STREQ(msg::kNoError, "Ошибок нет");
  EXPECT_STREQ(FindResultCode(rc::kOSError)->Text, "") << "-8 is the failure's own message";
}

}  // namespace
}  // namespace varn
