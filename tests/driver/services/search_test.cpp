// The device search end to end: its own driver object from libVarnDrv.so,
// VarnSrv started on demand, the emulator on COM2. Every other COM number
// names a device that does not exist, so those ports fail at once (-2) and
// a search takes seconds, not minutes.
#include <mutex>

#include "driver/services/search.h"
#include "platform/com_ports.h"
#include "platform/serial.h"
#include "tests/driver/core/driver_fixture.h"

namespace varn::test {
namespace {

using ::testing::ElementsAre;
using ::testing::Field;

struct Event {
  std::string kind;  // cleared, added, changed
  size_t index = 0;
  TSearchLine line;
};

// The list as a window would keep it: every call, in order.
class RecordingList : public ISearchList {
 public:
  void Cleared() override { Add({"cleared", 0, {}}); }
  void LineAdded(size_t i, const TSearchLine& l) override { Add({"added", i, l}); }
  void LineChanged(size_t i, const TSearchLine& l) override { Add({"changed", i, l}); }
  void Finished(const std::string& error) override {
    std::lock_guard lock(m_lock);
    m_error = error;
    ++m_finished;
  }
  int FinishedCount() {
    std::lock_guard lock(m_lock);
    return m_finished;
  }
  std::string Error() {
    std::lock_guard lock(m_lock);
    return m_error;
  }
  std::vector<Event> Events() {
    std::lock_guard lock(m_lock);
    return m_events;
  }
  // The texts a line went through: "speed|name" per change.
  std::vector<std::string> History(size_t index) {
    std::vector<std::string> texts;
    for (const Event& e : Events())
      if (e.kind == "changed" && e.index == index)
        texts.push_back(Utf16ToUtf8(e.line.speed) + "|" + Utf16ToUtf8(e.line.name));
    return texts;
  }

 private:
  void Add(Event e) {
    std::lock_guard lock(m_lock);
    m_events.push_back(std::move(e));
  }
  std::mutex m_lock;
  std::vector<Event> m_events;
  std::string m_error;
  int m_finished = 0;
};

TSearchLine Line(const char* port, const char* speed, const char* name, uint32_t tag) {
  return {Utf8ToUtf16(port), Utf8ToUtf16(speed), Utf8ToUtf16(name), tag};
}

class SearchTest : public DriverTest {
 protected:
  // COM1..COM32 lead nowhere; StartDevice then takes COM2.
  SearchTest() {
    for (int n = kSearchFirstPort; n <= kSearchLastPort; ++n)
      registry.WriteString(kPortsKey, "COM" + std::to_string(n), env.Path("no-such-port"));
  }
  void StartAt9600OnCom2() {
    emu::EmulatorOptions o;
    o.baudCode = 2;
    StartDevice(o, 2);
  }
  void StartSilentOnCom2() {
    emu::EmulatorOptions o;
    o.faults.silent = true;
    StartDevice(o, 2);
  }
  // What a driver made now reads from the stored settings.
  std::pair<int32_t, int32_t> Stored() {
    Driver fresh;
    return {fresh.Int(u"ComNumber"), fresh.Int(u"BaudRate")};
  }
  void CheckMissingPorts(const std::vector<TSearchLine>& lines, size_t from) {
    for (size_t i = from; i < lines.size(); ++i) {
      const int port = static_cast<int>(i) + 1;
      EXPECT_EQ(lines[i], Line(("СOM" + std::to_string(port)).c_str(), "",
                               "-2: СOM порт не доступен", MakeTag(port, 0, false)))
          << port;
    }
  }

  RecordingList list;
};

TEST_F(SearchTest, FindsTheDeviceAt9600OnCom2AndMakesTheChoiceTheDriversSettings) {
  StartAt9600OnCom2();
  Driver caller;
  ASSERT_EQ(caller.Call(u"ServerConnect"), 0);  // the server outlives the search driver
  caller.Set(u"BaudRate", Variant(3));
  caller.Set(u"ComNumber", Variant(7));  // stored with the rate
  TDeviceSearch search(caller.Object(), list);
  EXPECT_EQ(search.SavedComNumber(), 7);
  EXPECT_EQ(search.SavedBaudRate(), 3);
  EXPECT_FALSE(search.Searched());

  search.Start();
  ASSERT_TRUE(Eventually([&] { return list.FinishedCount() == 1; }));
  EXPECT_FALSE(search.Running());
  EXPECT_EQ(list.Error(), "");
  EXPECT_TRUE(search.Searched());

  const std::vector<TSearchLine> lines = search.Lines();
  ASSERT_EQ(lines.size(), 32u);
  CheckMissingPorts(lines, 2);
  EXPECT_EQ(lines[0], Line("СOM1", "", "-2: СOM порт не доступен", MakeTag(1, 0, false)));
  EXPECT_EQ(lines[1], Line("СOM2", "9600", "ФР Варн", 2 + 2 * 256 + 65536));
  // The rates in their order, each shown while it is tried.
  EXPECT_THAT(
      list.History(1),
      ElementsAre("|идет поиск...", "2400|идет поиск...", "2400|не найдено", "4800|идет поиск...",
                  "4800|не найдено", "9600|идет поиск...", "9600|ФР Варн"));
  const std::vector<Event> events = list.Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().kind, "cleared");
  EXPECT_EQ(events[1].kind, "added");
  EXPECT_EQ(events[1].line, Line("СOM1", "", "", MakeTag(1, 0, false)));

