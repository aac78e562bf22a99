// The receipt ribbon: what the device printed, as a UTF-8 text file that
// people and tests read, and as a PNG picture of the paper.
//
// Text file, one printed line per line: a plain line as it is; the other
// kinds start with a tag: "[bold] ...", "[font 3] ...", "[barcode] 123",
// "[graphics] 1..200"; each fed line is an empty line. A line longer than
// the font's line width wraps onto the next line, as on paper.
//
//   TPaper paper("/tmp/paper.txt", "/tmp/paper.png");   // either may be ""
//   paper.PrintText(cp1251, 1, "");
//   paper.Feed(3);
//
// Every call appends to the text file and rewrites the PNG (atomically)
// before it returns; EOSError when a file cannot be written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/graphics.h"

namespace varn::emu {

class TPaper {
 public:
  // Makes the text file (and its folder) when missing; EOSError if it cannot.
  TPaper(std::string textPath, std::string pngPath);

  // `cp1251` up to its first zero byte; control bytes print as blanks.
  // `font` must exist (FindFont). `tag` goes in front in the text file.
  void PrintText(std::string_view cp1251, int font, bool bold, std::string_view tag);
  void Feed(int lines);
  void PrintBarCode(uint64_t number);
  // Graphics lines (each kLineBytes, laid out as protocol/graphics.h has
  // it: the least significant bit is the leftmost dot). `first` and
  // `last` count from 1, as the device's print range does: lines[first - 1]
  // to lines[last - 1] are printed, the text file shows "first..last".
  void PrintGraphics(const std::vector<std::string>& lines, int first, int last);

  // Dot rows in the picture; the oldest go once there are kMaxRows.
  size_t Rows() const { return m_dots.size() / kPngWidth; }

  static constexpr size_t kLineBytes = protocol::kLineBytes;
  static constexpr int kMargin = 8;  // blank dots left and right of the print area
  static constexpr int kPngWidth = protocol::kLineDots + 2 * kMargin;
  // Bounds the picture's memory (about 2.7 MB); the text file keeps everything.
  static constexpr size_t kMaxRows = 8192;

 private:
  // A band of `height` blank rows at the end of the picture; its first index.
  size_t AddRows(int height);
  void DrawText(const std::u16string& text, int font, bool bold);
  void Ink(size_t row, int x);
  void AppendText(const std::string& lines);
  void WritePicture();

  std::string m_textPath;
  std::string m_pngPath;
  std::vector<uint8_t> m_dots;  // kPngWidth gray values per row: 0 ink, 255 paper
};

}  // namespace varn::emu
