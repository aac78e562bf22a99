// The server object end to end, in-process: client objects made through the
// class table, called only through Invoke by DISPID, sharing real ports with
// emulated devices on pseudo-terminals. The auto-unlock timers run on a loop driven by the test
// with a manual clock, so time-outs of seconds are checked without waiting.
#include <atomic>
#include <set>
#include <sstream>
#include <thread>

#include "emulator/emulated_device.h"
#include "emulator/minimal_responder.h"
#include "platform/automation/classes.h"
#include "platform/com_ports.h"
#include "platform/event_loop.h"
#include "platform/pty.h"
#include "platform/registry.h"
#include "platform/serial.h"
#include "platform/text.h"
#include "platform/timers.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "server/context.h"
#include "server/varn_srv.h"
#include "server/varn_srv_dispids.h"
#include "tests/support/test_env.h"

namespace varn {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::Outcome;
using ::testing::ElementsAreArray;
using namespace dispid;
namespace cmd = protocol::cmd;
using protocol::Frame;
using protocol::Request;

const char* const kOk = "Ошибок нет";
const std::string kRequest = Frame(Request(cmd::GetECRStatus));
const char* const kRequestHex = "02 05 11 97 1C 00 00 9F";

// One client of the server: its own object, reached only through Invoke.
class Client {
 public:
  Client() : m_obj(ClassTable::Instance().Create(u"VarnSrv.VarnSrv")) {}
  IDispatch& Obj() { return *m_obj; }
  void Release() { m_obj = DispatchPtr(); }

  Outcome Call(DISPID id, std::vector<Variant> inputs = {}) {
    const int32_t code = InvokeById(*m_obj, id, DISPATCH_METHOD, std::move(inputs)).ToInt32();
    return {code, Text(kResultDescription)};
  }
  Variant Get(DISPID id) { return InvokeById(*m_obj, id, DISPATCH_PROPERTYGET); }
  std::string Text(DISPID id) { return Utf16ToUtf8(Get(id).ToString()); }
  bool Flag(DISPID id) { return Get(id).ToBool(); }

  Outcome Connect(int32_t pid, const char16_t* app, const char16_t* comp) {
    return Call(kConnect, {pid, app, comp});
  }
  Outcome OpenPort(int32_t n, int32_t baud = 4800, int32_t timeout = 100) {
    return Call(kOpenPort, {n, baud, timeout});
  }
  Outcome LockPort(int32_t n) { return Call(kLockPort, {n}); }
  Outcome UnlockPort() { return Call(kUnlockPort); }
  Outcome SendData(const std::string& frame) { return Call(kSendData, {Cp1251ToUtf16(frame)}); }
  std::string RxData() { return Utf16ToCp1251(Get(kRxData).ToString()); }

 private:
  DispatchPtr m_obj;
};

// The running test's server context (ServerTest makes one per test).
TServerContext* g_context = nullptr;
TServerContext& Context() {
  return *g_context;
}
const std::shared_ptr<TServerSettings>& ServerSettings() {
  return g_context->SharedSettings();
}

// A look inside the port list, as the server window takes it.
class PortsView {
 public:
  PortsView() : m_ports(Context().Ports()) {}
  TPorts* operator->() { return &m_ports; }
  // A copy of what the window would show for port `n` (nullopt: not listed).
  struct Row {
    bool opened;
    bool locked;
    std::string holder;  // "comp.pid.app"
  };
  std::optional<Row> Port(int32_t n) {
    std::lock_guard lock(m_ports.StateLock());
    TPort* p = m_ports.Find(n);
    if (!p) return std::nullopt;
    return Row{p->Opened(), p->Locked(),
               p->LockCompName() + "." + std::to_string(p->LockPID()) + "." + p->LockAppName()};
  }

 private:
  TPorts& m_ports;
};

class ServerTest : public ::testing::Test {
 protected:
  ServerTest() {
    g_context = context.get();
    ServerSettings()->ResetSettings();
    Registry reg = Registry::Default();
    reg.WriteString(kPortsKey, "COM1", device.SlavePath());
    reg.WriteString(kPortsKey, "COM2", other.SlavePath());
    reg.WriteString(kPortsKey, "COM9", env.Path("no-such-device"));
    RegisterVarnSrvClass(context);
  }
  ~ServerTest() override { ServerSettings()->ResetSettings(); }

  // Lets the loop carry out what was posted and fire what is due after `by`.
  void Elapse(std::chrono::milliseconds by = 0ms) {
    clock.Advance(by);
    loop.RunPending();
  }
  void AutoUnlockAfter(int32_t seconds) {
    ServerSettings()->AutoUnlock = true;
    ServerSettings()->PortTimeout = seconds;
  }

