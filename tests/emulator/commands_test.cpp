// The command set end to end: requests through TPort::Exchange to the
// emulator on a pty, answers checked byte by byte against their layouts.

#include <filesystem>
#include <fstream>
#include <thread>

#include "emulator/font.h"
#include "platform/text.h"
#include "tests/emulator/emulator_fixture.h"
#include "tests/support/paper_png.h"

namespace varn::emu {
namespace {

using test::Bytes;
using ::testing::HasSubstr;

using Picture = test::PaperPng;

TEST_F(EmulatorTest, StatusAndDeviceTypeAnswers) {
  EmulatorOptions o;
  o.model = 9;
  Start(o);

  namespace ss = protocol::short_status;
  const std::string s = Data(Request(cmd::GetShortECRStatus));
  ASSERT_EQ(s.size(), ss::kVoltage + 1);
  const uint32_t flags = Le(s.substr(ss::kFlags, 2));
  EXPECT_EQ(flags, flag::kReceiptPaper | flag::kLeverDown);  // drawer closed
  EXPECT_EQ(s[ss::kMode], mode::kWorking);
  EXPECT_EQ(static_cast<uint8_t>(s[ss::kVoltage]), 216);  // 24 V

  namespace st = protocol::status;
  const std::string status = Data(Request(cmd::GetECRStatus));
  ASSERT_EQ(status.size(), st::kMinData);
  EXPECT_EQ(status.substr(st::kVersionMajor, 2), "12");  // version as characters
  EXPECT_EQ(Le(status.substr(st::kBuild, 2)), 2047u);
  EXPECT_EQ(status.substr(st::kDay, 3), Bytes({14, 6, 23}));
  EXPECT_EQ(status[st::kLogicalNumber], 1);  // table 1, field 1
  EXPECT_EQ(Le(status.substr(st::kFlags, 2)), flags);
  EXPECT_EQ(status[st::kMode], mode::kWorking);
  EXPECT_EQ(status[st::kPortNumber], kLinePort);

  // No password in the device-type request.
  namespace dm = protocol::device_metrics;
  const std::string t = Data(Bytes({cmd::GetDeviceMetrics}));
  ASSERT_GE(t.size(), dm::kMinData);
  EXPECT_EQ(t.substr(dm::kMajorType, 6), Bytes({0, 0, 1, 0, 9, 1}));
  EXPECT_EQ(t[dm::kModel], 9);
  EXPECT_EQ(Cp1251ToUtf8(t.substr(dm::kDescription)), "ФР Варн");
  EXPECT_EQ(Error(Request(cmd::Beep)), 0);
}

TEST_F(EmulatorTest, PrintedLinesGoToThePaperFile) {
  Start(WithPaper());
  EXPECT_EQ(Error(Request(cmd::PrintString, "\x02" + Text("Итого: 100,00", 40))), 0);
  EXPECT_EQ(Error(Request(cmd::PrintWideString, "\x02" + Text("ЧЕК", 20))), 0);
  EXPECT_EQ(Error(Request(cmd::PrintStringWithFont, "\x02\x03" + Text("шрифт 3", 40))), 0);
  EXPECT_EQ(Error(Request(cmd::FeedDocument, Bytes({0x02, 2}))), 0);
  EXPECT_EQ(Error(Request(cmd::PrintBarCode, Bytes({0x7B, 0, 0, 0, 0}))), 0);  // 123
  // The largest 5-byte number.
  EXPECT_EQ(Error(Request(cmd::PrintBarCode, Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF}))), 0);
  // Journal only: nothing on the receipt.
  EXPECT_EQ(Error(Request(cmd::PrintString, "\x01" + Text("журнал", 40))), 0);
  // Control bytes print as blanks; the text ends at the first zero byte.
  EXPECT_EQ(Error(Request(cmd::PrintString, "\x02" + Text(std::string_view("a\nb\0x", 5), 40))), 0);
  EXPECT_EQ(Paper(),
            "Итого: 100,00\n"
            "[bold] ЧЕК\n"
            "[font 3] шрифт 3\n"
            "\n\n"
            "[barcode] 123\n"
            "[barcode] 1099511627775\n"
            "a b\n");
}

