// Local activation: a connector starts the server when nothing listens, and
// two connectors starting at once end up with one server. Once with an
// injected start step, once with the real one and a stand-in server program.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/automation/classes.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "remote/dispatcher.h"
#include "remote/local_server.h"
#include "tests/remote/sample_object.h"
#include "tests/support/test_env.h"

namespace varn::remote {
namespace {

using namespace std::chrono_literals;

using test::Eventually;
using test::kPatience;

class ConnectorTest : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterSampleClass(); }
  std::unique_ptr<TkxLocalSocketConnection> NewConnection() {
    auto c = std::make_unique<TkxLocalSocketConnection>();
    c->ServerGUID = test::kSampleClsid;
    return c;
  }
  test::TempEnv env;
};

TEST_F(ConnectorTest, StartsTheServerOnceWhenTwoConnectAtOnce) {
  std::atomic<int> starts{0};
  TkxSocketDispatcher server;  // what the start step brings up, a little later
  std::thread starter;
  auto start = [&] {
    ++starts;
    starter = std::thread([&] {
      std::this_thread::sleep_for(200ms);
      server.OpenLocal(LocalServerSocketPath(test::kSampleServer));
    });
  };
  std::unique_ptr<TkxLocalSocketConnection> conns[2] = {NewConnection(), NewConnection()};
  std::atomic<int> failures{0};
  std::vector<std::thread> drivers;
  for (auto& c : conns) {
    drivers.emplace_back([&] {
      TLocalServerConnector connector(test::kSampleServer);
      connector.StartServer = start;
      try {
        connector.Open(*c);
      } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
        ++failures;
      }
    });
  }
  for (auto& d : drivers) d.join();
  if (starter.joinable()) starter.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(starts, 1);
  for (auto& c : conns) {
    ASSERT_TRUE(c->Connected());
    EXPECT_EQ(CallMethod(*c->ServerObject(), u"Add", {Variant(1), Variant(2)}), Variant(3));
  }
  // A running server is simply connected to.
  TLocalServerConnector again(test::kSampleServer);
  again.StartServer = start;
  auto third = NewConnection();
  again.Open(*third);
  EXPECT_EQ(starts, 1);
}

TEST_F(ConnectorTest, AServerThatNeverListensFailsAfterTheLimit) {
  TLocalServerConnector connector(test::kSampleServer);
  connector.StartLimit = 300ms;
  int starts = 0;
  connector.StartServer = [&] { ++starts; };
  auto conn = NewConnection();
  try {
    connector.Open(*conn);
    ADD_FAILURE() << "no error";
  } catch (const ESocketConnectionError& e) {
    EXPECT_EQ(std::string(e.what()), "Сервер Варн не начал слушать " +
                                         LocalServerSocketPath(test::kSampleServer) + " за 300 мс");
  }
  EXPECT_EQ(starts, 1);
  EXPECT_FALSE(conn->Connected());
}

TEST_F(ConnectorTest, WithoutARegisteredServerTheClassIsNotRegistered) {
  TLocalServerConnector connector(test::kSampleServer);
  auto conn = NewConnection();
  try {
    connector.Open(*conn);
    ADD_FAILURE() << "no error";
  } catch (const EDriverError& e) {
    EXPECT_EQ(e.Code, REGDB_E_CLASSNOTREG);
    EXPECT_EQ(std::string(e.what()),
              std::string("Класс не зарегистрирован: ") + test::kSampleClsid);
  }
}

// The real start step: LocalServer32 from the registry, a detached process.
class StandInTest : public ConnectorTest {
 protected:
  void SetUp() override {
    ConnectorTest::SetUp();
    Registry reg = Registry::Default();
    RegisterClass(reg, test::kSampleClsid, test::kSampleProgId, STAND_IN_SERVER);
  }
  void TearDown() override {
    // Whatever happened, no stand-in outlives the test.
    for (int64_t pid : StartedServers()) {
      if (!Eventually([&] { return !ProcessIsRunning(pid); })) {
        ADD_FAILURE() << "stand-in " << pid << " did not end after its last release";
        TerminateProcess(pid);
      }
    }
  }
  std::vector<int64_t> StartedServers() {
    std::vector<int64_t> pids;
    std::error_code ec;
    for (const auto& f : std::filesystem::directory_iterator(env.Path("run"), ec)) {
      const std::string name = f.path().filename().string();
      if (name.rfind("stand-in.", 0) == 0) pids.push_back(std::stoll(name.substr(9)));
    }
    return pids;
  }
};

TEST_F(StandInTest, TwoDriversStartingAtOnceShareOneServerThatEndsAfterTheLastRelease) {
  std::unique_ptr<TkxLocalSocketConnection> conns[2] = {NewConnection(), NewConnection()};
  std::vector<std::thread> drivers;
  for (auto& c : conns) {
    drivers.emplace_back([&] {
      TLocalServerConnector connector(test::kSampleServer);
      try {
        connector.Open(*c);
      } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
      }
    });
  }
  for (auto& d : drivers) d.join();
  ASSERT_TRUE(conns[0]->Connected());
  ASSERT_TRUE(conns[1]->Connected());
  const Variant pid0 = GetProperty(*conns[0]->ServerObject(), u"Pid");
  const Variant pid1 = GetProperty(*conns[1]->ServerObject(), u"Pid");
  EXPECT_EQ(pid0, pid1);
  EXPECT_NE(pid0, Variant(static_cast<int32_t>(CurrentProcessId())));
  const auto started = StartedServers();
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(Variant(static_cast<int32_t>(started[0])), pid0);

  conns[0].reset();
  EXPECT_TRUE(ProcessIsRunning(started[0]));  // one object is still held
  conns[1].reset();
  EXPECT_TRUE(Eventually([&] { return !ProcessIsRunning(started[0]); }));
}

// A class not registered: the server's program is the one its clients
// name, found beside the calling program; its socket is the one they name.
TEST_F(StandInTest, AnUnregisteredServerIsTheProgramItsClientsNameBesideThem) {
  Registry reg = Registry::Default();
  UnregisterClass(reg, test::kSampleClsid, test::kSampleProgId);
  const std::string program = std::filesystem::path(STAND_IN_SERVER).filename().string();
  const TLocalServer named{test::kSampleClsid, test::kSampleServer.SocketName, program.c_str()};
  auto conn = NewConnection();
  TLocalServerConnector connector(named);
  EXPECT_EQ(connector.SocketPath, env.Path("run/SampleSrv.sock"));
  connector.Open(*conn);
  ASSERT_TRUE(conn->Connected());
  EXPECT_EQ(StartedServers().size(), 1u);
  conn.reset();
}

}  // namespace
}  // namespace varn::remote
