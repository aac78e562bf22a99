// The link protocol end to end: a real TPort on a pseudo-terminal, and a
// scripted device on the other end that plays each case byte by byte.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/com_ports.h"
#include "platform/diagnostics.h"
#include "platform/files.h"
#include "platform/pty.h"
#include "platform/registry.h"
#include "protocol/frame.h"
#include "server/link/port.h"
#include "tests/support/test_env.h"

namespace varn {
namespace {

using namespace std::chrono_literals;
using protocol::Frame;
using test::Bytes;
using test::ThrowsDriverError;

using protocol::ACK;
using protocol::ENQ;
using protocol::NAK;
const std::string kRequest = Frame(Bytes({0x11, 0x93, 0x1C, 0x00, 0x00}));
const std::string kAnswer = Bytes({0x11, 0x00, 0x2A, 0x33});

class LinkTest : public ::testing::Test {
 protected:
  LinkTest() {
    Registry::Default().WriteString(kPortsKey, "COM1", pty.SlavePath());
    settings->LogOn = true;
    settings->LogFile = env.LogDir() + "/VarnSrv.log";
    port.SetPortNumber(1);
  }
  ~LinkTest() override {
    pty.Interrupt();
    if (device.joinable()) device.join();
  }

  // Runs the device side in a thread; it ends with the test.
  template <class F>
  void Device(F script) {
    device = std::thread([this, script] { script(pty); });
  }
  // One byte from the host, or '\0' after the wait.
  char Get(std::chrono::milliseconds wait = 5s) {
    auto b = pty.ReadExactly(1, wait);
    return b.empty() ? '\0' : b[0];
  }
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::string text = test::ReadFileOrEmpty(settings->LogFile);
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find("\r\n", pos);
      EXPECT_NE(end, std::string::npos) << "every line ends with CR LF";
      if (end == std::string::npos) break;
      lines.push_back(text.substr(pos, end - pos));
      pos = end + 2;
    }
    return lines;
  }
  // The event text of a log line, after "dd.mm.yyyy hh:mm:ss.zzz ".
  static std::string Event(const std::string& line) {
    static const std::regex stamp(R"(^\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\.\d{3} )");
    EXPECT_TRUE(std::regex_search(line, stamp)) << line;
    return line.size() > 24 ? line.substr(24) : "";
  }

  test::TempEnv env;
  PtyDevice pty;
  std::shared_ptr<TLinkSettings> settings = std::make_shared<TLinkSettings>();
  TPort port{settings};
  std::thread device;
};

TEST_F(LinkTest, CleanExchangeReturnsPayloadAndLogsNineLines) {
  Device([&](PtyDevice& d) {
    EXPECT_EQ(Get(), ENQ);
    d.Write(std::string(1, NAK));
    EXPECT_EQ(d.ReadExactly(kRequest.size(), 5s), kRequest);
    d.Write(std::string(1, ACK) + Frame(kAnswer));
    EXPECT_EQ(Get(), ACK);
  });
  EXPECT_EQ(port.Exchange(kRequest), kAnswer);
  device.join();

  EXPECT_EQ(port.Input(), "02 05 11 93 1C 00 00 9B");
  EXPECT_EQ(port.Output(), "02 | 04 | 11 | 00 | 2A 33 | 0C");
  std::vector<std::string> events;
  for (auto& l : LogLines()) events.push_back(Event(l));
  EXPECT_THAT(events,
              ::testing::ElementsAre("-> 05", "<- 15", "-> 02 05 11 93 1C 00 00 9B", "<- 06",
                                     "<- 02", "<- 04", "<- 11 00 2A 33", "<- 0C", "-> 06"));
}

TEST_F(LinkTest, StaleAnswerOnFirstEnqIsAcknowledgedAndDropped) {
  const std::string stale = Bytes({0x10, 0x00});
  Device([&](PtyDevice& d) {
    EXPECT_EQ(Get(), ENQ);
    d.Write(std::string(1, ACK) + Frame(stale));
    EXPECT_EQ(Get(), ACK);
    EXPECT_EQ(Get(), ENQ);
    d.Write(std::string(1, NAK));
    EXPECT_EQ(d.ReadExactly(kRequest.size(), 5s), kRequest);
    d.Write(std::string(1, ACK) + Frame(kAnswer));
    EXPECT_EQ(Get(), ACK);
  });
  EXPECT_EQ(port.Exchange(kRequest), kAnswer);
  EXPECT_EQ(port.Output(), "02 | 02 | 10 | 00 | 12 | 02 | 04 | 11 | 00 | 2A 33 | 0C");
}

