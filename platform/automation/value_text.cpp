#include "platform/automation/value_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "platform/text.h"

namespace varn {

std::string TypeKindName(VARTYPE vt) {
  switch (vt) {
    case VT_I2:
    case VT_I4:
    case VT_UI1:
      return "integer";
    case VT_BSTR:
      return "text";
    case VT_BOOL:
      return "boolean";
    case VT_R4:
    case VT_R8:
      return "double";
    case VT_DATE:
      return "date";
    case VT_CY:
      return "currency";
    case VT_VARIANT:
      return "any";
    case VT_EMPTY:
      return "none";
    default:
      return VarTypeName(vt);
  }
}

Variant ValueFromText(const std::string& text, VARTYPE type) {
  const auto notA = [&](const std::string& what) {
    return EValueText("\"" + text + "\" is not " + what);
  };
  switch (type) {
    case VT_BSTR:
    case VT_VARIANT: {
      if (text.rfind("hex:", 0) != 0) return Variant(Utf8ToUtf16(text));
      std::string bytes;
      if (!ParseHexBytes(std::string_view(text).substr(4), HexSeparators::Blanks, bytes))
        throw notA("a byte string (hex:02 01 FC FD)");
      return Variant(Cp1251ToUtf16(bytes));
    }
    case VT_BOOL: {
      if (text == "1" || EqualNoCase(text, "true")) return Variant(true);
      if (text == "0" || EqualNoCase(text, "false")) return Variant(false);
      throw notA("a boolean (1, 0, true or false)");
    }
    case VT_I2:
    case VT_I4:
    case VT_UI1: {
      const char* first = text.data() + (text.starts_with('+') ? 1 : 0);
      const char* last = text.data() + text.size();
      int64_t n = 0;
      const auto [end, ec] = std::from_chars(first, last, n);
      if (ec == std::errc::invalid_argument || end != last || first == last)
        throw notA("an integer");
      const bool fits = type == VT_I4   ? n >= INT32_MIN && n <= INT32_MAX
                        : type == VT_I2 ? n >= INT16_MIN && n <= INT16_MAX
                                        : n >= 0 && n <= 255;
      if (ec == std::errc::result_out_of_range || !fits)
        throw EValueText(text + " is out of range for " + TypeKindName(type) + " " +
                         VarTypeName(type));
      if (type == VT_I2) return Variant::I2(static_cast<int16_t>(n));
      if (type == VT_UI1) return Variant::UI1(static_cast<uint8_t>(n));
      return Variant(static_cast<int32_t>(n));
    }
    case VT_R4:
    case VT_R8: {
      double d = 0;
      const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
      if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(d))
        throw notA("a number (with a decimal point)");
      return type == VT_R4 ? Variant::R4(static_cast<float>(d)) : Variant(d);
    }
    default:
      throw EValueText("values of type " + TypeKindName(type) + " cannot be given");
  }
}

}  // namespace varn
