// The BMP decoder. Every offset and length is checked against the file's
// real size in 64-bit arithmetic before it is used; the only allocation is
// the kept part of the picture (at most the limits).
#include "driver/base/bitmap.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>

#include "platform/errors.h"
#include "platform/files.h"
#include "protocol/graphics.h"

namespace varn {
namespace {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;

constexpr uint64_t kFileHeaderBytes = 14;
constexpr uint64_t kCoreHeaderBytes = 12;
constexpr uint64_t kInfoHeaderBytes = 40;

[[noreturn]] void Fail(const std::string& why) {
  throw EBitmapError(why);
}

std::string Num(uint64_t n) {
  return std::to_string(n);
}

// Little-endian reads; the caller has checked the range.
uint32_t U16(std::span<const uint8_t> d, uint64_t at) {
  return uint32_t{d[at]} | uint32_t{d[at + 1]} << 8;
}
uint32_t U32(std::span<const uint8_t> d, uint64_t at) {
  return U16(d, at) | U16(d, at + 2) << 16;
}

// One colour channel of a 16- or 32-bit pixel, scaled to 0..255.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint64_t top = 1;  // the channel's largest value

  static Channel Of(uint32_t mask) {
    Channel c;
    c.mask = mask;
    c.shift = std::countr_zero(mask);
    c.top = (uint64_t{1} << std::popcount(mask)) - 1;
    return c;
  }
  uint8_t Value(uint32_t pixel) const {
    const uint64_t v = (pixel & mask) >> shift;
    return static_cast<uint8_t>((v * 255 + top / 2) / top);
  }
};

// A mask must be one run of set bits inside the pixel, apart from the others.
void CheckMasks(std::span<const uint32_t> masks, int bpp) {
  const uint64_t pixelBits = bpp == 32 ? 0xFFFFFFFFull : (uint64_t{1} << bpp) - 1;
  uint32_t seen = 0;
  for (uint32_t m : masks) {
    const uint32_t run = m >> std::countr_zero(m | 0x80000000u);
    if (m == 0 || m > pixelBits || (run & (run + 1)) != 0 || (seen & m) != 0)
      Fail("неверные маски цветов");
    seen |= m;
  }
}

// A colour channel seen through its pixel's opacity on white paper.
uint8_t OnPaper(uint8_t colour, uint8_t alpha) {
  return static_cast<uint8_t>((colour * alpha + 255u * (255u - alpha) + 127u) / 255u);
}

struct Layout {
  int64_t width = 0;
  int64_t height = 0;  // positive
  bool topDown = false;
  int bpp = 0;
  uint32_t compression = kBiRgb;
  uint64_t pixelOffset = 0;
  std::array<bool, 256> darkIndex{};  // colours past the palette are black
  std::array<Channel, 3> rgb{};
  bool hasAlpha = false;  // then `alpha` is the opacity channel
  Channel alpha{};
};

Layout ReadHeaders(std::span<const uint8_t> d) {
  const uint64_t size = d.size();
  if (size < 2 || d[0] != 'B' || d[1] != 'M') Fail("это не файл BMP");
  if (size < kFileHeaderBytes + 4) Fail("файл обрывается в заголовке");
  const uint64_t headerBytes = U32(d, kFileHeaderBytes);
  if (headerBytes != kCoreHeaderBytes && headerBytes != kInfoHeaderBytes && headerBytes != 108 &&
      headerBytes != 124)
    Fail("заголовок длиной " + Num(headerBytes) + " байт не поддерживается");
  if (size < kFileHeaderBytes + headerBytes) Fail("файл обрывается в заголовке");

  Layout l;
  const uint64_t h = kFileHeaderBytes;
  uint64_t colours = 0;  // palette entries the header asks for (0: all)
  uint64_t entryBytes = 4;
  if (headerBytes == kCoreHeaderBytes) {
    l.width = U16(d, h + 4);
    l.height = U16(d, h + 6);  // unsigned: always bottom-up
    l.bpp = static_cast<int>(U16(d, h + 10));
    entryBytes = 3;
    if (l.bpp != 1 && l.bpp != 4 && l.bpp != 8 && l.bpp != 24)
      Fail("глубина цвета " + Num(static_cast<uint64_t>(l.bpp)) + " бит не поддерживается");
  } else {
    l.width = static_cast<int32_t>(U32(d, h + 4));
    const int64_t height = static_cast<int32_t>(U32(d, h + 8));
    l.topDown = height < 0;
    l.height = l.topDown ? -height : height;
    l.bpp = static_cast<int>(U16(d, h + 14));
    l.compression = U32(d, h + 16);
    colours = U32(d, h + 32);
    if (l.bpp != 1 && l.bpp != 4 && l.bpp != 8 && l.bpp != 16 && l.bpp != 24 && l.bpp != 32)
      Fail("глубина цвета " + Num(static_cast<uint64_t>(l.bpp)) + " бит не поддерживается");
    const bool fits = l.compression == kBiRgb || (l.compression == kBiRle8 && l.bpp == 8) ||
                      (l.compression == kBiRle4 && l.bpp == 4) ||
                      (l.compression == kBiBitfields && (l.bpp == 16 || l.bpp == 32));
    if (!fits) {
      if (l.compression > kBiBitfields) Fail("сжатие " + Num(l.compression) + " не поддерживается");
      Fail("сжатие " + Num(l.compression) + " не годится для глубины цвета " +
           Num(static_cast<uint64_t>(l.bpp)) + " бит");
    }
  }
  if (l.width <= 0) Fail("неверная ширина картинки");
  if (l.height == 0) Fail("неверная высота картинки");
  const bool rle = l.compression == kBiRle8 || l.compression == kBiRle4;
  if (rle && l.topDown) Fail("сжатая картинка не может храниться сверху вниз");

  // Colour masks: after a 40-byte header, inside the longer ones.
  uint64_t paletteAt = h + headerBytes;
  std::array<uint32_t, 3> masks{0x7C00, 0x03E0, 0x001F};
  if (l.bpp == 32) masks = {0xFF0000, 0xFF00, 0xFF};
  if (l.compression == kBiBitfields) {
    const uint64_t at = h + kInfoHeaderBytes;
    if (headerBytes == kInfoHeaderBytes) {
      if (size < at + 12) Fail("файл обрывается в заголовке");
      paletteAt += 12;
    }
    masks = {U32(d, at), U32(d, at + 4), U32(d, at + 8)};
    CheckMasks(masks, l.bpp);
  }
  for (size_t i = 0; i < 3; ++i) l.rgb[i] = Channel::Of(masks[i]);
  // The longer headers carry an opacity mask after the colour ones. With
  // bit fields it is any free run of bits; the fixed layouts honour it only
  // where it names the bits they leave unused.
  if (headerBytes >= 108 && (l.bpp == 16 || l.bpp == 32)) {
    const uint32_t alpha = U32(d, h + kInfoHeaderBytes + 12);
    const uint32_t unused = l.bpp == 32 ? 0xFF000000u : 0x8000u;
    if (alpha != 0 && (l.compression == kBiBitfields || alpha == unused)) {
      const std::array<uint32_t, 4> all{masks[0], masks[1], masks[2], alpha};
      CheckMasks(all, l.bpp);
      l.hasAlpha = true;
      l.alpha = Channel::Of(alpha);
    }
  }

  l.pixelOffset = U32(d, 10);
  if (l.pixelOffset < paletteAt || l.pixelOffset > size)
    Fail("неверное смещение данных картинки (" + Num(l.pixelOffset) + ")");

  l.darkIndex.fill(true);
  if (l.bpp <= 8) {
    const uint64_t most = uint64_t{1} << l.bpp;
    // A palette cut short by the data offset: the entries that are there.
    const uint64_t there = (l.pixelOffset - paletteAt) / entryBytes;
    const uint64_t count = std::min({colours == 0 ? most : std::min(colours, most), there});
    if (count == 0) Fail("нет палитры");
    for (uint64_t i = 0; i < count; ++i) {
      const uint64_t at = paletteAt + i * entryBytes;
      l.darkIndex[i] = IsDark(d[at + 2], d[at + 1], d[at]);
    }
  }
  return l;
}

class Canvas {
 public:
  explicit Canvas(TMonoBitmap& out) : m_out(out) {}
  void Put(int64_t x, int64_t y, bool dark) {
    uint8_t& byte =
        m_out.bits[static_cast<size_t>(y) * m_out.RowBytes() + static_cast<size_t>(x / 8)];
    const auto bit = static_cast<uint8_t>(0x80 >> (x % 8));
    byte = dark ? static_cast<uint8_t>(byte & ~bit) : static_cast<uint8_t>(byte | bit);
  }

