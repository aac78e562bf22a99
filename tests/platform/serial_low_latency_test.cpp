// The low-latency switch of OpenSerialLine: a line that takes it gets the
// flag written, one that refuses it is still opened and the refusal is told
// once per path, one without such flags (and a real pseudo-terminal) is
// opened silently and works. The driver's answers come from the
// serial-flags seam, since a pty has none.
#include <chrono>
#include <string>
#include <vector>

#include "platform/diagnostics.h"
#include "platform/posix/testing/serial_flags.h"
#include "platform/pty.h"
#include "platform/serial.h"
#include "tests/support/test_env.h"

namespace varn {
namespace {

using namespace std::chrono_literals;

class SerialLowLatencyTest : public ::testing::Test {
 protected:
  SerialLowLatencyTest() {
    SetDiagnosticSink([this](const std::string& text) { told.push_back(text); });
  }
  ~SerialLowLatencyTest() override {
    SetDiagnosticSink(nullptr);
    AnswerSerialFlags(SerialFlagsAnswer::System);
  }

  // The line as the server uses it: settings, a byte each way.
  static void ExpectWorks(ISerialLine& line, PtyDevice& device) {
    line.ApplyLineSettings(9600);
    CommTimeouts t;
    t.ReadTotalTimeoutConstant = 5000;
    line.SetTimeouts(t);
    EXPECT_EQ(line.Write("\x05"), 1u);
    EXPECT_EQ(device.ReadExactly(1, 5s), "\x05");
    device.Write("\x15");
    EXPECT_EQ(line.Read(1), "\x15");
  }

  std::vector<std::string> told;
};

TEST_F(SerialLowLatencyTest, AnAdapterThatTakesItGetsTheFlagWrittenOnceItIsOff) {
  PtyDevice device;
  AnswerSerialFlags(SerialFlagsAnswer::Accept);
  {
    auto line = OpenSerialLine(device.SlavePath());
    ExpectWorks(*line, device);
  }
  const SerialFlagsCalls calls = SerialFlagsLog();
  EXPECT_EQ(calls.reads, 1);
  EXPECT_EQ(calls.writes, 1);
  EXPECT_EQ(calls.lowLatencyWrites, 1);

  // Already on: read, nothing written.
  AnswerSerialFlags(SerialFlagsAnswer::AlreadySet);
  OpenSerialLine(device.SlavePath());
  EXPECT_EQ(SerialFlagsLog().reads, 1);
  EXPECT_EQ(SerialFlagsLog().writes, 0);
  EXPECT_TRUE(told.empty()) << told.front();
}

TEST_F(SerialLowLatencyTest, ARefusalIsToldOncePerPathAndTheLineStillOpens) {
  PtyDevice device, other;
  AnswerSerialFlags(SerialFlagsAnswer::Refuse);
  {
    auto line = OpenSerialLine(device.SlavePath());
    ExpectWorks(*line, device);
  }
  auto again = OpenSerialLine(device.SlavePath());
  again.reset();
  EXPECT_EQ(SerialFlagsLog().writes, 2) << "each open asks again";
  ASSERT_EQ(told.size(), 1u) << "told once for two opens of one path";
  EXPECT_EQ(told[0], device.SlavePath() +
                         ": low-latency mode refused (Operation not permitted); input may lag "
                         "by the adapter's latency timer");

  // Another path is another fact.
  OpenSerialLine(other.SlavePath());
  ASSERT_EQ(told.size(), 2u);
  EXPECT_EQ(told[1].rfind(other.SlavePath() + ": low-latency mode refused", 0), 0u) << told[1];
}

TEST_F(SerialLowLatencyTest, ALineWithoutSuchFlagsAndARealPtyOpenSilently) {
  PtyDevice device;
  AnswerSerialFlags(SerialFlagsAnswer::Unsupported);
  {
    auto line = OpenSerialLine(device.SlavePath());
    ExpectWorks(*line, device);
  }
  AnswerSerialFlags(SerialFlagsAnswer::System);
  for (int i = 0; i < 2; ++i) {
    auto line = OpenSerialLine(device.SlavePath());
    ExpectWorks(*line, device);
  }
  EXPECT_TRUE(told.empty()) << told.front();
}

}  // namespace
}  // namespace varn
