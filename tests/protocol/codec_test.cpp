// The typed requests and answers against their bytes: each builder, each
// decoder on data too short, exact and longer, each encoder back to the
// bytes; the time-out codes, the baud-rate codes and the graphics line.
#include <functional>

#include "platform/text.h"
#include "protocol/answers.h"
#include "protocol/commands.h"
#include "protocol/exchange.h"
#include "protocol/graphics.h"
#include "tests/support/test_env.h"

namespace varn::protocol {
namespace {

std::string Bytes(std::string_view hex) {
  std::string out;
  EXPECT_TRUE(ParseHexBytes(hex, HexSeparators::Blanks, out)) << hex;
  return out;
}

TEST(Requests, EachBuilderGivesItsBytes) {
  const std::string line(kLineBytes, '\x5A');
  const struct {
    std::string built;
    std::string hex;
  } cases[] = {
      {PrintStringRequest(cmd::PrintString, kReceiptRibbon, "AB"), "17 97 1C 00 00 02 41 42"},
      {PrintStringRequest(cmd::PrintWideString, kJournalRibbon, "A"), "12 97 1C 00 00 01 41"},
      {PrintStringWithFontRequest(kReceiptRibbon, 3, "Z"), "2F 97 1C 00 00 02 03 5A"},
      {SetExchangeParamRequest(1, 6, 156), "14 97 1C 00 00 01 06 9C"},
      {GetExchangeParamRequest(0), "15 97 1C 00 00 00"},
      {TestRequest(5), "19 97 1C 00 00 05"},
      {ReadTableRequest(2, 0x1234, 7), "1F 97 1C 00 00 02 34 12 07"},
      {WriteTableRequest(1, 300, 2, std::string("\x01\x00", 2)),
       "1E 97 1C 00 00 01 2C 01 02 01 00"},
      {GetFontMetricsRequest(2), "26 97 1C 00 00 02"},
      {OpenDrawerRequest(1), "28 97 1C 00 00 01"},
      {FeedDocumentRequest(kReceiptRibbon, 3), "29 97 1C 00 00 02 03"},
      {GetTableStructRequest(4), "2D 97 1C 00 00 04"},
      {GetFieldStructRequest(4, 9), "2E 97 1C 00 00 04 09"},
      {DrawRequest(1, 200), "C1 97 1C 00 00 01 C8"},
      {DrawExRequest(1, 1200), "C3 97 1C 00 00 01 00 B0 04"},
      {PrintBarCodeRequest(0xFF0102030405), "C2 97 1C 00 00 05 04 03 02 01"},
      {GetDeviceMetricsRequest(), "FC"},
  };
  for (const auto& c : cases) EXPECT_EQ(HexDump(c.built), c.hex);

  // A graphics line is padded with zeros or cut to its 40 bytes.
  EXPECT_EQ(LoadLineDataRequest(7, "\x01"), Bytes("C0 97 1C 00 00 07 01") + std::string(39, '\0'));
  EXPECT_EQ(LoadLineDataExRequest(0x0102, line + "xyz"), Bytes("C4 97 1C 00 00 02 01") + line);
  EXPECT_EQ(LoadLineDataExRequest(5, "").size(), 7 + kLineBytes);
}

// Every prefix of `exact` is too short, `exact` gives `want`, and `exact`
// with `more` after it gives `wantLong` (the same, unless the layout has an
// optional end).
template <typename T>
void CheckDecoder(const char* name, const std::function<std::optional<T>(std::string_view)>& decode,
                  const std::string& exact, const T& want, const std::string& more,
                  const T& wantLong) {
  SCOPED_TRACE(name);
  for (size_t n = 0; n < exact.size(); ++n)
    EXPECT_EQ(decode(std::string_view(exact).substr(0, n)), std::nullopt) << n << " bytes";
  EXPECT_EQ(decode(exact), want);
  EXPECT_EQ(decode(exact + more), wantLong);
}
template <typename T>
void CheckDecoder(const char* name, const std::function<std::optional<T>(std::string_view)>& decode,
                  const std::string& exact, const T& want) {
  CheckDecoder(name, decode, exact, want, std::string("\x55\xAA\x00", 3), want);
}

TEST(Answers, DecodersShortExactLongAndEncodersBack) {
  // The head: code and error, then the data.
  EXPECT_EQ(SplitAnswer("\x11"), std::nullopt);
  const std::string answer("\x11\x00\x01", 3);  // the head views into it
  const std::optional<AnswerHead> head = SplitAnswer(answer);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->code, cmd::GetECRStatus);
  EXPECT_EQ(head->error, 0);
  EXPECT_EQ(head->data, "\x01");
  EXPECT_EQ(SplitAnswer("\x10\x73")->error, err::kWrongMode);
  EXPECT_EQ(Answer(cmd::Beep, err::kOk, "\x01"), std::string("\x13\x00\x01", 3));

