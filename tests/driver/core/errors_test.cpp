// How the driver names this computer to the port server.
#include "driver/core/errors.h"
#include "tests/support/test_env.h"

namespace varn {
namespace {

TEST(DriverHelpers, ComputerName) {
  // The kernel's own record of the host name, cut to 15 characters.
  std::string host = test::ReadFileOrEmpty("/proc/sys/kernel/hostname");
  while (!host.empty() && host.back() == '\n') host.pop_back();
  ASSERT_FALSE(host.empty());
  EXPECT_EQ(LocalComputerName(), host.substr(0, 15));

  // A server computer named like this one, cut or whole, is this one.
  const std::string longHost = "kassa-zal-nomer-dva.example";
  EXPECT_EQ(ShortComputerName(longHost), "kassa-zal-nomer");
  EXPECT_EQ(ShortComputerName("касса-зал-номер-два"), "касса-зал-номер");  // characters, not bytes
  for (const char* same : {"", "kassa-zal-nomer", "kassa-zal-nomer-dva.example",
                           "KASSA-ZAL-NOMER-DVA.EXAMPLE", "localhost", "127.0.0.1", "::1"})
    EXPECT_TRUE(IsThisComputer(same, longHost)) << same;
  for (const char* other : {"kassa-zal-nome", "kassa-zal-nomer-tri.example", "kassa"})
    EXPECT_FALSE(IsThisComputer(other, longHost)) << other;
}

}  // namespace
}  // namespace varn
