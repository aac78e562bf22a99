// VarnSrv started by a service manager: the listening socket handed over by
// systemd-socket-activate (which execs the server in its own process at the
// first connect, as the manager does), the notifications a Type=notify
// service sends, and a handed-over descriptor that is no listening socket.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "emulator/emulated_device.h"
#include "emulator/registration.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/process_info.h"
#include "platform/registry.h"
#include "platform/socket.h"
#include "platform/testing/child_process.h"
#include "platform/testing/datagram_receiver.h"
#include "server/settings.h"
#include "tests/support/port_server.h"
#include "tests/support/test_env.h"

namespace varn::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::chrono_literals;

constexpr const char* kActivate = "/usr/bin/systemd-socket-activate";

class ActivationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!FileExists(kActivate)) GTEST_SKIP() << kActivate << " is not installed";
    MakeDirectories(std::filesystem::path(socket).parent_path().string(), 0700);
  }

  // The server as the manager starts it: only the variables named here
  // reach it (the manager's environment is not the caller's).
  std::unique_ptr<ChildProcess> Activate(const std::string& notifyAddress,
                                         std::vector<std::string> serverArgs = {"--headless"}) {
    std::vector<std::string> args = {"-l", socket};
    for (const char* name : {"VARN_REGISTRY", "VARN_LOG_DIR", "VARN_RUNTIME_DIR", "ASAN_OPTIONS",
                             "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"})
      if (std::getenv(name)) args.insert(args.end(), {"-E", name});
    if (!notifyAddress.empty()) args.insert(args.end(), {"-E", "NOTIFY_SOCKET=" + notifyAddress});
    args.push_back(VARNSRV_PROGRAM);
    args.insert(args.end(), serverArgs.begin(), serverArgs.end());
    auto p = std::make_unique<ChildProcess>(kActivate, args, env.Path("server.out"));
    // The manager binds before it listens: until then a client is refused.
    EXPECT_TRUE(Eventually([&] { return UnixPathListens(socket) || !p->Running(); }));
    return p;
  }
  std::string Output() { return ReadFileOrEmpty(env.Path("server.out")); }

  TempEnv env;
  const std::string socket = PortServerSocketPath();
};

TEST_F(ActivationTest, TheActivatedServerPrintsAReceiptOverTheHandedSocketAndStopsOnSigterm) {
  emu::EmulatorOptions o;
  o.paperPath = env.Path("paper.txt");
  emu::EmulatedDevice device(o);
  emu::TComRegistration com1(1, device.SlavePath());
  DatagramReceiver manager(env.Path("notify.sock"));
  std::unique_ptr<ChildProcess> server = Activate(manager.Address());
  ASSERT_TRUE(server->Running()) << Output();
  // Nothing runs the server before its first client.
  EXPECT_EQ(manager.Receive(0ms), std::nullopt);

  ShellRun r = RunShell(env, std::string(VARN_PROGRAM) +
                                 " set 'StringForPrinting=Чек по сокету службы' call PrintString");
  EXPECT_EQ(r.status, 0) << r.err << Output();
  EXPECT_THAT(r.out, HasSubstr("PrintString: 0\nResultCode: 0\n"));
  EXPECT_THAT(ReadFileOrEmpty(env.Path("paper.txt")), HasSubstr("Чек по сокету службы\n"));

  // Ready, by the activated process itself, once it serves.
  const std::optional<std::string> ready = manager.Receive(kPatience);
  ASSERT_TRUE(ready) << Output();
  EXPECT_THAT(*ready, HasSubstr("READY=1\n"));
  EXPECT_THAT(*ready, HasSubstr("MAINPID=" + std::to_string(server->Pid()) + "\n"));
  EXPECT_THAT(*ready, HasSubstr("STATUS=Сервер Варн слушает " + socket));
  EXPECT_THAT(*ready, Not(HasSubstr("TCP")));

  // The receipt went through the activated server, and no other one: it is
  // what listens at the socket, and a server started by hand is refused
  // instead of taking the path over.
  EXPECT_EQ(UnixSocketListenerProcessId(socket), server->Pid());
  EXPECT_EQ(ProcessName(server->Pid()), "VarnSrv");
  ChildProcess second(VARNSRV_PROGRAM, {"--headless"}, env.Path("second.out"));
  EXPECT_EQ(second.Wait(kPatience), 1);
  EXPECT_THAT(ReadFileOrEmpty(env.Path("second.out")), HasSubstr("другой процесс"));
  EXPECT_EQ(UnixSocketListenerProcessId(socket), server->Pid());

  server->Terminate();
  const std::optional<std::string> stopping = manager.Receive(kPatience);
  ASSERT_TRUE(stopping) << Output();
  EXPECT_THAT(*stopping, HasSubstr("STOPPING=1"));
  EXPECT_EQ(server->Wait(kPatience), 0) << Output();
  // The socket file is the manager's: it stays; the lock goes.
  EXPECT_TRUE(FileExists(socket));
  EXPECT_FALSE(FileExists(socket + ".lock"));
  EXPECT_EQ(Output().find("Сервер Варн:"), std::string::npos) << Output();
}

