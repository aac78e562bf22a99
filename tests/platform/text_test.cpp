#include <optional>
#include <regex>

#include "platform/text.h"
#include "tests/support/test_env.h"

namespace varn {
namespace {

TEST(Cp1251, EveryByteSurvivesTheRoundTrip) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::u16string wide = Cp1251ToUtf16(all);
  ASSERT_EQ(wide.size(), 256u);
  EXPECT_EQ(Utf16ToCp1251(wide), all);
  EXPECT_EQ(wide[0x98], u'\u0098');  // the one unassigned byte
  EXPECT_EQ(wide[0xC0], u'А');
  EXPECT_EQ(wide[0xFF], u'я');
  EXPECT_EQ(wide[0xA8], u'Ё');
  EXPECT_EQ(wide[0xB9], u'№');
  EXPECT_EQ(wide[0x88], u'€');
}

TEST(Cp1251, CharactersWithoutACodeBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToCp1251("Чек №5 — 中"),
            "\xD7\xE5\xEA \xB9"
            "5 \x97 ?");
  EXPECT_EQ(Cp1251ToUtf8("\xCD\xE5\xF2 \xF1\xE2\xFF\xE7\xE8"), "Нет связи");
}

TEST(Utf, ConversionsAndDamagedInput) {
  const std::string text = "Варн 𝄞 ok";
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
  EXPECT_EQ(Utf8ToUtf16("a\xFF"
                        "b"),
            u"a\uFFFD"
            "b");
  EXPECT_EQ(Utf8ToUtf16("\xD0"), u"\uFFFD");            // cut short
  EXPECT_EQ(Utf8ToUtf16("\xC0\x80"), u"\uFFFD\uFFFD");  // overlong
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Text, CaseInsensitiveNamesIncludeCyrillic) {
  EXPECT_TRUE(EqualNoCase(u"PrintString", u"PRINTSTRING"));
  EXPECT_TRUE(EqualNoCase("Сервер\\Ports", "сЕРВЕР\\ports"));
  EXPECT_TRUE(EqualNoCase(u"Ёлка", u"ёЛКА"));
  EXPECT_FALSE(EqualNoCase(u"Порт", u"Порты"));
}

TEST(Text, HexDump) {
  EXPECT_EQ(HexDump(""), "");
  EXPECT_EQ(HexDump(std::string("\x02\x05\x11", 3)), "02 05 11");
  EXPECT_EQ(HexDump(std::string("\x00\xff", 2)), "00 FF");
}

// Both hex forms in use: blanks anywhere between pairs (varn's "hex:"
// values), exactly one comma between pairs (the registry file's hex(1)).
TEST(Text, HexBytesParseInBothForms) {
  const auto parse = [](std::string_view text, HexSeparators sep) -> std::optional<std::string> {
    std::string out;
    if (!ParseHexBytes(text, sep, out)) return std::nullopt;
    return out;
  };
  EXPECT_EQ(parse("02 01 fCFd\t", HexSeparators::Blanks), std::string("\x02\x01\xFC\xFD", 4));
  EXPECT_EQ(parse("", HexSeparators::Blanks), "");
  for (std::string_view bad : {"0", "02 1", "0 2", "GG", "02,01"})
    EXPECT_EQ(parse(bad, HexSeparators::Blanks), std::nullopt) << bad;
  EXPECT_EQ(parse("02,01,fc", HexSeparators::Commas), std::string("\x02\x01\xFC", 3));
  for (std::string_view bad : {"02,", ",02", "02,,01", "02 01", "0201x"})
    EXPECT_EQ(parse(bad, HexSeparators::Commas), std::nullopt) << bad;
  EXPECT_EQ(HexDigitValue('7'), 7);
  EXPECT_EQ(HexDigitValue('b'), 11);
  EXPECT_EQ(HexDigitValue('g'), -1);
}

TEST(Text, LogTimeStampFormat) {
  using namespace std::chrono;
  const auto t = system_clock::from_time_t(0) + hours(24 * 365) + milliseconds(7);
  const std::string s = LogTimeStamp(t);
  EXPECT_TRUE(std::regex_match(s, std::regex(R"(\d\d\.\d\d\.19\d\d \d\d:\d\d:\d\d\.007)"))) << s;
}

}  // namespace
}  // namespace varn
