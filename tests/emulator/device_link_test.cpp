// The device side of the link: byte-level behaviour on a raw line, each
// fault and the failure the link layer reports for it, baud-rate silence,
// and resynchronisation after garbage.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <random>
#include <regex>
#include <sstream>

#include "tests/emulator/emulator_fixture.h"

namespace varn::emu {
namespace {

using test::Bytes;
using test::ThrowsDriverError;
using ::testing::HasSubstr;

const std::string kEnq(1, protocol::ENQ), kAck(1, protocol::ACK), kNak(1, protocol::NAK);

// The host end as a plain serial line, for byte-level checks.
class RawLine {
 public:
  RawLine() {
    m_comm.SetPortNumber(1);
    Wait(5000);
    m_comm.Open();
  }
  // Limit of the next reads, for the whole read.
  void Wait(uint32_t ms) {
    CommTimeouts to;
    to.ReadIntervalTimeout = 0;
    to.ReadTotalTimeoutMultiplier = 0;
    to.ReadTotalTimeoutConstant = ms;
    to.WriteTotalTimeoutMultiplier = 0;
    to.WriteTotalTimeoutConstant = 500;
    m_comm.SetTimeouts(to);
  }
  void Write(const std::string& bytes) { m_comm.Write(bytes); }
  std::string Read(size_t n) { return m_comm.Read(n); }
  // One whole answer frame (STX, LEN, payload, check byte), or what came.
  std::string ReadFrame() {
    std::string head = Read(2);
    if (head.size() < 2) return head;
    return head + Read(static_cast<uint8_t>(head[1]) + 1u);
  }
  // Nothing comes within a short while.
  bool Silent() {
    Wait(300);
    const bool none = Read(1).empty();
    Wait(5000);
    return none;
  }