  test::TempEnv env;
  ManualClock clock;
  TEventLoop loop{clock};
  TTimers timers{loop};
  // Both answer at 4800 baud only; at any other speed they are silent.
  emu::EmulatedDevice device{emu::EmulatorOptions{}};  // COM1
  emu::EmulatedDevice other{emu::EmulatorOptions{}};   // COM2
  // What the program's run holds: the lists, the settings, the timers.
  std::shared_ptr<TServerContext> context = std::make_shared<TServerContext>(timers);
};

void Mute(emu::EmulatedDevice& d) {
  emu::FaultOptions silent;
  silent.silent = true;
  d.SetFaults(silent);
}

// --- the member table ----------------------------------------------------------

TEST_F(ServerTest, MemberTableHasEveryMemberAtItsFixedIdWithItsHelpString) {
  Client c;
  auto* info = dynamic_cast<ITypeInfoSource*>(&c.Obj());
  ASSERT_NE(info, nullptr);
  struct Row {
    DISPID id;
    std::string name;
    MemberKind kind;
    size_t inputs;
    VARTYPE result;
    std::string help;
    bool operator==(const Row&) const = default;
  };
  std::vector<Row> rows;
  for (const auto& m : info->TypeInfo())
    rows.push_back({m.id, m.name, m.kind, m.params.size(), m.result, m.help});
  const auto M = MemberKind::Method, G = MemberKind::PropertyGet;
  const std::vector<Row> expected = {
      {1, "OpenPort", M, 3, VT_I4, "Открыть COM порт"},
      {2, "ClosePort", M, 0, VT_I4, "Закрыть COM порт"},
      {3, "LockPort", M, 1, VT_I4, "Блокировка порта"},
      {4, "UnlockPort", M, 0, VT_I4, "Разблокировка порта"},
      {5, "SendData", M, 1, VT_I4, "Передать данные"},
      {6, "RxData", G, 0, VT_BSTR, "Принятые данные"},
      {7, "FileVersion", G, 0, VT_BSTR, "Версия файла"},
      {8, "ResultDescription", G, 0, VT_BSTR, "Описание кода ошибки"},
      {9, "PortOpened", G, 0, VT_BOOL, "COM порт открыт"},
      {10, "PortLocked", G, 0, VT_BOOL, "Порт блокирован"},
      {11, "AdminUnlockPort", M, 1, VT_I4, "Разблокировка порта администратором"},
      {12, "AdminUnlockPorts", M, 0, VT_I4, "Разблокировка портов администратором"},
      {15, "Connect", M, 3, VT_I4, ""},
      {19, "Input", G, 0, VT_BSTR, ""},
      {20, "Output", G, 0, VT_BSTR, ""},
  };
  EXPECT_THAT(rows, ElementsAreArray(expected));
  const TypeDescription& type = info->Description();
  EXPECT_EQ(type.interfaceName, "IVarnSrv");
  EXPECT_EQ(type.interfaceDoc, "Квелта: Драйвер Варн");
  EXPECT_EQ(type.className, "VarnSrv");
  EXPECT_EQ(type.classDoc, "Квелта: Драйвер Варн");

  DISPID id = 0;
  EXPECT_EQ(GetIDOfName(c.Obj(), u"sEnDdAtA", id), S_OK);
  EXPECT_EQ(id, kSendData);
  EXPECT_EQ(c.Text(kFileVersion), "1.0.0.1");
}

TEST_F(ServerTest, WrongCallsGetDispatchErrorsAndOutValueComesByReferenceToo) {
  Client c;
  IDispatch& obj = c.Obj();
  auto invoke = [&](DISPID id, uint16_t flags, std::vector<Variant> in,
                    uint32_t* argErr = nullptr) {
    DispParams p = DispParams::FromNatural(std::move(in));
    Variant result;
    ExcepInfo excep;
    return obj.Invoke(id, flags, p, &result, &excep, argErr);
  };
  EXPECT_EQ(invoke(13, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(invoke(kOpenPort, DISPATCH_METHOD, {1, 4800}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(invoke(kClosePort, DISPATCH_METHOD, {1}), DISP_E_BADPARAMCOUNT);
  uint32_t argErr = 99;
  EXPECT_EQ(invoke(kOpenPort, DISPATCH_METHOD, {1, u"быстро", 100}, &argErr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 1u) << "the baud rate, second of three, is args[1]";
  EXPECT_EQ(invoke(kRxData, DISPATCH_PROPERTYPUT, {u"x"}), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(invoke(kPortOpened, DISPATCH_METHOD, {1}), DISP_E_BADPARAMCOUNT);

  // Value as an extra by-reference argument, and numbers given as text.
  Variant value;
  DispParams p = DispParams::FromNatural({Variant(u"1"), Variant::Ref(value)});
  Variant result;
  EXPECT_EQ(obj.Invoke(kLockPort, DISPATCH_METHOD, p, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(value, Variant(0));
  EXPECT_EQ(result, Variant(0));
  EXPECT_TRUE(c.Flag(kPortLocked));
}

// --- ports and results ---------------------------------------------------------

TEST_F(ServerTest, SendDataBeforeAnyPortIsPortNotOpen) {
  Client c;
  EXPECT_EQ(c.SendData(kRequest), (Outcome{-17, "Порт не открыт"}));
  EXPECT_FALSE(c.Flag(kPortOpened));
  EXPECT_EQ(c.Text(kInput), "");
}

TEST_F(ServerTest, ExchangeCarriesEveryByteValueBothWays) {
  // Answers with the request's own payload, at any line speed.
  emu::MinimalResponder echo([](std::string_view p) { return std::string(p); });
  Registry::Default().WriteString(kPortsKey, "COM3", echo.Path());
  Client c;
  EXPECT_EQ(c.OpenPort(3, 9600, 100), (Outcome{0, kOk}));
  EXPECT_TRUE(c.Flag(kPortOpened));
  EXPECT_EQ(echo.LineBaud(), 9600);
  std::string payload;
  for (int b = 0; b < 255; ++b) payload += static_cast<char>(255 - b);  // 0xFF..0x01
  EXPECT_EQ(c.SendData(Frame(payload)), (Outcome{0, kOk}));
  EXPECT_EQ(c.RxData(), payload);
  EXPECT_EQ(c.Text(kInput), HexDump(Frame(payload)));

  EXPECT_EQ(c.SendData(kRequest), (Outcome{0, kOk}));
  EXPECT_EQ(c.Text(kOutput), "02 | 05 | 11 | 97 | 1C 00 00 | 9F");
  EXPECT_EQ(c.Call(kClosePort), (Outcome{0, kOk}));
  EXPECT_FALSE(c.Flag(kPortOpened));
}

TEST_F(ServerTest, AnyRateAnAdapterCanBeSetToWorksNotOnlyTheStandardOnes) {
  emu::MinimalResponder echo([](std::string_view p) { return std::string(p); });
  Registry::Default().WriteString(kPortsKey, "COM3", echo.Path());
  Client c;
  for (int32_t rate : {110, 300, 600, 14400, 56000, 128000, 256000, 4800}) {
    EXPECT_EQ(c.OpenPort(3, rate), (Outcome{0, kOk})) << rate;
    EXPECT_EQ(echo.LineBaud(), rate) << "the line runs at it";
    EXPECT_EQ(c.SendData(kRequest), (Outcome{0, kOk})) << rate;
  }
}

TEST_F(ServerTest, LockPortThenSendDataOpensTheDeviceWithStoredSettings) {
  Client c;
  EXPECT_EQ(c.LockPort(1), (Outcome{0, kOk}));
  EXPECT_FALSE(c.Flag(kPortOpened)) << "locking does not open the device";
  // The device answers only at 4800 baud: the port's stored rate.
  EXPECT_EQ(c.SendData(kRequest), (Outcome{0, kOk}));
  EXPECT_TRUE(c.Flag(kPortOpened));
}

TEST_F(ServerTest, OpenPortOnMissingDeviceKeepsThePortListedAndClosesThePreviousOne) {
  PortsView view;
  Client c;
  ASSERT_EQ(c.OpenPort(1), (Outcome{0, kOk}));
  EXPECT_EQ(c.OpenPort(9), (Outcome{-2, "СOM порт не доступен"}));
  ASSERT_TRUE(view.Port(9));
  EXPECT_FALSE(view.Port(9)->opened);
  EXPECT_FALSE(view.Port(9)->locked);
  // The client stays on port 1, whose device the failure closed.
  EXPECT_FALSE(c.Flag(kPortOpened));
  EXPECT_FALSE(view.Port(1)->opened);
  EXPECT_EQ(c.SendData(kRequest), (Outcome{0, kOk})) << "the next exchange opens it again";
}

TEST_F(ServerTest, OpenPortOnDeviceHeldByAnotherProgramIsBusy) {
  TComm holder;  // another program's open of the same device
  holder.SetPortNumber(1);
  holder.Open();
  Client c;
  EXPECT_EQ(c.OpenPort(1), (Outcome{-3, "СOM порт занят другим приложением"}));
  EXPECT_FALSE(c.Flag(kPortOpened));
}

TEST_F(ServerTest, FailedOpenPortClosesTheDeviceItOpened) {
  PortsView view;
  Client c;
  EXPECT_EQ(c.OpenPort(1, 0), (Outcome{-8, "Unsupported baud rate 0"}));
  EXPECT_FALSE(view.Port(1)->opened) << "no half-configured device is left open";
  EXPECT_EQ(c.OpenPort(1, -1, -1), (Outcome{-8, "Недопустимый тайм-аут: -1 (0..105000 мс)"}));
  EXPECT_EQ(c.OpenPort(1, 4800), (Outcome{0, kOk})) << "the refused rate was not kept";
  EXPECT_EQ(c.OpenPort(1, -4800).code, -8);
  // The device answers at 4800 only: the port still has that rate.
  EXPECT_EQ(c.SendData(kRequest), (Outcome{0, kOk}));
}

TEST_F(ServerTest, FailedSendDataKeepsThePreviousAnswer) {
  Client c;
  ASSERT_EQ(c.OpenPort(1), (Outcome{0, kOk}));
  ASSERT_EQ(c.SendData(kRequest), (Outcome{0, kOk}));
  const std::string answer = c.RxData();
  Mute(device);
  EXPECT_EQ(c.SendData(Frame(Request(cmd::GetShortECRStatus))), (Outcome{-4, "Нет связи"}));
  EXPECT_EQ(c.RxData(), answer);
}

TEST_F(ServerTest, NamingEverNewPortsStopsAtTheListLimit) {
  Client c;
  int32_t n = 1000;
  Outcome r{0, kOk};
  for (; n < 1000 + TPorts::kMaxPorts && r.code == 0; ++n) r = c.LockPort(n);
  EXPECT_EQ(r, (Outcome{0, kOk}));
  EXPECT_EQ(c.LockPort(n), (Outcome{-2, "СOM порт не доступен"}));
  EXPECT_EQ(c.LockPort(1000), (Outcome{0, kOk})) << "listed ports still work";
}

// --- sharing -------------------------------------------------------------------

TEST_F(ServerTest, TwoClientsOnOnePortLockIsAdvisory) {
  Client a, b;
  a.Connect(1820, u"Касса", u"SHOP-2");
  b.Connect(77, u"Склад", u"SHOP-3");
  ASSERT_EQ(a.OpenPort(1), (Outcome{0, kOk}));
  ASSERT_EQ(b.OpenPort(1), (Outcome{0, kOk}));
  EXPECT_EQ(a.LockPort(1), (Outcome{0, kOk}));
  EXPECT_TRUE(a.Flag(kPortLocked));
  EXPECT_FALSE(b.Flag(kPortLocked));

  const Outcome locked{-18, "Порт заблокирован SHOP-2.1820.'Касса'"};
  EXPECT_EQ(b.LockPort(1), locked);
  EXPECT_EQ(b.UnlockPort(), locked);
  EXPECT_EQ(b.SendData(kRequest), (Outcome{0, kOk})) << "exchanges ignore the lock";
  EXPECT_EQ(b.RxData().substr(0, 2), Bytes({cmd::GetECRStatus, 0x00}));

  // The port's texts show the last exchange on it, whoever made it.
  EXPECT_EQ(a.Text(kInput), kRequestHex);
  EXPECT_NE(a.Text(kOutput), "");
  EXPECT_EQ(a.Text(kOutput), b.Text(kOutput));

  EXPECT_EQ(a.UnlockPort(), (Outcome{0, kOk}));
  EXPECT_EQ(b.LockPort(1), (Outcome{0, kOk}));
  EXPECT_EQ(a.LockPort(1), (Outcome{-18, "Порт заблокирован SHOP-3.77.'Склад'"}));
}

TEST_F(ServerTest, LockKeepsTheIdentificationItWasTakenWith) {
  Client a, b;
  a.Connect(1, u"первый", u"PC-1");
  ASSERT_EQ(a.LockPort(1), (Outcome{0, kOk}));
  a.Connect(2, u"второй", u"PC-2");
  EXPECT_EQ(b.LockPort(1), (Outcome{-18, "Порт заблокирован PC-1.1.'первый'"}));
  ASSERT_EQ(a.LockPort(1), (Outcome{0, kOk})) << "the holder locks again";
  EXPECT_EQ(b.LockPort(1), (Outcome{-18, "Порт заблокирован PC-2.2.'второй'"}));
}

TEST_F(ServerTest, UnlockWithoutPortOrOnAFreePortSucceedsAndNotifies) {
  PortsView view;
  int changes = 0;
  Client c;
  EXPECT_EQ(c.UnlockPort(), (Outcome{0, kOk}));
  ASSERT_EQ(c.OpenPort(1), (Outcome{0, kOk}));
  {
    std::lock_guard lock(view->StateLock());
    view->Find(1)->SetOnChange(PostingNotify(loop, [&] { ++changes; }));
  }
  EXPECT_EQ(c.UnlockPort(), (Outcome{0, kOk}));
  EXPECT_EQ(changes, 0) << "the notification is only posted";
  Elapse();
  EXPECT_EQ(changes, 1);
}

TEST_F(ServerTest, AdminUnlockFreesOtherClientsLocks) {
  Client a, b, admin;
  ASSERT_EQ(a.LockPort(1), (Outcome{0, kOk}));
  ASSERT_EQ(b.LockPort(2), (Outcome{0, kOk}));
  EXPECT_EQ(admin.Call(kAdminUnlockPort, {1}), (Outcome{0, kOk}));
  EXPECT_FALSE(a.Flag(kPortLocked));
  EXPECT_TRUE(b.Flag(kPortLocked));
  EXPECT_EQ(admin.Call(kAdminUnlockPort, {5}), (Outcome{0, kOk})) << "no such port: nothing to do";
  ASSERT_EQ(a.LockPort(1), (Outcome{0, kOk}));
  EXPECT_EQ(admin.Call(kAdminUnlockPorts), (Outcome{0, kOk}));
  EXPECT_FALSE(a.Flag(kPortLocked));
  EXPECT_FALSE(b.Flag(kPortLocked));
  EXPECT_FALSE(admin.Flag(kPortOpened)) << "the admin's own port is unchanged (none)";
}

TEST_F(ServerTest, DestroyingAClientClosesItsPortButKeepsAnothersLock) {
  PortsView view;
  Client a, b;
  a.Connect(5, u"a", u"A");
  ASSERT_EQ(a.OpenPort(1), (Outcome{0, kOk}));
  ASSERT_EQ(a.LockPort(1), (Outcome{0, kOk}));
  ASSERT_EQ(b.OpenPort(1), (Outcome{0, kOk}));
  b.Release();
  EXPECT_FALSE(a.Flag(kPortOpened)) << "the departed client's port is closed for all";
  EXPECT_TRUE(a.Flag(kPortLocked));
  EXPECT_EQ(a.SendData(kRequest), (Outcome{0, kOk}));

  a.Release();
  EXPECT_FALSE(view.Port(1)->locked) << "the holder's departure frees its current port";
}

TEST_F(ServerTest, LockOnAPortLeftBehindOutlivesItsHolderUntilAnAdminUnlock) {
  PortsView view;
  Client a, c;
  a.Connect(5, u"a", u"A");
  ASSERT_EQ(a.LockPort(1), (Outcome{0, kOk}));
  ASSERT_EQ(a.OpenPort(2), (Outcome{0, kOk}));  // a's current port is now 2
  a.Release();
  EXPECT_EQ(view.Port(1)->holder, "A.5.a");
  EXPECT_EQ(c.LockPort(1), (Outcome{-18, "Порт заблокирован A.5.'a'"}));
  EXPECT_EQ(c.Call(kAdminUnlockPort, {1}), (Outcome{0, kOk}));
  EXPECT_EQ(c.LockPort(1), (Outcome{0, kOk}));
}

TEST_F(ServerTest, ClientListFollowsConnectAndDestructionAndNumbersAreNeverReused) {
  TClients& clients = Context().Clients();
  int changes = 0;
  clients.SetOnChange(PostingNotify(loop, [&] { ++changes; }));
  std::set<int32_t> numbers;
  {
    Client a, b;
    for (Client* c : {&a, &b}) {
      c->Connect(1, u"app", u"pc");
      c->Connect(2, u"app", u"pc");  // a second Connect adds nothing
    }
    EXPECT_EQ(clients.Count(), 2);
    std::lock_guard lock(clients.ListLock());
    for (int i = 0; i < clients.Count(); ++i) numbers.insert(clients.Items(i)->ClientNumber());
    EXPECT_EQ(clients.Items(0)->ClientIdentity().appPID, 2);
  }
  EXPECT_EQ(clients.Count(), 0);
  Elapse();
  EXPECT_EQ(changes, 4);
  Client c;
  c.Connect(1, u"app", u"pc");
  {
    std::lock_guard lock(clients.ListLock());
    EXPECT_GT(clients.Items(0)->ClientNumber(), *numbers.rbegin());
  }
  clients.SetOnChange(nullptr);
}

// --- auto-unlock -----------------------------------------------------------------

TEST_F(ServerTest, AutoUnlockFreesAnIdleHoldersPortAndTheWindowHearsOfIt) {
  AutoUnlockAfter(10);
  PortsView view;
  Client a, b;
  ASSERT_EQ(a.LockPort(1), (Outcome{0, kOk}));
  int changes = 0;
  {
    std::lock_guard lock(view->StateLock());
    view->Find(1)->SetOnChange(PostingNotify(loop, [&] { ++changes; }));
  }
  Elapse();
  Elapse(9999ms);
  EXPECT_TRUE(a.Flag(kPortLocked));
  Elapse(1ms);
  EXPECT_FALSE(a.Flag(kPortLocked));
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(a.LockPort(1), (Outcome{0, kOk})) << "the holder's next lock succeeds again";
  EXPECT_EQ(b.LockPort(1).code, -18);
}

// Two servers in one process, each on its own context: the lists, the
// numbering and the timers are the context's, whichever timer service was
// made last; a context that has gone makes no more objects.
TEST_F(ServerTest, EachContextHasItsOwnListsNumbersAndTimers) {
  AutoUnlockAfter(10);
  Client a;
  a.Connect(1, u"app", u"pc");
  ASSERT_EQ(a.LockPort(1), (Outcome{0, kOk}));
  EXPECT_EQ(Context().ObjectCount(), 1);
  // A second server with its loop and timer service made after ours.
  ManualClock otherClock;
  TEventLoop otherLoop{otherClock};
  TTimers otherTimers{otherLoop};
  auto second = std::make_shared<TServerContext>(otherTimers);
  int lastReleased = 0;
  second->SetOnLastObjectReleased([&] { ++lastReleased; });
  {
    RegisterVarnSrvClass(second);
    Client b;
    RegisterVarnSrvClass(context);
    b.Connect(2, u"other", u"pc");
    EXPECT_EQ(b.LockPort(1), (Outcome{0, kOk})) << "port 1 of the other server is free";
    EXPECT_EQ(second->Clients().Count(), 1);
    EXPECT_EQ(Context().Clients().Count(), 1);
    std::lock_guard list(second->Clients().ListLock());
    EXPECT_EQ(second->Clients().Items(0)->ClientNumber(), 1) << "its own numbering";
  }
  EXPECT_EQ(lastReleased, 1);
  EXPECT_EQ(second->ObjectCount(), 0);
  EXPECT_EQ(Context().ObjectCount(), 1);
  // Our port's countdown runs on our loop, not on the service made last.
  Elapse();
  Elapse(10s);
  EXPECT_FALSE(a.Flag(kPortLocked));
  // The other server has ended: its class makes nothing any more.
  RegisterVarnSrvClass(second);
  second.reset();
  try {
    ClassTable::Instance().Create(u"VarnSrv.VarnSrv");
    ADD_FAILURE() << "an object of a context that has gone";
  } catch (const EDriverError& e) {
    EXPECT_EQ(e.Code, CLASS_E_CLASSNOTAVAILABLE);
  }
  RegisterVarnSrvClass(context);
}

TEST_F(ServerTest, ZeroPortTimeoutNeverUnlocksByTime) {
  AutoUnlockAfter(0);
  Client a;
  ASSERT_EQ(a.LockPort(1), (Outcome{0, kOk}));
  Elapse();
  Elapse(24h);
  EXPECT_TRUE(a.Flag(kPortLocked));
  EXPECT_EQ(loop.RunningTimers(), 0u);
}

TEST_F(ServerTest, RelockKeepsTheCountdownSuccessfulExchangeRestartsItFailedOneDoesNot) {
  AutoUnlockAfter(10);
  Client a;
  ASSERT_EQ(a.OpenPort(1), (Outcome{0, kOk}));
  ASSERT_EQ(a.LockPort(1), (Outcome{0, kOk}));
  Elapse();
  Elapse(6s);
  ASSERT_EQ(a.LockPort(1), (Outcome{0, kOk}));
  Elapse(4s);
  EXPECT_FALSE(a.Flag(kPortLocked)) << "re-locking did not restart the countdown";

  ASSERT_EQ(a.LockPort(1), (Outcome{0, kOk}));
  Elapse();
  Elapse(6s);
  ASSERT_EQ(a.SendData(kRequest), (Outcome{0, kOk}));
  Elapse();
  Elapse(6s);
  EXPECT_TRUE(a.Flag(kPortLocked)) << "the exchange restarted the countdown";
  Mute(device);
  ASSERT_EQ(a.SendData(kRequest).code, -4);
  Elapse();
  Elapse(4s);
  EXPECT_FALSE(a.Flag(kPortLocked)) << "a failed exchange does not restart it";
}

TEST_F(ServerTest, AnotherClientsExchangeRestartsTheHoldersCountdown) {
  AutoUnlockAfter(10);
  Client a, b;
  ASSERT_EQ(a.LockPort(1), (Outcome{0, kOk}));
  ASSERT_EQ(b.OpenPort(1), (Outcome{0, kOk}));
  Elapse();
  Elapse(8s);
  ASSERT_EQ(b.SendData(kRequest), (Outcome{0, kOk}));
  Elapse();
  Elapse(8s);
  EXPECT_TRUE(a.Flag(kPortLocked));
}

TEST_F(ServerTest, TurningAutoUnlockOnAppliesToLocksAlreadyHeld) {
  PortsView view;
  Client a;
  ASSERT_EQ(a.LockPort(1), (Outcome{0, kOk}));
  Elapse();
  Elapse(1h);
  EXPECT_TRUE(a.Flag(kPortLocked)) << "AutoUnlock is off by default";
  AutoUnlockAfter(10);
  Elapse(1h);
  EXPECT_TRUE(a.Flag(kPortLocked)) << "settings apply through UpdateTimers";
  view->UpdateTimers();
  Elapse();
  Elapse(10s);
  EXPECT_FALSE(a.Flag(kPortLocked));
}

TEST_F(ServerTest, AFiringOvertakenByARestartLeavesTheLockAlone) {
  // An exchange restarts the countdown just as the timer is due: its restart
  // is posted but not yet carried out when the firing gets the port list
  // lock. Here a loop timer due just before the port's makes that exchange.
  AutoUnlockAfter(10);
  Client a;
  ASSERT_EQ(a.LockPort(1), (Outcome{0, kOk}));
  loop.Post([&] {
    loop.StartTimer(-1, 9999ms, [&] {
      loop.StopTimer(-1);
      EXPECT_EQ(a.SendData(kRequest), (Outcome{0, kOk}));
    });
  });
  Elapse();
  Elapse(10s);
  EXPECT_TRUE(a.Flag(kPortLocked));
  Elapse(9s);
  EXPECT_TRUE(a.Flag(kPortLocked));
  Elapse(1s);
  EXPECT_FALSE(a.Flag(kPortLocked)) << "ten seconds after that exchange";
}

// --- ports in parallel --------------------------------------------------------

// With the exchange log off and on: shops turn it on when something is wrong.
class PortIsolation : public ServerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(PortIsolation, ADeviceSilentMidExchangeHoldsUpNoOtherPortNorTheMainLoop) {
  ServerSettings()->LogOn = GetParam();
  // COM1's device is played here: it takes the request and then keeps its
  // answer back, so COM1's exchange waits for the answer to begin.
  PtyDevice com1;
  Registry::Default().WriteString(kPortsKey, "COM1", com1.SlavePath());
  AutoUnlockAfter(10);
  Client a, b;
  ASSERT_EQ(a.OpenPort(1, 4800, 1000), (Outcome{0, kOk}));  // T = 1 s: no retry by accident
  std::atomic<bool> done{false};
  Outcome aResult;
  std::thread exchange([&] {
    aResult = a.SendData(kRequest);
    done = true;
  });
  ASSERT_EQ(com1.ReadExactly(1, test::kPatience), "\x05");
  com1.Write("\x15");  // NAK: send it
  ASSERT_EQ(com1.ReadExactly(kRequest.size(), test::kPatience), kRequest);
  com1.Write("\x06");  // ACK, and silence

  // Meanwhile COM2 exchanges, is locked and released, and its auto-unlock
  // fires on the main loop on time.
  EXPECT_EQ(b.OpenPort(2), (Outcome{0, kOk}));
  EXPECT_EQ(b.SendData(kRequest), (Outcome{0, kOk}));
  EXPECT_EQ(b.LockPort(2), (Outcome{0, kOk}));
  EXPECT_EQ(b.UnlockPort(), (Outcome{0, kOk}));
  EXPECT_FALSE(b.Flag(kPortLocked));
  EXPECT_EQ(b.LockPort(2), (Outcome{0, kOk}));
  Elapse();
  Elapse(9999ms);
  EXPECT_TRUE(b.Flag(kPortLocked));
  Elapse(1ms);
  EXPECT_FALSE(b.Flag(kPortLocked));
  EXPECT_EQ(b.SendData(kRequest), (Outcome{0, kOk}));
  EXPECT_FALSE(done) << "all of that while COM1's device kept silent";

  // The answer comes after all: COM1's exchange succeeds.
  const std::string answer = Bytes({0x11, 0x00, 0x2A});
  com1.Write(Frame(answer));
  EXPECT_EQ(com1.ReadExactly(1, test::kPatience), "\x06") << "the host took the answer";
  exchange.join();
  EXPECT_EQ(aResult, (Outcome{0, kOk}));
  EXPECT_EQ(a.RxData(), answer);
  if (!GetParam()) return;

  // The log holds COM2's two exchanges, then COM1's nine lines together.
  std::istringstream log(test::ReadFileOrEmpty(env.LogDir() + "/VarnSrv.log"));
  std::vector<std::string> events;
  for (std::string line; std::getline(log, line);)
    events.push_back(line.substr(24, line.size() - 25));  // no time stamp, no CR
  ASSERT_EQ(events.size(), 3u * 9u);
  const std::vector<std::string> com1Lines(events.end() - 9, events.end());
  EXPECT_THAT(com1Lines,
              ElementsAreArray(
                  {std::string("-> 05"), std::string("<- 15"), "-> " + std::string(kRequestHex),
                   std::string("<- 06"), std::string("<- 02"), std::string("<- 03"),
                   std::string("<- 11 00 2A"), std::string("<- 38"), std::string("-> 06")}));
}

INSTANTIATE_TEST_SUITE_P(ExchangeLog, PortIsolation, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? "LogOn" : "LogOff";
                         });

TEST_F(ServerTest, ExchangesOnTwoPortsAtOnceKeepEachExchangesLogLinesTogether) {
  ServerSettings()->LogOn = true;
  constexpr int kEach = 20;
  auto run = [](int32_t com, std::string request) {
    Client c;
    ASSERT_EQ(c.OpenPort(com, 4800, 1000), (Outcome{0, kOk}));
    for (int i = 0; i < kEach; ++i) ASSERT_EQ(c.SendData(request), (Outcome{0, kOk}));
  };
  const std::string shortStatus = Frame(Bytes({0x10, 0x97, 0x1C, 0x00, 0x00}));
  std::thread one(run, 1, kRequest), two(run, 2, shortStatus);
  one.join();
  two.join();

  // Every exchange is clean: nine lines from ENQ to the ACK of the answer,
  // none of the other port's in between.
  std::istringstream log(test::ReadFileOrEmpty(env.LogDir() + "/VarnSrv.log"));
  std::vector<std::string> events;
  for (std::string line; std::getline(log, line);)
    events.push_back(line.substr(24, line.size() - 25));  // no time stamp, no CR
  ASSERT_EQ(events.size(), 9u * 2 * kEach);
  int perRequest[2] = {0, 0};
  for (size_t i = 0; i < events.size(); i += 9) {
    const bool first = events[i + 2] == "-> " + HexDump(kRequest);
    ++perRequest[first ? 0 : 1];
    const std::string request = first ? kRequest : shortStatus;
    EXPECT_EQ(events[i], "-> 05") << i;
    EXPECT_EQ(events[i + 1], "<- 15") << i;
    EXPECT_EQ(events[i + 2], "-> " + HexDump(request)) << i;
    EXPECT_EQ(events[i + 3], "<- 06") << i;
    EXPECT_EQ(events[i + 4], "<- 02") << i;
    EXPECT_EQ(events[i + 8], "-> 06") << i;
    // The answer's command code is the request's.
    EXPECT_EQ(events[i + 6].substr(0, 5), "<- " + HexDump(request.substr(2, 1))) << i;
  }
  EXPECT_EQ(perRequest[0], kEach);
  EXPECT_EQ(perRequest[1], kEach);
}

TEST_F(ServerTest, LogOnSettingWritesTheExchangeLog) {
  Client c;
  ASSERT_EQ(c.OpenPort(1), (Outcome{0, kOk}));
  ASSERT_EQ(c.SendData(kRequest), (Outcome{0, kOk}));
  const std::string log = env.LogDir() + "/VarnSrv.log";
  EXPECT_FALSE(FileExists(log));
  ServerSettings()->LogOn = true;
  ASSERT_EQ(c.SendData(kRequest), (Outcome{0, kOk}));
  EXPECT_NE(test::ReadFileOrEmpty(log).find(std::string("-> ") + kRequestHex + "\r\n"),
            std::string::npos);
}

TEST_F(ServerTest, ClassIsCreatedByProgIdOrClsid) {
  DispatchPtr byClsid = ClassTable::Instance().Create(u"{51fabcfe-95ad-4bc9-baba-97f9d279f37e}");
  ASSERT_TRUE(byClsid);
  EXPECT_EQ(Utf16ToUtf8(InvokeById(*byClsid, kFileVersion, DISPATCH_PROPERTYGET).ToString()),
            "1.0.0.1");
}

// --- moving away ---------------------------------------------------------------

TEST_F(ServerTest, APortIsClosedWhenTheLastClientMovesAwayFromIt) {
  PortsView view;
  Client a, b;
  ASSERT_EQ(a.OpenPort(1), (Outcome{0, kOk}));
  ASSERT_EQ(b.OpenPort(1), (Outcome{0, kOk}));
  ASSERT_EQ(a.OpenPort(2), (Outcome{0, kOk}));
  EXPECT_TRUE(view.Port(1)->opened) << "b still uses it";
  EXPECT_EQ(b.SendData(kRequest), (Outcome{0, kOk}));
  ASSERT_EQ(b.LockPort(2), (Outcome{0, kOk}));  // moving by a lock alike
  EXPECT_FALSE(view.Port(1)->opened) << "nobody uses it any more";
  EXPECT_TRUE(view.Port(2)->opened);
  // The device is free again: another program can have it (a line of our
  // own here), and a client coming back opens it anew.
  {
    TComm other;
    other.SetPortNumber(1);
    other.Open();
  }
  EXPECT_EQ(a.OpenPort(1), (Outcome{0, kOk}));
  EXPECT_EQ(a.SendData(kRequest), (Outcome{0, kOk}));
  EXPECT_TRUE(view.Port(2)->opened) << "b is on it";
  b.Release();
  EXPECT_FALSE(view.Port(2)->opened);
  EXPECT_TRUE(view.Port(1)->opened);
}

}  // namespace
}  // namespace varn
