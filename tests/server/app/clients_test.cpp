// Drivers' calls through the running VarnSrv program: every IVarnSrv member
// by name over the Unix socket and over TCP against the device emulator,
// the exchange log, two clients sharing a port, clients that drop or idle,
// and hostile blocks that must only ever end their own connection.
#include <functional>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/com_ports.h"
#include "remote/errors.h"
#include "tests/server/app/server_process.h"

namespace varn::test {
namespace {

// A server with TCP on a free port; `extra` arguments after --headless.
class ServerFixture : public ProgramTest {
 protected:
  void StartServer(std::vector<std::string> extra = {}) {
    tcpPort = FreeTcpPort();
    SetSetting("TCPEnabled", 1);
    SetSetting("TCPPort", static_cast<uint32_t>(tcpPort));
    std::vector<std::string> args = {"--headless"};
    args.insert(args.end(), extra.begin(), extra.end());
    server = std::make_unique<ServerProcess>(env, args);
    ASSERT_TRUE(server->Listening()) << server->Output();
    ASSERT_TRUE(server->TcpListening(tcpPort)) << server->Output();
  }
  void TearDown() override {
    if (!server) return;
    server->Child().Terminate();
    EXPECT_EQ(server->Exit(), 0) << server->Output();
    EXPECT_FALSE(FileExists(SocketPath()));
  }
  std::unique_ptr<RemoteClient> Client(Via via) {
    return std::make_unique<RemoteClient>(via, tcpPort);
  }