 private:
  TMonoBitmap& m_out;
};

// A 16- or 32-bit pixel: what shows of it on the paper, which is white.
bool MaskedIsDark(const Layout& l, uint32_t p) {
  uint8_t r = l.rgb[0].Value(p), g = l.rgb[1].Value(p), b = l.rgb[2].Value(p);
  if (l.hasAlpha) {
    const uint8_t a = l.alpha.Value(p);
    r = OnPaper(r, a);
    g = OnPaper(g, a);
    b = OnPaper(b, a);
  }
  return IsDark(r, g, b);
}

bool PixelIsDark(const Layout& l, const uint8_t* row, int64_t x) {
  const auto i = static_cast<size_t>(x);
  switch (l.bpp) {
    case 1:
      return l.darkIndex[(row[i / 8] >> (7 - i % 8)) & 1];
    case 4:
      return l.darkIndex[(row[i / 2] >> (i % 2 ? 0 : 4)) & 0xF];
    case 8:
      return l.darkIndex[row[i]];
    case 16:
      return MaskedIsDark(l, uint32_t{row[2 * i]} | uint32_t{row[2 * i + 1]} << 8);
    case 24:
      return IsDark(row[3 * i + 2], row[3 * i + 1], row[3 * i]);
    default: {
      const uint8_t* p4 = row + 4 * i;
      return MaskedIsDark(l, uint32_t{p4[0]} | uint32_t{p4[1]} << 8 | uint32_t{p4[2]} << 16 |
                                 uint32_t{p4[3]} << 24);
    }
  }
}

void DecodeRows(std::span<const uint8_t> d, const Layout& l, TMonoBitmap& out) {
  const uint64_t stride =
      (static_cast<uint64_t>(l.width) * static_cast<uint64_t>(l.bpp) + 31) / 32 * 4;
  const uint64_t there = d.size() - l.pixelOffset;
  // Both tests before the product: it cannot overflow once they pass. And
  // the rows must all be there before anything is allocated.
  if (stride > there || static_cast<uint64_t>(l.height) > there / stride)
    Fail("данные картинки обрываются: файл неполон");
  out.bits.assign(out.RowBytes() * static_cast<size_t>(out.height), 0xFF);
  Canvas canvas(out);
  for (int64_t y = 0; y < out.height; ++y) {
    const int64_t fileRow = l.topDown ? y : l.height - 1 - y;
    const uint8_t* row = d.data() + l.pixelOffset + static_cast<uint64_t>(fileRow) * stride;
    for (int64_t x = 0; x < out.width; ++x) canvas.Put(x, y, PixelIsDark(l, row, x));
  }
}

// Run-length data, bottom row first. Pixels no code reaches keep the colour
// of palette entry 0. A run, literal or move that leaves the picture is an
// error, and so is data that ends before the picture does.
void DecodeRle(std::span<const uint8_t> d, const Layout& l, TMonoBitmap& out) {
  const bool four = l.compression == kBiRle4;
  out.bits.assign(out.RowBytes() * static_cast<size_t>(out.height), 0xFF);
  Canvas canvas(out);
  for (int64_t y = 0; y < out.height; ++y)
    for (int64_t x = 0; x < out.width; ++x) canvas.Put(x, y, l.darkIndex[0]);

  // Image row of a file row, or -1 when it is not kept.
  auto keptRow = [&](int64_t fileRow) {
    const int64_t y = l.height - 1 - fileRow;
    return y < out.height ? y : int64_t{-1};
  };
  auto paint = [&](int64_t fileRow, int64_t x0, int64_t n, auto indexAt) {
    if (fileRow >= l.height) Fail("данные RLE за пределами картинки");
    if (x0 + n > l.width) Fail("серия RLE выходит за строку");
    const int64_t y = keptRow(fileRow);
    if (y < 0) return;
    for (int64_t i = 0; i < n && x0 + i < out.width; ++i)
      canvas.Put(x0 + i, y, l.darkIndex[indexAt(i)]);
  };

  const uint64_t size = d.size();
  uint64_t pos = l.pixelOffset;
  int64_t x = 0, row = 0;
  for (;;) {
    if (pos + 2 > size) {
      if (row >= l.height) return;  // ended by its last end of line
      Fail("данные RLE обрываются: файл неполон");
    }
    const uint8_t count = d[pos], value = d[pos + 1];
    pos += 2;
    if (count > 0) {
      paint(row, x, count, [&](int64_t i) -> uint8_t {
        return four ? (i % 2 ? value & 0xF : value >> 4) : value;
      });
      x += count;
      continue;
    }
    switch (value) {
      case 0:  // end of line
        if (++row > l.height) Fail("данные RLE за пределами картинки");
        x = 0;
        break;
      case 1:  // end of picture
        return;
      case 2:  // move right and up
        if (pos + 2 > size) Fail("данные RLE обрываются: файл неполон");
        x += d[pos];
        row += d[pos + 1];
        pos += 2;
        if (x > l.width || row > l.height) Fail("сдвиг RLE выходит за картинку");
        break;
      default: {  // `value` pixels given one by one, padded to 16 bits
        const uint64_t bytes = four ? (value + 1u) / 2 : value;
        if (pos + bytes > size) Fail("данные RLE обрываются: файл неполон");
        const uint8_t* literal = d.data() + pos;
        paint(row, x, value, [&](int64_t i) -> uint8_t {
          const auto k = static_cast<size_t>(i);
          return four ? (k % 2 ? literal[k / 2] & 0xF : literal[k / 2] >> 4) : literal[k];
        });
        x += value;
        pos = std::min(size, pos + bytes + bytes % 2);
        break;
      }
    }
  }
}

// Russian texts for the file errors a user can act on; the system's otherwise.
std::string Reason(const EOSError& e) {
  switch (e.Errno) {
    case ENOENT:
      return "файл не найден";
    case EACCES:
      return "нет доступа";
    case EFBIG:
      return "файл больше " + Num(kMaxBitmapFileBytes >> 20) + " МБ";
    case EINVAL:
    case EISDIR:
      return "это не обычный файл";
    default:
      return e.what();
  }
}

}  // namespace