TEST_F(EmulatorTest, LongLinesDependOnTheModel) {
  const std::string sixty(60, 'x');
  EmulatorOptions o = WithPaper();
  o.model = 6;
  Start(o);
  EXPECT_EQ(Error(Request(cmd::PrintString, "\x02" + sixty)), err::kBadLength);
  EXPECT_EQ(Error(Request(cmd::PrintString, "\x02" + sixty.substr(0, 39))), err::kBadLength);
  EXPECT_EQ(Error(Request(cmd::PrintWideString, "\x02" + std::string(21, 'x'))), err::kBadLength);
  EXPECT_EQ(Paper(), "");

  o.model = 7;
  Start(o);
  EXPECT_EQ(Error(Request(cmd::PrintString, "\x02" + sixty)), 0);
  EXPECT_EQ(Error(Request(cmd::PrintWideString, "\x02" + std::string(25, 'y'))), 0);
  // The longest: 253 - 7 characters in a font line.
  EXPECT_EQ(Error(Request(cmd::PrintStringWithFont, "\x02\x01" + std::string(246, 'z'))), 0);
  EXPECT_EQ(Error(Request(cmd::PrintStringWithFont, "\x02\x01" + std::string(247, 'z'))),
            err::kBadLength);
  // A paper line holds 40 characters (20 in the double font) and the rest wraps.
  std::string want = std::string(40, 'x') + "\n" + std::string(20, 'x') + "\n";
  want += "[bold] " + std::string(20, 'y') + "\n[bold] yyyyy\n";
  for (int i = 0; i < 6; ++i) want += "[font 1] " + std::string(40, 'z') + "\n";
  want += "[font 1] " + std::string(6, 'z') + "\n";
  EXPECT_EQ(Paper(), want);
}

TEST_F(EmulatorTest, ThePictureShowsTextBarCodesAndGraphicsDots) {
  EmulatorOptions o = WithPaper();
  o.paperPngPath = env.Path("out/paper.png");
  Start(o);
  // Graphics line 300 (2-byte number): the leftmost dot and the rightmost;
  // the print range counts from 1, so it is printed as line 301.
  std::string dots(40, '\0');
  dots[0] = '\x01';  // the least significant bit is the leftmost dot
  dots[39] = '\x80';
  EXPECT_EQ(Error(Request(cmd::LoadLineDataEx, Bytes({0x2C, 0x01}) + dots)), 0);
  EXPECT_EQ(Error(Request(cmd::DrawEx, Bytes({0x2D, 0x01, 0x2D, 0x01}))), 0);
  const Picture one = test::ReadPaperPng(o.paperPngPath);
  ASSERT_EQ(one.width, TPaper::kPngWidth);
  ASSERT_EQ(one.height, 1);
  EXPECT_TRUE(one.Ink(TPaper::kMargin, 0));
  EXPECT_FALSE(one.Ink(TPaper::kMargin + 1, 0));
  EXPECT_TRUE(one.Ink(TPaper::kMargin + kPrintWidth - 1, 0));

  // 1-byte numbers: lines 0..2 of the same memory, printed as 1..3.
  dots.assign(40, '\xFF');
  EXPECT_EQ(Error(Request(cmd::LoadLineData, std::string(1, '\0') + dots)), 0);
  EXPECT_EQ(Error(Request(cmd::Draw, Bytes({1, 3}))), 0);
  EXPECT_EQ(Error(Request(cmd::PrintString, "\x02" + Text("ЖЖЖ", 40))), 0);
  EXPECT_EQ(Error(Request(cmd::PrintBarCode, Bytes({0x7B, 0, 0, 0, 0}))), 0);
  const Picture all = test::ReadPaperPng(o.paperPngPath);
  const FontMetrics& f1 = *FindFont(1);
  ASSERT_GT(all.height, 1 + 3 + f1.charHeight);
  for (int x = TPaper::kMargin; x < TPaper::kMargin + kPrintWidth; ++x)
    ASSERT_TRUE(all.Ink(x, 1)) << x;              // line 0: every dot
  EXPECT_FALSE(all.Ink(TPaper::kMargin + 5, 2));  // lines 1 and 2 were never loaded

  int textInk = 0, barInk = 0;
  for (int y = 4; y < 4 + f1.charHeight; ++y)
    for (int x = 0; x < all.width; ++x) textInk += all.Ink(x, y);
  for (int y = 4 + f1.charHeight; y < all.height; ++y)
    for (int x = 0; x < all.width; ++x) barInk += all.Ink(x, y);
  EXPECT_GT(textInk, 30);
  EXPECT_GT(barInk, 300);
  EXPECT_THAT(Paper(), HasSubstr("[graphics] 301..301\n[graphics] 1..3\nЖЖЖ\n[barcode] 123\n"));
}

