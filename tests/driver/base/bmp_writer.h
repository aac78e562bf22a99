// Bitmap files built by the tests: a picture of a few colours written in any
// depth, compression, header and row order the decoder reads, plus the
// little-endian helpers to write broken ones by hand.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace varn::test {

struct Colour {
  uint8_t r = 0, g = 0, b = 0;
  bool dark = false;  // what the picture must show: far from the threshold either way
  uint8_t a = 255;    // opacity, written only with an alpha mask
};

inline const Colour kBlack{0, 0, 0, true};
inline const Colour kWhite{255, 255, 255, false};
inline const Colour kDarkRed{128, 0, 0, true};
inline const Colour kPaleYellow{255, 255, 128, false};

struct TestPicture {
  int width = 0, height = 0;
  std::vector<Colour> colours;
  std::vector<uint8_t> index;  // top row first

  uint8_t At(int x, int y) const { return index[static_cast<size_t>(y * width + x)]; }
  bool Dark(int x, int y) const { return colours[At(x, y)].dark; }
};

// Pixel x, y gets colours[f(x, y) % colours.size()].
template <class F>
TestPicture MakePicture(int width, int height, std::vector<Colour> colours, F f) {
  TestPicture p{width, height, std::move(colours), {}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      p.index.push_back(static_cast<uint8_t>(f(x, y) % static_cast<int>(p.colours.size())));
  return p;
}

struct BmpFormat {
  int bpp = 24;
  uint32_t compression = 0;  // 0 RGB, 1 RLE8, 2 RLE4, 3 bit fields
  int header = 40;           // 12, 40, 108, 124
  bool topDown = false;
  std::array<uint32_t, 3> masks{};  // red, green, blue (bit fields)
  uint32_t alphaMask = 0;           // in the pixels and in a 108/124-byte header
};

inline void PutU16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
inline void PutU32(std::string& s, uint32_t v) {
  PutU16(s, v & 0xFFFF);
  PutU16(s, v >> 16);
}
inline void SetU32(std::string& s, size_t at, uint32_t v) {
  std::string b;
  PutU32(b, v);
  s.replace(at, 4, b);
}

// Offsets in a file with a 40-byte or longer header.
inline constexpr size_t kOffBits = 10, kWidthAt = 18, kHeightAt = 22, kBppAt = 28,
                        kCompressionAt = 30, kColoursAt = 46, kMasksAt = 54;

std::string EncodeBmp(const TestPicture& p, const BmpFormat& f);

}  // namespace varn::test