  // The search driver stored every port it set; closing puts the choice there.
  EXPECT_EQ(Stored().first, 32);
  EXPECT_FALSE(search.Choose(0));
  EXPECT_FALSE(search.Choose(32));
  EXPECT_TRUE(search.Choose(1));
  EXPECT_EQ(search.SavedComNumber(), 2);
  EXPECT_EQ(search.SavedBaudRate(), 2);
  search.Close();
  EXPECT_EQ(caller.Int(u"ComNumber"), 2);
  EXPECT_EQ(caller.Int(u"BaudRate"), 2);
  EXPECT_EQ(Stored(), std::make_pair(2, 2));
  EXPECT_EQ(caller.Call(u"GetECRStatus"), 0);  // the caller reaches the device there
}

TEST_F(SearchTest, NothingAnsweringIsNotFoundAtAnyRateAndClosingRestoresTheSettings) {
  StartSilentOnCom2();
  Driver caller;
  caller.Set(u"Timeout", Variant(150));
  caller.Set(u"BaudRate", Variant(3));
  caller.Set(u"ComNumber", Variant(7));
  {
    TDeviceSearch search(caller.Object(), list);
    search.Start();
    ASSERT_TRUE(Eventually([&] { return list.FinishedCount() == 1; }));
    const std::vector<TSearchLine> lines = search.Lines();
    ASSERT_EQ(lines.size(), 32u);
    EXPECT_EQ(lines[1], Line("СOM2", "115200", "не найдено", MakeTag(2, 6, false)));
    EXPECT_EQ(list.History(1).size(), 1 + 7 * 2u);
    CheckMissingPorts(lines, 2);
    EXPECT_FALSE(search.Choose(1));
    search.Close();  // nothing chosen: the settings read at the start go back
  }
  Driver fresh;
  EXPECT_EQ(fresh.Int(u"ComNumber"), 7);
  EXPECT_EQ(fresh.Int(u"BaudRate"), 3);
  EXPECT_EQ(fresh.Int(u"Timeout"), 150);  // the search driver's 100 is not kept

  // Never started: closing writes nothing, whatever the driver holds.
  {
    TDeviceSearch idle(caller.Object(), list);
    fresh.Set(u"ComNumber", Variant(9));
    idle.Close();
    EXPECT_EQ(Stored().first, 9);
  }

  // No server to reach: the error is reported and nothing is listed or written.
  fresh.Set(u"ConnectionType", Variant(1));
  fresh.Set(u"UseIPAddress", Variant(true));
  fresh.Set(u"IPAddress", "127.0.0.1");
  fresh.Set(u"TCPPort", Variant(1));
  ASSERT_EQ(fresh.Call(u"SaveParams"), 0);
  RecordingList failing;
  TDeviceSearch unreachable(caller.Object(), failing);
  unreachable.Start();
  ASSERT_TRUE(Eventually([&] { return failing.FinishedCount() == 1; }));
  EXPECT_NE(failing.Error(), "");
  EXPECT_TRUE(unreachable.Lines().empty());
  EXPECT_FALSE(unreachable.Searched());
  unreachable.Close();
  EXPECT_EQ(Stored().first, 9);
}

TEST_F(SearchTest, StopsAfterTheExchangeUnderWayAndStartsAfresh) {
  StartSilentOnCom2();
  Driver caller;
  // Connected, as the driver of the window that searches would be: the
  // server started on demand then outlives each search driver.
  ASSERT_EQ(caller.Call(u"ServerConnect"), 0);
  TDeviceSearch search(caller.Object(), list);

  // Stopping while the worker is still connecting is not lost.
  search.Start();
  search.Stop();
  EXPECT_FALSE(search.Running());
  EXPECT_EQ(list.FinishedCount(), 1);
  EXPECT_LE(search.Lines().size(), 1u);

  // Stopped while COM2 is probed at 4800: that exchange ends, nothing follows.
  search.Start();
  ASSERT_TRUE(Eventually([&] {
    const auto lines = search.Lines();
    return lines.size() == 2 && lines[1].speed == u"4800";
  }));
  search.Stop();
  EXPECT_EQ(list.FinishedCount(), 2);
  EXPECT_EQ(list.Error(), "");
  const std::vector<TSearchLine> lines = search.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_THAT(lines[1], Field(&TSearchLine::name, std::u16string(u"не найдено")));
  EXPECT_NE(lines[1].speed, u"115200");

  // The port was unlocked: another client locks it.
  Driver other;
  other.Set(u"ComNumber", Variant(2));
  EXPECT_EQ(other.Call(u"LockPort"), 0);
  EXPECT_EQ(other.Call(u"UnlockPort"), 0);

  // A new start clears the list and searches every port again.
  search.Start();
  ASSERT_TRUE(Eventually([&] { return list.FinishedCount() == 3; }));
  EXPECT_EQ(list.Error(), "");
  const std::vector<TSearchLine> again = search.Lines();
  ASSERT_EQ(again.size(), 32u);
  EXPECT_EQ(again[1], Line("СOM2", "115200", "не найдено", MakeTag(2, 6, false)));
}

}  // namespace
}  // namespace varn::test
