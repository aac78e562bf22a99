// The VarnSrv program as a process: its switches and registration, its
// settings, the TCP listener that cannot start, stand-alone and automation
// mode, the close request, signals, and the one-server-per-user socket.
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "platform/automation/classes.h"
#include "platform/com_ports.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/pty.h"
#include "remote/local_server.h"
#include "tests/server/app/server_process.h"
#include "tests/support/port_server.h"

namespace varn::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const std::string kClassKey = std::string("SOFTWARE\\Classes\\CLSID\\") + kVarnSrvClsid;
const std::string kProgIdKey = std::string("SOFTWARE\\Classes\\") + kVarnSrvProgId;

std::string CanonicalProgram() {
  return std::filesystem::canonical(VarnSrvProgram()).string();
}

// --- switches and registration ----------------------------------------------------

TEST_F(ProgramTest, RegistrationSwitchesInAnyFormRegisterOrRemoveTheClassAndEnd) {
  for (const char* sw : {"/regserver", "-REGSERVER", "/RegServer"}) {
    Reg().DeleteKey("SOFTWARE\\Classes");
    const RunResult r = RunProgram(env, {sw});
    EXPECT_EQ(r.status, 0) << sw << ": " << r.output;
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(RegisteredLocalServer(Reg(), kVarnSrvClsid), CanonicalProgram()) << sw;
    EXPECT_EQ(RegisteredProgId(Reg(), kVarnSrvClsid), kVarnSrvProgId);
    EXPECT_EQ(Reg().ReadString(kProgIdKey + "\\CLSID", ""), kVarnSrvClsid);
  }
  EXPECT_FALSE(FileExists(SocketPath())) << "registering starts no server";
  // The class a driver starts this program for when nothing is registered,
  // the socket it looks for and the program it starts (as the suites name
  // them for the driver).
  EXPECT_STREQ(kPortServer.Clsid, kVarnSrvClsid);
  EXPECT_STREQ(kPortServer.SocketName, kVarnSrvSocketName);
  EXPECT_STREQ(kPortServer.Program, kVarnSrvProgram);

  for (const char* sw : {"-unregserver", "/UNREGSERVER"}) {
    const RunResult r = RunProgram(env, {sw});
    EXPECT_EQ(r.status, 0) << sw << ": " << r.output;
    EXPECT_FALSE(Reg().KeyExists(kClassKey)) << sw;
    EXPECT_FALSE(Reg().KeyExists(kProgIdKey)) << sw;
  }
  // Started for a client wins over the registry switches.
  const RunResult both = RunProgram(env, {"/UnregServer", "-Embedding", "--headless", "--nope"});
  EXPECT_EQ(both.status, 1);
  EXPECT_EQ(both.output, "Сервер Варн: unknown option \"--nope\" (see --help)\n");
  const RunResult help = RunProgram(env, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.output, StartsWith("Usage: VarnSrv"));
}

TEST_F(ProgramTest, EveryStartRegistersItselfAndAFailureStopsOnlyRegServer) {
  {
    ServerProcess server(env);
    ASSERT_TRUE(server.Listening()) << server.Output();
    EXPECT_EQ(RegisteredLocalServer(Reg(), kVarnSrvClsid), CanonicalProgram());
    server.Child().Terminate();
    EXPECT_EQ(server.Exit(), 0);
  }
  // A registry file that cannot be read is never overwritten.
  const std::string garbage = "not a registry\n";
  ReplaceFileAtomically(env.RegistryFile(), garbage);
  const RunResult reg = RunProgram(env, {"/regserver"});
  EXPECT_EQ(reg.status, 1);
  EXPECT_THAT(reg.output, StartsWith("Сервер Варн: "));
  EXPECT_THAT(reg.output, HasSubstr("registry"));
  EXPECT_EQ(ReadFileOrEmpty(env.RegistryFile()), garbage);

  // A normal start ignores it, runs on the defaults, and serves.
  ServerProcess server(env, {"--headless"}, "broken");
  ASSERT_TRUE(server.Listening()) << server.Output();
  RemoteClient c(Via::Unix);
  EXPECT_EQ(c.Connect(1, u"Касса", u"SHOP-2"), (Outcome{0, kOk}));
  const Outcome open = c.OpenPort(1);  // COM1's device cannot be looked up either
  EXPECT_EQ(open.code, -8);
  EXPECT_THAT(open.text, StartsWith("registry file"));
  c.Drop();
  server.Child().Terminate();
  EXPECT_EQ(server.Exit(), 0);
  EXPECT_EQ(server.Output(), "");
}

