// The BMP decoder on files built here: one picture in every depth,
// compression, header and row order; the size limits; run-length codes
// written by hand; broken files, each refused with its reason; files on disk.
#include "driver/base/bitmap.h"

#include <filesystem>
#include <fstream>

#include "platform/errors.h"
#include "platform/testing/child_process.h"
#include "tests/driver/base/bmp_writer.h"
#include "tests/support/test_env.h"

namespace varn::test {
namespace {

using ::testing::HasSubstr;

TMonoBitmap Decode(const std::string& file, TBitmapLimits limits = {}) {
  return DecodeBmp({reinterpret_cast<const uint8_t*>(file.data()), file.size()}, limits);
}

// The reason a broken file is refused ("" when it is not).
std::string Refusal(const std::string& file) {
  try {
    Decode(file);
  } catch (const EBitmapError& e) {
    return e.what();
  }
  return "";
}

void ExpectPicture(const TMonoBitmap& got, const TestPicture& want, int x0 = 0, int y0 = 0) {
  for (int y = 0; y < got.height; ++y)
    for (int x = 0; x < got.width; ++x)
      ASSERT_EQ(got.IsBlack(x, y), want.Dark(x0 + x, y0 + y)) << "x " << x << ", y " << y;
}

const TestPicture kFour = MakePicture(13, 5, {kWhite, kBlack, kDarkRed, kPaleYellow},
                                      [](int x, int y) { return x < 5 ? y : x * 3 + y; });
// Palette entry 0 is white: the file's palette decides, not the index.
const TestPicture kTwo =
    MakePicture(13, 5, {kWhite, kBlack}, [](int x, int y) { return x < 5 ? y : x * 3 + y; });

TEST(BitmapTest, EveryDepthCompressionHeaderAndRowOrderGivesThePicture) {
  const std::array<uint32_t, 3> k565{0xF800, 0x07E0, 0x001F};
  const std::array<uint32_t, 3> k101010{0x3FF00000, 0x000FFC00, 0x000003FF};
  const std::array<uint32_t, 3> kBgr{0x000000FF, 0x0000FF00, 0x00FF0000};
  const BmpFormat formats[] = {
      {1},
      {1, 0, 12},
      {4},
      {4, 0, 12},
      {8},
      {8, 0, 12},
      {8, 0, 40, true},
      {4, 2},
      {8, 1},
      {8, 1, 124},
      {16},
      {16, 3, 40, false, k565},
      {16, 3, 108, true, k565},
      {24},
      {24, 0, 12},
      {24, 0, 124, true},
      {32},
      {32, 3, 40, false, k101010},
      {32, 3, 124, true, kBgr},
      {32, 0, 108},
  };
  for (const BmpFormat& f : formats) {
    SCOPED_TRACE(testing::Message() << f.bpp << " bits, compression " << f.compression
                                    << ", header " << f.header << (f.topDown ? ", top-down" : ""));
    const TestPicture& p = f.bpp == 1 ? kTwo : kFour;
    const TMonoBitmap got = Decode(EncodeBmp(p, f));
    ASSERT_EQ(got.width, 13);
    ASSERT_EQ(got.height, 5);
    EXPECT_EQ(got.RowBytes(), 2u);
    ExpectPicture(got, p);
    // The three bits past the width are white, whatever the last pixels were.
    for (int y = 0; y < 5; ++y) EXPECT_EQ(got.Row(y)[1] & 0x07, 0x07);
  }
}

TEST(BitmapTest, OpacityIsLaidOnWhitePaper) {
  // Black at five opacities: only what shows dark on white paper prints.
  const Colour clear{0, 0, 0, false, 0}, faint{0, 0, 0, false, 64}, strong{0, 0, 0, true, 200};
  const TestPicture shades = MakePicture(13, 5, {kWhite, kBlack, clear, faint, strong},
                                         [](int x, int y) { return x + 2 * y; });
  const TestPicture onOff =
      MakePicture(13, 5, {kWhite, kBlack, clear}, [](int x, int y) { return x * y + x; });
  const std::array<uint32_t, 3> k444{0x0F00, 0x00F0, 0x000F};
  const std::array<uint32_t, 3> k555{0x7C00, 0x03E0, 0x001F};
  const std::array<uint32_t, 3> k888{0xFF0000, 0xFF00, 0xFF};
  struct Case {
    BmpFormat format;
    const TestPicture& picture;
  };
  const Case cases[] = {
      {{32, 3, 124, false, k888, 0xFF000000}, shades},
      {{32, 3, 108, true, k888, 0xFF000000}, shades},
      {{32, 0, 124, false, {}, 0xFF000000}, shades},  // the fixed layout's free byte
      {{16, 3, 108, false, k444, 0xF000}, shades},
      {{16, 3, 124, false, k555, 0x8000}, onOff},
      {{16, 0, 108, false, {}, 0x8000}, onOff},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.format.bpp << " bits, compression " << c.format.compression
                                    << ", header " << c.format.header);
    ExpectPicture(Decode(EncodeBmp(c.picture, c.format)), c.picture);
  }