  const ShortStatus shortStatus{1, 0x0A80, mode::kTestRun, 200, 0};
  const std::string shortBytes = Bytes("01 80 0A 0A 00 00 C8");
  ShortStatus withVoltage = shortStatus;
  withVoltage.voltage = 216;
  CheckDecoder<ShortStatus>("short status", DecodeShortStatus, shortBytes, shortStatus, "\xD8",
                            withVoltage);
  EXPECT_EQ(EncodeShortStatus(withVoltage), shortBytes + "\xD8");

  const Status status{
      1, '1', '2', 2047, 14, 6, 23, 3, flag::kDrawerOpen | flag::kLeverDown, mode::kWorking, 1};
  const std::string statusBytes = Bytes("01 31 32 FF 07 0E 06 17 03 00 00 00 0A 00 00 01");
  CheckDecoder<Status>("status", DecodeStatus, statusBytes, status);
  EXPECT_EQ(EncodeStatus(status), statusBytes);

  const ExchangeParam exchange{6, 250};
  CheckDecoder<ExchangeParam>("exchange", DecodeExchangeParam, Bytes("06 FA"), exchange);
  EXPECT_EQ(EncodeExchangeParam(exchange), Bytes("06 FA"));

  const std::string tableName = "\xD2\xC8\xCF";  // "ТИП" in cp1251
  const std::string tableBytes =
      tableName + std::string(37, ' ') + Bytes("2C 01 0B");  // 300 rows, 11 fields
  const TableStruct table{tableName, 300, 11};
  CheckDecoder<TableStruct>("table", DecodeTableStruct, tableBytes, table);
  EXPECT_EQ(EncodeTableStruct(table), tableBytes);

  // A string field has no limits; an integer field's follow, `size` bytes each.
  const std::string text = "NAME" + std::string(36, ' ') + Bytes("01 14");
  const FieldStruct textField{"NAME", true, 20, 0, 0};
  CheckDecoder<FieldStruct>("string field", DecodeFieldStruct, text, textField);
  EXPECT_EQ(EncodeFieldStruct(textField), text);
  const std::string number = "N" + std::string(39, ' ') + Bytes("00 02 01 00 0F 27");
  const FieldStruct numberField{"N", false, 2, 1, 9999};
  CheckDecoder<FieldStruct>("integer field", DecodeFieldStruct, number, numberField);
  EXPECT_EQ(EncodeFieldStruct(numberField), number);
  // A 6-byte field: the limits are there, the numbers are their low 4 bytes.
  const std::string wide =
      std::string(40, ' ') + Bytes("00 06 01 02 03 04 05 06 FF FF FF 7F 00 00");
  CheckDecoder<FieldStruct>("wide field", DecodeFieldStruct, wide,
                            {"", false, 6, 0x04030201, 0x7FFFFFFF});

  // A table value: the field's size, whatever follows.
  CheckDecoder<std::string_view>(
      "value", [](std::string_view d) { return DecodeFieldValue(d, 3); }, std::string("A\0B", 3),
      std::string_view("A\0B", 3));
  EXPECT_EQ(FieldText(std::string("AB\0C", 4)), "AB");
  EXPECT_EQ(FieldText("ABC"), "ABC");
  EXPECT_EQ(FieldInteger(Bytes("01 02 03")), 0x030201u);
  EXPECT_EQ(FieldInteger(Bytes("01 02 03 04 05")), 0x04030201u);
  EXPECT_EQ(FieldBytes(0x030201, 2), Bytes("01 02"));
  EXPECT_EQ(FieldBytes(0xFFFFFFFF, 6), Bytes("FF FF FF FF 00 00"));

