// Writes bitmap files the way common programs do: rows padded to 32 bits,
// run-length rows ended by an end of line and the picture by an end of
// bitmap, runs of equal pixels encoded and the rest given literally.
#include "tests/driver/base/bmp_writer.h"

#include <bit>

namespace varn::test {
namespace {

// A channel value 0..255 placed into a mask of any width.
uint32_t Scaled(uint8_t v, uint32_t mask) {
  const uint64_t top = (uint64_t{1} << std::popcount(mask)) - 1;
  return static_cast<uint32_t>((v * top + 127) / 255) << std::countr_zero(mask);
}

std::string PixelRow(const TestPicture& p, const BmpFormat& f, int y) {
  std::string row;
  uint32_t bits = 0;
  int used = 0;
  for (int x = 0; x < p.width; ++x) {
    const Colour& c = p.colours[p.At(x, y)];
    if (f.bpp <= 8) {
      bits = bits << f.bpp | p.At(x, y);
      used += f.bpp;
      if (used == 8) {
        row += static_cast<char>(bits);
        bits = 0;
        used = 0;
      }
    } else if (f.bpp == 24) {
      row += {static_cast<char>(c.b), static_cast<char>(c.g), static_cast<char>(c.r)};
    } else {
      const uint32_t px = Scaled(c.r, f.masks[0]) | Scaled(c.g, f.masks[1]) |
                          Scaled(c.b, f.masks[2]) | (f.alphaMask ? Scaled(c.a, f.alphaMask) : 0);
      f.bpp == 16 ? PutU16(row, px) : PutU32(row, px);
    }
  }
  if (used > 0) row += static_cast<char>(bits << (8 - used));
  while (row.size() % 4 != 0) row += '\0';
  return row;
}

// One row of run-length data (no end of line).
std::string RleRow(const TestPicture& p, bool four, int y) {
  std::string out;
  int x = 0;
  auto packed = [&](uint8_t i) { return static_cast<char>(four ? (i << 4 | i) : i); };
  while (x < p.width) {
    int run = 1;
    while (x + run < p.width && run < 255 && p.At(x + run, y) == p.At(x, y)) ++run;
    if (run >= 2) {
      out += {static_cast<char>(run), packed(p.At(x, y))};
      x += run;
      continue;
    }
    int n = 1;  // pixels up to the next pair of equal ones
    while (x + n < p.width && n < 255 &&
           !(x + n + 1 < p.width && p.At(x + n, y) == p.At(x + n + 1, y)))
      ++n;
    if (n < 3) {
      for (int i = 0; i < n; ++i) out += {'\1', packed(p.At(x + i, y))};
    } else {
      out += {'\0', static_cast<char>(n)};
      std::string literal;
      for (int i = 0; i < n; ++i) {
        if (!four)
          literal += static_cast<char>(p.At(x + i, y));
        else if (i % 2 == 0)
          literal += static_cast<char>(p.At(x + i, y) << 4);
        else
          literal.back() = static_cast<char>(literal.back() | p.At(x + i, y));
      }
      if (literal.size() % 2) literal += '\0';
      out += literal;
    }
    x += n;
  }
  return out;
}

}  // namespace

std::string EncodeBmp(const TestPicture& p, const BmpFormat& format) {
  BmpFormat f = format;
  if (f.masks == std::array<uint32_t, 3>{})
    f.masks = f.bpp == 16 ? std::array<uint32_t, 3>{0x7C00, 0x03E0, 0x001F}
                          : std::array<uint32_t, 3>{0xFF0000, 0xFF00, 0xFF};
  const bool rle = f.compression == 1 || f.compression == 2;
  std::string pixels;
  for (int i = 0; i < p.height; ++i) {
    const int y = f.topDown ? i : p.height - 1 - i;
    if (rle) {
      pixels += RleRow(p, f.compression == 2, y);
      pixels += i + 1 < p.height ? std::string("\0\0", 2) : std::string("\0\1", 2);
    } else {
      pixels += PixelRow(p, f, y);
    }
  }

  std::string info;
  if (f.header == 12) {
    PutU32(info, 12);
    PutU16(info, static_cast<uint32_t>(p.width));
    PutU16(info, static_cast<uint32_t>(p.height));
    PutU16(info, 1);
    PutU16(info, static_cast<uint32_t>(f.bpp));
  } else {
    PutU32(info, static_cast<uint32_t>(f.header));
    PutU32(info, static_cast<uint32_t>(p.width));
    PutU32(info, static_cast<uint32_t>(f.topDown ? -p.height : p.height));
    PutU16(info, 1);
    PutU16(info, static_cast<uint32_t>(f.bpp));
    PutU32(info, f.compression);
    PutU32(info, static_cast<uint32_t>(pixels.size()));
    PutU32(info, 2835);  // 72 dots per inch
    PutU32(info, 2835);
    PutU32(info, f.bpp <= 8 ? static_cast<uint32_t>(p.colours.size()) : 0);
    PutU32(info, 0);
    if (f.header > 40) {
      for (uint32_t m : f.masks) PutU32(info, m);
      PutU32(info, f.alphaMask);
      info += "BGRs";  // colour space: sRGB
      info.resize(static_cast<size_t>(f.header), '\0');
    } else if (f.compression == 3) {
      for (uint32_t m : f.masks) PutU32(info, m);
    }
  }
  if (f.bpp <= 8)
    for (const Colour& c : p.colours) {
      info += {static_cast<char>(c.b), static_cast<char>(c.g), static_cast<char>(c.r)};
      if (f.header != 12) info += '\0';
    }

  std::string file = "BM";
  PutU32(file, static_cast<uint32_t>(14 + info.size() + pixels.size()));
  PutU32(file, 0);
  PutU32(file, static_cast<uint32_t>(14 + info.size()));
  return file + info + pixels;
}

}  // namespace varn::test