  int32_t tcpPort = 0;
  std::unique_ptr<ServerProcess> server;
};

class RunningServer : public ServerFixture, public ::testing::WithParamInterface<Via> {
 protected:
  std::unique_ptr<RemoteClient> Client() { return ServerFixture::Client(GetParam()); }
};

TEST_P(RunningServer, EveryMemberByNameAgainstTheEmulatorAndTheExchangeLog) {
  SetSetting("LogOn", 1);
  Reg().WriteString(kPortsKey, "COM9", env.Path("no-such-device"));
  StartServer();
  auto c = Client();
  EXPECT_EQ(c->Text(u"FileVersion"), "1.0.0.1");
  EXPECT_EQ(c->SendData(kRequest), (Outcome{-17, "Порт не открыт"}));
  EXPECT_EQ(c->Text(u"Input"), "");
  EXPECT_EQ(c->Connect(1820, u"Касса", u"SHOP-2"), (Outcome{0, kOk}));

  EXPECT_EQ(c->OpenPort(9), (Outcome{-2, "СOM порт не доступен"}));
  EXPECT_FALSE(c->Flag(u"PortOpened"));
  EXPECT_EQ(c->OpenPort(1), (Outcome{0, kOk}));
  EXPECT_TRUE(c->Flag(u"PortOpened"));
  EXPECT_EQ(c->SendData(kRequest), (Outcome{0, kOk}));
  const std::string rx = c->RxData();
  ASSERT_GE(rx.size(), 3u);
  EXPECT_EQ(rx.substr(0, 2), Bytes({protocol::cmd::GetECRStatus, 0x00}));  // no error
  EXPECT_EQ(c->Text(u"Input"), kRequestHex);
  const std::string answer = Frame(rx);
  EXPECT_EQ(c->Text(u"Output"), "02 | " + HexDump(answer.substr(1, 1)) + " | 11 | 00 | " +
                                    HexDump(rx.substr(2)) + " | " +
                                    HexDump(answer.substr(answer.size() - 1)));

  EXPECT_EQ(c->LockPort(1), (Outcome{0, kOk}));
  EXPECT_TRUE(c->Flag(u"PortLocked"));
  EXPECT_EQ(c->Call(u"UnlockPort"), (Outcome{0, kOk}));
  EXPECT_FALSE(c->Flag(u"PortLocked"));
  EXPECT_EQ(c->LockPort(1), (Outcome{0, kOk}));
  EXPECT_EQ(c->Call(u"AdminUnlockPort", {1}), (Outcome{0, kOk}));
  EXPECT_FALSE(c->Flag(u"PortLocked"));
  EXPECT_EQ(c->LockPort(1), (Outcome{0, kOk}));
  EXPECT_EQ(c->Call(u"AdminUnlockPorts"), (Outcome{0, kOk}));
  EXPECT_FALSE(c->Flag(u"PortLocked"));
  EXPECT_EQ(c->Call(u"ClosePort"), (Outcome{0, kOk}));
  EXPECT_FALSE(c->Flag(u"PortOpened"));

  // LogOn=1: every line stamped "dd.mm.yyyy hh:mm:ss.mmm", ended by CR LF.
  const std::string log = ReadFileOrEmpty(env.LogDir() + "/VarnSrv.log");
  const size_t enq = log.find("-> 05\r\n");
  const size_t request = log.find(std::string("-> ") + kRequestHex + "\r\n");
  const size_t payload = log.find("<- " + HexDump(rx) + "\r\n");
  EXPECT_TRUE(enq < request && request < payload && payload != std::string::npos) << log;
  const std::regex lines(R"((\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\.\d{3} [^\r\n]*\r\n)+)");
  EXPECT_TRUE(std::regex_match(log, lines)) << log;
}

TEST_P(RunningServer, AnIdleConnectionIsClosedAndItsObjectReleased) {
  StartServer({"--idle-limit-ms=300"});
  auto idle = Client();
  auto busy = Client();
  ASSERT_EQ(idle->LockPort(1), (Outcome{0, kOk}));
  // The idle client's lock goes with its object; `busy` stays active.
  EXPECT_TRUE(Eventually([&] { return busy->LockPort(1).code == 0; }));
  EXPECT_THROW(idle->LockPort(1), remote::ESocketConnectionError);
}

TEST_P(RunningServer, HostileBlocksNeverTakeTheServerDown) {
  StartServer();
  auto good = Client();
  ASSERT_EQ(good->OpenPort(1), (Outcome{0, kOk}));
  auto raw = [&] {
    return GetParam() == Via::Tcp ? StreamSocket::ConnectTcp("127.0.0.1", tcpPort)
                                  : StreamSocket::ConnectUnix(SocketPath());
  };
  auto send = [](StreamSocket& s, const std::string& bytes) {
    s.SendAll({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
  };
  const std::string badSignature = Bytes({0x34, 0x12, 0, 0, 0, 0, 0, 0});
  const std::string hugeSize = Bytes({0x02, 0xDA, 0, 0, 0xF0, 0xFF, 0xFF, 0x7F});
  const std::string errorAsCall =
      Bytes({0x01, 0xDA, 0, 0, 10, 0, 0, 0, 8, 0, 0, 0, 1, 0, 0, 0, 0x41, 0});
  const std::string truncated = Bytes({0x02, 0xDA, 0, 0, 100, 0, 0, 0, 3, 0, 0, 0});
  for (const std::string& hostile : {badSignature, hugeSize, errorAsCall}) {
    StreamSocket s = raw();
    send(s, hostile);
    EXPECT_EQ(ReceiveUntilClosed(s), "") << HexDump(hostile);
    EXPECT_EQ(good->SendData(kRequest), (Outcome{0, kOk})) << "after " << HexDump(hostile);
  }
  {
    StreamSocket s = raw();
    send(s, truncated);  // and the rest never comes: the client went away
  }
  EXPECT_EQ(good->SendData(kRequest), (Outcome{0, kOk})) << "after a truncated block";

  // An unknown action is answered with an error, and that connection goes on.
  StreamSocket s = raw();
  const std::string unknown = Bytes({0x63, 0xDA, 0, 0, 0, 0, 0, 0});
  send(s, unknown);
  const std::string text = "Invalid action received: 99";
  const std::string expected = test::ErrorAnswerBlock(text);
  EXPECT_EQ(HexDump(test::ReceiveUpTo(s, expected.size())), HexDump(expected));
  EXPECT_EQ(good->SendData(kRequest), (Outcome{0, kOk}));
  EXPECT_TRUE(server->Child().Running());
}

INSTANTIATE_TEST_SUITE_P(Transports, RunningServer, ::testing::Values(Via::Unix, Via::Tcp),
                         [](const auto& info) { return std::string(ViaName(info.param)); });

// Two drivers, one over TCP and one over the Unix socket, on one port.
using SharedPort = ServerFixture;

TEST_F(SharedPort, TwoClientsShareAPortAndADroppedOneReleasesItsLock) {
  StartServer();
  auto a = Client(Via::Tcp);
  auto b = Client(Via::Unix);
  ASSERT_EQ(a->Connect(1820, u"Касса", u"SHOP-2"), (Outcome{0, kOk}));
  ASSERT_EQ(b->Connect(77, u"Склад", u"SHOP-3"), (Outcome{0, kOk}));
  EXPECT_EQ(a->LockPort(1), (Outcome{0, kOk}));
  EXPECT_EQ(a->OpenPort(1), (Outcome{0, kOk}));
  EXPECT_EQ(b->LockPort(1), (Outcome{-18, "Порт заблокирован SHOP-2.1820.'Касса'"}));
  EXPECT_EQ(b->OpenPort(1), (Outcome{0, kOk}));
  // The lock is advisory: both exchange.
  EXPECT_EQ(a->SendData(kRequest), (Outcome{0, kOk}));
  EXPECT_EQ(b->SendData(kRequest), (Outcome{0, kOk}));
  EXPECT_TRUE(a->Flag(u"PortLocked"));
  EXPECT_FALSE(b->Flag(u"PortLocked"));
  EXPECT_EQ(a->Text(u"Input"), kRequestHex);  // the port's last exchange, b's

  a->Drop();
  // Only a's connection ended; its object unlocked the port on release.
  EXPECT_TRUE(Eventually([&] { return b->LockPort(1).code == 0; }));
  EXPECT_TRUE(b->Flag(u"PortLocked"));
  EXPECT_EQ(b->SendData(kRequest), (Outcome{0, kOk}));
  auto c = Client(Via::Tcp);
  EXPECT_EQ(c->Connect(5, u"Офис", u"SHOP-4"), (Outcome{0, kOk}));
  EXPECT_EQ(c->LockPort(1), (Outcome{-18, "Порт заблокирован SHOP-3.77.'Склад'"}));
}

TEST_F(SharedPort, LocalClientsWaitForASlowDeviceWhileTcpOnesGiveUpAfterThreeSeconds) {
  // Each answer begins 3.5 s after its request: longer than a TCP call waits.
  emu::FaultOptions slow;
  slow.answerDelay = 3500ms;
  device.SetFaults(slow);
  StartServer();
  auto a = Client(Via::Unix);
  auto b = Client(Via::Unix);
  auto c = Client(Via::Tcp);
  for (auto* client : {a.get(), b.get(), c.get()})
    ASSERT_EQ(client->OpenPort(1), (Outcome{0, kOk}));
  // Three exchanges on one port at once: one of the local clients waits
  // behind another's exchange as well.
  auto send = [](RemoteClient& client, Outcome& outcome) {
    try {
      outcome = client.SendData(kRequest);
    } catch (const std::exception& e) {
      outcome = {-1, e.what()};
    }
  };
  Outcome first, second;
  std::thread one(send, std::ref(*a), std::ref(first));
  std::thread two(send, std::ref(*b), std::ref(second));
  try {
    c->SendData(kRequest);
    ADD_FAILURE() << "the TCP call had its answer within 3 s";
  } catch (const remote::ESocketConnectionError& e) {
    EXPECT_STREQ(e.what(), remote::text::kNoAnswerInTime);
  }
  one.join();
  two.join();
  EXPECT_EQ(first, (Outcome{0, kOk}));
  EXPECT_EQ(second, (Outcome{0, kOk}));
  EXPECT_EQ(a->RxData().substr(0, 2), Bytes({0x11, 0x00}));
  // The local clients' connections and objects live on.
  EXPECT_EQ(a->Text(u"Input"), kRequestHex);
  EXPECT_EQ(b->SendData(kRequest), (Outcome{0, kOk}));
}

// CPU time the process has used so far, from /proc (in USER_HZ ticks,
// which Linux fixes at 100 a second).
std::chrono::milliseconds CpuTime(int64_t pid) {
  const std::string stat = ReadFileOrEmpty("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i)
    if (i >= 14) ticks += std::stol(field);  // utime, stime
  return std::chrono::milliseconds(ticks * 10);
}

TEST_F(SharedPort, ALineThatHangsUpFailsAtOnceAndThePortRecoversWhenTheDeviceIsBack) {
  auto gone = std::make_unique<emu::EmulatedDevice>(emu::EmulatorOptions{});
  auto registration = std::make_unique<emu::TComRegistration>(2, gone->SlavePath());
  StartServer();
  auto c = Client(Via::Unix);
  ASSERT_EQ(c->OpenPort(2), (Outcome{0, kOk}));
  ASSERT_EQ(c->SendData(kRequest), (Outcome{0, kOk}));

  // The device end goes away (as an emulator killed, an adapter pulled).
  registration.reset();
  gone.reset();
  const auto cpu = CpuTime(server->Pid());
  EXPECT_EQ(c->SendData(kRequest), (Outcome{-8, "read: Input/output error (the line hung up)"}));
  EXPECT_LT(CpuTime(server->Pid()) - cpu, 100ms) << "no spinning on the dead line";
  EXPECT_FALSE(c->Flag(u"PortOpened")) << "the dead line was closed";

  // A new device at the same COM number (another pty path): the next
  // exchange opens it, with no restart of server or client.
  emu::EmulatedDevice back{emu::EmulatorOptions{}};
  emu::TComRegistration again(2, back.SlavePath());
  EXPECT_EQ(c->SendData(kRequest), (Outcome{0, kOk}));
  EXPECT_EQ(c->RxData().substr(0, 2), Bytes({0x11, 0x00}));
}

}  // namespace
}  // namespace varn::test
