// A member's value from the text a person or a host wrote, converted for the
// member's type the way every host that takes values as text does it (varn's
// steps, the C interface's setters), so each accepts the same values.
//
//   Variant v = ValueFromText("115200", VT_I4);   // Variant(115200)
//   ValueFromText("hex:02 FC", VT_BSTR);           // one character per byte (cp1251)
//   ValueFromText("yes", VT_BOOL);                 // EValueText: "\"yes\" is not a boolean ..."
#pragma once

#include <stdexcept>
#include <string>

#include "platform/automation/variant.h"

namespace varn {

// A text that does not convert; what() says why without naming the member
// ("\"12a\" is not an integer", "300 is out of range for integer VT_UI1"),
// so a host puts its own "NAME: " in front.
class EValueText : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Text as it is ("hex:02 01 FC FD" gives one character per byte through
// cp1251), booleans 1/0/true/false (any case), integers in decimal with an
// optional '+' and within the type's range, reals with a decimal point.
// VT_VARIANT takes text. Any other type: EValueText.
Variant ValueFromText(const std::string& text, VARTYPE type);

// What a type is called to people: "integer", "text", "boolean", "double",
// "date", "currency", "any", "none", else its VT_ name.
std::string TypeKindName(VARTYPE vt);

}  // namespace varn
