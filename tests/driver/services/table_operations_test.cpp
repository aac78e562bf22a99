// The table reads end to end: the driver library made by name, the real
// VarnSrv started on demand, the device emulator as COM1. A full read and
// its cache, writes, stopping in the middle, failures of the session and of
// the device, each with what it leaves behind on the port and the server.
#include <condition_variable>
#include <mutex>
#include <numeric>

#include "driver/services/operations.h"
#include "emulator/emulated_device.h"
#include "emulator/registration.h"
#include "platform/automation/classes.h"
#include "platform/com_ports.h"
#include "platform/process_info.h"
#include "platform/registry.h"
#include "platform/serial.h"
#include "tests/support/port_server.h"
#include "tests/support/test_env.h"

namespace varn {
namespace {

using namespace std::chrono_literals;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;
using ::testing::StartsWith;

// The progress windows of one test as one log of what they were told
// ("caption ...", "maximum n", "n info / info2", "close"). A window stops
// its operation, as the user's button does, when the position reaches
// `cancelAt`.
class TProgressLog : public IProgressOwner {
 public:
  std::unique_ptr<IProgressWindow> CreateProgressWindow() override {
    return std::make_unique<Window>(*this);
  }
  void Add(const std::string& line) {
    std::lock_guard lock(m_mutex);
    m_lines.push_back(line);
  }
  std::vector<std::string> Take() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_lines, {});
  }
  int32_t cancelAt = 0;

 private:
  class Window : public IProgressWindow {
   public:
    explicit Window(TProgressLog& log) : m_log(log) {}
    void SetCaption(const std::string& text) override { m_log.Add("caption " + text); }
    void SetMaximum(int32_t maximum) override { m_log.Add("maximum " + std::to_string(maximum)); }
    void ShowProgress(int32_t position, const std::string& info,
                      const std::string& info2) override {
      m_log.Add(std::to_string(position) + " " + info + (info2.empty() ? "" : " / " + info2));
      if (position == m_log.cancelAt) Set(m_cancelled);
    }
    void Close() override {
      m_log.Add("close");
      Set(m_closed);
    }
    bool ShowModal() override {
      std::unique_lock lock(m_mutex);
      m_wake.wait(lock, [&] { return m_closed || m_cancelled; });
      return !m_cancelled;
    }

   private:
    void Set(bool& flag) {
      std::lock_guard lock(m_mutex);
      flag = true;
      m_wake.notify_all();
    }
    TProgressLog& m_log;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_closed = false, m_cancelled = false;
  };

  std::mutex m_mutex;
  std::vector<std::string> m_lines;
};

int32_t Call(IDispatch& drv, const char16_t* method) {
  return CallMethod(drv, method).ToInt32();
}

// "row.field name=value" of every cell.
std::vector<std::string> Values(const TTable& t) {
  std::vector<std::string> out;
  for (int i = 0; i < t.Fields().Count(); ++i) {
    const TField& f = t.Fields().Items(i);
    out.push_back(std::to_string(f.Data.Row) + "." + std::to_string(f.Data.Number) + " " +
                  f.Data.Name + "=" + f.Value());
  }
  return out;
}

class TableOperationsTest : public ::testing::Test {
 protected:
  TableOperationsTest() { RegisterServer(VARNSRV_PROGRAM); }
  void RegisterServer(const std::string& program) {
    RegisterClass(reg, test::kPortServer.Clsid, "VarnSrv.VarnSrv", program);
  }
  // The emulator as COM1 at the driver's default 4800 bit/s.
  void StartDevice(std::chrono::milliseconds answerDelay = 0ms) {
    emu::EmulatorOptions options;
    options.faults.answerDelay = answerDelay;
    device = std::make_unique<emu::EmulatedDevice>(options);
    com1 = std::make_unique<emu::TComRegistration>(1, device->SlavePath());
  }
  static DispatchPtr Driver() { return CreateObject(u"VarnDrv.VarnDrv"); }
  static bool ServerRunning() {
    return UnixSocketListenerProcessId(test::PortServerSocketPath()).has_value();
  }

  test::TempEnv env;
  Registry reg = Registry::Default();
  std::unique_ptr<emu::EmulatedDevice> device;
  std::unique_ptr<emu::TComRegistration> com1;
  TProgressLog progress;
};

