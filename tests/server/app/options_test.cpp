// The command line of VarnSrv, without starting anything.
#include <cstdlib>

#include "server/app/options.h"
#include "tests/support/test_env.h"

namespace varn {
namespace {

using namespace std::chrono_literals;

TStartMode Mode(std::vector<std::string> args) {
  return ParseCommandLine(args).mode;
}

std::string UsageError(std::vector<std::string> args) {
  return test::MessageOf<EUsageError>([&] { ParseCommandLine(args); });
}

TEST(VarnSrvCommandLine, SwitchesTakeEitherPrefixAndAnyCase) {
  EXPECT_EQ(Mode({}), TStartMode::StandAlone);
  for (const char* a : {"-Embedding", "/EMBEDDING", "-automation", "/Automation"})
    EXPECT_EQ(Mode({a}), TStartMode::Automation) << a;
  for (const char* a : {"/regserver", "-RegServer", "/REGSERVER"})
    EXPECT_EQ(Mode({a}), TStartMode::RegServer) << a;
  for (const char* a : {"-unregserver", "/UnRegServer"})
    EXPECT_EQ(Mode({a}), TStartMode::UnregServer) << a;
  // Not switches: no prefix, another prefix, or more than the name.
  for (const char* a : {"Embedding", "\\Embedding", "-Embeddings", "-", "/"})
    EXPECT_EQ(Mode({a}), TStartMode::StandAlone) << a;
  // Whatever the order: a client's start first, then registering.
  EXPECT_EQ(Mode({"/UnregServer", "/RegServer"}), TStartMode::RegServer);
  EXPECT_EQ(Mode({"/RegServer", "-Embedding"}), TStartMode::Automation);
  EXPECT_EQ(Mode({"whatever", "-Embedding"}), TStartMode::Automation);
}

TEST(VarnSrvCommandLine, CloseIsLookedForInTheFirstParameterOnly) {
  for (const char* a : {"close", "/close", "-close", "xcloseY"})
    EXPECT_TRUE(ParseCommandLine({a}).close) << a;
  EXPECT_TRUE(ParseCommandLine({"close", "--bogus"}).close) << "the rest is not read";
  EXPECT_FALSE(ParseCommandLine({"Close"}).close);
  EXPECT_FALSE(ParseCommandLine({"CLOSE"}).close);
  EXPECT_FALSE(ParseCommandLine({"-Embedding", "close"}).close);
}

TEST(VarnSrvCommandLine, OwnOptions) {
  const TStartOptions o = ParseCommandLine({"-Embedding", "--headless", "--idle-limit-ms=250"});
  EXPECT_TRUE(o.headless);
  EXPECT_FALSE(o.help);
  EXPECT_EQ(o.idleLimit, 250ms);
  EXPECT_EQ(ParseCommandLine({}).idleLimit, 0ms);
  EXPECT_TRUE(ParseCommandLine({"--help"}).help);
  EXPECT_EQ(UsageError({"--headles"}), "unknown option \"--headles\"");
  EXPECT_EQ(UsageError({"--idle-limit-ms"}), "--idle-limit-ms needs a value");
  for (const char* v : {"", "x", "-5", "1e3", "9999999999"})
    EXPECT_EQ(UsageError({std::string("--idle-limit-ms=") + v}),
              std::string("--idle-limit-ms: \"") + v + "\" is not a number of milliseconds");
}

TEST(VarnSrvCommandLine, TcpForThisRun) {
  EXPECT_FALSE(ParseCommandLine({"--headless"}).tcpPort) << "the registry decides";
  EXPECT_EQ(ParseCommandLine({"--tcp"}).tcpPort, 0) << "on the registry's TCPPort";
  EXPECT_EQ(ParseCommandLine({"--headless", "--tcp=2110"}).tcpPort, 2110);
  EXPECT_EQ(ParseCommandLine({"--tcp=65535"}).tcpPort, 65535);
  for (const char* v : {"", "0", "65536", "x", "-1", "211a", "999999"})
    EXPECT_EQ(UsageError({std::string("--tcp=") + v}),
              std::string("--tcp: \"") + v + "\" is not a TCP port 1..65535");
  EXPECT_NE(UsageText().find("--tcp[=PORT]"), std::string::npos);
}

TEST(VarnSrvCommandLine, HeadlessWhenAskedOrWithoutADisplay) {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const std::string savedDisplay = display ? display : "";
  const std::string savedWayland = wayland ? wayland : "";
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  EXPECT_TRUE(RunsHeadless({}));
  setenv("DISPLAY", ":0", 1);
  EXPECT_FALSE(RunsHeadless({}));
  EXPECT_TRUE(RunsHeadless(ParseCommandLine({"--headless"})));
  unsetenv("DISPLAY");
  setenv("WAYLAND_DISPLAY", "wayland-0", 1);
  EXPECT_FALSE(RunsHeadless({}));
  unsetenv("WAYLAND_DISPLAY");
  if (display) setenv("DISPLAY", savedDisplay.c_str(), 1);
  if (wayland) setenv("WAYLAND_DISPLAY", savedWayland.c_str(), 1);
}

}  // namespace
}  // namespace varn
