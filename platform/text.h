// Text helpers: the cp1251 code page (the "ANSI code page" of the design,
// whatever the Linux locale), UTF-8/UTF-16 conversion, the HexDump text,
// the parts of an automation date and the log time stamp.
//
//   std::u16string s = Cp1251ToUtf16(frame);      // every byte survives
//   std::string back = Utf16ToCp1251(s);          // == frame
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varn {

// One UTF-16 unit per byte. Bytes with no letter in cp1251 (only 0x98) map
// to the C1 control of the same value, so the table is a bijection.
char16_t Cp1251ToChar(uint8_t byte);
// The byte for a UTF-16 unit, or '?' when cp1251 has no such character.
uint8_t CharToCp1251(char16_t ch);

std::u16string Cp1251ToUtf16(std::string_view bytes);
std::string Utf16ToCp1251(std::u16string_view text);

// Invalid UTF-8 sequences become U+FFFD; unpaired surrogates become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
std::string Cp1251ToUtf8(std::string_view bytes);
std::string Utf8ToCp1251(std::string_view text);

// Case folding as automation names compare: ASCII and Cyrillic letters.
char16_t FoldCase(char16_t ch);
bool EqualNoCase(std::u16string_view a, std::u16string_view b);
bool EqualNoCase(std::string_view utf8a, std::string_view utf8b);
// Upper case by the letters of cp1251: ASCII, А..Я, Ё and the other
// Cyrillic letters of the code page (Ґ among them); anything else stays.
char16_t UpperCaseChar(char16_t ch);
std::u16string UpperCase(std::u16string_view text);

// "02 05 11": two upper-case hex digits per byte, single blanks between.
std::string HexDump(std::string_view bytes);
// The value of a hex digit (either case), -1 for any other character.
int HexDigitValue(char c);
// Hex digit pairs to bytes, appended to `out`; false (with `out` as it may
// have grown) when `text` is not of the form. `Blanks`: any blanks or tabs
// between pairs ("02 01 FCFD"); `Commas`: exactly one comma between two
// pairs and none at the ends ("02,01,fc").
enum class HexSeparators { Blanks, Commas };
bool ParseHexBytes(std::string_view text, HexSeparators separators, std::string& out);

// An automation date split for writing out. Automation dates count days
// from 30.12.1899; the fraction is the time of day, also for days before
// that (-1.25 is 29.12.1899 06:00); the time is rounded to the second.
// Nothing outside years 100..9999 (NaN and infinities among them), where a
// writer shows the number itself.
struct DateParts {
  int year = 0;
  unsigned month = 0, day = 0;
  int hours = 0, minutes = 0, seconds = 0;
  bool HasTime() const { return hours != 0 || minutes != 0 || seconds != 0; }
};
std::optional<DateParts> SplitDate(double date);

// "%.2d.%.2d.%.4d %.2d:%.2d:%.2d.%.3d" in local time: day, month, year,
// hours, minutes, seconds, milliseconds.
std::string LogTimeStamp(std::chrono::system_clock::time_point when);
inline std::string LogTimeStamp() {
  return LogTimeStamp(std::chrono::system_clock::now());
}

}  // namespace varn