// --- settings -------------------------------------------------------------------

TEST_F(ProgramTest, SettingsPresentAreUsedAndTheRestKeepTheirDefaults) {
  // Only the auto-unlock pair: LogOn stays off, TCP stays off.
  SetSetting("AutoUnlock", 1);
  SetSetting("PortTimeout", 1);
  ServerProcess server(env);
  ASSERT_TRUE(server.Listening()) << server.Output();
  RemoteClient a(Via::Unix), b(Via::Unix);
  ASSERT_EQ(a.Connect(1820, u"Касса", u"SHOP-2"), (Outcome{0, kOk}));
  ASSERT_EQ(a.LockPort(1), (Outcome{0, kOk}));
  ASSERT_EQ(a.OpenPort(1), (Outcome{0, kOk}));
  ASSERT_EQ(a.SendData(kRequest), (Outcome{0, kOk}));
  const auto locked = std::chrono::steady_clock::now();
  EXPECT_EQ(b.LockPort(1).code, -18);
  // One second without an exchange releases the lock.
  EXPECT_TRUE(Eventually([&] { return b.LockPort(1).code == 0; }));
  EXPECT_GE(std::chrono::steady_clock::now() - locked, 900ms);
  EXPECT_FALSE(a.Flag(u"PortLocked"));
  EXPECT_FALSE(FileExists(env.LogDir() + "/VarnSrv.log")) << "LogOn is off by default";
  // Loading writes nothing: the values are created only by an apply.
  EXPECT_THAT(Reg().ValueNames(kServerKey),
              ::testing::UnorderedElementsAre("AutoUnlock", "PortTimeout"));
  a.Drop();
  b.Drop();
  server.Child().Terminate();
  EXPECT_EQ(server.Exit(), 0);
  EXPECT_EQ(server.Output(), "");
}

TEST_F(ProgramTest, ATcpListenerThatCannotStartIsReportedAndTheServerRunsOn) {
  ListeningSocket taken = ListeningSocket::ListenTcp(0);
  const uint16_t port = taken.Port();
  SetSetting("TCPEnabled", 1);
  SetSetting("TCPPort", port);
  {
    ServerProcess server(env);
    ASSERT_TRUE(server.Listening()) << server.Output();
    EXPECT_TRUE(Eventually([&] { return server.Output().ends_with("\n"); }));
    // A Russian lead-in, the system's own reason.
    EXPECT_EQ(server.Output(), "Сервер Варн: не удалось слушать TCP-порт " + std::to_string(port) +
                                   ": Address already in use; сервер работает дальше без "
                                   "TCP-подключений\n");
    RemoteClient local(Via::Unix);
    EXPECT_EQ(local.Connect(1, u"Касса", u"SHOP-2"), (Outcome{0, kOk}));
    local.Drop();
    server.Child().Terminate();
    EXPECT_EQ(server.Exit(), 0);
  }
  EXPECT_EQ(Reg().ReadDword(kServerKey, "TCPEnabled"), 1u) << "the registry keeps its value";

  SetSetting("TCPPort", 70000);
  ServerProcess server(env, {"--headless"}, "range");
  ASSERT_TRUE(server.Listening()) << server.Output();
  EXPECT_TRUE(Eventually([&] { return server.Output().ends_with("\n"); }));
  EXPECT_EQ(server.Output(),
            "Сервер Варн: TCP-порт 70000 вне диапазона 1..65535; сервер работает дальше без "
            "TCP-подключений\n");
  server.Child().Terminate();
  EXPECT_EQ(server.Exit(), 0);
}