  // Without an opacity mask the spare bits mean nothing: every black is black.
  const TMonoBitmap plain = Decode(EncodeBmp(shades, {32, 0, 40, false, {}, 0xFF000000}));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 13; ++x)
      EXPECT_EQ(plain.IsBlack(x, y), shades.At(x, y) != 0) << x << ", " << y;

  // An opacity mask over a colour's bits is refused like any bad mask.
  EXPECT_EQ(Refusal(EncodeBmp(shades, {32, 3, 124, false, k888, 0xFF800000})),
            "неверные маски цветов");
}

TEST(BitmapTest, TheLimitsKeepTheTopLeftPart) {
  const TestPicture big =
      MakePicture(400, 300, {kWhite, kBlack}, [](int x, int y) { return x / 7 + y / 3 + x * y; });
  for (const BmpFormat& f : {BmpFormat{24}, BmpFormat{24, 0, 40, true}, BmpFormat{8, 1}}) {
    const TMonoBitmap got = Decode(EncodeBmp(big, f), {320, 200});
    EXPECT_EQ(got.width, 320);
    EXPECT_EQ(got.height, 200);
    EXPECT_EQ(got.fileWidth, 400);
    EXPECT_EQ(got.fileHeight, 300);
    EXPECT_EQ(got.bits.size(), 40u * 200);
    ExpectPicture(got, big);
  }
  EXPECT_EQ(Decode(EncodeBmp(kFour, {8}), {320, 1200}).height, 5);
}

// The header of an 8-bit run-length file of w x h with the palette given,
// followed by `codes`.
std::string RleFile(int w, int h, std::vector<Colour> palette, const std::string& codes,
                    int bpp = 8) {
  const TestPicture p = MakePicture(w, h, std::move(palette), [](int, int) { return 0; });
  const std::string file = EncodeBmp(p, {bpp, bpp == 8 ? 1u : 2u});
  return file.substr(0, static_cast<size_t>(static_cast<uint8_t>(file[kOffBits]))) + codes;
}

TEST(BitmapTest, RunLengthMovesEndsAndLiterals) {
  // Bottom row first: skip to x 3 of the row above, two black pixels, end of
  // line, a literal B W B, end of picture. Untouched pixels take entry 0.
  const std::string codes = Bytes({0, 2, 3, 1, 2, 1, 0, 0, 0, 3, 1, 0, 1, 0, 0, 1});
  TMonoBitmap got = Decode(RleFile(6, 4, {kPaleYellow, kBlack}, codes));
  const char* want[] = {"......", "#.#...", "...##.", "......"};  // top row first
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(got.IsBlack(x, y), want[y][x] == '#') << x << "," << y;
  // With a black entry 0 the untouched pixels are black.
  got = Decode(RleFile(6, 4, {kBlack, kWhite}, codes));
  EXPECT_TRUE(got.IsBlack(0, 0));
  EXPECT_FALSE(got.IsBlack(3, 2));

  // 4 bits: a run alternates the two nibbles; a literal of 3 takes 2 bytes.
  got = Decode(RleFile(8, 1, {kWhite, kBlack}, Bytes({5, 0x10, 0, 3, 0x01, 0x00, 0, 1}), 4));
  for (int x = 0; x < 8; ++x) EXPECT_EQ(got.IsBlack(x, 0), (0x55 >> x & 1) != 0) << x;  // #.#.#.#.
}