 private:
  TComm m_comm;
};

std::vector<std::string> LogEvents(const std::string& file) {
  std::vector<std::string> events;
  static const std::regex line(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\.\d{3} (.*)\r)");
  std::istringstream in(test::ReadFileOrEmpty(file));
  for (std::string l; std::getline(in, l);) {
    std::smatch m;
    if (std::regex_match(l, m, line)) events.push_back(m[1]);
  }
  return events;
}

long Count(const std::vector<std::string>& events, const std::string& e) {
  return std::count(events.begin(), events.end(), e);
}

TEST_F(EmulatorTest, DeviceSideOfTheProtocolByteByByte) {
  Start(WithPaper());
  RawLine line;
  line.Write(kEnq);
  EXPECT_EQ(line.Read(1), kNak);  // holds no answer: ready to receive

  std::string bad = Frame(Request(cmd::PrintString, "\x02" + Text("строка", 40)));
  bad.back() ^= 1;
  line.Write(bad);
  EXPECT_EQ(line.Read(1), kNak);

  line.Write(Frame(Request(cmd::PrintString, "\x02" + Text("строка", 40))));
  EXPECT_EQ(line.Read(1), kAck);
  const std::string answer = Frame(Bytes({0x17, 0, 1}));  // confirmed with the operator
  EXPECT_EQ(line.ReadFrame(), answer);

  // Not acknowledged (nothing, or NAK): held, and sent again at each ENQ.
  line.Write(kEnq);
  EXPECT_EQ(line.Read(1), kAck);
  EXPECT_EQ(line.ReadFrame(), answer);
  line.Write(kNak);
  EXPECT_TRUE(line.Silent());
  line.Write(kEnq);
  EXPECT_EQ(line.Read(1), kAck);
  EXPECT_EQ(line.ReadFrame(), answer);

  // Acknowledged: gone.
  line.Write(kAck);
  line.Write(kEnq);
  EXPECT_EQ(line.Read(1), kNak);
  // However often its answer was fetched, the command ran once.
  EXPECT_EQ(Paper(), "строка\n");

  // LEN 0: a frame all the same (the answer names no command).
  line.Write(Bytes({0x02, 0x00, 0x00}));
  EXPECT_EQ(line.Read(1), kAck);
  EXPECT_EQ(line.ReadFrame(), Frame(Bytes({0, err::kBadLength})));
}

TEST_F(EmulatorTest, GarbageAndBrokenFramesNeverWedgeIt) {
  Start(WithPaper());
  {
    RawLine line;
    std::mt19937 random(1);
    std::string noise;
    for (int i = 0; i < 20000; ++i) noise += static_cast<char>(random() & 0xFF);
    line.Write(noise);
    // What it said to the noise (NAKs for the ENQs in it) is of no interest.
    line.Wait(300);
    while (!line.Read(4096).empty()) {
    }
    // A frame cut short after announcing 255 bytes, and a stray STX.
    line.Write(Bytes({0x02, 0xFF, 0x10, 0x97, 0x1C}));
    EXPECT_TRUE(line.Silent());  // still waiting for the rest of the frame
    line.Write(Bytes({0x02}));
  }
  // The next exchange finds it again (an abandoned frame ends at a pause).
  EXPECT_EQ(Error(Request(cmd::PrintString, "\x02" + Text("после шума", 40))), 0);
  EXPECT_EQ(Error(Request(cmd::GetShortECRStatus)), 0);
  EXPECT_THAT(Paper(), ::testing::EndsWith("после шума\n"));
}

TEST_F(EmulatorTest, AHostThatStopsReadingCannotWedgeIt) {
  std::atomic<bool> dropped{false};
  EmulatorOptions o;
  o.onDiagnostic = [&](const std::string& text) {
    if (text.find("the host does not read") != std::string::npos) dropped = true;
  };
  Start(o);
  auto line = std::make_unique<RawLine>();
  // ENQ after ENQ, never reading the NAKs, until the line is full.
  EXPECT_TRUE(test::Eventually([&] {
    try {
      line->Write(std::string(4096, protocol::ENQ));
    } catch (const std::runtime_error&) {
      // Full both ways: our writes time out too.
    }
    return dropped.load();
  }));
  line.reset();
  // A host that reads again finds it, once the device has answered the
  // ENQs still queued for it.
  EXPECT_TRUE(test::Eventually([&] {
    try {
      return Send(Request(cmd::GetShortECRStatus)).substr(0, 2) ==
             Bytes({cmd::GetShortECRStatus, 0});
    } catch (const EDriverError&) {
      return false;
    }
  }));
  device->Stop();
}

TEST_F(EmulatorTest, AnotherLineSpeedIsSilence) {
  EmulatorOptions o;
  o.baudCode = 6;
  Start(o);
  EXPECT_EQ(device->BaudRate(), 115200);
  // The host at the default 4800: nothing answers.
  EXPECT_THAT([&] { Send(Request(cmd::GetShortECRStatus)); }, ThrowsDriverError(-4, "Нет связи"));
  port.Close();
  {
    RawLine line;  // at 4800 too
    line.Write(kEnq);
    EXPECT_TRUE(line.Silent());
  }
  port.SetBaudRate(9600);
  EXPECT_THAT([&] { Send(Request(cmd::GetShortECRStatus)); }, ThrowsDriverError(-4, "Нет связи"));
  port.SetBaudRate(115200);
  EXPECT_EQ(Error(Request(cmd::GetShortECRStatus)), 0);
  // Bytes at a wrong speed before it do not disturb the next exchange.
  port.SetBaudRate(2400);
  EXPECT_THAT([&] { Send(Request(cmd::GetShortECRStatus)); }, ThrowsDriverError(-4, "Нет связи"));
  port.SetBaudRate(115200);
  EXPECT_EQ(Error(Request(cmd::GetShortECRStatus)), 0);
}

class EmulatorFaultTest : public EmulatorTest {
 protected:
  EmulatorFaultTest() {
    settings->LogOn = true;
    settings->LogFile = env.LogDir() + "/VarnSrv.log";
  }
  EmulatedDevice& StartWith(const std::string& faults) {
    EmulatorOptions o = WithPaper();
    o.faults = ParseFaults(faults);
    return Start(o);
  }
  std::vector<std::string> Events() { return LogEvents(settings->LogFile); }
  const std::string print = Request(cmd::PrintString, "\x02" + Text("чек", 40));
};

TEST_F(EmulatorFaultTest, SilentDeviceIsNoLink) {
  StartWith("silent");
  EXPECT_THAT([&] { Send(Request(cmd::GetShortECRStatus)); }, ThrowsDriverError(-4, "Нет связи"));
  EXPECT_EQ(Count(Events(), "<-  Error: Timeout"), 3);
  // Until the fault is taken away.
  device->SetFaults({});
  EXPECT_EQ(Error(Request(cmd::GetShortECRStatus)), 0);
}

TEST_F(EmulatorFaultTest, StaleAnswerIsTakenAndDropped) {
  StartWith("stale");
  const std::string a = Send(Request(cmd::GetECRStatus));
  EXPECT_EQ(a.substr(0, 2), Bytes({0x11, 0}));
  // First the stale short-status answer, then the real one.
  EXPECT_THAT(port.Output(), ::testing::StartsWith("02 | 0A | 10 | 00 | "));
  EXPECT_THAT(port.Output(), HasSubstr(" | 02 | 12 | 11 | 00 | "));
  // Only the first ENQ finds it.
  EXPECT_EQ(Error(Request(cmd::GetECRStatus)), 0);
  EXPECT_THAT(port.Output(), ::testing::StartsWith("02 | 12 | 11 | 00 | "));
}

TEST_F(EmulatorFaultTest, WrongCheckBytes) {
  StartWith("bad-check");  // every answer
  EXPECT_THAT([&] { Send(print); }, ThrowsDriverError(-4, "Нет связи"));
  EXPECT_EQ(Count(Events(), "-> 15"), 3);  // each answer rejected
  EXPECT_EQ(Paper(), "чек\n");             // delivered once, answered three times

  StartWith("bad-check=2");  // the second answer is bad, the third good
  EXPECT_EQ(Error(Request(cmd::GetShortECRStatus)), 0);
  std::filesystem::remove(settings->LogFile);
  EXPECT_EQ(Error(Request(cmd::GetShortECRStatus)), 0);
  EXPECT_EQ(Count(Events(), "-> 15"), 1);
  EXPECT_EQ(Count(Events(), "-> 06"), 1);
}

TEST_F(EmulatorFaultTest, NakStormIsGivenUpOn) {
  StartWith("nak-storm");
  EXPECT_THAT([&] { Send(print); }, ThrowsDriverError(-4, "Нет связи"));
  // The link delivered the request over and over before giving up; a
  // real printer in this state prints the line each time.
  std::string lines;
  for (int i = 0; i < link::kMaxDeliveries; ++i) lines += "чек\n";
  EXPECT_EQ(Paper(), lines);
}

TEST_F(EmulatorFaultTest, DroppedAckIsRecoveredWithoutSendingTwice) {
  StartWith("drop-ack");
  EXPECT_EQ(Error(print), 0);
  EXPECT_EQ(Error(print), 0);
  EXPECT_EQ(Paper(), "чек\nчек\n");
  // Each time: the request, no ACK, then the held answer at the next ENQ.
  const auto events = Events();
  EXPECT_EQ(Count(events, "-> " + HexDump(Frame(print))), 2);
  EXPECT_EQ(Count(events, "-> 05"), 4);
}

TEST_F(EmulatorFaultTest, DelayedAnswerStillArrives) {
  StartWith("delay=300");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Error(Request(cmd::GetShortECRStatus)), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
}

TEST_F(EmulatorFaultTest, LineSpeedTakesTenBitTimesPerByte) {
  EmulatorOptions o;
  o.baudCode = 0;  // 2400: 4.17 ms a byte
  o.faults = ParseFaults("line-speed,bad-check=2");
  Start(o);
  port.SetBaudRate(2400);
  EXPECT_EQ(Error(Request(cmd::GetECRStatus)), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Error(Request(cmd::GetECRStatus)), 0);  // NAK, then the answer once more
  // NAK + ACK + 2 x 21-byte frames at least.
  EXPECT_GE(std::chrono::steady_clock::now() - start, 44 * 10 * 1000000us / 2400);
}

TEST_F(EmulatorFaultTest, ALongRequestOnASlowLineIsWaitedForUntilItArrivedAndPrintedOnce) {
  EmulatorOptions o = WithPaper();
  o.baudCode = 0;  // 2400: the 49 bytes of a printed line take 204 ms
  o.faults = ParseFaults("line-speed");
  Start(o);
  port.SetBaudRate(2400);
  port.SetTimeout(150);  // the ACK waits T + 1 ms: less than the request's time on the line
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Error(print), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 49 * 10 * 1000000us / 2400);
  // Taken at the first try: no time-out, no second ENQ or request.
  const auto events = Events();
  EXPECT_EQ(Count(events, "-> 05"), 1);
  EXPECT_EQ(Count(events, "-> " + HexDump(Frame(print))), 1);
  EXPECT_EQ(Count(events, "<-  Error: Timeout"), 0);
  EXPECT_EQ(Paper(), "чек\n");
}

}  // namespace
}  // namespace varn::emu
