// The command page's text: hexadecimal bytes separated by single blanks.
//
//   ParseCommandText("02 05 13");  // "\x02\x05\x13"
#pragma once

#include <QString>
#include <string>

namespace varn::testapp {

// The text is trimmed and cut at each single blank; every token must be
// one or two hexadecimal digits. std::invalid_argument "Недопустимый
// символ в строке" for a token of another length (two blanks in a row
// make an empty one), the conversion error for one that is not hexadecimal.
std::string ParseCommandText(const QString& text);

}  // namespace varn::testapp
