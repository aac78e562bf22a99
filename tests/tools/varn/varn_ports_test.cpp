// varn ports as a user setting up a printer meets it: the real program on a
// private registry, the emulator's pseudo-terminal as COM1. The list shows
// each port's device as the system sees it, set and unset change only the
// registry's port value, and check opens the line as the port server would
// and names what is wrong: a missing path, a line another process holds
// (which one), a file that is no terminal, a device the user may not open;
// a line the running port server holds is left alone.
#include <filesystem>
#include <fstream>

#include "emulator/emulated_device.h"
#include "emulator/registration.h"
#include "platform/com_ports.h"
#include "platform/device_files.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/serial.h"
#include "platform/testing/child_process.h"
#include "tests/support/port_server.h"
#include "tests/support/test_env.h"

namespace varn::test {
namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class VarnPortsTest : public ::testing::Test {
 protected:
  ShellRun Varn(const std::string& args) {
    return RunShell(env, std::string(VARN_PROGRAM) + " " + args);
  }
  std::string Registered(int n) {
    return Registry::Default().ReadString(kPortsKey, "COM" + std::to_string(n)).value_or("(none)");
  }

  TempEnv env;
  emu::EmulatedDevice device{emu::EmulatorOptions{}};
  emu::TComRegistration com1{1, device.SlavePath()};
};

TEST_F(VarnPortsTest, TheListShowsTheEmulatorAsATerminalTheUserCanOpenAndSetUnsetRoundTrip) {
  const std::string pty = device.SlavePath();
  ShellRun r = Varn("ports");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  // COM1 is the driver's port (ComNumber 1 by default), set in the registry.
  EXPECT_THAT(r.out, ContainsRegex("\n\\* COM1 +" + pty +
                                   " +registry +terminal +c[-rw]{9} +[^ ]+ +"
                                   "[^ ]+ +read\\+write\n"))
      << r.out;
  EXPECT_THAT(r.out, StartsWith("  PORT  PATH"));

  // A stable name as udev makes it, set while the adapter is unplugged:
  // warned of, written all the same, listed as missing.
  const std::string byId = env.Path("usb-Acme_Printer_A1B2-if00-port0");
  r = Varn("ports set 5 " + byId);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_THAT(r.err, HasSubstr("warning: " + byId + " does not exist now; COM5 is set"));
  EXPECT_EQ(Registered(5), byId);
  r = Varn("ports");
  EXPECT_THAT(r.out, ContainsRegex("\n  COM5 +" + byId + " +registry +missing\n")) << r.out;

  // Plugged in: the link and where it leads.
  std::filesystem::create_symlink(pty, byId);
  r = Varn("--json ports");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr(R"({"port":1,"name":"COM1","path":")" + pty +
                               R"(","source":"registry","exists":true,"target":null,)"
                               R"("terminal":true,)"));
  EXPECT_THAT(r.out, HasSubstr(R"("readWrite":true,"driver":true})"));
  EXPECT_THAT(r.out, HasSubstr(R"({"port":5,"name":"COM5","path":")" + byId +
                               R"(","source":"registry","exists":true,"target":")" + pty + "\""));
  r = Varn("ports check 5");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "COM5 (" + byId + "): ok\n");
  r = Varn("ports --all");
  EXPECT_THAT(r.out, ContainsRegex("\n  COM32 +/dev/ttyS31 +default "));

  r = Varn("ports unset 5");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Registered(5), "(none)");
  EXPECT_EQ(Registered(1), pty) << "the other ports stay";
  EXPECT_THAT(ReadFileOrEmpty(env.RegistryFile()), Not(HasSubstr("COM5")));
  r = Varn("--json ports unset 5");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, R"({"port":5,"name":"COM5","path":"/dev/ttyS4","source":"default"})"
                   "\n");
  EXPECT_THAT(r.err, HasSubstr("COM5 was not set; it stays /dev/ttyS4"));
  r = Varn("--json ports set 6 " + pty);
  EXPECT_EQ(r.out, R"({"port":6,"name":"COM6","path":")" + pty +
                       R"(","source":"registry"})"
                       "\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Registered(6), pty);

  // Mistakes change nothing and end with 2, a slip with the nearest word.
  const std::string before = ReadFileOrEmpty(env.RegistryFile());
  for (const char* bad :
       {"ports set 33 /dev/ttyUSB0", "ports set 0 /dev/ttyUSB0", "ports set 2 ttyUSB0",
        "ports set 2", "ports unset", "ports check 1 2", "ports --all 3", "--1c ports"}) {
    r = Varn(bad);
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_EQ(r.out, "") << bad;
    EXPECT_THAT(r.err, HasSubstr("varn --help")) << bad;
  }
  EXPECT_EQ(ReadFileOrEmpty(env.RegistryFile()), before);
  EXPECT_THAT(Varn("ports chek 1").err, HasSubstr("unknown word \"chek\" after ports; did you "
                                                  "mean check?"));
  EXPECT_THAT(Varn("port").err, HasSubstr("unknown step \"port\"; did you mean ports?"));
  r = Varn("--json ports sett 1 /dev/x");
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.out,
              StartsWith(R"({"error":"unknown word \"sett\" after ports; did you mean set?)"));
  EXPECT_THAT(Varn("--help").out, HasSubstr("ports check [N]"));
}