TEST_F(LinkTest, SilentDeviceFailsAfterThreeAttempts) {
  int enqs = 0;
  Device([&](PtyDevice&) {
    while (Get(3s) == ENQ) ++enqs;
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THAT([&] { port.Exchange(kRequest); }, ThrowsDriverError(-4, "Нет связи"));
  const auto took = std::chrono::steady_clock::now() - start;
  pty.Interrupt();
  device.join();
  EXPECT_EQ(enqs, 3);
  // Each attempt waits T + C = 100 + 1 ms for the reply.
  EXPECT_GE(took, 300ms);
  EXPECT_LT(took, 5s);
  std::vector<std::string> events;
  for (auto& l : LogLines()) events.push_back(Event(l));
  EXPECT_THAT(events, ::testing::ElementsAre("-> 05", "<-  Error: Timeout", "-> 05",
                                             "<-  Error: Timeout", "-> 05", "<-  Error: Timeout"));
}

TEST_F(LinkTest, WrongCheckByteIsRejectedThreeTimes) {
  int naks = 0;
  Device([&](PtyDevice& d) {
    std::string bad = Frame(kAnswer);
    bad.back() ^= 0x55;
    EXPECT_EQ(Get(), ENQ);
    d.Write(std::string(1, NAK));
    EXPECT_EQ(d.ReadExactly(kRequest.size(), 5s), kRequest);
    d.Write(std::string(1, ACK) + bad);
    if (Get() == NAK) ++naks;
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(Get(), ENQ);
      d.Write(std::string(1, ACK) + bad);
      if (Get() == NAK) ++naks;
    }
  });
  EXPECT_THAT([&] { port.Exchange(kRequest); }, ThrowsDriverError(-4, "Нет связи"));
  device.join();
  EXPECT_EQ(naks, 3);
}

TEST_F(LinkTest, EmptyPayloadWithZeroCheckByte) {
  Device([&](PtyDevice& d) {
    EXPECT_EQ(Get(), ENQ);
    d.Write(std::string(1, NAK));
    d.ReadExactly(kRequest.size(), 5s);
    d.Write(Bytes({0x06, 0x02, 0x00, 0x00}));
    EXPECT_EQ(Get(), ACK);
  });
  EXPECT_EQ(port.Exchange(kRequest), "");
  EXPECT_EQ(port.Output(), "02 | 00 | 00");
}

TEST_F(LinkTest, AnswerNotStartingWithStxIsNotAcknowledged) {
  std::string afterGarbage;
  Device([&](PtyDevice& d) {
    EXPECT_EQ(Get(), ENQ);
    d.Write(std::string(1, NAK));
    d.ReadExactly(kRequest.size(), 5s);
    d.Write(Bytes({0x06, 0x7E}));
    // Nothing comes back for the garbage; the next thing is a new ENQ.
    afterGarbage = d.ReadSome(1, 5s);
    d.Write(std::string(1, ACK) + Frame(kAnswer));
    EXPECT_EQ(Get(), ACK);
  });
  EXPECT_EQ(port.Exchange(kRequest), kAnswer);
  device.join();
  EXPECT_EQ(afterGarbage, std::string(1, ENQ));
}

TEST_F(LinkTest, DeviceThatNeverAnswersProperlyIsGivenUpOn) {
  int deliveries = 0;
  Device([&](PtyDevice& d) {
    std::string bad = Frame(kAnswer);
    bad.back() ^= 1;
    while (Get(3s) == ENQ) {
      d.Write(std::string(1, NAK));
      if (d.ReadExactly(kRequest.size(), 5s) != kRequest) break;
      ++deliveries;
      d.Write(std::string(1, ACK) + bad);
      Get();  // the NAK
    }
  });
  EXPECT_THAT([&] { port.Exchange(kRequest); }, ThrowsDriverError(-4, "Нет связи"));
  pty.Interrupt();
  device.join();
  EXPECT_EQ(deliveries, link::kMaxDeliveries);
}

TEST_F(LinkTest, NoLogFileWhileLoggingIsOff) {
  settings->LogOn = false;
  Device([&](PtyDevice& d) {
    Get();
    d.Write(std::string(1, NAK));
    d.ReadExactly(kRequest.size(), 5s);
    d.Write(std::string(1, ACK) + Frame(kAnswer));
    Get();
  });
  EXPECT_EQ(port.Exchange(kRequest), kAnswer);
  EXPECT_FALSE(std::filesystem::exists(settings->LogFile));
  EXPECT_FALSE(std::filesystem::exists(env.LogDir()));
}

TEST_F(LinkTest, LogIsReleasedBetweenExchanges) {
  Device([&](PtyDevice& d) {
    for (int i = 0; i < 2; ++i) {
      Get();
      d.Write(std::string(1, NAK));
      d.ReadExactly(kRequest.size(), 5s);
      d.Write(std::string(1, ACK) + Frame(kAnswer));
      Get();
    }
  });
  port.Exchange(kRequest);
  // Another writer can take the file between exchanges, and the port
  // appends after it.
  {
    AppendOnlyFile other(settings->LogFile);
    other.Write("external\r\n");
  }
  std::filesystem::rename(settings->LogFile, settings->LogFile + ".old");
  port.Exchange(kRequest);
  device.join();
  EXPECT_EQ(LogLines().size(), 9u);
}

TEST_F(LinkTest, ALogThatCannotBeWrittenNeverChangesAnExchangeAndItsLossIsToldOnce) {
  std::vector<std::string> told;
  SetDiagnosticSink([&](const std::string& text) { told.push_back(text); });
  Device([&](PtyDevice& d) {
    for (int i = 0; i < 3; ++i) {
      Get();
      d.Write(std::string(1, NAK));
      d.ReadExactly(kRequest.size(), 5s);
      d.Write(std::string(1, ACK) + Frame(kAnswer));
      Get();
    }
  });
  {
    // Another writer holds the file: the exchanges succeed all the same.
    AppendOnlyFile holder((std::filesystem::create_directories(env.LogDir()), settings->LogFile));
    EXPECT_EQ(port.Exchange(kRequest), kAnswer);
    EXPECT_EQ(port.Exchange(kRequest), kAnswer);
  }
  ASSERT_EQ(told.size(), 1u) << "one report for the whole loss";
  EXPECT_NE(told[0].find("being written by another process"), std::string::npos) << told[0];
  EXPECT_TRUE(LogLines().empty());

  // Once the file can be written again, the next exchange's lines follow a
  // line telling how many went missing.
  EXPECT_EQ(port.Exchange(kRequest), kAnswer);
  device.join();
  SetDiagnosticSink(nullptr);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(Event(lines[0]), "Error: 18 lines of this log could not be written");
  EXPECT_EQ(Event(lines[1]), "-> 05");
  EXPECT_EQ(Event(lines[9]), "-> 06");
  ASSERT_EQ(told.size(), 2u);
  EXPECT_NE(told[1].find("written again; 18 lines were lost"), std::string::npos) << told[1];
}

TEST_F(LinkTest, AnExchangeWaitingForItsDeviceHoldsUpNoOtherPortsLog) {
  // Two ports on one writer, as in the server. COM1's device takes the
  // request and keeps its answer back; COM2 exchanges meanwhile, and its
  // lines reach the file before COM1's exchange has ended.
  PtyDevice other;
  Registry::Default().WriteString(kPortsKey, "COM2", other.SlavePath());
  auto writer = std::make_shared<TExchangeLogWriter>();
  TPort one(settings, nullptr, writer), two(settings, nullptr, writer);
  one.SetPortNumber(1);
  two.SetPortNumber(2);
  one.SetTimeout(1000);  // no retry by accident while the answer is held
  std::atomic<bool> holding{false}, answerNow{false};
  Device([&](PtyDevice& d) {
    Get();
    d.Write(std::string(1, NAK));
    d.ReadExactly(kRequest.size(), 5s);
    d.Write(std::string(1, ACK));
    holding = true;
    test::Eventually([&] { return answerNow.load(); });
    d.Write(Frame(kAnswer));
    Get();
  });
  std::thread oneExchange([&] { EXPECT_EQ(one.Exchange(kRequest), kAnswer); });
  ASSERT_TRUE(test::Eventually([&] { return holding.load(); }));
  std::thread otherDevice([&] {
    EXPECT_EQ(other.ReadExactly(1, 5s), std::string(1, ENQ));
    other.Write(std::string(1, NAK));
    other.ReadExactly(kRequest.size(), 5s);
    other.Write(std::string(1, ACK) + Frame(kAnswer));
    other.ReadExactly(1, 5s);
  });
  EXPECT_EQ(two.Exchange(kRequest), kAnswer);
  otherDevice.join();
  EXPECT_EQ(LogLines().size(), 9u) << "COM2's exchange is in the file at its end";
  answerNow = true;
  oneExchange.join();
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 18u);
  // COM1's lines come together, with the time stamps of their events: its
  // first line was stamped before COM2's exchange began.
  for (size_t i = 0; i < 9; ++i) EXPECT_EQ(Event(lines[9 + i]), Event(lines[i])) << i;
  EXPECT_LE(lines[9].substr(11, 12), lines[0].substr(11, 12));
}

