// The printer's fonts: the metrics the device reports (command 0x26) and
// the bitmaps the paper picture draws text with.
//
// Every font draws one 5 x 8 dot glyph set (rows 0..6 above the base line,
// row 7 for descenders), magnified by the font's scale inside its cell.
//
//   const FontMetrics* f = FindFont(2);        // nullptr for 0 and > kFontCount
//   const Glyph& g = GlyphFor(u'Ж');           // '?' for characters it lacks
//   bool ink = g.rows[3] & (0x10 >> 2);        // column 2 of row 3
#pragma once

#include <array>
#include <cstdint>

#include "protocol/graphics.h"

namespace varn::emu {

// Dots across the paper; a graphics line covers it exactly.
inline constexpr int kPrintWidth = protocol::kLineDots;
inline constexpr int kFontCount = 3;

struct FontMetrics {
  uint8_t charWidth;   // cell width in dots
  uint8_t charHeight;  // cell height in dots, line spacing included
  uint8_t scaleX;      // magnification of the 5 x 8 glyph
  uint8_t scaleY;
};

// Fonts 1..kFontCount: 1 normal, 2 double (bold lines), 3 tall.
const FontMetrics* FindFont(int number);
inline int CharsPerLine(const FontMetrics& f) {
  return kPrintWidth / f.charWidth;
}

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 8;

struct Glyph {
  // Bit 4 is the leftmost column.
  std::array<uint8_t, kGlyphHeight> rows{};
};

const Glyph& GlyphFor(char16_t ch);

}  // namespace varn::emu