  const FontMetrics font{320, 12, 24, 7};
  CheckDecoder<FontMetrics>("font", DecodeFontMetrics, Bytes("40 01 0C 18 07"), font);
  EXPECT_EQ(EncodeFontMetrics(font), Bytes("40 01 0C 18 07"));

  // The description runs to the end of the answer, at most 255 bytes.
  const DeviceMetrics bare{0, 0, 1, 0, 6, 1, ""};
  DeviceMetrics described = bare;
  described.description = "Varn";
  CheckDecoder<DeviceMetrics>("device", DecodeDeviceMetrics, Bytes("00 00 01 00 06 01"), bare,
                              "Varn", described);
  EXPECT_EQ(EncodeDeviceMetrics(described), Bytes("00 00 01 00 06 01") + "Varn");
  described.description = std::string(300, 'd');
  EXPECT_EQ(DecodeDeviceMetrics(EncodeDeviceMetrics(described))->description.size(), 255u);

  // The commands confirmed with the operator's number.
  for (uint8_t code : {cmd::PrintString, cmd::Beep, cmd::Draw, cmd::DrawEx, cmd::LoadLineDataEx})
    EXPECT_TRUE(ConfirmsWithOperator(code)) << int{code};
  for (uint8_t code : {cmd::GetECRStatus, cmd::WriteTable, cmd::SetExchangeParam, cmd::InitTable})
    EXPECT_FALSE(ConfirmsWithOperator(code)) << int{code};
  CheckDecoder<uint8_t>("operator", DecodeOperator, "\x01", 1);

  EXPECT_EQ(ModeText(mode::kWorking), "Рабочий режим");
  EXPECT_EQ(ModeText(mode::kTestRun), "Тестовый прогон");
  EXPECT_EQ(ModeText(3), "Неизвестный режим устройства");
}

TEST(ExchangeParameters, TimeoutCodesAndBaudRates) {
  const struct {
    uint32_t ms;
    uint8_t code;
    int32_t decoded;
  } cases[] = {
      {0, 0, 0},           {150, 150, 150},     {151, 150, 150},     {224, 150, 150},
      {225, 151, 300},     {1000, 156, 1050},   {15000, 249, 15000}, {15001, 249, 15000},
      {22499, 249, 15000}, {22500, 250, 30000}, {30000, 250, 30000}, {105000, 255, 105000},
      {105001, 0x29, 41},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EncodeTimeout(c.ms), c.code) << c.ms;
    EXPECT_EQ(DecodeTimeout(c.code), c.decoded) << c.ms;
  }
  // Every code stands for a time-out that encodes back to it.
  for (int code = 0; code < 256; ++code) {
    const int32_t ms = DecodeTimeout(static_cast<uint8_t>(code));
    EXPECT_LE(ms, kMaxTimeout);
    EXPECT_EQ(EncodeTimeout(static_cast<uint32_t>(ms)), code);
  }

  ASSERT_EQ(kBaudCodeCount, 7);
  EXPECT_EQ(kBaudRates[0], 2400);
  EXPECT_EQ(kBaudRates[kBaudCodeCount - 1], 115200);
  for (int code = 1; code < kBaudCodeCount; ++code)
    EXPECT_GT(kBaudRates[code], kBaudRates[code - 1]);
}

TEST(GraphicsLine, DotsAndBits) {
  EXPECT_EQ(kLineBytes * 8, static_cast<size_t>(kLineDots));
  std::string line(kLineBytes, '\0');
  for (int x : {0, 9, kLineDots - 1}) SetDot(line, x);
  EXPECT_EQ(line[0], '\x01');  // the leftmost dot is bit 0
  EXPECT_EQ(line[1], '\x02');
  EXPECT_EQ(line[kLineBytes - 1], '\x80');
  for (int x = 0; x < kLineDots; ++x)
    EXPECT_EQ(HasDot(line, x), x == 0 || x == 9 || x == kLineDots - 1) << x;
  EXPECT_FALSE(HasDot("\xFF", 8));  // past the bytes given
}

}  // namespace
}  // namespace varn::protocol