// --- TComm on its own ---

class CommTest : public ::testing::Test {
 protected:
  CommTest() { Registry::Default().WriteString(kPortsKey, "COM1", pty.SlavePath()); }
  test::TempEnv env;
  PtyDevice pty;
};

TEST_F(CommTest, OpenFailures) {
  Registry reg = Registry::Default();
  reg.WriteString(kPortsKey, "COM2", env.Path("missing-device"));
  std::ofstream(env.Path("plain-file")) << "x";
  reg.WriteString(kPortsKey, "COM3", env.Path("plain-file"));

  TComm c;
  c.SetPortNumber(0);
  EXPECT_THAT([&] { c.Open(); }, ThrowsDriverError(-2, "СOM порт не доступен"));
  c.SetPortNumber(2);
  EXPECT_THAT([&] { c.Open(); }, ThrowsDriverError(-2, "СOM порт не доступен"));
  EXPECT_FALSE(c.Opened());
  c.SetPortNumber(3);
  EXPECT_THAT([&] { c.Open(); }, ThrowsDriverError(-2, "СOM порт не доступен"))
      << "a plain file is no port: not available, not busy";

  TComm a, b;
  a.SetPortNumber(1);
  b.SetPortNumber(1);
  a.Open();
  EXPECT_THAT([&] { b.Open(); }, ThrowsDriverError(-3, "СOM порт занят другим приложением"));
  a.Close();
  a.Close();  // a closed port: nothing happens
  b.Open();   // free again
  EXPECT_TRUE(b.Opened());
}