// --- modes, closing, signals ------------------------------------------------------

TEST_F(ProgramTest, StandAloneRunsOnWithoutClientsUntilAskedToClose) {
  // Closing what is not there: said so, and exit code 1 for scripts.
  const RunResult nobody = RunProgram(env, {"close"}, "close-none");
  EXPECT_EQ(nobody.status, 1);
  EXPECT_EQ(nobody.output, "Сервер Варн: сервер не запущен (никто не слушает " + SocketPath() +
                               "), закрывать нечего\n");
  EXPECT_FALSE(FileExists(SocketPath()));

  ServerProcess server(env);
  ASSERT_TRUE(server.Listening()) << server.Output();
  EXPECT_EQ(std::filesystem::status(env.Path("run")).permissions(),
            std::filesystem::perms::owner_all)
      << "the runtime folder is the user's alone";
  {
    RemoteClient c(Via::Unix);
    EXPECT_EQ(c.OpenPort(1), (Outcome{0, kOk}));
  }
  // The last object went; a second client finds the same server.
  RemoteClient again(Via::Unix);
  EXPECT_EQ(again.OpenPort(1), (Outcome{0, kOk}));
  EXPECT_EQ(UnixSocketListenerProcessId(SocketPath()), server.Pid());
  again.Drop();

  // "close" anywhere in the first parameter; the rest of the line is not read.
  const RunResult close = RunProgram(env, {"/close", "--no-such-option"}, "close");
  EXPECT_EQ(close.status, 0) << close.output;
  EXPECT_EQ(server.Exit(), 0) << server.Output();
  EXPECT_FALSE(FileExists(SocketPath()));
  // Case matters: "Close" is no close request (an ordinary start instead).
  ServerProcess other(env, {"Close", "--headless"}, "Close");
  EXPECT_TRUE(other.Listening()) << other.Output();
}

TEST_F(ProgramTest, TerminationSignalsCloseCleanlyAndLeaveNoSocketBehind) {
  for (bool interrupt : {false, true}) {
    ServerProcess server(env);
    ASSERT_TRUE(server.Listening()) << server.Output();
    RemoteClient c(Via::Unix);
    ASSERT_EQ(c.LockPort(1), (Outcome{0, kOk}));
    ASSERT_EQ(c.OpenPort(1), (Outcome{0, kOk}));
    ASSERT_EQ(c.SendData(kRequest), (Outcome{0, kOk}));
    if (interrupt)
      server.Child().Interrupt();
    else
      server.Child().Terminate();
    EXPECT_EQ(server.Exit(), 0) << server.Output();
    EXPECT_EQ(server.Output(), "");
    EXPECT_FALSE(FileExists(SocketPath()));
    EXPECT_FALSE(FileExists(SocketPath() + ".lock")) << "removed at a clean end";
    EXPECT_THROW(c.SendData(kRequest), std::exception) << "its connection ended";
  }
  // The port was closed and freed: this process can open the device itself.
  ServerProcess next(env, {"--headless"}, "next");
  ASSERT_TRUE(next.Listening());
  RemoteClient c(Via::Unix);
  EXPECT_EQ(c.OpenPort(1), (Outcome{0, kOk}));
  EXPECT_EQ(c.SendData(kRequest), (Outcome{0, kOk}));
}