TEST(BitmapTest, BrokenFilesAreRefusedWithTheirReason) {
  const std::string good = EncodeBmp(kFour, {8});
  auto with = [&](size_t at, uint32_t v, std::string file = "") {
    if (file.empty()) file = good;
    SetU32(file, at, v);
    return file;
  };
  const std::string fields = EncodeBmp(kFour, {16, 3, 40, false, {0xF800, 0x07E0, 0x001F}});
  const std::string rle = good.substr(0, static_cast<size_t>(good[kOffBits]));  // 13 x 5
  auto rleWith = [&](std::initializer_list<int> codes) {
    return with(kCompressionAt, 1, rle + Bytes(codes));
  };
  const struct {
    std::string file, reason;
  } cases[] = {
      {"", "это не файл BMP"},
      {"BA" + good.substr(2), "это не файл BMP"},
      {good.substr(0, 16), "файл обрывается в заголовке"},
      {good.substr(0, 40), "файл обрывается в заголовке"},
      {with(14, 64), "заголовок длиной 64 байт не поддерживается"},
      {with(kBppAt, 2), "глубина цвета 2 бит не поддерживается"},
      {with(kCompressionAt, 4), "сжатие 4 не поддерживается"},
      {with(kCompressionAt, 2), "сжатие 2 не годится для глубины цвета 8 бит"},
      {with(kWidthAt, 0), "неверная ширина картинки"},
      {with(kWidthAt, 0xFFFFFFF3), "неверная ширина картинки"},
      {with(kHeightAt, 0), "неверная высота картинки"},
      {with(kWidthAt, 0x7FFFFFFF), "данные картинки обрываются: файл неполон"},
      {with(kHeightAt, 0x7FFFFFFF), "данные картинки обрываются: файл неполон"},
      {with(kHeightAt, 0x80000000), "данные картинки обрываются: файл неполон"},
      {good.substr(0, good.size() - 1), "данные картинки обрываются: файл неполон"},
      {with(kOffBits, static_cast<uint32_t>(good.size() + 1)), "неверное смещение данных"},
      {with(kOffBits, 0xFFFFFFFF), "неверное смещение данных"},
      {with(kOffBits, 20), "неверное смещение данных"},
      {with(kOffBits, 54), "нет палитры"},
      {with(kMasksAt, 0xFC00, fields), "неверные маски цветов"},    // overlaps green
      {with(kMasksAt, 0xF00F, fields), "неверные маски цветов"},    // not one run
      {with(kMasksAt, 0, fields), "неверные маски цветов"},         // no red
      {with(kMasksAt, 0x1F0000, fields), "неверные маски цветов"},  // past 16 bits
      {with(kHeightAt, static_cast<uint32_t>(-5), rleWith({0, 1})), "сверху вниз"},
      {rleWith({14, 1}), "серия RLE выходит за строку"},
      {rleWith({10, 1, 0, 4, 1, 1, 1, 1}), "серия RLE выходит за строку"},
      {rleWith({0, 2, 14, 0}), "сдвиг RLE выходит за картинку"},
      {rleWith({0, 2, 0, 6}), "сдвиг RLE выходит за картинку"},
      {rleWith({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), "данные RLE за пределами картинки"},
      {rleWith({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1}), "данные RLE за пределами картинки"},
      {rleWith({0, 10, 1, 2, 3}), "данные RLE обрываются: файл неполон"},
      {rleWith({3, 1, 0, 0}), "данные RLE обрываются: файл неполон"},
      {rleWith({0, 2, 1}), "данные RLE обрываются: файл неполон"},
  };
  for (const auto& c : cases) EXPECT_THAT(Refusal(c.file), HasSubstr(c.reason)) << c.reason;

  // Cut anywhere, a file is refused (run-length data ends with its end code).
  for (const std::string& file :
       {good, fields, EncodeBmp(kFour, {4, 2}), EncodeBmp(kTwo, {1, 0, 12})})
    for (size_t n = 0; n < file.size(); ++n) ASSERT_NE(Refusal(file.substr(0, n)), "") << n;
}

TEST(BitmapTest, FilesOnDisk) {
  TempEnv env;
  const std::string path = env.Path("logo.bmp");
  std::ofstream(path, std::ios::binary) << EncodeBmp(kFour, {4});
  ExpectPicture(LoadBmpFile(path, {}), kFour);

  auto failure = [](const std::string& p) -> std::pair<int, std::string> {
    try {
      LoadBmpFile(p, {});
    } catch (const EOSError& e) {
      return {e.Errno, e.what()};
    } catch (const EBitmapError& e) {
      return {0, e.what()};
    }
    return {-1, ""};
  };
  const std::string missing = env.Path("none.bmp");
  EXPECT_EQ(failure(missing),
            std::make_pair(ENOENT, "Не удалось открыть файл \"" + missing + "\": файл не найден."));
  EXPECT_EQ(failure(env.Dir()).second,
            "Не удалось открыть файл \"" + env.Dir() + "\": это не обычный файл.");
  // A pipe nobody writes to is refused at once instead of waiting for a writer.
  const std::string fifo = env.Path("fifo.bmp");
  ChildProcess("/usr/bin/mkfifo", {fifo}, env.Path("mkfifo.out")).Wait(kPatience);
  EXPECT_EQ(failure(fifo).first, EINVAL);
  const std::string huge = env.Path("huge.bmp");
  std::ofstream(huge, std::ios::binary) << EncodeBmp(kFour, {24});
  std::filesystem::resize_file(huge, kMaxBitmapFileBytes + 1);  // sparse: costs no disk
  EXPECT_EQ(failure(huge),
            std::make_pair(EFBIG, "Не удалось открыть файл \"" + huge + "\": файл больше 64 МБ."));
  std::ofstream(path, std::ios::binary) << "GIF89a";
  EXPECT_EQ(
      failure(path),
      std::make_pair(0, "Файл \"" + path + "\" не читается как картинка BMP: это не файл BMP."));
}

}  // namespace
}  // namespace varn::test
