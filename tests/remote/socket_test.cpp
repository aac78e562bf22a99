// The transport end to end: a real dispatcher with its threads, real
// client connections and raw sockets, over TCP loopback and the Unix socket.
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "platform/text.h"
#include "remote/connection.h"
#include "remote/dispatcher.h"
#include "tests/remote/sample_object.h"
#include "tests/support/test_env.h"

namespace varn::remote {
namespace {

using namespace std::chrono_literals;
using test::Bytes;

using test::Eventually;
using test::kPatience;

enum class Kind { Tcp, Unix };

class SocketTest : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    test::RegisterSampleClass();
    baseline = test::g_liveSamples;
    if (GetParam() == Kind::Tcp) {
      dispatcher.Port = 0;
      dispatcher.Open();
    } else {
      dispatcher.OpenLocal(env.Path("run/VarnSrv.sock"));
    }
  }
  void TearDown() override {
    dispatcher.Close();
    EXPECT_EQ(test::g_liveSamples, baseline) << "objects left behind";
  }

  std::unique_ptr<TkxStreamedConnection> Connection(bool open = true) {
    std::unique_ptr<TkxStreamedConnection> c;
    if (GetParam() == Kind::Tcp) {
      auto tcp = std::make_unique<TkxSocketConnection>();
      tcp->SetAddress("127.0.0.1");
      tcp->Port = dispatcher.BoundPort();
      c = std::move(tcp);
    } else {
      auto local = std::make_unique<TkxLocalSocketConnection>();
      local->Path = env.Path("run/VarnSrv.sock");
      c = std::move(local);
    }
    c->ServerGUID = test::kSampleClsid;
    if (open) c->Open();
    return c;
  }

  StreamSocket Raw() {
    if (GetParam() == Kind::Tcp)
      return StreamSocket::ConnectTcp("127.0.0.1", dispatcher.BoundPort());
    return StreamSocket::ConnectUnix(env.Path("run/VarnSrv.sock"));
  }

  static int32_t Sum(IDispatch& obj, int a, int b) {
    return CallMethod(obj, u"Add", {Variant(a), Variant(b)}).ToInt32();
  }

  test::TempEnv env;
  TkxSocketDispatcher dispatcher;
  int baseline = 0;
};

TEST_P(SocketTest, CreatesByClsidAndCallsEveryKindOfMember) {
  auto conn = Connection();
  ASSERT_TRUE(conn->Connected());
  DispatchPtr obj = conn->ServerObject();
  EXPECT_EQ(Sum(*obj, 40, 2), 42);
  PutProperty(*obj, u"Text", Variant(u"Чек №1"));
  EXPECT_EQ(GetProperty(*obj, u"Text"), Variant(u"Чек №1"));
  SafeArray arr;
  arr.elementType = VT_VARIANT;
  arr.bounds = {{0, 1}, {0, 2}};
  arr.items = {Variant(1),   Variant(u"два"), Variant::Null(),
               Variant(2.5), Variant(true),   Variant()};
  EXPECT_EQ(CallMethod(*obj, u"Echo", {Variant(arr)}), Variant(arr));
  try {
    CallMethod(*obj, u"Fail");
    ADD_FAILURE() << "no error";
  } catch (const EDispatchError& e) {
    EXPECT_EQ(e.Code, DISP_E_EXCEPTION);
    EXPECT_EQ(e.Excep.scode, -4);
    EXPECT_STREQ(e.what(), "Нет связи");
  }
  EXPECT_THROW(CallMethod(*obj, u"Missing"), EDispatchError);
  EXPECT_TRUE(conn->ServerList() == Variant::Null());
  EXPECT_EQ(test::g_liveSamples, baseline + 1);
}

TEST_P(SocketTest, TheServerCallsBackAnObjectTheClientLentWhileTheClientWaits) {
  auto conn = Connection();
  DispatchPtr mine = MakeObject<test::TRemoteSample>();
  // Client -> server CallBack; server -> client Add on `mine`, served by the
  // waiting client; then the server's answer.
  EXPECT_EQ(
      CallMethod(*conn->ServerObject(), u"CallBack", {Variant(mine), Variant(20), Variant(22)}),
      Variant(42));
  EXPECT_EQ(conn->Interpreter().DispListUsed(), 1u);  // lent until the connection ends
  conn.reset();
  EXPECT_TRUE(Eventually([&] { return test::g_liveSamples == baseline + 1; }));  // `mine`
}

