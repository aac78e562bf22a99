// The server's own policy in process, without a window: applying the
// settings (the listener, the timers, the registry, the question that may
// refuse), unlocking a port by hand, when closing asks first, and the
// objects its class makes on its context until the end.
#include <optional>
#include <string>

#include "platform/automation/classes.h"
#include "platform/registry.h"
#include "platform/socket.h"
#include "server/app/server_app.h"
#include "server/context.h"
#include "server/varn_srv.h"
#include "server/varn_srv_dispids.h"
#include "tests/support/test_env.h"

namespace varn {
namespace {

std::optional<uint32_t> Stored(const char* name) {
  return Registry::Default().ReadDword(kServerKey, name);
}

TEST(ServerAppPolicy, ApplyingSettingsUnlockingAndTheCloseQuestion) {
  test::TempEnv env;
  TServerApp app(TStartMode::StandAlone);
  int questions = 0;
  bool answer = false;
  app.ConfirmClose = [&] {
    ++questions;
    return answer;
  };
  app.Start();
  EXPECT_FALSE(app.CloseNeedsQuestion()) << "nobody there";

  DispatchPtr srv = ClassTable::Instance().Create(u"VarnSrv.VarnSrv");
  EXPECT_EQ(app.Context().ObjectCount(), 1);
  EXPECT_TRUE(app.CloseNeedsQuestion()) << "an object is alive";
  InvokeById(*srv, dispid::kConnect, DISPATCH_METHOD,
             {Variant(7), Variant(u"Касса"), Variant(u"SHOP")});
  ASSERT_EQ(InvokeById(*srv, dispid::kLockPort, DISPATCH_METHOD, {Variant(3)}).ToInt32(), 0);
  auto port3 = [&]() -> TPort& {
    std::lock_guard state(app.Context().Ports().StateLock());
    return *app.Context().Ports().Find(3);
  };

  // Every value at once: the listener starts, the timers follow, all saved.
  const uint16_t tcpPort = ListeningSocket::ListenTcp(0).Port();
  TSettingsValues on;
  on.LogOn = true;
  on.PortTimeout = 2;
  on.AutoUnlock = true;
  on.TCPEnabled = true;
  on.TCPPort = tcpPort;
  ASSERT_TRUE(app.ApplySettings(on));
  EXPECT_TRUE(app.TcpListening());
  EXPECT_EQ(app.TcpPort(), tcpPort);
  EXPECT_TRUE(app.Settings().LogOn);
  EXPECT_EQ(Stored("TCPEnabled"), 1u);
  EXPECT_EQ(Stored("TCPPort"), tcpPort);
  EXPECT_EQ(Stored("PortTimeout"), 2u);
  EXPECT_EQ(Stored("AutoUnlock"), 1u);
  EXPECT_EQ(Stored("LogOn"), 1u);
  EXPECT_TRUE(port3().AutoUnlockTimer().Enabled());
  EXPECT_EQ(port3().AutoUnlockTimer().Interval(), 2000);
  EXPECT_EQ(questions, 0) << "starting a listener asks nothing";

  // TCP off while a client is connected: asked, and No changes nothing.
  TSettingsValues off = on;
  off.TCPEnabled = false;
  off.LogOn = false;
  EXPECT_FALSE(app.ApplySettings(off));
  EXPECT_EQ(questions, 1);
  EXPECT_TRUE(app.TcpListening());
  EXPECT_TRUE(app.Settings().LogOn);
  EXPECT_TRUE(app.Settings().TCPEnabled);
  EXPECT_EQ(Stored("LogOn"), 1u);
  answer = true;
  ASSERT_TRUE(app.ApplySettings(off));
  EXPECT_EQ(questions, 2);
  EXPECT_FALSE(app.TcpListening());
  EXPECT_FALSE(app.Settings().LogOn);
  EXPECT_EQ(Stored("TCPEnabled"), 0u);
  // Unchanged TCP settings: no question, the listener left alone.
  off.AutoUnlock = false;
  ASSERT_TRUE(app.ApplySettings(off));
  EXPECT_EQ(questions, 2);
  EXPECT_FALSE(port3().AutoUnlockTimer().Enabled());

  // The administrator's unlock, whoever holds the port; an unknown port is
  // not created by it.
  app.UnlockPort(3);
  EXPECT_FALSE(port3().Locked());
  app.UnlockPort(99);
  {
    std::lock_guard state(app.Context().Ports().StateLock());
    EXPECT_EQ(app.Context().Ports().Count(), 1);
  }

  // Without Warning closing asks nothing, clients or not.
  off.Warning = false;
  ASSERT_TRUE(app.ApplySettings(off));
  EXPECT_FALSE(app.CloseNeedsQuestion());
  off.Warning = true;
  ASSERT_TRUE(app.ApplySettings(off));
  EXPECT_TRUE(app.CloseNeedsQuestion());
  srv = DispatchPtr();
  EXPECT_EQ(app.Context().ObjectCount(), 0);
  EXPECT_FALSE(app.CloseNeedsQuestion());

  // After the end the class makes no objects on a context that has gone.
  app.Shutdown();
  try {
    ClassTable::Instance().Create(u"VarnSrv.VarnSrv");
    ADD_FAILURE() << "an object after the end";
  } catch (const EDriverError& e) {
    EXPECT_EQ(e.Code, CLASS_E_CLASSNOTAVAILABLE);
  }
}

}  // namespace
}  // namespace varn
