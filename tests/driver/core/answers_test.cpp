// Each answer the driver decodes, as the device side encodes it, through
// the driver's answer parsing: data one byte short of the layout is the
// driver's length error and changes nothing; the exact data and longer data
// set the same properties; a device error gives the device's text.
#include <functional>

#include "driver/core/varn_drv.h"
#include "platform/text.h"
#include "protocol/answers.h"
#include "protocol/commands.h"
#include "tests/support/test_env.h"

namespace varn {
namespace {

namespace cmd = protocol::cmd;

TEST(DriverAnswers, EveryDecodedAnswerShortExactAndLong) {
  test::TempEnv env;
  DispatchPtr object = MakeObject<TVarnDrv>();
  TVarnDrv& drv = dynamic_cast<TVarnDrv&>(*object);
  auto integer = [&](const char16_t* name) { return GetProperty(*object, name).ToInt32(); };
  auto text = [&](const char16_t* name) {
    return Utf16ToUtf8(GetProperty(*object, name).ToString());
  };
  auto result = [&] {
    return std::make_pair(integer(u"ResultCode"), text(u"ResultCodeDescription"));
  };

  protocol::Status status{
      1, '3', '4', 2047, 14, 6, 23, 9, protocol::flag::kDrawerOpen, protocol::mode::kTestRun, 1};
  const protocol::FieldStruct field{"\xCF\xCE\xCB\xC5", false, 2, 1, 9999};  // "ПОЛЕ"
  const struct {
    uint8_t code;
    std::string data;
    std::function<void()> check;  // the properties the data sets
  } cases[] = {
      {cmd::GetShortECRStatus, protocol::EncodeShortStatus({1, 0x0280, 0, 200, 108}).substr(0, 7),
       [&] {
         EXPECT_EQ(integer(u"ECRFlags"), 0x0280);
         EXPECT_TRUE(GetProperty(*object, u"ReceiptRibbonLever").ToBool());
         EXPECT_EQ(integer(u"ECRMode"), 0);
       }},
      {cmd::GetECRStatus, protocol::EncodeStatus(status),
       [&] {
         EXPECT_EQ(text(u"ECRSoftVersion"), "3.4");
         EXPECT_EQ(integer(u"ECRBuild"), 2047);
         EXPECT_EQ(integer(u"LogicalNumber"), 9);
         EXPECT_TRUE(GetProperty(*object, u"IsDrawerOpen").ToBool());
         EXPECT_EQ(text(u"ECRModeDescription"), "Тестовый прогон");
       }},
      {cmd::GetExchangeParam, protocol::EncodeExchangeParam({6, 156}),
       [&] {
         EXPECT_EQ(integer(u"BaudRate"), 6);
         EXPECT_EQ(integer(u"Timeout"), 1050);
       }},
      {cmd::GetTableStruct, protocol::EncodeTableStruct({"\xD2\xC8\xCF", 30, 11}),  // "ТИП"
       [&] {
         EXPECT_EQ(text(u"TableName"), "ТИП");
         EXPECT_EQ(integer(u"RowNumber"), 30);
         EXPECT_EQ(integer(u"FieldNumber"), 11);
       }},
      {cmd::GetFieldStruct, protocol::EncodeFieldStruct(field),
       [&] {
         EXPECT_EQ(text(u"FieldName"), "ПОЛЕ");
         EXPECT_FALSE(GetProperty(*object, u"FieldType").ToBool());
         EXPECT_EQ(integer(u"FieldSize"), 2);
         EXPECT_EQ(integer(u"MINValueOfField"), 1);
         EXPECT_EQ(integer(u"MAXValueOfField"), 9999);
       }},
      // Read with the field structure just decoded: 2 bytes.
      {cmd::ReadTable, protocol::FieldBytes(4660, 2),
       [&] { EXPECT_EQ(integer(u"ValueOfFieldInteger"), 4660); }},
      {cmd::GetFontMetrics, protocol::EncodeFontMetrics({320, 12, 24, 3}),
       [&] {
         EXPECT_EQ(integer(u"PrintWidth"), 320);
         EXPECT_EQ(integer(u"CharWidth"), 12);
         EXPECT_EQ(integer(u"CharHeight"), 24);
         EXPECT_EQ(integer(u"FontCount"), 3);
       }},
      {cmd::GetDeviceMetrics, protocol::EncodeDeviceMetrics({0, 0, 1, 0, 7, 1, ""}),
       [&] {
         EXPECT_EQ(integer(u"UMajorProtocolVersion"), 1);
         EXPECT_EQ(integer(u"UModel"), 7);
         EXPECT_EQ(integer(u"UCodePage"), 1);
       }},
      {cmd::PrintString, "\x01", [] {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.code));
    EXPECT_EQ(drv.ParseAnswer(protocol::Answer(c.code, 0, c.data)), 0);
    EXPECT_EQ(result(), std::make_pair(0, std::string("Ошибок нет.")));
    c.check();
    EXPECT_EQ(drv.ParseAnswer(protocol::Answer(c.code, 0, c.data + "\x55")), 0);
    c.check();
    // Short by one byte: refused, and what the exact answer set stays.
    EXPECT_EQ(drv.ParseAnswer(protocol::Answer(c.code, 0, c.data.substr(0, c.data.size() - 1))),
              -7);
    EXPECT_EQ(result(), std::make_pair(-7, std::string("Неверная длина ответа.")));
    c.check();
    EXPECT_EQ(drv.ParseAnswer(protocol::Answer(c.code, protocol::err::kNoTable)), 93);
    EXPECT_EQ(result(), std::make_pair(93, std::string("Таблица не определена")));
  }
  EXPECT_EQ(drv.ParseAnswer("\x11"), -7);
}

}  // namespace
}  // namespace varn
