// The driver log through real files: line format, the call-name stack as
// the LogEnabled property drives it, exchange blocks, value texts, and two
// logs competing for one file.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>

#include "driver/base/log_file.h"
#include "tests/support/test_env.h"

namespace varn {
namespace {

// The lines of a log file without their time stamps; every line must carry
// one and end with CR LF.
std::vector<std::string> TextsOf(const std::string& all) {
  static const std::regex kLine(R"((\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\.\d{3}) ([^\r\n]*)\r\n)");
  std::vector<std::string> texts;
  auto it = std::sregex_iterator(all.begin(), all.end(), kLine);
  size_t covered = 0;
  for (; it != std::sregex_iterator(); ++it) {
    EXPECT_EQ(static_cast<size_t>(it->position()), covered) << "not a log line at " << covered;
    covered = it->position() + it->length();
    texts.push_back((*it)[2]);
  }
  EXPECT_EQ(covered, all.size()) << "a line without its end";
  return texts;
}

std::vector<std::string> Texts(const std::string& path) {
  return TextsOf(test::ReadFileOrEmpty(path));
}

// An old log is appended to, never truncated.
std::vector<std::string> TextsAfterOldLine(const std::string& path) {
  const std::string all = test::ReadFileOrEmpty(path);
  EXPECT_EQ(all.rfind("kept\r\n", 0), 0u);
  return TextsOf(all.substr(std::min<size_t>(all.size(), 6)));
}

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// What the driver does around a LogEnabled write: the start line, the
// change, the end line with the value written.
void SetLogEnabled(TLogFile& log, bool on) {
  log.BeginCall("Set_LogEnabled");
  log.SetEnabled(on);
  log.EndCall(Variant(on));
}

TEST(LogFile, CallLinesFollowTheNamesStackAcrossSwitching) {
  test::TempEnv env;
  TLogFile log;
  // The default file lives in the log folder, which does not exist yet.
  EXPECT_EQ(log.FileName(), env.LogDir() + "/VarnDrv.log");
  EXPECT_FALSE(log.Enabled());

  log.BeginCall("Get_Timeout");  // disabled: neither a line nor a name
  log.EndCall(Variant(5));
  EXPECT_FALSE(std::filesystem::exists(env.LogDir()));

  SetLogEnabled(log, true);  // the start came while disabled: an empty name
  log.BeginCall("GetECRStatus");
  log.BeginCall("Get_ComNumber");
  log.EndCall(Variant(1));
  log.EndCall(Variant(0));
  SetLogEnabled(log, false);  // the end comes while disabled: its name stays
  EXPECT_THAT(log.Names(), ElementsAre("Set_LogEnabled"));
  log.BeginCall("Get_Timeout");
  log.EndCall(Variant(5));
  SetLogEnabled(log, true);  // pops the name left over from switching off
  EXPECT_THAT(log.Names(), IsEmpty());
  log.EndCall(Variant(u"нет начала"));  // more ends than starts: an empty name

  EXPECT_THAT(
      Texts(log.FileName()),
      ElementsAre(": 1", "GetECRStatus", "Get_ComNumber", "Get_ComNumber: 1", "GetECRStatus: 0",
                  "Set_LogEnabled", "Set_LogEnabled: 1", ": нет начала"));
}

TEST(LogFile, ExchangeBlocks) {
  test::TempEnv env;
  TLogFile log;
  log.SetFileName(env.Path("drv.log"));
  log.SetEnabled(true);

  std::string command45;
  for (int i = 0; i < 45; ++i) command45 += static_cast<char>(i + 0xF0);
  log.WriteSeparator();
  log.WriteCommand(0x11);
  log.WriteSent(command45);
  log.WriteReceived(std::string("\x11\x00\x2A", 3));
  log.WriteError(0, "Ошибок нет.");  // success: no line
  log.WriteCommand(0x04);
  log.WriteSent("");
  log.WriteReceived("");  // no answer: no line
  log.WriteError(93, "Таблица не определена");
  log.WriteError(-9, "Параметр вне диапазона.");
  log.WriteError(255, "x");

  const std::string lines[] = {
      std::string(60, '-'),
      "Команда 11 Запрос состояния",
      "-> F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF 00 01 02 03",
      "-> 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17",
      "-> 18 19 1A 1B 1C",
      "<- 11 00 2A",
      "Команда 04 ",
      "-> ",
      "Ошибка: (93, 5Dh) Таблица не определена",
      "Ошибка: (-9) Параметр вне диапазона.",
      "Ошибка: (255, FFh) x",
  };
  EXPECT_THAT(Texts(log.FileName()), ::testing::ElementsAreArray(lines));
}

TEST(LogFile, ValueTexts) {
  Variant target = Variant(int32_t{-17});
  const std::pair<Variant, std::string> cases[] = {
      {Variant(true), "1"},
      {Variant(false), "0"},
      {Variant(int32_t{-2147483647 - 1}), "-2147483648"},
      {Variant::I2(-5), "-5"},
      {Variant::UI1(255), "255"},
      {Variant(12.5), "12.5"},
      {Variant(0.1), "0.1"},
      {Variant(3.0), "3"},
      {Variant::R4(24.3f), "24.3"},
      {Variant::Currency(-1234500), "-123.45"},
      {Variant::Currency(70000), "7"},
      {Variant::Date(38051.0), "05.03.2004"},
      {Variant::Date(38051.0 + (14 * 3600 + 7 * 60 + 9) / 86400.0), "05.03.2004 14:07:09"},
      {Variant::Date(-1.25), "29.12.1899 06:00:00"},
      {Variant::Date(38051.99999999), "06.03.2004"},  // rounds up to midnight
      {Variant::Date(1e300), "1e+300"},               // no calendar date: the number
      {Variant(u"Ошибок нет."), "Ошибок нет."},
      {Variant(), ""},
      {Variant::Null(), ""},
      {Variant::Ref(target), "-17"},
  };
  for (const auto& [value, text] : cases)
    EXPECT_EQ(LogValueText(value), text) << "type " << VarTypeName(value.Type());
}

TEST(LogFile, TheFirstWriterHoldsTheFileAndNamesSwitchFiles) {
  test::TempEnv env;
  const std::string shared = env.Path("shared.log");
  std::ofstream(shared) << "kept\r\n";
  TLogFile first, second;
  for (TLogFile* log : {&first, &second}) {
    log->SetFileName(shared);
    log->SetEnabled(true);
  }
  first.WriteLine("first 1");
  second.WriteLine("second lost");  // the file is held: lost, no failure
  EXPECT_TRUE(first.IsOpen());
  EXPECT_FALSE(second.IsOpen());
  EXPECT_THAT(TextsAfterOldLine(shared), ElementsAre("first 1"));  // readable while held

  // A new name closes the old file; the next line opens the new one.
  first.SetFileName(env.Path("own.log"));
  EXPECT_FALSE(first.IsOpen());
  second.WriteLine("second 2");  // tries again and now holds it
  first.WriteLine("first 2");
  EXPECT_TRUE(second.IsOpen());
  first.SetFileName(shared);
  first.WriteLine("first lost");
  second.Close();
  first.WriteLine("first 3");

  EXPECT_THAT(TextsAfterOldLine(shared), ElementsAre("first 1", "second 2", "first 3"));
  EXPECT_THAT(Texts(env.Path("own.log")), ElementsAre("first 2"));

  // A name that cannot be opened loses lines quietly, until a good one is set.
  TLogFile bad;
  bad.SetEnabled(true);
  bad.SetFileName(env.Path("own.log") + "/not-a-folder/x.log");
  bad.WriteLine("lost");
  EXPECT_FALSE(bad.IsOpen());
  bad.SetFileName("");
  bad.WriteLine("lost");
  EXPECT_FALSE(bad.IsOpen());
}

}  // namespace
}  // namespace varn