TEST_F(ProgramTest, ASecondServerKeepsOffALiveSocketAndReplacesAStaleOne) {
  ServerProcess first(env);
  ASSERT_TRUE(first.Listening()) << first.Output();
  const RunResult second = RunProgram(env, {"--headless"}, "second");
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(second.output, "Сервер Варн: не удалось слушать " + SocketPath() +
                               ": там уже слушает другой процесс\n");
  // The one that failed left the first one's lock alone: a third is kept
  // off as well.
  EXPECT_TRUE(FileExists(SocketPath() + ".lock"));
  EXPECT_EQ(RunProgram(env, {"--headless"}, "again").status, 1);
  RemoteClient c(Via::Unix);
  EXPECT_EQ(c.Connect(1, u"Касса", u"SHOP-2"), (Outcome{0, kOk}));
  c.Drop();

  first.Child().Kill();  // a crash: the socket file stays behind
  EXPECT_EQ(first.Exit(), 128 + 9);
  EXPECT_TRUE(FileExists(SocketPath()));
  ServerProcess third(env, {"--headless"}, "third");
  ASSERT_TRUE(third.Listening()) << third.Output();
  RemoteClient d(Via::Unix);
  EXPECT_EQ(d.Connect(1, u"Касса", u"SHOP-2"), (Outcome{0, kOk}));
}

TEST_F(ProgramTest, ARuntimeFolderThatIsNotTheUsersAloneIsRefusedByServerAndClients) {
  namespace fs = std::filesystem;
  const std::string folder = env.Path("run");
  fs::create_directories(folder);
  fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
  const std::string open = "the runtime folder " + folder +
                           " is not safe to use: it is open to other users (mode 0755; it "
                           "must be 0700)";
  const RunResult server = RunProgram(env, {"--headless"}, "open");
  EXPECT_EQ(server.status, 1);
  EXPECT_EQ(server.output, "Сервер Варн: " + open + "\n");
  const RunResult close = RunProgram(env, {"close"}, "close");
  EXPECT_EQ(close.status, 1);
  EXPECT_EQ(close.output, "Сервер Варн: " + open + "\n");
  auto expectRefused = [](const std::function<void()>& connect, const std::string& text) {
    try {
      connect();
      ADD_FAILURE() << "connected";
    } catch (const EOSError& e) {
      EXPECT_EQ(e.what(), text);
    }
  };
  remote::TkxLocalSocketConnection conn;
  conn.Path = SocketPath();
  conn.ServerGUID = kVarnSrvClsid;
  expectRefused([&] { conn.Open(); }, open);
  bool started = false;
  remote::TLocalServerConnector connector(kVarnSrvLocalServer);
  connector.StartServer = [&] { started = true; };
  expectRefused([&] { connector.Open(conn); }, open);
  EXPECT_FALSE(started) << "no server is started into such a folder";

  // A folder of another user (made here by a server running as one).
  if (!TestsRunAsRoot()) GTEST_SKIP() << "only root can run a server as another user";
  fs::remove_all(folder);
  ServerProcess other(env, {"--headless"}, "other", RunAs::OrdinaryUser);
  ASSERT_TRUE(other.Listening()) << other.Output();
  expectRefused([&] { conn.Open(); }, "the runtime folder " + folder +
                                          " is not safe to use: it belongs to user " +
                                          std::to_string(kNobody) + ", not to this user (0)");
}

