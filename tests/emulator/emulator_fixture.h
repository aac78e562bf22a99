// A simulated device on a pty, registered as COM1 in a private registry,
// and a real TPort on the host side: every request goes through the link.
// The device's own time (test run, drawer) is a clock the test moves.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "emulator/emulated_device.h"
#include "platform/com_ports.h"
#include "platform/registry.h"
#include "platform/serial.h"
#include "platform/text.h"
#include "protocol/answers.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "server/link/port.h"
#include "tests/support/test_env.h"

namespace varn::emu {

using namespace std::chrono_literals;

namespace cmd = protocol::cmd;
namespace answer = protocol::answer;
namespace flag = protocol::flag;
namespace mode = protocol::mode;
using protocol::Frame;
using protocol::Request;

// `utf8` in cp1251, zero-padded to `width` (longer texts stay whole).
inline std::string Text(std::string_view utf8, size_t width) {
  std::string t = Utf8ToCp1251(utf8);
  if (t.size() < width) t.resize(width, '\0');
  return t;
}

inline uint32_t Le(std::string_view bytes) {
  uint32_t v = 0;
  for (size_t i = bytes.size(); i-- > 0;) v = (v << 8) | static_cast<uint8_t>(bytes[i]);
  return v;
}

class EmulatorTest : public ::testing::Test {
 protected:
  EmulatorTest() { port.SetPortNumber(1); }

  // A new device (the old one, if any, stops first) with the test's files.
  EmulatedDevice& Start(EmulatorOptions options = {}) {
    port.Close();
    device.reset();
    options.clock = &clock;
    device = std::make_unique<EmulatedDevice>(options);
    Registry::Default().WriteString(kPortsKey, "COM1", device->SlavePath());
    return *device;
  }
  EmulatorOptions WithPaper(EmulatorOptions o = {}) {
    o.paperPath = PaperFile();
    return o;
  }
  std::string PaperFile() const { return env.Path("paper.txt"); }
  std::string Paper() const { return test::ReadFileOrEmpty(PaperFile()); }

  std::string Send(std::string_view payload) { return port.Exchange(Frame(payload)); }
  // The device's error byte for `payload`, after checking the answer echoes
  // the command code.
  int Error(std::string_view payload) {
    const std::string a = Send(payload);
    if (a.size() < 2) {
      ADD_FAILURE() << "answer too short: " << HexDump(a);
      return -1;
    }
    EXPECT_EQ(a[0], payload.empty() ? '\0' : payload[0]);
    return static_cast<uint8_t>(a[1]);
  }
  // The data bytes of a successful answer.
  std::string Data(std::string_view payload) {
    const std::string a = Send(payload);
    EXPECT_GE(a.size(), 2u);
    EXPECT_EQ(a.size() >= 2 ? a[1] : -1, 0) << "answer " << HexDump(a);
    return a.size() >= 2 ? a.substr(2) : std::string();
  }

  test::TempEnv env;
  ManualClock clock;  // the device's time: tests move it
  std::unique_ptr<EmulatedDevice> device;
  std::shared_ptr<TLinkSettings> settings = std::make_shared<TLinkSettings>();
  TPort port{settings};  // after the device: closed before it goes
};

}  // namespace varn::emu