TEST_F(VarnPortsTest, CheckSaysWhatIsWrongAndHowToFixIt) {
  ShellRun r = Varn("ports check");  // the driver's port
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "COM1 (" + device.SlavePath() + "): ok\n");

  const std::string missing = env.Path("ttyUSB7");
  Registry::Default().WriteString(kPortsKey, "COM2", missing);
  r = Varn("ports check 2");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.out, StartsWith("COM2 (" + missing + "): missing: "));
  EXPECT_THAT(r.out, HasSubstr("is the adapter plugged in? ls /dev/serial/by-id/"));

  // Held as the port server holds it, by this process.
  {
    auto held = OpenSerialLine(device.SlavePath());
    r = Varn("ports check 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, StartsWith("COM1 (" + device.SlavePath() + "): busy: held by pid " +
                                  std::to_string(CurrentProcessId()) + " ("));
    EXPECT_THAT(r.out, HasSubstr("varn_ports_test")) << "its command line";
    r = Varn("--json ports check 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr(R"("ok":false,"problem":"busy",)"));
    EXPECT_THAT(r.out, HasSubstr(R"("holders":[{"pid":)" + std::to_string(CurrentProcessId())));
  }
  EXPECT_EQ(Varn("ports check 1").status, 0) << "free again";

  const std::string file = env.Path("not-a-line");
  std::ofstream(file) << "x";
  Registry::Default().WriteString(kPortsKey, "COM3", file);
  r = Varn("ports check 3");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.out, StartsWith("COM3 (" + file + "): not a terminal: " + file + " (-rw"));

  // A device nobody may open; root opens it all the same.
  PtyDevice closed;
  std::filesystem::permissions(closed.SlavePath(), std::filesystem::perms::none);
  Registry::Default().WriteString(kPortsKey, "COM4", closed.SlavePath());
  if (std::ifstream(closed.SlavePath()).is_open())
    GTEST_SKIP() << "file modes do not stop this user (root)";
  r = Varn("ports check 4");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.out,
              StartsWith("COM4 (" + closed.SlavePath() + "): permission denied (c---------"));
  EXPECT_THAT(r.out, HasSubstr("udev rule"));
  EXPECT_THAT(Varn("ports").out, ContainsRegex("\n  COM4 +" + closed.SlavePath() +
                                               " +registry +terminal +c--------- .* denied\n"));
}

TEST_F(VarnPortsTest, ALineThePortServerHoldsIsNamedAndLeftAlone) {
  ChildProcess server{VARNSRV_PROGRAM, {"--headless"}, env.Path("server.out")};
  ASSERT_TRUE(Eventually([] { return FileExists(PortServerSocketPath()); }))
      << ReadFileOrEmpty(env.Path("server.out"));
  // One driver object that keeps the port open: varn reading its steps.
  const std::string fifo = env.Path("steps");
  ASSERT_EQ(RunShell(env, "mkfifo " + fifo).status, 0);
  ChildProcess varn("/bin/sh", {"-c", std::string("exec ") + VARN_PROGRAM + " - <" + fifo},
                    env.Path("pipe.out"));
  std::fstream steps(fifo, std::ios::in | std::ios::out);
  steps << "call Connect\n" << std::flush;
  const auto serverHolds = [&] {
    for (const FileHolder& h : FileHolders(device.SlavePath()))
      if (h.pid == server.Pid()) return true;
    return false;
  };
  ASSERT_TRUE(Eventually(serverHolds)) << ReadFileOrEmpty(env.Path("pipe.out"));

  ShellRun r = Varn("ports check 1");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "COM1 (" + device.SlavePath() + "): held by the port server (pid " +
                       std::to_string(server.Pid()) + " (" + VARNSRV_PROGRAM +
                       " --headless)), which is normal while it serves; not opened\n");
  // Its line still serves.
  steps << "call GetECRStatus\n" << std::flush;
  EXPECT_TRUE(Eventually([&] {
    return ReadFileOrEmpty(env.Path("pipe.out")).find("GetECRStatus: 0\n") != std::string::npos;
  })) << ReadFileOrEmpty(env.Path("pipe.out"));
  steps.close();
  EXPECT_EQ(varn.Wait(kPatience), 0) << ReadFileOrEmpty(env.Path("pipe.out"));
  server.Terminate();
  EXPECT_EQ(server.Wait(kPatience), 0) << ReadFileOrEmpty(env.Path("server.out"));
}

}  // namespace
}  // namespace varn::test