TEST_F(TableOperationsTest, AFullReadIsCachedPerFirmwareAndValuesAreWrittenBack) {
  StartDevice();
  DispatchPtr drv = Driver();
  TTables tables;
  tables.Key = ComputeFirmwareKey(*drv);
  EXPECT_EQ(tables.Key, "1.22047");  // version "1.2", build 2047

  LoadTables(progress, tables);  // nothing cached yet: from the device
  EXPECT_THAT(progress.Take(),
              ElementsAre("caption Чтение описаний таблиц...", "maximum 10",
                          "1 Прочитано таблиц: 1", "2 Прочитано таблиц: 2", "3 Прочитано таблиц: 3",
                          "4 Прочитано таблиц: 4", "5 Прочитано таблиц: 5", "6 Прочитано таблиц: 6",
                          "7 Прочитано таблиц: 7", "close"));
  ASSERT_EQ(tables.Count(), 7);
  const TTableRec& cashiers = tables.Items(1).Data;
  EXPECT_EQ(cashiers.Name, "Кассиры и администраторы");
  EXPECT_EQ(cashiers.RowCount, 30);
  EXPECT_EQ(cashiers.FieldCount, 2);

  for (int i = 0; i < tables.Count(); ++i) OpenTable(progress, tables.Items(i));
  const std::vector<std::string> log = progress.Take();
  // Table 4 (four rows of two fields): its field descriptions, then its
  // values with rows completed and the fields read of the current row.
  for (const char* line :
       {"caption Чтение описаний полей...", "maximum 2", "1 Полей всего: 2 Прочитано: 1",
        "2 Полей всего: 2 Прочитано: 2", "caption Чтение данных таблицы...", "maximum 8",
        "3 Рядов всего: 4 прочитано: 1 / Полей всего: 2 прочитано: 1",
        "4 Рядов всего: 4 прочитано: 2 / Полей всего: 2 прочитано: 2",
        "3 Рядов всего: 1 прочитано: 1 / Полей всего: 3 прочитано: 3",
        "60 Рядов всего: 30 прочитано: 30 / Полей всего: 2 прочитано: 2"})
    EXPECT_THAT(log, Contains(line));
  EXPECT_EQ(Values(tables.Items(0))[3], "1.4 Яркость печати=8");
  const TTable& t2 = tables.Items(1);
  ASSERT_EQ(t2.Fields().Count(), 60);
  EXPECT_EQ(Values(t2)[59], "30.2 Табельный номер=30");
  EXPECT_EQ(Values(t2)[58], "30.1 Имя=АДМИНИСТРАТОР");
  const TFldRec& name = t2.Fields().Items(0).Data;
  EXPECT_TRUE(name.FieldType);
  EXPECT_EQ(name.Size, 21);

  // A second editor session on the same firmware: descriptions from the
  // cache (no description read), the values from the device.
  TTables cached;
  cached.Key = tables.Key;
  ASSERT_TRUE(cached.LoadFromRegistry());
  ASSERT_EQ(cached.Count(), 7);
  for (int i = 0; i < 7; ++i) {
    TTable& t = cached.Items(i);
    EXPECT_EQ(t.Data.Name, tables.Items(i).Data.Name);
    ASSERT_EQ(t.Fields().Count(), tables.Items(i).Fields().Count()) << t.Data.Name;
    OpenTable(progress, t);
    EXPECT_EQ(Values(t), Values(tables.Items(i)));
  }
  EXPECT_THAT(progress.Take(), Not(Contains(StartsWith("caption Чтение описаний"))));

  // Writing: a number out of range is refused before anything is sent.
  TField& brightness = cached.Items(0).Fields().Items(3);
  EXPECT_THAT([&] { WriteFieldValue(*drv, brightness, "20"); },
              ::testing::ThrowsMessage<std::range_error>(
                  "Неверное значение поля (20).\r\nЗначение поля должно лежать в диапазоне 1..15"));
  EXPECT_EQ(brightness.Value(), "8");
  int changes = 0;
  brightness.OnChange = [&](TField&) { ++changes; };
  WriteFieldValue(*drv, brightness, "12");
  WriteFieldValue(*drv, brightness, "12");  // sent again, no change
  EXPECT_EQ(changes, 1);
  WriteFieldValue(*drv, cached.Items(2).Fields().Items(1), "Бонусами");
  ReadFieldValues(progress, cached.Items(0));
  ReadFieldValues(progress, cached.Items(2));
  EXPECT_EQ(brightness.Value(), "12");
  EXPECT_EQ(Values(cached.Items(2))[1], "2.1 Название=Бонусами");
}