TEST_F(ProgramTest, APortThatCannotBeOpenedTellsTheSystemsReasonToTheErrorFileAndTheLog) {
  namespace fs = std::filesystem;
  const std::string missing = env.Path("no-such-device");
  const std::string locked = env.Path("device-of-root");
  const std::string plain = env.Path("plain-file");
  ReplaceFileAtomically(locked, "");
  ReplaceFileAtomically(plain, "");
  fs::permissions(locked, fs::perms::none);
  fs::permissions(plain, fs::perms::all);
  Reg().WriteString(kPortsKey, "COM9", missing);
  Reg().WriteString(kPortsKey, "COM5", locked);
  Reg().WriteString(kPortsKey, "COM7", plain);
  // A device open to its group, of a group the ordinary user is not in.
  const std::string grouped = env.Path("device-of-a-group");
  ReplaceFileAtomically(grouped, "");
  fs::permissions(grouped, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                               fs::perms::group_write);
  Reg().WriteString(kPortsKey, "COM6", grouped);
  SetSetting("LogOn", 1);
  const int32_t tcpPort = FreeTcpPort();
  SetSetting("TCPEnabled", 1);
  SetSetting("TCPPort", static_cast<uint32_t>(tcpPort));
  // As an ordinary user, whom file modes stop; reached over TCP, since its
  // runtime folder is not this user's. Its standard error is read here, but
  // a server started on demand has it on /dev/null: the error file has all.
  ServerProcess server(env, {"--headless"}, "server", RunAs::OrdinaryUser);
  ASSERT_TRUE(server.Listening()) << server.Output();
  ASSERT_TRUE(server.TcpListening(tcpPort)) << server.Output();
  RemoteClient c(Via::Tcp, tcpPort);
  const Outcome unavailable{-2, "СOM порт не доступен"};
  EXPECT_EQ(c.OpenPort(9), unavailable);
  EXPECT_EQ(c.OpenPort(7), unavailable) << "a plain file is no port, not a busy one";
  EXPECT_EQ(c.OpenPort(5), unavailable);
  ASSERT_EQ(c.LockPort(5), (Outcome{0, kOk}));
  EXPECT_EQ(c.SendData(kRequest), unavailable) << "the exchange's own open fails alike";

  const std::string absent = "COM9: No such file or directory: " + missing;
  const std::string notTerminal = "COM7: " + plain + " is not a terminal";
  // No group to join would help: no hint of one, but whose it is.
  const std::string denied = TestsRunAsRoot() ? "COM5: Permission denied: " + locked +
                                                    " (owner root, group root, mode 0000)"
                                              : "COM5: Permission denied: " + locked + " (owner ";
  EXPECT_TRUE(Eventually([&] { return server.Output().find(denied) != std::string::npos; }))
      << server.Output();
  const std::string out = server.Output();
  EXPECT_THAT(out, StartsWith("Сервер Варн: " + absent + "\nСервер Варн: " + notTerminal +
                              "\nСервер Варн: " + denied));
  EXPECT_EQ(out.find(denied), out.rfind(denied)) << "each reason once while it stays the same";
  EXPECT_THAT(out, Not(HasSubstr("dialout")));
  // The file of them is written after the standard error.
  std::string errors;
  EXPECT_TRUE(Eventually([&] {
    errors = ReadFileOrEmpty(env.LogDir() + "/VarnSrv.err");
    return errors.find(denied) != std::string::npos;
  }));
  for (const std::string& reason : {absent, notTerminal, denied})
    EXPECT_THAT(errors, HasSubstr(" " + reason)) << errors;
  const std::string log = ReadFileOrEmpty(env.LogDir() + "/VarnSrv.log");
  EXPECT_THAT(log, HasSubstr(" Error: " + absent + "\r\n"));
  const size_t first = log.find(" Error: " + denied);
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_NE(log.find(" Error: " + denied, first + 1), std::string::npos)
      << "in the log at every refusal";

  if (!TestsRunAsRoot()) return;  // only root gives the file to a group
  EXPECT_EQ(c.OpenPort(6), unavailable);
  EXPECT_TRUE(Eventually([&] {
    return server.Output().find("COM6: Permission denied: " + grouped +
                                " — is the user in the root group?") != std::string::npos;
  })) << server.Output();
}

TEST_F(ProgramTest, UnderSystemdTheReasonsGoToStandardErrorAlone) {
  Reg().WriteString(kPortsKey, "COM9", env.Path("no-such-device"));
  setenv("INVOCATION_ID", "0123456789abcdef", 1);
  ServerProcess server(env);
  unsetenv("INVOCATION_ID");
  ASSERT_TRUE(server.Listening()) << server.Output();
  RemoteClient c(Via::Unix);
  EXPECT_EQ(c.OpenPort(9).code, -2);
  EXPECT_TRUE(Eventually([&] { return server.Output().find("COM9: ") != std::string::npos; }));
  EXPECT_FALSE(FileExists(env.LogDir() + "/VarnSrv.err")) << "the journal has it";
}