TMonoBitmap DecodeBmp(std::span<const uint8_t> file, TBitmapLimits limits) {
  const Layout l = ReadHeaders(file);
  TMonoBitmap out;
  out.fileWidth = l.width;
  out.fileHeight = l.height;
  out.width = static_cast<int>(std::clamp<int64_t>(l.width, 0, std::max(limits.maxWidth, 0)));
  out.height = static_cast<int>(std::clamp<int64_t>(l.height, 0, std::max(limits.maxHeight, 0)));
  if (l.compression == kBiRle8 || l.compression == kBiRle4)
    DecodeRle(file, l, out);
  else
    DecodeRows(file, l, out);
  return out;
}

TMonoBitmap LoadBmpFile(const std::string& path, TBitmapLimits limits) {
  const std::string name = "\"" + path + "\"";
  std::string bytes;
  try {
    bytes = ReadRegularFile(path, kMaxBitmapFileBytes);
  } catch (const EOSError& e) {
    throw EOSError(e.Errno, "Не удалось открыть файл " + name + ": " + Reason(e) + ".");
  }
  try {
    return DecodeBmp({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, limits);
  } catch (const EBitmapError& e) {
    throw EBitmapError("Файл " + name + " не читается как картинка BMP: " + e.what() + ".");
  }
}

std::string DeviceLineBytes(const TMonoBitmap& bitmap, int y, int w) {
  std::string line((static_cast<size_t>(w) + 7) / 8, '\0');
  for (int x = 0; x < w; ++x)
    if (bitmap.IsBlack(x, y)) protocol::SetDot(line, x);
  return line;
}

int DeviceLineCount(const TMonoBitmap& bitmap, int rowLimit) {
  return std::min(bitmap.height, rowLimit);
}

void SendDeviceLines(const TMonoBitmap& bitmap, int rowLimit,
                     const std::function<bool(int line, const std::string& bytes)>& send) {
  const int w = std::min(bitmap.width, protocol::kLineDots);
  for (int y = 0; y < DeviceLineCount(bitmap, rowLimit); ++y)
    if (!send(y, DeviceLineBytes(bitmap, y, w))) return;
}

}  // namespace varn