TEST_P(SocketTest, CreationFailuresComeBackWithTheServersText) {
  auto conn = Connection(false);
  conn->ServerGUID = "{00000000-0000-0000-0000-00000000ABCD}";
  try {
    conn->Open();
    ADD_FAILURE() << "no error";
  } catch (const ERemoteError& e) {
    EXPECT_STREQ(e.what(), "Класс не зарегистрирован: {00000000-0000-0000-0000-00000000ABCD}");
  }
  EXPECT_FALSE(conn->Connected());

  conn->ServerGUID.clear();
  try {
    conn->Open();
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Cannot connect,  must contain a valid ServerName or ServerGUID");
  }
  EXPECT_FALSE(conn->Connected());
  conn->ServerName = test::kSampleProgId;  // a ProgID does as well
  conn->Open();
  EXPECT_EQ(Sum(*conn->ServerObject(), 1, 1), 2);
}

TEST_P(SocketTest, HostileBlocksEndOnlyTheirOwnConnection) {
  auto good = Connection();
  DispatchPtr obj = good->ServerObject();
  const std::string header1234 = Bytes({0x34, 0x12, 0, 0, 0, 0, 0, 0});
  const std::string hugeSize = Bytes({0x02, 0xDA, 0, 0, 0xF0, 0xFF, 0xFF, 0x7F});
  const std::string negativeSize = Bytes({0x02, 0xDA, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
  const std::string truncated = Bytes({0x02, 0xDA, 0, 0, 100, 0, 0, 0, 3, 0, 0, 0});
  const std::string errorAsCall =
      Bytes({0x01, 0xDA, 0, 0, 10, 0, 0, 0, 8, 0, 0, 0, 1, 0, 0, 0, 0x41, 0});
  const std::string halfHeader = Bytes({0x02, 0xDA});
  for (const std::string& hostile :
       {header1234, hugeSize, negativeSize, truncated, errorAsCall, halfHeader}) {
    StreamSocket raw = Raw();
    raw.SendAll({reinterpret_cast<const uint8_t*>(hostile.data()), hostile.size()});
    if (hostile == truncated || hostile == halfHeader)
      raw.Close();  // the rest never comes: the client went away
    else
      EXPECT_EQ(test::ReceiveUntilClosed(raw), "") << HexDump(hostile);  // closed, nothing answered
    EXPECT_TRUE(Eventually([&] { return dispatcher.ConnectionCount() == 1; })) << HexDump(hostile);
    EXPECT_EQ(Sum(*obj, 2, 3), 5) << "after " << HexDump(hostile);
  }

  // An unknown action is answered, and that connection goes on.
  StreamSocket raw = Raw();
  const std::string unknown = Bytes({0x63, 0xDA, 0, 0, 0, 0, 0, 0});
  raw.SendAll({reinterpret_cast<const uint8_t*>(unknown.data()), unknown.size()});
  const std::string text = "Invalid action received: 99";
  const std::string expected = test::ErrorAnswerBlock(text);
  EXPECT_EQ(HexDump(test::ReceiveUpTo(raw, expected.size())), HexDump(expected));
  raw.SendAll({reinterpret_cast<const uint8_t*>(unknown.data()), unknown.size()});
  EXPECT_TRUE(raw.WaitReadable(kPatience));  // answered again: still open
  EXPECT_EQ(Sum(*obj, 2, 3), 5);
}

TEST_P(SocketTest, ADroppedClientReleasesItsObjects) {
  auto keep = Connection();
  auto drop = Connection();
  EXPECT_EQ(test::g_liveSamples, baseline + 2);
  drop.reset();  // closes its socket
  EXPECT_TRUE(Eventually([&] { return test::g_liveSamples == baseline + 1; }));
  EXPECT_TRUE(Eventually([&] { return dispatcher.ConnectionCount() == 1; }));
  EXPECT_EQ(Sum(*keep->ServerObject(), 1, 2), 3);
}

TEST_P(SocketTest, IdleConnectionsAreClosedAndBusyOnesAreNot) {
  // Long beside the busy client's 10 ms pace, so a loaded machine cannot
  // make it look idle.
  dispatcher.SetIdleLimit(1s);
  auto idle = Connection();
  auto busy = Connection();
  DispatchPtr busyObj = busy->ServerObject();
  EXPECT_TRUE(Eventually([&] {
    Sum(*busyObj, 1, 1);  // keeps `busy` active
    return test::g_liveSamples == baseline + 1;
  }));
  try {
    Sum(*idle->ServerObject(), 1, 1);
    ADD_FAILURE() << "the idle connection still answers";
  } catch (const ESocketConnectionError&) {
  }
  EXPECT_FALSE(idle->Connected());  // the broken stream closed the client end too
  EXPECT_EQ(Sum(*busyObj, 2, 2), 4);
}

TEST_P(SocketTest, ACallWithoutAnswerInTimeClosesTheConnection) {
  auto conn = Connection();
  conn->AnswerLimit = 200ms;
  int closings = 0;
  conn->OnClosing = [&] { ++closings; };
  DispatchPtr obj = conn->ServerObject();
  try {
    CallMethod(*obj, u"Sleep", {Variant(1500)});
    ADD_FAILURE() << "no error";
  } catch (const ESocketConnectionError& e) {
    EXPECT_STREQ(e.what(), text::kNoAnswerInTime);
  }
  EXPECT_EQ(closings, 1);
  EXPECT_FALSE(conn->Connected());
  EXPECT_FALSE(conn->ServerObject());
  // The late answer is never read: the old proxy has no stream any more.
  EXPECT_THROW(Sum(*obj, 1, 2), ESocketConnectionError);
  // Opening again works, with a new object.
  conn->AnswerLimit = 3s;
  conn->Open();
  EXPECT_EQ(Sum(*conn->ServerObject(), 1, 2), 3);
}

TEST_P(SocketTest, ClosingTheDispatcherEndsEveryConnectionAndReleasesItsObjects) {
  std::vector<std::unique_ptr<TkxStreamedConnection>> conns;
  for (int i = 0; i < 3; ++i) conns.push_back(Connection());
  EXPECT_EQ(test::g_liveSamples, baseline + 3);
  dispatcher.Close();
  EXPECT_FALSE(dispatcher.Active());
  EXPECT_EQ(test::g_liveSamples, baseline);  // released before Close returned
  for (auto& c : conns) EXPECT_THROW(Sum(*c->ServerObject(), 1, 1), ESocketConnectionError);
  EXPECT_THROW(Connection(), ESocketError);  // nobody listens any more
}

TEST_P(SocketTest, StoppingListeningKeepsEveryClientThatConnectedAndRefusesTheNext) {
  auto served = Connection();
  // Connected, accepted or still queued: kept all the same.
  std::vector<StreamSocket> waiting;
  for (int i = 0; i < 5; ++i) waiting.push_back(Raw());
  const uint16_t port = dispatcher.BoundPort();
  dispatcher.StopListening();
  EXPECT_FALSE(dispatcher.Listening());
  EXPECT_TRUE(dispatcher.Active());
  EXPECT_EQ(dispatcher.ConnectionCount(), 6u);
  for (StreamSocket& s : waiting) EXPECT_FALSE(s.WaitReadable(0us)) << "closed by the server";
  EXPECT_EQ(Sum(*served->ServerObject(), 40, 2), 42);
  try {
    Connection();
    ADD_FAILURE() << "connected while not listening";
  } catch (const ESocketError& e) {
    EXPECT_TRUE(e.NothingListens()) << e.what();  // a local client may start a server
  }
  waiting.clear();
  EXPECT_TRUE(Eventually([&] { return dispatcher.ConnectionCount() == 1; }));

  dispatcher.Listen();  // at the same place
  EXPECT_TRUE(dispatcher.Listening());
  EXPECT_EQ(dispatcher.BoundPort(), port);
  EXPECT_EQ(Sum(*Connection()->ServerObject(), 1, 2), 3);
  EXPECT_EQ(Sum(*served->ServerObject(), 2, 2), 4);
}

TEST_P(SocketTest, ClientsCallAtTheSameTime) {
  constexpr int kClients = 4, kCalls = 200;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kClients; ++t) {
    threads.emplace_back([&, t] {
      auto conn = Connection();
      DispatchPtr obj = conn->ServerObject();
      for (int i = 0; i < kCalls; ++i)
        if (Sum(*obj, t, i) != t + i) ++wrong;
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong, 0);
}

TEST_P(SocketTest, OneConnectionSharedByThreadsKeepsCallsApart) {
  auto conn = Connection();
  DispatchPtr obj = conn->ServerObject();
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i)
        if (Sum(*obj, t * 1000, i) != t * 1000 + i) ++wrong;
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(Transports, SocketTest, ::testing::Values(Kind::Tcp, Kind::Unix),
                         [](const auto& info) {
                           return std::string(info.param == Kind::Tcp ? "Tcp" : "Unix");
                         });

TEST(SocketConnectionTest, AddressAndHost) {
  test::TempEnv env;
  test::RegisterSampleClass();
  TkxSocketConnection conn;
  EXPECT_EQ(conn.Port, 211);
  conn.SetAddress("10.0.0.5");
  conn.SetHost("kassa");
  EXPECT_EQ(conn.Address(), "");
  EXPECT_EQ(conn.Host(), "kassa");
  conn.SetAddress("127.0.0.1");
  EXPECT_EQ(conn.Host(), "");

  TkxSocketConnection nowhere;
  try {
    nowhere.Open();
    ADD_FAILURE() << "no error";
  } catch (const ESocketConnectionError& e) {
    EXPECT_STREQ(e.what(), "Для подключения через сокет не задан ни адрес, ни имя компьютера");
  }

  // A host name is resolved by the socket layer.
  TkxSocketDispatcher dispatcher;
  dispatcher.Port = 0;
  dispatcher.Open();
  TkxSocketConnection byName;
  byName.SetHost("localhost");
  byName.Port = dispatcher.BoundPort();
  byName.ServerGUID = test::kSampleClsid;
  byName.Open();
  EXPECT_EQ(CallMethod(*byName.ServerObject(), u"Add", {Variant(2), Variant(2)}), Variant(4));

  // A port outside 0..65535 is refused as the dispatcher refuses it, not
  // cut to 16 bits (which would reach the dispatcher above).
  for (int32_t port : {65536 + dispatcher.BoundPort(), -1}) {
    TkxSocketConnection wrapped;
    wrapped.SetAddress("127.0.0.1");
    wrapped.Port = port;
    wrapped.ServerGUID = test::kSampleClsid;
    TkxSocketDispatcher listener;
    listener.Port = port;
    const std::string refusal = "TCP port " + std::to_string(port) + " is out of range 0..65535";
    for (const auto& open :
         std::vector<std::function<void()>>{[&] { wrapped.Open(); }, [&] { listener.Open(); }}) {
      try {
        open();
        ADD_FAILURE() << "port " << port << " taken";
      } catch (const ESocketError& e) {
        EXPECT_EQ(e.what(), refusal);
      }
    }
    EXPECT_FALSE(wrapped.Connected());
  }
}

TEST(SocketDispatcherTest, ASecondListenerOnTheSamePlaceIsRefused) {
  test::TempEnv env;
  TkxSocketDispatcher first, second;
  first.OpenLocal(env.Path("run/VarnSrv.sock"));
  EXPECT_THROW(second.OpenLocal(env.Path("run/VarnSrv.sock")), ESocketError);
  TkxSocketDispatcher tcp1, tcp2;
  tcp1.Port = 0;
  tcp1.Open();
  tcp2.Port = tcp1.BoundPort();
  try {
    tcp2.Open();
    ADD_FAILURE() << "no error";
  } catch (const ESocketError& e) {
    EXPECT_THAT(e.what(), ::testing::HasSubstr("Address already in use"));
  }
  // The place is free again once the first one closes.
  first.Close();
  second.OpenLocal(env.Path("run/VarnSrv.sock"));
  EXPECT_TRUE(second.Active());
}

}  // namespace
}  // namespace varn::remote