// A silent device and a client asking for the longest time-out: the port
// is held only as long as the device could be told, and an end of the
// server ends the exchange at once.
TEST_F(ProgramTest, ATimeoutIsBoundedAndAnEndingServerCutsAnExchangeShort) {
  PtyDevice silent;  // takes every byte, answers none
  Reg().WriteString(kPortsKey, "COM2", silent.SlavePath());
  for (bool byCloseRequest : {false, true}) {
    ServerProcess server(env, {"--headless"}, byCloseRequest ? "closed" : "terminated");
    ASSERT_TRUE(server.Listening()) << server.Output();
    RemoteClient c(Via::Unix);
    EXPECT_EQ(c.OpenPort(2, 4800, 2147483647),
              (Outcome{-8, "Недопустимый тайм-аут: 2147483647 (0..105000 мс)"}));
    ASSERT_EQ(c.OpenPort(2, 4800, 105000), (Outcome{0, kOk}));
    std::atomic<bool> done{false};
    std::thread exchange([&] {
      try {
        EXPECT_NE(c.SendData(kRequest).code, 0);
      } catch (const std::exception&) {
        // The connection went with the server: as good an end.
      }
      done = true;
    });
    // The exchange is under way (ENQ went out) and would wait 105 s for a reply.
    EXPECT_EQ(silent.ReadExactly(1, kPatience), "\x05");
    if (byCloseRequest)
      EXPECT_EQ(RunProgram(env, {"close"}, "close").status, 0);
    else
      server.Child().Terminate();
    EXPECT_EQ(server.Exit(), 0) << "ended well before the exchange would have" << server.Output();
    exchange.join();
    EXPECT_TRUE(done);
    silent.DiscardInput();
  }
  // The line was closed: the next server has it at once.
  ServerProcess next(env, {"--headless"}, "next");
  ASSERT_TRUE(next.Listening());
  RemoteClient c(Via::Unix);
  EXPECT_EQ(c.OpenPort(2), (Outcome{0, kOk}));
}

TEST_F(ProgramTest, AfterTheServerIsKilledAnOrdinaryUsersServerOpensTheEmulatedPortAgain) {
  // The pty is made by this process; an ordinary user's server must be let in.
  std::filesystem::permissions(
      device.SlavePath(),
      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
          std::filesystem::perms::group_read | std::filesystem::perms::group_write |
          std::filesystem::perms::others_read | std::filesystem::perms::others_write);
  const int32_t tcpPort = FreeTcpPort();
  SetSetting("TCPEnabled", 1);
  SetSetting("TCPPort", static_cast<uint32_t>(tcpPort));
  auto connect = [&] {
    std::unique_ptr<RemoteClient> c;
    EXPECT_TRUE(Eventually([&] {
      try {
        c = std::make_unique<RemoteClient>(Via::Tcp, tcpPort);
        return true;
      } catch (const std::exception&) {
        return false;
      }
    }));
    return c;
  };
  {
    ServerProcess crashed(env, {"--headless"}, "crashed", RunAs::OrdinaryUser);
    ASSERT_TRUE(crashed.Listening()) << crashed.Output();
    auto c = connect();
    ASSERT_TRUE(c);
    ASSERT_EQ(c->OpenPort(1), (Outcome{0, kOk}));
    ASSERT_EQ(c->SendData(kRequest), (Outcome{0, kOk}));
    crashed.Child().Kill();  // no chance to clear the exclusive mode
    EXPECT_EQ(crashed.Exit(), 128 + 9);
  }
  ServerProcess restarted(env, {"--headless"}, "restarted", RunAs::OrdinaryUser);
  ASSERT_TRUE(restarted.Listening()) << restarted.Output();
  auto c = connect();
  ASSERT_TRUE(c);
  EXPECT_TRUE(Eventually([&] { return c->OpenPort(1).code == 0; }))
      << "the port stays busy (-3) for an ordinary user";
  EXPECT_EQ(c->SendData(kRequest), (Outcome{0, kOk}));
}