TEST(EmulatorFont, EveryPrintableCharacterOfTheCodePageHasItsGlyph) {
  const auto same = [](const Glyph& a, const Glyph& b) { return a.rows == b.rows; };
  const Glyph& unknown = GlyphFor(u'?');
  for (int b = 0x20; b <= 0xFF; ++b) {
    if (b == 0x7F || b == 0x98) continue;  // DEL; the one byte the code page leaves unused
    const std::u16string ch = Cp1251ToUtf16(std::string(1, static_cast<char>(b)));
    ASSERT_EQ(ch.size(), 1u) << b;
    if (ch[0] != u'?') {
      EXPECT_FALSE(same(GlyphFor(ch[0]), unknown)) << "byte " << b;
    }
  }
  // Signs that used to borrow the look of others have their own.
  EXPECT_FALSE(same(GlyphFor(u'«'), GlyphFor(u'<')));
  EXPECT_FALSE(same(GlyphFor(u'»'), GlyphFor(u'>')));
  EXPECT_FALSE(same(GlyphFor(u'№'), GlyphFor(u'N')));
  EXPECT_FALSE(same(GlyphFor(u'€'), GlyphFor(u'E')));
  EXPECT_TRUE(same(GlyphFor(u'\x2603'), unknown));  // beyond the code page
}

TEST_F(EmulatorTest, ThePictureKeepsOnlyTheRecentPaper) {
  EmulatorOptions o;
  o.paperPngPath = env.Path("paper.png");
  Start(o);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Error(Request(cmd::FeedDocument, Bytes({0x02, 255}))), 0);
  EXPECT_EQ(test::ReadPaperPng(o.paperPngPath).height, static_cast<int>(TPaper::kMaxRows));
}

TEST_F(EmulatorTest, PaperThatCannotBeWritten) {
  std::ofstream(env.Path("file")) << "x";
  EmulatorOptions o;
  o.paperPath = env.Path("file/paper.txt");  // below a plain file
  EXPECT_THROW(Start(o), EOSError);

  // Made at start, with its folder.
  o.paperPath = env.Path("new/paper.txt");
  Start(o);
  EXPECT_TRUE(std::filesystem::exists(o.paperPath));

  // Gone bad while it runs: a device fault for the host.
  std::string said;
  o.onDiagnostic = [&](const std::string& text) { said = text; };
  Start(o);
  std::filesystem::remove(o.paperPath);
  std::filesystem::create_directory(o.paperPath);
  EXPECT_EQ(Error(Request(cmd::PrintString, "\x02" + Text("x", 40))), err::kInternal);
  device->Stop();  // the diagnostic was written by the device thread
  EXPECT_THAT(said, HasSubstr("paper.txt"));
}

TEST_F(EmulatorTest, ExchangeParametersAndTheBaudRateChange) {
  Start();
  EXPECT_EQ(Data(Request(cmd::GetExchangeParam, Bytes({1}))), Bytes({1, 100}));
  EXPECT_EQ(Data(Request(cmd::GetExchangeParam, Bytes({0}))), Bytes({1, 100}));
  EXPECT_EQ(Error(Request(cmd::GetExchangeParam, Bytes({2}))), err::kBadParameter);
  EXPECT_EQ(Error(Request(cmd::SetExchangeParam, Bytes({1, 7, 100}))), err::kBadParameter);
  EXPECT_EQ(Error(Request(cmd::SetExchangeParam, Bytes({2, 1, 100}))), err::kBadParameter);

  // The other port keeps its own parameters; the line stays as it is.
  EXPECT_EQ(Error(Request(cmd::SetExchangeParam, Bytes({0, 6, 250}))), 0);
  EXPECT_EQ(Data(Request(cmd::GetExchangeParam, Bytes({0}))), Bytes({6, 250}));
  EXPECT_EQ(device->BaudRate(), 4800);

  // Its own port: the answer still comes at 4800, then the device moves.
  EXPECT_EQ(Error(Request(cmd::SetExchangeParam, Bytes({1, 2, 156}))), 0);
  // It moves when it reads the host's ACK of that answer, on its own thread.
  EXPECT_TRUE(test::Eventually([&] { return device->BaudRate() == 9600; }));
  EXPECT_THAT([&] { Send(Request(cmd::GetShortECRStatus)); },
              test::ThrowsDriverError(-4, "Нет связи"));
  port.SetBaudRate(9600);
  EXPECT_EQ(Data(Request(cmd::GetExchangeParam, Bytes({1}))), Bytes({2, 156}));
}

