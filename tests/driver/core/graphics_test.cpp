// Pictures end to end: a bitmap file through the driver object, the port
// server started on demand and the emulated device onto its paper (text
// and PNG), and the same from the varn command line.

#include <fstream>
#include <regex>

#include "platform/testing/child_process.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "tests/driver/core/driver_fixture.h"
#include "tests/driver/base/bmp_writer.h"
#include "tests/support/paper_png.h"

namespace varn::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using Result = std::pair<int32_t, std::string>;

using Png = PaperPng;

// The texts of the log's lines that name a loading method or its result.
std::vector<std::string> LoadLines(const std::string& log) {
  static const std::regex kLine(R"(\d\d:\d\d:\d\d\.\d{3} (Load[^\r\n]*)\r\n)");
  std::vector<std::string> out;
  for (auto it = std::sregex_iterator(log.begin(), log.end(), kLine); it != std::sregex_iterator();
       ++it)
    out.push_back((*it)[1]);
  return out;
}

// Every frame the driver sent, in order, from the log's "-> " lines.
std::vector<std::string> SentFrames(const std::string& log) {
  static const std::regex kLine(R"(\d\d:\d\d:\d\d\.\d{3} -> ([0-9A-F ]*)\r\n)");
  std::string bytes;
  for (auto it = std::sregex_iterator(log.begin(), log.end(), kLine); it != std::sregex_iterator();
       ++it) {
    const std::string hex = (*it)[1];
    for (size_t i = 0; i + 1 < hex.size(); i += 3)
      bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  std::vector<std::string> frames;
  for (size_t at = 0; at + 2 <= bytes.size();) {
    const size_t n = 3 + static_cast<uint8_t>(bytes[at + 1]);
    frames.push_back(HexDump(bytes.substr(at, n)));
    at += n;
  }
  return frames;
}

// ECRInput of a load command: code, password, line number, the line padded to 40 bytes.
std::string LoadFrame(int code, const std::string& number, const std::string& line) {
  std::string line40 = line;
  line40.resize(40, '\0');
  return HexDump(protocol::Frame(protocol::Request(static_cast<uint8_t>(code), number + line40)));
}

class GraphicsTest : public DriverTest {
 protected:
  std::string Write(const std::string& name, const TestPicture& p, BmpFormat f = {24}) {
    const std::string path = env.Path(name);
    std::ofstream(path, std::ios::binary) << EncodeBmp(p, f);
    return path;
  }
  static int32_t Load(Driver& drv, const char16_t* method, const std::string& path) {
    return CallMethod(drv.Object(), method, {Variant(Utf8ToUtf16(path))}).ToInt32();
  }
  void StartWithPicture() {
    emu::EmulatorOptions o;
    o.paperPngPath = png;
    StartDevice(o);
  }
  std::string png = env.Path("paper.png");
};

TEST_F(GraphicsTest, APictureIsLoadedRowByRowAndPrinted) {
  StartWithPicture();
  Driver drv;
  drv.Set(u"LogFileName", env.Path("drv.log").c_str());
  drv.Set(u"LogEnabled", Variant(true));
  drv.Set(u"LineData", "ab");
  drv.Set(u"LineNumber", Variant(7));

  // 16 x 2, left half black: two lines FF 00, padded to 40 bytes by the load.
  const auto halves = MakePicture(16, 2, {kWhite, kBlack}, [](int x, int) { return x < 8; });
  EXPECT_EQ(Load(drv, u"LoadBitmap", Write("halves.bmp", halves, {1})), 0);
  EXPECT_EQ(drv.Result(), Result(0, "Ошибок нет."));
  EXPECT_EQ(drv.Int(u"FirstLineNumber"), 1);
  EXPECT_EQ(drv.Int(u"LastLineNumber"), 2);
  // Rows go to lines 0 and 1 of the device's memory: its print range 1..2.
  EXPECT_THAT(
      SentFrames(ReadFileOrEmpty(env.Path("drv.log"))),
      ElementsAre(LoadFrame(0xC0, std::string(1, '\0'), "\xFF"), LoadFrame(0xC0, "\x01", "\xFF")));
  EXPECT_EQ(drv.Text(u"LineData"), "ab");  // the caller's values come back
  EXPECT_EQ(drv.Int(u"LineNumber"), 7);

  // 12 pixels wide: 2 bytes, the four dots past the width clear.
  const auto dark = MakePicture(12, 1, {kBlack}, [](int, int) { return 0; });
  EXPECT_EQ(Load(drv, u"LoadBitmap", Write("dark.bmp", dark)), 0);
  EXPECT_THAT(drv.Text(u"ECRInput"), StartsWith("02 2E C0 97 1C 00 00 00 FF 0F 00 "));

  // LoadBMP loads FileName as LoadBitmapEx does, and logs that call inside its own.
  const auto frame = MakePicture(20, 6, {kWhite, kBlack, kDarkRed}, [](int x, int y) {
    return x == 0 || y == 0 || x == 19 || y == 5 ? 1 : x == 3 * y ? 2 : 0;
  });
  drv.Set(u"FileName", Write("frame.bmp", frame, {4, 2}).c_str());
  EXPECT_EQ(drv.Call(u"LoadBMP"), 0);
  EXPECT_EQ(drv.Int(u"LastLineNumber"), 6);
  EXPECT_THAT(drv.Text(u"ECRInput"), StartsWith("02 2F C4 97 1C 00 00 05 00 FF FF 0F 00"));
  const std::vector<std::string> calls = LoadLines(ReadFileOrEmpty(env.Path("drv.log")));
  ASSERT_EQ(calls.size(), 6 + 4 + 16u);  // the three loads: 2, 1 and 6 rows
  EXPECT_THAT(std::vector(calls.begin(), calls.begin() + 6),
              ElementsAre("LoadBitmap", "LoadLineData", "LoadLineData: 0", "LoadLineData",
                          "LoadLineData: 0", "LoadBitmap: 0"));
  EXPECT_THAT(std::vector(calls.begin() + 10, calls.begin() + 13),
              ElementsAre("LoadBMP", "LoadBitmapEx", "LoadLineDataEx"));
  EXPECT_THAT(std::vector(calls.end() - 2, calls.end()),
              ElementsAre("LoadBitmapEx: 0", "LoadBMP: 0"));

  // Draw prints the range the load left (1..6): the whole picture, dot for dot.
  const int before = ReadFileOrEmpty(png).empty() ? 0 : ReadPaperPng(png).height;
  EXPECT_EQ(drv.Call(u"Draw"), 0);
  EXPECT_THAT(Paper(), HasSubstr("[graphics] 1..6\n"));
  const Png paper = ReadPaperPng(png);
  ASSERT_EQ(paper.height, before + 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 320; ++x)
      ASSERT_EQ(paper.Ink(emu::TPaper::kMargin + x, before + y), x < 20 && frame.Dark(x, y))
          << x << ", " << y;
}

TEST_F(GraphicsTest, LimitsAndFailures) {
  StartWithPicture();
  // No connection yet: a file error is a connection error (-16) with the
  // system's text; the draw range is untouched.
  Driver drv;
  EXPECT_EQ(drv.Call(u"LoadBMP"), -16);
  EXPECT_EQ(drv.Result(),
            Result(-16, "Ошибка подключения. Не удалось открыть файл \"\": файл не найден."));
  EXPECT_EQ(drv.Int(u"LastLineNumber"), 1);

  // 400 x 300: the left 320 dots, the top 200 rows (1200 with LoadBitmapEx).
  const auto big =
      MakePicture(400, 300, {kWhite, kBlack}, [](int x, int y) { return x >= 316 || y == 199; });
  const std::string bigPath = Write("big.bmp", big, {8, 1});
  EXPECT_EQ(Load(drv, u"LoadBitmap", bigPath), 0);
  EXPECT_EQ(drv.Int(u"LastLineNumber"), 200);
  EXPECT_EQ(drv.Text(u"ECRInput"), LoadFrame(0xC0, "\xC7", std::string(40, '\xFF')));
  EXPECT_EQ(Load(drv, u"LoadBitmapEx", bigPath), 0);
  EXPECT_EQ(drv.Int(u"LastLineNumber"), 300);
  EXPECT_EQ(drv.Text(u"ECRInput"), LoadFrame(0xC4, "\x2B\x01", std::string(39, '\0') + "\xF0"));

  // With a connection the same failures are -8 with the message alone.
  const std::string broken = env.Path("broken.bmp");
  std::ofstream(broken, std::ios::binary) << EncodeBmp(big, {24}).substr(0, 1000);
  EXPECT_EQ(Load(drv, u"LoadBitmapEx", broken), -8);
  EXPECT_EQ(drv.Result(), Result(-8, "Файл \"" + broken +
                                         "\" не читается как картинка BMP: данные картинки "
                                         "обрываются: файл неполон."));
  drv.Set(u"FileName", env.Path("none.bmp").c_str());
  EXPECT_EQ(drv.Call(u"LoadBMP"), -8);
  EXPECT_THAT(drv.Text(u"ResultCodeDescription"), HasSubstr("файл не найден."));
  EXPECT_EQ(drv.Int(u"LastLineNumber"), 300);

  // A row that fails stops the load with its result; the range is set anyway.
  registry.WriteString("SOFTWARE\\Kvelta\\Варн\\Сервер\\Ports", "COM9", env.Path("no-tty"));
  Driver other;
  other.Set(u"ComNumber", Variant(9));
  const auto small = MakePicture(8, 3, {kBlack}, [](int, int) { return 0; });
  EXPECT_EQ(Load(other, u"LoadBitmap", Write("small.bmp", small)), -2);
  EXPECT_EQ(other.Result(), Result(-2, "СOM порт не доступен"));
  EXPECT_EQ(other.Int(u"LastLineNumber"), 3);
  EXPECT_EQ(other.Int(u"LineNumber"), 0);
}

TEST_F(GraphicsTest, FromTheCommandLine) {
  StartWithPicture();
  const auto halves = MakePicture(16, 2, {kWhite, kBlack}, [](int x, int) { return x < 8; });
  const std::string out = env.Path("varn.out");
  ChildProcess varn(VARN_PROGRAM,
                    {"call", "LoadBitmap", Write("halves.bmp", halves), "call", "Draw"}, out);
  EXPECT_EQ(varn.Wait(kPatience), 0) << ReadFileOrEmpty(out);
  EXPECT_THAT(ReadFileOrEmpty(out), HasSubstr("LoadBitmap: 0\n"));
  EXPECT_THAT(ReadFileOrEmpty(out), HasSubstr("Draw: 0\n"));
  EXPECT_THAT(Paper(), HasSubstr("[graphics] 1..2\n"));
  const Png paper = ReadPaperPng(png);
  ASSERT_EQ(paper.height, 2);
  for (int y = 0; y < 2; ++y) {  // both rows: the left half black
    EXPECT_TRUE(paper.Ink(emu::TPaper::kMargin, y));
    EXPECT_FALSE(paper.Ink(emu::TPaper::kMargin + 8, y));
  }
}

}  // namespace
}  // namespace varn::test