// Started by a driver's local activation through the registered
// LocalServer32, with -Embedding: it ends when its last object is released.
TEST_F(ProgramTest, AutomationModeEndsAfterTheLastRelease) {
  ASSERT_EQ(RunProgram(env, {"/RegServer"}).status, 0);
  auto activate = [] {
    auto conn = std::make_unique<remote::TkxLocalSocketConnection>();
    conn->ServerGUID = kVarnSrvClsid;
    remote::TLocalServerConnector connector(kVarnSrvLocalServer);
    connector.Open(*conn);
    return std::make_unique<RemoteClient>(std::move(conn));
  };
  auto first = activate();
  const std::optional<int64_t> pid = UnixSocketListenerProcessId(SocketPath());
  ASSERT_TRUE(pid);
  EXPECT_NE(*pid, CurrentProcessId());
  auto second = activate();
  EXPECT_EQ(UnixSocketListenerProcessId(SocketPath()), pid) << "one server for both";
  EXPECT_EQ(first->OpenPort(1), (Outcome{0, kOk}));
  EXPECT_EQ(first->SendData(kRequest), (Outcome{0, kOk}));
  EXPECT_EQ(second->LockPort(1), (Outcome{0, kOk}));

  first.reset();
  EXPECT_EQ(second->SendData(kRequest), (Outcome{0, kOk})) << "one object is still held";
  EXPECT_TRUE(ProcessIsRunning(*pid));
  second.reset();
  const bool ended = Eventually([&] { return !ProcessIsRunning(*pid); });
  if (!ended) TerminateProcess(*pid);
  EXPECT_TRUE(ended) << "still running after its last object was released";
  EXPECT_FALSE(FileExists(SocketPath()));
}

// Drivers coming and going back to back against a server started on
// demand, as runs of a command line do: a driver that reaches a server is
// served to its end, even one that comes just as that server saw its last
// object go; a driver that comes after it stopped listening starts the
// next one. The pauses between runs and the time each uses its connection
// vary, so that arrivals fall before, into and after a server's ending.
TEST_F(ProgramTest, DriversComingAndGoingBackToBackAreNeverCutOff) {
  ASSERT_EQ(RunProgram(env, {"/RegServer"}).status, 0);
  std::vector<std::string> failures;
  std::set<int64_t> servers;
  for (int run = 0; run < 15; ++run) {
    std::this_thread::sleep_for(std::chrono::milliseconds(run % 3 * 3));
    const auto use = run % 2 == 1 ? 250ms : 0ms;
    try {
      auto conn = std::make_unique<remote::TkxLocalSocketConnection>();
      conn->ServerGUID = kVarnSrvClsid;
      remote::TLocalServerConnector connector(kVarnSrvLocalServer);
      connector.Open(*conn);
      if (const auto pid = UnixSocketListenerProcessId(SocketPath())) servers.insert(*pid);
      RemoteClient c(std::move(conn));
      auto expectOk = [](const Outcome& o) {
        if (o != Outcome{0, kOk}) throw std::runtime_error(std::to_string(o.code) + " " + o.text);
      };
      expectOk(c.Connect(run, u"varn", u"SHOP-2"));
      expectOk(c.OpenPort(1));
      const auto until = std::chrono::steady_clock::now() + use;
      do {
        expectOk(c.SendData(kRequest));
      } while (std::chrono::steady_clock::now() < until);
    } catch (const std::exception& e) {
      failures.push_back("run " + std::to_string(run) + ": " + e.what());
    }
  }
  EXPECT_THAT(failures, ::testing::IsEmpty());
  // Every server started on the way ended with its last object.
  for (int64_t pid : servers) {
    const bool ended = Eventually([&] { return !ProcessIsRunning(pid); });
    if (!ended) TerminateProcess(pid);
    EXPECT_TRUE(ended) << pid << " still runs";
  }
  EXPECT_FALSE(FileExists(SocketPath()));
}

}  // namespace
}  // namespace varn::test
