// The VarnSrv program's TCP listener as other computers meet it: TCPAllow
// letting in its networks and closing every other connection before a byte
// is read (told once per address), TCPAddress choosing where it listens,
// settings that cannot be read keeping the listener shut, and keepalive on
// the accepted connections as the system shows them.
#include "platform/files.h"
#include "platform/process.h"
#include "server/app/error_file.h"
#include "server/context.h"
#include "tests/server/app/server_process.h"

namespace varn::test {
namespace {

using ::testing::HasSubstr;

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class TcpListenerTest : public ProgramTest {
 protected:
  int32_t EnableTcp() {
    const int32_t port = FreeTcpPort();
    SetSetting("TCPEnabled", 1);
    SetSetting("TCPPort", static_cast<uint32_t>(port));
    return port;
  }
  void SetText(const char* name, const std::string& text) {
    Reg().WriteString(kServerKey, name, text);
  }
  // Nothing listens on `host`:`port` (refused, not reset after a connect).
  bool NothingListens(const std::string& host, int32_t port) {
    try {
      StreamSocket::ConnectTcp(host, static_cast<uint16_t>(port));
      return false;
    } catch (const ESocketError& e) {
      return e.NothingListens();
    }
  }
  std::string ErrorFile() { return ReadFileOrEmpty(env.LogDir() + "/VarnSrv.err"); }
};

TEST_F(TcpListenerTest, OnlyTheAllowedNetworksAreServedAndOthersAreClosedUnread) {
  const int32_t port = EnableTcp();
  SetText("TCPAllow", "127.0.0.1/32, fd00::/8");
  ServerProcess server(env);
  ASSERT_TRUE(server.TcpListening(port)) << server.Output();

  // A driver's connection from an allowed address is served as ever.
  RemoteClient allowed(Via::Tcp, port);
  EXPECT_EQ(allowed.Connect(1820, u"Касса", u"SHOP-2"), (Outcome{0, kOk}));
  EXPECT_EQ(allowed.OpenPort(1), (Outcome{0, kOk}));
  EXPECT_EQ(allowed.LockPort(1), (Outcome{0, kOk}));
  EXPECT_EQ(allowed.SendData(kRequest), (Outcome{0, kOk}));

  // From 127.0.0.2: closed at once, whatever it sends, without an answer;
  // told once, however often it comes back.
  const std::string refusal = "TCP: соединение с 127.0.0.2 отклонено: адреса нет в TCPAllow";
  for (int attempt = 0; attempt < 3; ++attempt) {
    StreamSocket outsider =
        StreamSocket::ConnectTcp("127.0.0.1", static_cast<uint16_t>(port), "127.0.0.2");
    if (attempt == 1) outsider.SendAll(std::span(reinterpret_cast<const uint8_t*>("\x01\x02"), 2));
    EXPECT_EQ(ReceiveUntilClosed(outsider), "") << attempt;
  }
  StreamSocket third =
      StreamSocket::ConnectTcp("127.0.0.1", static_cast<uint16_t>(port), "127.0.0.3");
  EXPECT_EQ(ReceiveUntilClosed(third), "");
  ASSERT_TRUE(Eventually([&] { return Count(server.Output(), "127.0.0.3") == 1; }))
      << server.Output();
  const std::string out = server.Output();
  EXPECT_EQ(Count(out, refusal), 1u) << out;
  EXPECT_EQ(Count(out, "127.0.0.2"), 1u) << out;
  EXPECT_THAT(out, HasSubstr("Сервер Варн: " + refusal + "\n"));
  EXPECT_EQ(Count(out, "не пришёл ни один блок"), 0u) << "closed before any wait for a block";
  // Also for a server nobody watches the standard error of.
  // Written after the standard error: looked at until it is there.
  EXPECT_TRUE(Eventually([&] { return Count(ErrorFile(), refusal) > 0; }));
  EXPECT_EQ(Count(ErrorFile(), refusal), 1u) << ErrorFile();

  // The served client kept its lock through all of it.
  RemoteClient other(Via::Unix);
  EXPECT_EQ(other.LockPort(1).code, -18);
  EXPECT_EQ(allowed.SendData(kRequest), (Outcome{0, kOk}));
  allowed.Drop();
  other.Drop();
  server.Child().Terminate();
  EXPECT_EQ(server.Exit(), 0);
}

TEST_F(TcpListenerTest, TheAcceptedConnectionHasKeepAlive) {
  if (!FileExists("/usr/bin/ss") && !FileExists("/bin/ss"))
    GTEST_SKIP() << "no ss (iproute2) to look at the server's sockets with";
  const int32_t port = EnableTcp();
  ServerProcess server(env);
  ASSERT_TRUE(server.TcpListening(port)) << server.Output();
  RemoteClient c(Via::Tcp, port);
  ASSERT_EQ(c.Connect(1, u"Касса", u"SHOP-2"), (Outcome{0, kOk}));
  // The server's end (source port = the listener's) waits for the next
  // probe, some 30 s after the last traffic.
  const std::string command =
      "ss -tnoH state established '( sport = :" + std::to_string(port) + " )'";
  std::string shown;
  EXPECT_TRUE(Eventually([&] {
    shown = RunShell(env, command).out;
    return shown.find("timer:(keepalive,") != std::string::npos;
  })) << shown;
  EXPECT_EQ(Count(shown, "\n"), 1u) << "one accepted connection: " << shown;
  c.Drop();
  server.Child().Terminate();
  EXPECT_EQ(server.Exit(), 0);
}

TEST_F(TcpListenerTest, TcpAddressChoosesWhereItListensAndOnlyLiterals) {
  const int32_t port = EnableTcp();
  struct Listened {
    const char* setting;
    const char* there;     // served there
    const char* notThere;  // and nothing listens here
  } listened[] = {
      {"127.0.0.2", "127.0.0.2", "127.0.0.1"},
      // "localhost" is IPv4's loopback, blanks around it do not matter.
      {" LocalHost ", "127.0.0.1", "127.0.0.2"},
  };
  for (const Listened& l : listened) {
    SCOPED_TRACE(l.setting);
    SetText("TCPAddress", l.setting);
    ServerProcess server(env, {"--headless"}, l.there);
    ASSERT_TRUE(server.TcpListening(port)) << server.Output();
    RemoteClient there(Via::Tcp, port, l.there);
    EXPECT_EQ(there.Connect(1, u"Касса", u"SHOP-2"), (Outcome{0, kOk}));
    EXPECT_TRUE(NothingListens(l.notThere, port));
    there.Drop();
    server.Child().Terminate();
    EXPECT_EQ(server.Exit(), 0);
    EXPECT_EQ(server.Output(), "");
  }
  // A name is not looked up: said so, nothing listens, the local socket serves.
  SetText("TCPAddress", "printer.example");
  {
    ServerProcess server(env, {"--headless"}, "name");
    ASSERT_TRUE(server.Listening()) << server.Output();
    EXPECT_TRUE(Eventually([&] { return server.Output().ends_with("\n"); }));
    EXPECT_EQ(server.Output(),
              "Сервер Варн: неверный адрес TCPAddress \"printer.example\": нужен IPv4- или "
              "IPv6-адрес либо localhost (имена компьютеров не допускаются); сервер работает "
              "дальше без TCP-подключений\n");
    EXPECT_TRUE(NothingListens("127.0.0.1", port));
    RemoteClient local(Via::Unix);
    EXPECT_EQ(local.Connect(1, u"Касса", u"SHOP-2"), (Outcome{0, kOk}));
    local.Drop();
    server.Child().Terminate();
    EXPECT_EQ(server.Exit(), 0);
  }
  // A literal that is no address of this computer: the system's reason.
  SetText("TCPAddress", "192.0.2.1");
  ServerProcess server(env, {"--headless"}, "foreign");
  ASSERT_TRUE(server.Listening()) << server.Output();
  EXPECT_TRUE(Eventually([&] { return server.Output().ends_with("\n"); }));
  EXPECT_EQ(server.Output(), "Сервер Варн: не удалось слушать TCP-порт " + std::to_string(port) +
                                 " на 192.0.2.1: Cannot assign requested address; сервер "
                                 "работает дальше без TCP-подключений\n");
  server.Child().Terminate();
  EXPECT_EQ(server.Exit(), 0);
}

TEST_F(TcpListenerTest, AMalformedAllowListKeepsTheListenerShut) {
  const int32_t port = EnableTcp();
  SetText("TCPAllow", "192.168.1.0/24 10.0.0.0/33");
  ServerProcess server(env);
  ASSERT_TRUE(server.Listening()) << server.Output();
  EXPECT_TRUE(Eventually([&] { return server.Output().ends_with("\n"); }));
  EXPECT_EQ(server.Output(),
            "Сервер Варн: неверный список сетей TCPAllow: \"10.0.0.0/33\": префикс больше 32; "
            "TCP-порт не открыт, чтобы ошибка в списке не открыла доступ всем; сервер работает "
            "дальше без TCP-подключений\n");
  EXPECT_TRUE(Eventually([&] { return Count(ErrorFile(), "неверный список сетей TCPAllow") == 1; }))
      << ErrorFile();
  EXPECT_TRUE(NothingListens("127.0.0.1", port));
  RemoteClient local(Via::Unix);
  EXPECT_EQ(local.Connect(1, u"Касса", u"SHOP-2"), (Outcome{0, kOk}));
  local.Drop();
  server.Child().Terminate();
  EXPECT_EQ(server.Exit(), 0);
  EXPECT_EQ(Reg().ReadDword(kServerKey, "TCPEnabled"), 1u) << "the registry keeps its value";
  EXPECT_EQ(Reg().ReadString(kServerKey, "TCPAllow"), "192.168.1.0/24 10.0.0.0/33");
}

// A firewall table of this test's own, dropping what one client sends;
// removed at the end whatever happens.
class DroppedPackets {
 public:
  DroppedPackets(const TempEnv& env, const std::string& rule)
      : m_env(env), m_table("varn_test_" + std::to_string(CurrentProcessId())) {
    m_ok = RunShell(env, "nft add table inet " + m_table + " && nft add chain inet " + m_table +
                             " in '{ type filter hook input priority 0; }' && nft add rule inet " +
                             m_table + " in " + rule)
               .status == 0;
  }
  ~DroppedPackets() { RunShell(m_env, "nft delete table inet " + m_table + " 2>/dev/null"); }
  bool Ok() const { return m_ok; }

