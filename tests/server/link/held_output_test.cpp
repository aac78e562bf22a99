// A device that holds the line with hardware flow control: what the port
// wrote never leaves. The purge at the start of each attempt waits for that
// output only as long as a write of it may take, so the exchange goes on
// instead of freezing the port (and whoever waits for it). Its own program,
// since the held output replaces ioctl and tcdrain for the whole program.
#include <atomic>
#include <thread>

#include "emulator/minimal_responder.h"
#include "platform/com_ports.h"
#include "platform/posix/testing/held_output.h"
#include "platform/registry.h"
#include "protocol/frame.h"
#include "server/link/port.h"
#include "tests/support/test_env.h"

namespace varn {
namespace {

TEST(HeldOutputTest, APurgeOnALineWhoseOutputNeverLeavesEndsAndTheExchangeGoesOn) {
  test::TempEnv env;
  emu::MinimalResponder device([](std::string_view p) { return std::string(p); });
  Registry::Default().WriteString(kPortsKey, "COM1", device.Path());
  TPort port(std::make_shared<TLinkSettings>());
  port.SetPortNumber(1);
  const std::string payload = test::Bytes({0x11, 0x00, 0x2A});

  HoldSerialOutput(true);
  std::atomic<bool> done{false};
  std::string answer;
  std::thread exchange([&] {
    try {
      answer = port.Exchange(protocol::Frame(payload));
    } catch (const std::exception& e) {
      answer = e.what();
    }
    done = true;
  });
  const bool ended = test::Eventually([&] { return done.load(); });
  HoldSerialOutput(false);  // frees a drain that waits for it
  exchange.join();
  EXPECT_TRUE(ended) << "the purge waited for the held output without end";
  EXPECT_EQ(answer, payload);
}

}  // namespace
}  // namespace varn