TEST_F(ActivationTest, AbstractNotifySocketAndTcpForTheRunOnly) {
  const std::string name = "@varn-activation-test-" + std::to_string(CurrentProcessId());
  DatagramReceiver manager(name);
  const int32_t port = ListeningSocket::ListenTcp(0).Port();
  std::unique_ptr<ChildProcess> server =
      Activate(name, {"--headless", "--tcp=" + std::to_string(port)});
  ASSERT_TRUE(server->Running()) << Output();
  StreamSocket::ConnectUnix(socket);  // the first client starts it

  const std::optional<std::string> ready = manager.Receive(kPatience);
  ASSERT_TRUE(ready) << Output();
  EXPECT_THAT(*ready, HasSubstr("READY=1\n"));
  EXPECT_THAT(*ready, HasSubstr(" и TCP-порт " + std::to_string(port)));
  EXPECT_NO_THROW(StreamSocket::ConnectTcp("127.0.0.1", static_cast<uint16_t>(port)));
  // The registry is left as it was: the next plain start has no TCP.
  EXPECT_EQ(Registry::Default().ReadDword(kServerKey, "TCPEnabled"), std::nullopt);

  server->Terminate();
  const std::optional<std::string> stopping = manager.Receive(kPatience);
  ASSERT_TRUE(stopping) << Output();
  EXPECT_THAT(*stopping, HasSubstr("STOPPING=1"));
  EXPECT_EQ(server->Wait(kPatience), 0) << Output();
}

TEST_F(ActivationTest, AHandedDescriptorThatIsNoListeningSocketEndsTheStart) {
  const std::string file = env.Path("plain.txt");
  std::ofstream(file) << "not a socket";
  const std::string server = std::string("exec ") + VARNSRV_PROGRAM + " --headless";
  struct Case {
    std::string setup, reason;
  } cases[] = {
      {"LISTEN_FDS=1 " + server + " 3<" + file, "is not a listening Unix stream socket"},
      {"LISTEN_FDS=1 " + server + " 3<&-", "Bad file descriptor"},
      {"LISTEN_FDS=two " + server + " 3<" + file, "LISTEN_FDS=\"two\" is not a number"},
  };
  for (const Case& c : cases) {
    // LISTEN_PID is the shell's, which exec makes the server's.
    const ShellRun r = RunShell(env, "export LISTEN_PID=$$; " + c.setup);
    EXPECT_EQ(r.status, 1) << c.setup;
    EXPECT_THAT(r.err, HasSubstr("Сервер Варн: "));
    EXPECT_THAT(r.err, HasSubstr("(descriptor 3)")) << r.err;
    EXPECT_THAT(r.err, HasSubstr(c.reason)) << r.err;
    // It did not go and listen somewhere else.
    EXPECT_FALSE(FileExists(socket)) << c.setup;
  }
  // Variables meant for another process are not ours: a normal start.
  ChildProcess other("/bin/sh",
                     {"-c", "LISTEN_PID=1 LISTEN_FDS=1 exec " + std::string(VARNSRV_PROGRAM) +
                                " --headless 3<" + file},
                     env.Path("other.out"));
  EXPECT_TRUE(Eventually([&] { return UnixSocketListenerProcessId(socket) == other.Pid(); }))
      << ReadFileOrEmpty(env.Path("other.out"));
  other.Terminate();
  EXPECT_EQ(other.Wait(kPatience), 0);
}

TEST_F(ActivationTest, CloseRefusesToSignalAListenerThatIsNoPortServer) {
  // As a manager holding the socket looks to `VarnSrv close`: some other
  // program (this test) is the listener.
  ListeningSocket held = ListeningSocket::ListenUnix(socket);
  ChildProcess close(VARNSRV_PROGRAM, {"close"}, env.Path("close.out"));
  EXPECT_EQ(close.Wait(kPatience), 1);
  EXPECT_THAT(ReadFileOrEmpty(env.Path("close.out")),
              HasSubstr("held by process " + std::to_string(CurrentProcessId())));
  EXPECT_THAT(ReadFileOrEmpty(env.Path("close.out")), HasSubstr("not by a port server"));
}

}  // namespace
}  // namespace varn::test