TEST_F(EmulatorTest, FontMetrics) {
  Start();
  EXPECT_EQ(Data(Request(cmd::GetFontMetrics, Bytes({1}))), Bytes({0x40, 0x01, 8, 10, kFontCount}));
  EXPECT_EQ(Data(Request(cmd::GetFontMetrics, Bytes({2}))),
            Bytes({0x40, 0x01, 16, 20, kFontCount}));
  EXPECT_EQ(Data(Request(cmd::GetFontMetrics, Bytes({3}))), Bytes({0x40, 0x01, 8, 20, kFontCount}));
  EXPECT_EQ(Error(Request(cmd::GetFontMetrics, Bytes({0}))), err::kBadParameter);
  EXPECT_EQ(Error(Request(cmd::GetFontMetrics, Bytes({kFontCount + 1}))), err::kBadParameter);
  EXPECT_EQ(Error(Request(cmd::PrintStringWithFont, "\x02\x04" + Text("x", 40))),
            err::kBadParameter);
}

uint8_t ModeOf(const std::string& shortStatus) {
  const size_t at = protocol::short_status::kMode;
  return shortStatus.size() > at ? static_cast<uint8_t>(shortStatus[at]) : 0xFF;
}

TEST_F(EmulatorTest, TestRunModeRefusesWhatItMustAndEnds) {
  Start(WithPaper());
  auto mode = [&] { return ModeOf(Data(Request(cmd::GetShortECRStatus))); };
  EXPECT_EQ(Error(Request(cmd::InterruptTest)), err::kWrongMode);  // no test run to interrupt
  EXPECT_EQ(Error(Request(cmd::Test, Bytes({0}))), err::kBadParameter);
  EXPECT_EQ(Error(Request(cmd::Test, Bytes({100}))), err::kBadParameter);

  EXPECT_EQ(Error(Request(cmd::Test, Bytes({99}))), 0);
  EXPECT_EQ(mode(), mode::kTestRun);
  EXPECT_EQ(static_cast<uint8_t>(Data(Request(cmd::GetECRStatus))[protocol::status::kMode]),
            mode::kTestRun);
  const std::string refused[] = {
      Request(cmd::PrintWideString, "\x02" + Text("x", 20)),
      Request(cmd::PrintString, "\x02" + Text("x", 40)),
      Request(cmd::PrintStringWithFont, "\x02\x01" + Text("x", 40)),
      Request(cmd::FeedDocument, Bytes({2, 1})),
      Request(cmd::Draw, Bytes({0, 0})),
      Request(cmd::PrintBarCode, Bytes({1, 0, 0, 0, 0})),
      Request(cmd::DrawEx, Bytes({0, 0, 0, 0})),
      Request(cmd::WriteTable, Bytes({1, 1, 0, 1, 1})),
      Request(cmd::InitTable),
      Request(cmd::SetExchangeParam, Bytes({1, 1, 100})),
      Request(cmd::Test, Bytes({5})),
      Request(cmd::OpenDrawer, Bytes({0})),
  };
  for (const std::string& request : refused)
    EXPECT_EQ(Error(request), err::kWrongMode) << HexDump(request);
  // Reading goes on.
  EXPECT_EQ(Error(Request(cmd::ReadTable, Bytes({1, 1, 0, 1}))), 0);
  EXPECT_EQ(Error(Request(cmd::InterruptTest)), 0);
  EXPECT_EQ(mode(), mode::kWorking);
  EXPECT_EQ(Paper(), "");

  // Period 2 = two units (a minute each): it ends by itself, on the dot.
  const EmulatorOptions defaults;
  EXPECT_EQ(Error(Request(cmd::Test, Bytes({2}))), 0);
  clock.Advance(defaults.testRunUnit * 2 - 1ms);
  EXPECT_EQ(mode(), mode::kTestRun);
  clock.Advance(1ms);
  EXPECT_EQ(mode(), mode::kWorking);
}