 private:
  const TempEnv& m_env;
  std::string m_table;
  bool m_ok = false;
};

// A register that lost power in the middle of its lock: it never closes its
// connection, it just stops answering. Keepalive ends the connection, and
// with it the client's objects and its lock; a live client that sends
// nothing for longer still is kept (its system answers the probes). The
// keepalive is made short here; the defaults are the socket test's.
TEST(TcpKeepAlive, AClientThatStopsAnsweringIsDroppedAndItsLockFreed) {
  if (CurrentUserId() != 0) GTEST_SKIP() << "dropping packets needs root";
  TempEnv env;
  if (RunShell(env, "nft list tables >/dev/null 2>&1").status != 0)
    GTEST_SKIP() << "nft is not there or not usable (no nf_tables, no CAP_NET_ADMIN)";
  const int32_t port = FreeTcpPort();
  Registry::Default().WriteDword(kServerKey, "TCPEnabled", 1);
  Registry::Default().WriteDword(kServerKey, "TCPPort", static_cast<uint32_t>(port));
  TServerApp app(TStartMode::StandAlone);
  app.KeepAlive = TcpKeepAlive{std::chrono::seconds(1), std::chrono::seconds(1), 2,
                               std::chrono::milliseconds(3000)};
  app.Start();
  ASSERT_TRUE(app.TcpListening());

  // The live one is idle from here on; the other reaches the same listener
  // at 127.0.0.3 (all of 127/8 is the loopback), which tells its packets apart.
  RemoteClient live(Via::Tcp, port, "127.0.0.1");
  ASSERT_EQ(live.Connect(1, u"Склад", u"BACK-1"), (Outcome{0, kOk}));
  RemoteClient vanishing(Via::Tcp, port, "127.0.0.3");
  ASSERT_EQ(vanishing.Connect(2, u"Касса", u"SHOP-2"), (Outcome{0, kOk}));
  ASSERT_EQ(vanishing.LockPort(1), (Outcome{0, kOk}));
  RemoteClient local(Via::Unix);
  EXPECT_EQ(local.LockPort(1).code, -18);
  const int32_t clients = app.Context().Clients().Count();

  DroppedPackets drop(env, "ip daddr 127.0.0.3 tcp dport " + std::to_string(port) + " drop");
  ASSERT_TRUE(drop.Ok());
  EXPECT_TRUE(Eventually([&] { return local.LockPort(1).code == 0; }))
      << "the lock of a client that stopped answering is never freed";
  EXPECT_TRUE(Eventually([&] { return app.Context().Clients().Count() == clients - 1; }))
      << "only the vanished client is gone";
  // Idle longer than the vanished one was when it was dropped, and still served.
  EXPECT_EQ(live.Connect(1, u"Склад", u"BACK-1"), (Outcome{0, kOk}));
  local.Drop();
  live.Drop();
  app.Shutdown();
  vanishing.Drop();
}

}  // namespace
}  // namespace varn::test