TEST_F(TableOperationsTest, StoppingMidReadUnlocksThePortAndClosesTheWorkersConnection) {
  // Slow answers, so that the stop comes while the read still has tables
  // to go.
  StartDevice(200ms);
  DispatchPtr other = Driver();
  ASSERT_EQ(Call(*other, u"ServerConnect"), 0);
  ASSERT_TRUE(ServerRunning());

  TTables tables;
  std::vector<int32_t> added;
  tables.OnTableAdded = [&](TTable& t) { added.push_back(t.Data.Number); };
  progress.cancelAt = 2;
  try {
    ReadTables(progress, tables);
    ADD_FAILURE() << "the read was not stopped";
  } catch (const EAbort& e) {  // the silent kind of the driver error -30
    EXPECT_EQ(e.Code, -30);
    EXPECT_STREQ(e.what(), "Прервано пользователем.");
  }
  // The tables read before the stop stay; the window was closed by the stop.
  EXPECT_GE(tables.Count(), 2);
  EXPECT_LT(tables.Count(), 7);
  std::vector<int32_t> numbers(static_cast<size_t>(tables.Count()));
  std::iota(numbers.begin(), numbers.end(), 1);
  EXPECT_EQ(added, numbers);
  EXPECT_THAT(progress.Take(), Not(Contains("close")));

  // Another client takes the lock at once, and when it goes the server has
  // no client left: the workers had ended their connections.
  EXPECT_EQ(Call(*other, u"LockPort"), 0);
  EXPECT_EQ(Call(*other, u"UnlockPort"), 0);
  other = {};
  EXPECT_TRUE(test::Eventually([] { return !ServerRunning(); }));
}

TEST_F(TableOperationsTest, SessionFailuresReachTheCallerAfterUndoingWhatSucceeded) {
  StartDevice();
  TTable table({"Тип и режим кассы", 1, 1, 7});

  // ServerConnect fails: nothing to undo, the driver's error as it is.
  RegisterServer(env.Path("no-such-program"));
  try {
    ReadFieldDefs(progress, table);
    ADD_FAILURE() << "no server, yet the read went through";
  } catch (const EDriverError& e) {
    EXPECT_EQ(e.Code, -16);
    EXPECT_THAT(e.what(), StartsWith("Ошибка подключения."));
  }
  EXPECT_THAT(progress.Take(),
              ElementsAre("caption Чтение описаний полей...", "maximum 7", "close"));

  // Connect fails after LockPort (COM9 has no device): the port is unlocked.
  RegisterServer(VARNSRV_PROGRAM);
  reg.WriteString(kPortsKey, "COM9", env.Path("no-such-device"));
  DispatchPtr other = Driver();
  PutProperty(*other, u"ComNumber", Variant(9));  // stored: the worker's driver uses it
  ASSERT_EQ(Call(*other, u"ServerConnect"), 0);
  EXPECT_THAT([&] { ReadFieldDefs(progress, table); },
              test::ThrowsDriverError(-2, "СOM порт не доступен"));
  EXPECT_EQ(Call(*other, u"LockPort"), 0);
  EXPECT_EQ(table.Fields().Count(), 0);
}

TEST_F(TableOperationsTest, ADeviceErrorOnOneFieldStopsTheReadAndKeepsWhatWasRead) {
  StartDevice();
  // Keeps the server that the first read starts for the second.
  DispatchPtr other = Driver();
  ASSERT_EQ(Call(*other, u"ServerConnect"), 0);
  TTables tables;  // no key: nothing cached
  // The device's table 4 has two fields, not four.
  TTable& t = tables.Add({"Налоговые ставки", 4, 1, 4});
  EXPECT_THAT([&] { ReadFieldDefs(progress, t); },
              test::ThrowsDriverError(51, "Некорректные параметры в команде"));
  EXPECT_THAT(Values(t), ElementsAre("1.1 Ставка, 0.01%=", "1.2 Название налога="));
  EXPECT_THAT(progress.Take(), Contains("close"));

  // A value of a field the device does not have.
  TFldRec missing = t.Fields().Items(1).Data;
  missing.Number = 3;
  t.Fields().Add(missing);
  t.Fields().Add(t.Fields().Items(0).Data);
  EXPECT_THAT([&] { ReadFieldValues(progress, t); },
              test::ThrowsDriverError(51, "Некорректные параметры в команде"));
  EXPECT_THAT(Values(t), ElementsAre("1.1 Ставка, 0.01%=2000", "1.2 Название налога=НДС 20%",
                                     "1.3 Название налога=", "1.1 Ставка, 0.01%="));
}

TEST_F(TableOperationsTest, ADeviceTableTooLargeToHoldIsRefusedBeforeAnyRead) {
  // What a device (or a line error) could claim: 16.7 M cells, gigabytes.
  TTables tables;
  TTable& huge = tables.Add({"Огромная", 9, 65535, 255});
  try {
    OpenTable(progress, huge);
    ADD_FAILURE() << "a table of 16.7 M cells was opened";
  } catch (const std::length_error& e) {
    EXPECT_STREQ(e.what(), TooLargeText(huge.Data).c_str());
  }
  EXPECT_EQ(huge.Fields().Count(), 0);
  EXPECT_THAT(progress.Take(), ElementsAre());  // no window, no worker
}

}  // namespace
}  // namespace varn
