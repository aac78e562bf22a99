// Reading Windows bitmap (BMP) files into the monochrome rows the device's
// graphics lines are made of. Bitmap files come from users: the decoder
// checks every header value against the bytes the file really holds before
// it reads or allocates anything, and keeps only the top-left part the
// device can print, so its memory is bounded by the limits, not the file.
//
//   TMonoBitmap picture = LoadBmpFile("/tmp/logo.bmp", {320, 200});
//   for (int y = 0; y < picture.height; ++y) Use(picture.Row(y), picture.RowBytes());
//
// Read: 1, 4, 8, 16, 24 and 32 bits per pixel; BI_RGB, BI_BITFIELDS,
// BI_RLE4, BI_RLE8; bottom-up and top-down rows; the 12-, 40-, 108- and
// 124-byte info headers. Anything else, and any file whose contents do not
// agree with its headers, raises EBitmapError with the reason.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace varn {

// A file that is not a bitmap this decoder reads. Not an EDriverError: the
// driver reports it like any failure that carries no result code.
class EBitmapError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TBitmapLimits {
  int maxWidth = 320;    // pixels kept of each row, from the left
  int maxHeight = 1200;  // rows kept, from the top
};

// One bit per pixel, rows top first, ⌈width / 8⌉ bytes each, the leftmost
// pixel in the most significant bit, 1 = white and 0 = black (a 1-bit
// bitmap row with a black-and-white palette, without row padding). The bits
// past `width` in the last byte of a row are white.
struct TMonoBitmap {
  int width = 0;           // kept: at most the limit
  int height = 0;          // kept: at most the limit
  int64_t fileWidth = 0;   // as the file gives them
  int64_t fileHeight = 0;  // (positive, whichever the row order)
  std::vector<uint8_t> bits;

  size_t RowBytes() const { return (static_cast<size_t>(width) + 7) / 8; }
  const uint8_t* Row(int y) const { return bits.data() + static_cast<size_t>(y) * RowBytes(); }
  bool IsBlack(int x, int y) const { return (Row(y)[x / 8] & (0x80 >> (x % 8))) == 0; }
};

// Decodes a whole BMP file held in memory; EBitmapError when it cannot.
TMonoBitmap DecodeBmp(std::span<const uint8_t> file, TBitmapLimits limits);

// The largest file LoadBmpFile reads.
inline constexpr size_t kMaxBitmapFileBytes = 64u << 20;

// Reads and decodes a file: EOSError (with the system's error number) when
// the file cannot be read, EBitmapError when it is not a bitmap it reads;
// both messages name the file.
TMonoBitmap LoadBmpFile(const std::string& path, TBitmapLimits limits);

// The device's graphics line for row y of the picture, its left w dots:
// ⌈w / 8⌉ bytes. A black pixel is a 0 bit in the row and a set bit is a
// dot, hence the inversion; the device counts dots from bit 0, the row from
// bit 7, hence the mirroring. Dots past w stay clear, so the end of the last
// byte never prints.
std::string DeviceLineBytes(const TMonoBitmap& bitmap, int y, int w);

// The rows of the picture that become graphics lines: the top
// min(height, rowLimit).
int DeviceLineCount(const TMonoBitmap& bitmap, int rowLimit);
// The picture as the device's graphics lines, row y as line y, each row's
// left dots a line holds: `send` gets them in turn, top first, and returns
// false to stop.
void SendDeviceLines(const TMonoBitmap& bitmap, int rowLimit,
                     const std::function<bool(int line, const std::string& bytes)>& send);

// Nearest of black and white by luminance (ITU-R BT.601 weights).
inline bool IsDark(uint8_t r, uint8_t g, uint8_t b) {
  return 299u * r + 587u * g + 114u * b < 127500u;
}

}  // namespace varn