TEST_F(EmulatorTest, DrawerFlagIsSetByOpenDrawerAndClearsLater) {
  const EmulatorOptions o;  // open for 3 s
  Start(o);
  auto drawerOpen = [&] {
    const std::string status = Data(Request(cmd::GetShortECRStatus));
    return (Le(status.substr(protocol::short_status::kFlags, 2)) & flag::kDrawerOpen) != 0;
  };
  EXPECT_FALSE(drawerOpen());
  EXPECT_EQ(Error(Request(cmd::OpenDrawer, Bytes({2}))), err::kBadParameter);
  EXPECT_FALSE(drawerOpen());
  EXPECT_EQ(Error(Request(cmd::OpenDrawer, Bytes({1}))), 0);
  EXPECT_TRUE(drawerOpen());
  clock.Advance(o.drawerOpenTime - 1ms);
  EXPECT_TRUE(drawerOpen());
  clock.Advance(1ms);
  EXPECT_FALSE(drawerOpen());
}

TEST_F(EmulatorTest, ErrorAnswers) {
  Start(WithPaper());
  // Wrong password, with and without parameters.
  const std::string wrong = Bytes({0x10, 0x98, 0x1C, 0, 0});
  EXPECT_EQ(Error(wrong), err::kBadPassword);
  EXPECT_EQ(Error(Bytes({0x17, 0, 0, 0, 0, 2}) + Text("x", 40)), err::kBadPassword);
  EXPECT_EQ(Error(Bytes({0x1F, 0x97, 0x1C, 0, 1, 1, 1, 0, 1})), err::kBadPassword);

  // Unknown commands, whatever follows them.
  EXPECT_EQ(Error(Request(0x01)), err::kUnknownCommand);
  EXPECT_EQ(Error(Bytes({0x40})), err::kUnknownCommand);
  EXPECT_EQ(Error(Bytes({0xFF, 1, 2, 3})), err::kUnknownCommand);

  // Lengths: too short (even for the password), too long, empty.
  EXPECT_EQ(Error(Bytes({0x10, 0x97})), err::kBadLength);
  EXPECT_EQ(Error(Request(cmd::GetShortECRStatus, "x")), err::kBadLength);
  EXPECT_EQ(Error(Bytes({0xFC, 0})), err::kBadLength);
  EXPECT_EQ(Error(Request(cmd::PrintBarCode, Bytes({1, 2, 3, 4}))), err::kBadLength);
  EXPECT_EQ(Error(Request(cmd::LoadLineData, std::string(39, '\0'))), err::kBadLength);
  EXPECT_EQ(Error(Request(cmd::WriteTable, Bytes({1, 1, 0}))), err::kBadLength);
  EXPECT_EQ(Send(""), Bytes({0, err::kBadLength}));
  EXPECT_EQ(Error(std::string(255, '\x17')), err::kBadLength);

  // Parameters.
  EXPECT_EQ(Error(Request(cmd::PrintString, std::string(1, '\0') + Text("x", 40))),
            err::kBadParameter);
  EXPECT_EQ(Error(Request(cmd::FeedDocument, Bytes({0, 1}))), err::kBadParameter);
  EXPECT_EQ(Error(Request(cmd::LoadLineDataEx, Bytes({0xB0, 0x04}) + std::string(40, '\0'))),
            err::kBadParameter);
  // The print range counts from 1: 1..1200 for the memory's lines 0..1199.
  EXPECT_EQ(Error(Request(cmd::DrawEx, Bytes({1, 0, 0xB1, 0x04}))),
            err::kBadParameter);                                                    // past 1200
  EXPECT_EQ(Error(Request(cmd::DrawEx, Bytes({5, 0, 4, 0}))), err::kBadParameter);  // first > last
  EXPECT_EQ(Error(Request(cmd::Draw, Bytes({5, 4}))), err::kBadParameter);
  EXPECT_EQ(Error(Request(cmd::Draw, Bytes({0, 2}))), err::kBadParameter);     // no line 0
  EXPECT_EQ(Error(Request(cmd::DrawEx, Bytes({0xB0, 0x04, 0xB0, 0x04}))), 0);  // memory line 1199
  EXPECT_EQ(Paper(), "[graphics] 1200..1200\n");
}

}  // namespace
}  // namespace varn::emu
