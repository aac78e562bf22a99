#include "emulator/paper.h"

#include <png.h>

#include <algorithm>
#include <memory>

#include "emulator/font.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/text.h"

namespace varn::emu {
namespace {

// Bar widths of each digit (seven modules, 1 = bar): the look of a retail
// bar code, enough for a person to see where one was printed.
constexpr const char* kDigitBars[10] = {"0001101", "0011001", "0010011", "0111101", "0100011",
                                        "0110001", "0101111", "0111011", "0110111", "0001011"};
constexpr int kBarModule = 2;   // dots per module
constexpr int kBarHeight = 40;  // dots

std::u16string Printable(std::string_view cp1251) {
  const auto end = cp1251.find('\0');
  std::u16string text = Cp1251ToUtf16(cp1251.substr(0, end));
  for (auto& ch : text)
    if (ch < 0x20 || ch == 0x7F) ch = u' ';
  return text;
}

}  // namespace

TPaper::TPaper(std::string textPath, std::string pngPath)
    : m_textPath(std::move(textPath)), m_pngPath(std::move(pngPath)) {
  // Made at once: a path that cannot be written is refused at start, and
  // a reader can follow the file before the first line.
  if (!m_textPath.empty()) {
    if (const std::string dir = ParentDirectory(m_textPath); !dir.empty()) MakeDirectories(dir);
    AppendText("");
  }
}

void TPaper::PrintText(std::string_view cp1251, int font, bool bold, std::string_view tag) {
  const FontMetrics& f = *FindFont(font);
  const std::u16string text = Printable(cp1251);
  const size_t width = static_cast<size_t>(CharsPerLine(f));
  std::string lines;
  size_t pos = 0;
  do {
    const std::u16string part = text.substr(pos, width);
    if (!m_pngPath.empty()) DrawText(part, font, bold);
    std::string line(tag);
    if (!tag.empty() && !part.empty()) line += ' ';
    lines += line + Utf16ToUtf8(part) + "\n";
    pos += width;
  } while (pos < text.size());
  AppendText(lines);
  WritePicture();
}

void TPaper::Feed(int lines) {
  if (lines <= 0) return;
  if (!m_pngPath.empty()) AddRows(lines * FindFont(1)->charHeight);
  AppendText(std::string(static_cast<size_t>(lines), '\n'));
  WritePicture();
}

void TPaper::PrintBarCode(uint64_t number) {
  const std::string digits = std::to_string(number);
  if (!m_pngPath.empty()) {
    std::string modules = "101";
    for (char d : digits) modules += kDigitBars[d - '0'];
    modules += "101";
    const int width = static_cast<int>(modules.size()) * kBarModule;
    const int left = kMargin + std::max(0, (kPrintWidth - width) / 2);
    const size_t top = AddRows(kBarHeight + 4);
    for (int r = 2; r < kBarHeight + 2; ++r)
      for (size_t m = 0; m < modules.size(); ++m)
        if (modules[m] == '1')
          for (int k = 0; k < kBarModule; ++k)
            Ink(top + static_cast<size_t>(r), left + static_cast<int>(m) * kBarModule + k);
    const FontMetrics& f = *FindFont(1);
    const int pad = (CharsPerLine(f) - static_cast<int>(digits.size())) / 2;
    DrawText(std::u16string(static_cast<size_t>(std::max(0, pad)), u' ') + Utf8ToUtf16(digits), 1,
             false);
  }
  AppendText("[barcode] " + digits + "\n");
  WritePicture();
}

void TPaper::PrintGraphics(const std::vector<std::string>& lines, int first, int last) {
  if (!m_pngPath.empty()) {
    for (int n = first; n <= last; ++n) {
      const std::string& bits = lines[static_cast<size_t>(n - 1)];
      const size_t row = AddRows(1);
      for (int x = 0; x < kPrintWidth; ++x)
        if (protocol::HasDot(bits, x)) Ink(row, kMargin + x);
    }
  }
  AppendText("[graphics] " + std::to_string(first) + ".." + std::to_string(last) + "\n");
  WritePicture();
}

size_t TPaper::AddRows(int height) {
  const size_t add = static_cast<size_t>(height) * kPngWidth;
  m_dots.insert(m_dots.end(), add, 255);
  if (Rows() > kMaxRows) {
    // The paper that left the printer long ago: only the recent part is drawn.
    m_dots.erase(m_dots.begin(),
                 m_dots.begin() + static_cast<std::ptrdiff_t>((Rows() - kMaxRows) * kPngWidth));
  }
  return Rows() - static_cast<size_t>(height);
}

void TPaper::Ink(size_t row, int x) {
  if (x >= 0 && x < kPngWidth) m_dots[row * kPngWidth + static_cast<size_t>(x)] = 0;
}

void TPaper::DrawText(const std::u16string& text, int font, bool bold) {
  const FontMetrics& f = *FindFont(font);
  const size_t top = AddRows(f.charHeight);
  const int offX = (f.charWidth - kGlyphWidth * f.scaleX) / 2;
  const int offY = (f.charHeight - kGlyphHeight * f.scaleY) / 2;
  for (size_t i = 0; i < text.size(); ++i) {
    const Glyph& g = GlyphFor(text[i]);
    const int left = kMargin + static_cast<int>(i) * f.charWidth + offX;
    for (int r = 0; r < kGlyphHeight; ++r)
      for (int c = 0; c < kGlyphWidth; ++c) {
        if (!(g.rows[static_cast<size_t>(r)] & (0x10 >> c))) continue;
        for (int dy = 0; dy < f.scaleY; ++dy)
          for (int dx = 0; dx < f.scaleX + (bold ? 1 : 0); ++dx)
            Ink(top + static_cast<size_t>(offY + r * f.scaleY + dy), left + c * f.scaleX + dx);
      }
  }
}

void TPaper::AppendText(const std::string& lines) {
  if (m_textPath.empty()) return;
  AppendOnlyFile file(m_textPath);
  file.Write(lines);
}

void TPaper::WritePicture() {
  if (m_pngPath.empty() || m_dots.empty()) return;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = kPngWidth;
  image.height = static_cast<png_uint_32>(Rows());
  image.format = PNG_FORMAT_GRAY;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, m_dots.data(), kPngWidth, nullptr))
    throw EOSError(0, std::string("PNG: ") + image.message);
  std::string bytes(size, '\0');
  if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, m_dots.data(), kPngWidth, nullptr))
    throw EOSError(0, std::string("PNG: ") + image.message);
  bytes.resize(size);
  ReplaceFileAtomically(m_pngPath, bytes);
}

}  // namespace varn::emu
