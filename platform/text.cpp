#include "platform/text.h"

#include <array>
#include <cmath>
#include <ctime>
#include <unordered_map>

namespace varn {
namespace {

// Upper half of cp1251 (0x80..0xFF). 0x98 is unassigned and maps to U+0098.
constexpr std::array<char16_t, 128> kHigh = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

// An object, not a pointer kept for ever: a library that carries this code
// (the 1C add-in) is loaded and unloaded, and each load would leak one.
const std::unordered_map<char16_t, uint8_t>& ReverseTable() {
  static const std::unordered_map<char16_t, uint8_t> table = [] {
    std::unordered_map<char16_t, uint8_t> m;
    for (int i = 0; i < 128; ++i) m.emplace(kHigh[i], static_cast<uint8_t>(0x80 + i));
    return m;
  }();
  return table;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

char16_t Cp1251ToChar(uint8_t byte) {
  return byte < 0x80 ? static_cast<char16_t>(byte) : kHigh[byte - 0x80];
}

uint8_t CharToCp1251(char16_t ch) {
  if (ch < 0x80) return static_cast<uint8_t>(ch);
  const auto& rev = ReverseTable();
  auto it = rev.find(ch);
  return it == rev.end() ? static_cast<uint8_t>('?') : it->second;
}

std::u16string Cp1251ToUtf16(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (unsigned char b : bytes) out += Cp1251ToChar(b);
  return out;
}

std::string Utf16ToCp1251(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) out += static_cast<char>(CharToCp1251(c));
  return out;
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = s[i];
    char32_t cp = 0xFFFD;
    size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
    }
    if (len > 1) {
      bool ok = i + len <= s.size();
      char32_t v = c & (0x7F >> len);
      for (size_t k = 1; ok && k < len; ++k) {
        unsigned char cc = s[i + k];
        if ((cc & 0xC0) != 0x80) ok = false;
        v = (v << 6) | (cc & 0x3F);
      }
      static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
      if (ok && v >= kMin[len] && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
        cp = v;
      } else {
        len = 1;  // resynchronise at the next byte
      }
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += len;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size() * 2);
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::string Cp1251ToUtf8(std::string_view bytes) {
  return Utf16ToUtf8(Cp1251ToUtf16(bytes));
}
std::string Utf8ToCp1251(std::string_view text) {
  return Utf16ToCp1251(Utf8ToUtf16(text));
}

char16_t FoldCase(char16_t c) {
  if (c >= u'A' && c <= u'Z') return c + 32;
  if (c >= 0x0410 && c <= 0x042F) return c + 32;  // А..Я
  if (c >= 0x0400 && c <= 0x040F) return c + 80;  // Ѐ..Џ, Ё among them
  return c;
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return EqualNoCase(Utf8ToUtf16(a), Utf8ToUtf16(b));
}

char16_t UpperCaseChar(char16_t c) {
  if (c >= u'a' && c <= u'z') return c - 32;
  if (c >= 0x0430 && c <= 0x044F) return c - 32;  // а..я
  if (c >= 0x0450 && c <= 0x045F) return c - 80;  // ѐ..џ, ё among them
  if (c == 0x0491) return 0x0490;                 // ґ
  return c;
}

std::u16string UpperCase(std::u16string_view text) {
  std::u16string r(text);
  for (auto& c : r) c = UpperCaseChar(c);
  return r;
}

std::string HexDump(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  if (bytes.empty()) return out;
  out.reserve(bytes.size() * 3);
  for (unsigned char b : bytes) {
    if (!out.empty()) out += ' ';
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
  return out;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHexBytes(std::string_view text, HexSeparators separators, std::string& out) {
  const bool commas = separators == HexSeparators::Commas;
  size_t i = 0;
  while (i < text.size()) {
    if (!commas && (text[i] == ' ' || text[i] == '\t')) {
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return false;
    const int hi = HexDigitValue(text[i]), lo = HexDigitValue(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
    if (commas && i < text.size()) {
      if (text[i] != ',' || i + 1 == text.size()) return false;
      ++i;
    }
  }
  return true;
}

std::string LogTimeStamp(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const std::time_t secs = system_clock::to_time_t(when);
  auto ms = duration_cast<milliseconds>(when.time_since_epoch()).count() % 1000;
  if (ms < 0) ms += 1000;
  std::tm tm{};
  localtime_r(&secs, &tm);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.2d.%.2d.%.4d %.2d:%.2d:%.2d.%.3d", tm.tm_mday, tm.tm_mon + 1,
                tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  return buf;
}

std::optional<DateParts> SplitDate(double date) {
  if (!(date >= -657434.0 && date < 2958466.0)) return std::nullopt;
  auto days = static_cast<int64_t>(date);
  int64_t seconds = std::llround(std::fabs(date - static_cast<double>(days)) * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    ++days;
  }
  using namespace std::chrono;
  const year_month_day ymd{sys_days{1899y / December / 30} + std::chrono::days{days}};
  DateParts parts;
  parts.year = static_cast<int>(ymd.year());
  parts.month = static_cast<unsigned>(ymd.month());
  parts.day = static_cast<unsigned>(ymd.day());
  parts.hours = static_cast<int>(seconds / 3600);
  parts.minutes = static_cast<int>(seconds / 60 % 60);
  parts.seconds = static_cast<int>(seconds % 60);
  return parts;
}

}  // namespace varn