TEST_F(CommTest, WriteOnClosedPortIsRefused) {
  TComm c;
  EXPECT_THAT([&] { c.Write("x"); }, ThrowsDriverError(-17, "Порт не открыт"));
}

TEST_F(CommTest, ReadTimeouts) {
  TComm c;
  c.Open();
  EXPECT_EQ(c.Read(0), "");
  CommTimeouts to;
  to.ReadTotalTimeoutMultiplier = 50;
  to.ReadTotalTimeoutConstant = 100;
  c.SetTimeouts(to);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(c.Read(2), "");  // 50 * 2 + 100 ms
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 200ms);
  EXPECT_LT(took, 3s);

  // The interval limit ends a read once bytes stopped coming.
  to.ReadIntervalTimeout = 50;
  to.ReadTotalTimeoutMultiplier = 10000;
  c.SetTimeouts(to);
  pty.Write("ab");
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(c.Read(10), "ab");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST_F(CommTest, ReopeningKeepsBaudRateAndTimeouts) {
  TComm c;
  c.SetBaudRate(19200);
  CommTimeouts to;
  to.ReadTotalTimeoutMultiplier = 0;
  to.ReadTotalTimeoutConstant = 300;
  c.SetTimeouts(to);
  c.Open();
  EXPECT_EQ(pty.LineBaud(), 19200);
  c.Close();
  c.SetBaudRate(9600);  // stored while closed, applied on open
  c.Open();
  EXPECT_EQ(pty.LineBaud(), 9600);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(c.Read(1), "");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
  c.SetBaudRate(115200);  // applied at once on an open port
  EXPECT_EQ(pty.LineBaud(), 115200);
}

TEST_F(CommTest, ShortWriteIsAnError) {
  TComm c;
  c.Open();
  CommTimeouts to;
  to.WriteTotalTimeoutMultiplier = 0;
  to.WriteTotalTimeoutConstant = 200;
  c.SetTimeouts(to);
  // Nobody reads the device end, so the line fills up.
  try {
    c.Write(std::string(4 << 20, 'x'));
    FAIL() << "a write that could not complete succeeded";
  } catch (const EDriverError&) {
    FAIL() << "not a result-code error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Ошибка записи данных в COM порт.");
  }
}

TEST_F(CommTest, SendLogsAFailedWriteAndReturnsFalse) {
  auto settings = std::make_shared<TLinkSettings>();
  settings->LogOn = true;
  settings->LogFile = env.Path("x.log");
  {
    TPort p(settings);
    EXPECT_FALSE(p.Send(Bytes({0x05})));  // not open
  }  // an exchange's lines are appended at its end, here the port's
  EXPECT_THAT(test::ReadFileOrEmpty(settings->LogFile),
              ::testing::EndsWith(" -> 05 Error: Порт не открыт\r\n"));
}

}  // namespace
}  // namespace varn
