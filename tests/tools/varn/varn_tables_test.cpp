// `varn tables` as a user runs it: the program with the driver library and
// VarnSrv beside it, the emulator as COM1; what it prints, that a second run
// takes the descriptions from the cache, and Ctrl+C in the middle of a read.
#include "driver/services/tables.h"
#include "emulator/emulated_device.h"
#include "emulator/registration.h"
#include "platform/process_info.h"
#include "platform/registry.h"
#include "platform/testing/child_process.h"
#include "tests/support/port_server.h"
#include "tests/support/test_env.h"

namespace varn::test {
namespace {

using namespace std::chrono_literals;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

using VarnRun = ShellRun;

class VarnTablesTest : public ::testing::Test {
 protected:
  // One server for all the runs of a test, as on a till where VarnSrv runs
  // all day: a server started on demand ends with its last client, and a
  // run that comes while it ends can find it closing.
  VarnTablesTest() {
    server = std::make_unique<ChildProcess>(VARNSRV_PROGRAM, std::vector<std::string>{"--headless"},
                                            env.Path("server.out"));
    EXPECT_TRUE(Eventually([&] {
      try {
        return UnixSocketListenerProcessId(test::PortServerSocketPath()) == server->Pid();
      } catch (const std::exception&) {
        return false;
      }
    }));
  }
  void StartDevice(std::chrono::milliseconds answerDelay = 0ms) {
    emu::EmulatorOptions options;
    options.faults.answerDelay = answerDelay;
    device = std::make_unique<emu::EmulatedDevice>(options);
    com1 = std::make_unique<emu::TComRegistration>(1, device->SlavePath());
  }
  VarnRun Varn(const std::string& args) {
    return RunShell(env, std::string(VARN_PROGRAM) + " " + args);
  }

  TempEnv env;
  std::unique_ptr<ChildProcess> server;
  std::unique_ptr<emu::EmulatedDevice> device;
  std::unique_ptr<emu::TComRegistration> com1;
};

TEST_F(VarnTablesTest, PrintsEveryTableAndReadsTheDescriptionsOnce) {
  StartDevice();
  VarnRun first = Varn("tables");
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_THAT(first.out, HasSubstr("table 1: Тип и режим кассы (1 row, 7 fields)\n"
                                   "  1.1  Номер кассы в магазине (число 1..99): 1\n"
                                   "  1.2  Автоматическая отрезка чека (число 0..1): 1\n"));
  EXPECT_THAT(first.out, HasSubstr("table 2: Кассиры и администраторы (30 rows, 2 fields)\n"
                                   "  1.1  Имя (строка 0..21): \"КАССИР 1\"\n"));
  EXPECT_THAT(first.out, HasSubstr("  30.1  Имя (строка 0..21): \"АДМИНИСТРАТОР\"\n"
                                   "  30.2  Табельный номер (число 0..99999999): 30\n"
                                   "table 3: Названия типов оплаты (4 rows, 1 field)\n"));
  EXPECT_THAT(first.out, EndsWith("  1.3  Печать числа под штрих-кодом (число 0..1): 1\n"
                                  "ResultCode: 0\nResultCodeDescription: Ошибок нет.\n"));
  // Without a terminal the progress is one caption line per read.
  EXPECT_THAT(first.err, HasSubstr("Чтение описаний таблиц...\nЧтение описаний полей...\n"
                                   "Чтение данных таблицы...\n"));

  VarnRun second = Varn("tables");
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(second.out, first.out);
  EXPECT_THAT(second.err, Not(HasSubstr("Чтение описаний")));

  VarnRun json = Varn("--json tables --refresh");
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_THAT(json.out, HasSubstr("{\"row\":30,\"field\":1,\"name\":\"Имя\",\"type\":\"строка\","
                                  "\"min\":0,\"max\":21,\"value\":\"АДМИНИСТРАТОР\"}"));
  EXPECT_THAT(json.out,
              EndsWith("],\"ResultCode\":0,\"ResultCodeDescription\":\"Ошибок нет.\"}\n"));
  EXPECT_THAT(json.err, HasSubstr("Чтение описаний таблиц..."));

  VarnRun usage = Varn("tables 2");
  EXPECT_EQ(usage.status, 2);
  EXPECT_EQ(usage.out, "");
}

TEST_F(VarnTablesTest, ARefreshRepairsADamagedCacheAndAnImpossibleEntryRepairsItself) {
  StartDevice();
  VarnRun first = Varn("tables");
  ASSERT_EQ(first.status, 0) << first.err;
  Registry reg = Registry::Default();
  const std::vector<std::string> firmware = reg.SubKeys(kTableDefsKey);
  ASSERT_EQ(firmware.size(), 1u);
  const std::string field = std::string(kTableDefsKey) + "\\" + firmware[0] + "\\1\\FIELDDEFS\\0";
  const std::string good = "  1.1  Номер кассы в магазине (число 1..99): 1\n";

  // A description that could be right is trusted until a refresh.
  reg.WriteString(field, "Name", "Испорчено");
  VarnRun cached = Varn("tables");
  EXPECT_THAT(cached.out, HasSubstr("  1.1  Испорчено (число 1..99): 1\n"));
  VarnRun refreshed = Varn("tables --refresh");
  EXPECT_EQ(refreshed.status, 0) << refreshed.err;
  EXPECT_EQ(refreshed.out, first.out);
  EXPECT_EQ(reg.ReadString(field, "Name"), "Номер кассы в магазине");
  EXPECT_THAT(Varn("tables").out, HasSubstr(good));

  // Field 255 of a table of 7 fields is no description the device gave.
  reg.WriteDword(field, "Number", 255);
  VarnRun repaired = Varn("tables");
  EXPECT_EQ(repaired.out, first.out);
  EXPECT_EQ(reg.ReadDword(field, "Number"), 1u);
}

TEST_F(VarnTablesTest, CtrlCStopsTheReadWithMinus30) {
  StartDevice(40ms);  // slow enough to be stopped in the middle
  const std::string output = env.Path("stopped.out");
  ChildProcess varn(VARN_PROGRAM, {"tables"}, output);
  ASSERT_TRUE(Eventually([&] {
    return ReadFileOrEmpty(output).find("Чтение данных таблицы...") != std::string::npos;
  })) << ReadFileOrEmpty(output);
  varn.Interrupt();
  EXPECT_EQ(varn.Wait(kPatience), 1);  // ended by itself, not by the signal
  const std::string text = ReadFileOrEmpty(output);
  EXPECT_THAT(text, HasSubstr("ResultCode: -30\nResultCodeDescription: Прервано пользователем.\n"));
  EXPECT_THAT(text, HasSubstr("varn: tables: Прервано пользователем.\n"));
  EXPECT_THAT(text, Not(HasSubstr("table 7:")));
}

}  // namespace
}  // namespace varn::test
