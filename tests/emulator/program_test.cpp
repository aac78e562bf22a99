// The varn-emu program's parts: its command line, its fault list, and its
// registration as COM N.
#include "platform/com_ports.h"
#include "emulator/registration.h"
#include "tests/emulator/emulator_fixture.h"

namespace varn::emu {
namespace {

using ::testing::HasSubstr;

ProgramOptions Parse(std::vector<std::string> args) {
  return ParseCommandLine(args);
}

std::string UsageError(std::vector<std::string> args) {
  return test::MessageOf<EUsageError>([&] { ParseCommandLine(args); });
}

TEST(EmulatorCommandLine, OptionsAndTheirDefaults) {
  const ProgramOptions d = Parse({"--com", "1"});
  EXPECT_EQ(d.com, 1);
  EXPECT_EQ(d.emulator.baudCode, 1);
  EXPECT_EQ(d.emulator.model, 6);
  EXPECT_EQ(d.emulator.faults, FaultOptions{});
  EXPECT_TRUE(d.emulator.statePath.empty() && d.emulator.paperPath.empty() &&
              d.emulator.paperPngPath.empty());

  const ProgramOptions p =
      Parse({"--com=3", "--baud", "6", "--state", "s.txt", "--paper=p.txt", "--paper-png", "p.png",
             "--model", "7", "--fault", "silent,bad-check=3", "--fault=delay=25"});
  EXPECT_EQ(p.com, 3);
  EXPECT_EQ(p.emulator.baudCode, 6);
  EXPECT_EQ(p.emulator.statePath, "s.txt");
  EXPECT_EQ(p.emulator.paperPath, "p.txt");
  EXPECT_EQ(p.emulator.paperPngPath, "p.png");
  EXPECT_EQ(p.emulator.model, 7);
  EXPECT_TRUE(p.emulator.faults.silent);
  EXPECT_EQ(p.emulator.faults.badCheckEvery, 3);
  EXPECT_EQ(p.emulator.faults.answerDelay, 25ms);
  EXPECT_TRUE(Parse({"--help"}).help);

  EXPECT_EQ(UsageError({}), "--com N is required");
  EXPECT_EQ(UsageError({"--com", "0"}), "--com: \"0\" is not 1..255");
  EXPECT_EQ(UsageError({"--com", "x1"}), "--com: \"x1\" is not 1..255");
  EXPECT_EQ(UsageError({"--com"}), "--com needs a value");
  EXPECT_EQ(UsageError({"--com", "1", "--baud", "7"}), "--baud: \"7\" is not a code 0..6");
  EXPECT_EQ(UsageError({"--com", "1", "--model", "256"}), "--model: \"256\" is not 0..255");
  EXPECT_EQ(UsageError({"--com", "1", "--paper="}), "--paper needs a value");
  EXPECT_EQ(UsageError({"--com", "1", "-x"}), "unknown option \"-x\"");
  EXPECT_EQ(UsageError({"--com", "1", "--fault", "fast"}), "unknown fault \"fast\"");
}

TEST(EmulatorCommandLine, FaultLists) {
  FaultOptions all = ParseFaults("silent,stale,bad-check=2,nak-storm,drop-ack,delay=10,line-speed");
  EXPECT_TRUE(all.silent && all.staleFirstAnswer && all.nakStorm && all.lineSpeed);
  EXPECT_EQ(all.badCheckEvery, 2);
  EXPECT_EQ(all.dropAckEvery, 1);
  EXPECT_EQ(all.answerDelay, 10ms);
  EXPECT_EQ(ParseFaults("bad-check").badCheckEvery, 1);
  EXPECT_EQ(ParseFaults(",,"), FaultOptions{});

  const std::pair<const char*, const char*> bad[] = {
      {"bad-check=0", "fault bad-check: \"0\" is not a count from 1"},
      {"drop-ack=x", "fault drop-ack: \"x\" is not a count from 1"},
      {"delay", "fault delay: \"\" is not a number of milliseconds (0..600000)"},
      {"delay=", "fault delay: a value is missing after '='"},
      {"delay=-5", "fault delay: \"-5\" is not a number of milliseconds (0..600000)"},
      {"silent=1", "fault silent takes no value"},
      {"Silent", "unknown fault \"Silent\""},
  };
  for (const auto& [text, message] : bad)
    EXPECT_EQ(test::MessageOf<EUsageError>([&] { ParseFaults(text); }), message) << text;
}

TEST(EmulatorRegistration, RegistersAndPutsBackWhatWasThere) {
  test::TempEnv env;
  Registry reg = Registry::Default();
  {
    TComRegistration r(2, "/dev/pts/77");
    EXPECT_EQ(reg.ReadString(kPortsKey, "COM2"), "/dev/pts/77");
    EXPECT_EQ(ComPortPath(2, reg), "/dev/pts/77");
  }
  EXPECT_FALSE(reg.ReadString(kPortsKey, "COM2"));

  reg.WriteString(kPortsKey, "COM3", "/dev/ttyUSB0");
  {
    TComRegistration r(3, "/dev/pts/78");
    EXPECT_EQ(reg.ReadString(kPortsKey, "COM3"), "/dev/pts/78");
  }
  EXPECT_EQ(reg.ReadString(kPortsKey, "COM3"), "/dev/ttyUSB0");

  // Pointed elsewhere meanwhile: that stays.
  {
    TComRegistration r(4, "/dev/pts/79");
    reg.WriteString(kPortsKey, "COM4", "/dev/ttyS9");
  }
  EXPECT_EQ(reg.ReadString(kPortsKey, "COM4"), "/dev/ttyS9");
}

TEST(EmulatorStart, ABaudRateCodeOutsideTheTableIsRefused) {
  EmulatorOptions o;
  o.baudCode = 7;
  EXPECT_THROW(EmulatedDevice{o}, std::invalid_argument);
}

}  // namespace
}  // namespace varn::emu
