// varn --1c and varn search as scripts and people use them: the program with
// the real driver library beside it, the emulator on a COM port, and VarnSrv
// running for the whole test as a user would start it (one program after
// another then meets the same server, never one that is just ending).
#include "emulator/emulated_device.h"
#include "emulator/registration.h"
#include "platform/com_ports.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/serial.h"
#include "platform/testing/child_process.h"
#include "platform/text.h"
#include "tests/support/port_server.h"
#include "tests/support/test_env.h"

namespace varn::test {
namespace {

using ::testing::HasSubstr;

using VarnRun = ShellRun;

class VarnAddInSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Eventually([] { return FileExists(test::PortServerSocketPath()); }))
        << ReadFileOrEmpty(env.Path("server.out"));
  }
  void TearDown() override {
    server.Terminate();
    EXPECT_EQ(server.Wait(kPatience), 0) << ReadFileOrEmpty(env.Path("server.out"));
  }
  VarnRun Varn(const std::string& args) {
    return RunShell(env, std::string(VARN_PROGRAM) + " " + args);
  }
  // The emulator as COM `com`; COM numbers not taken by one lead nowhere.
  emu::EmulatedDevice& Device(int com, emu::EmulatorOptions o = {}) {
    if (devices.empty())
      for (int n = 1; n <= 32; ++n)
        Registry::Default().WriteString(kPortsKey, "COM" + std::to_string(n),
                                        env.Path("no-such-port"));
    devices.push_back(std::make_unique<emu::EmulatedDevice>(o));
    coms.push_back(std::make_unique<emu::TComRegistration>(com, devices.back()->SlavePath()));
    return *devices.back();
  }
  int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  TempEnv env;
  ChildProcess server{VARNSRV_PROGRAM, {"--headless"}, env.Path("server.out")};
  std::vector<std::unique_ptr<emu::EmulatedDevice>> devices;
  std::vector<std::unique_ptr<emu::TComRegistration>> coms;
};

TEST_F(VarnAddInSearchTest, TheAddInRunsTheStepsAsThePlainInterfaceDoes) {
  emu::EmulatorOptions o;
  o.paperPath = env.Path("paper.txt");
  Device(1, o);

  // Russian names as a 1C program writes them; the output is the plain one.
  VarnRun r = Varn(
      "--1c call УстановитьСвязь get Результат set 'СтрокаДляПечати=Из 1С' "
      "call печатьстроки get ОписаниеРезультата");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  VarnRun plain = Varn(
      "call Connect get ResultCode set 'StringForPrinting=Из 1С' "
      "call PrintString get ResultCodeDescription");
  EXPECT_EQ(r.out, plain.out);
  EXPECT_THAT(r.out, HasSubstr("Connect: 0\nResultCode: 0\nResultCodeDescription: Ошибок нет.\n"
                               "ResultCode: 0\n"));
  EXPECT_EQ(Count(ReadFileOrEmpty(env.Path("paper.txt")), "Из 1С\n"), 2);

  r = Varn("--json --1c set PortNumber=33 call ПолучитьПараметрыОбмена call QueryInterface");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.out, HasSubstr(R"({"step":"call","name":"GetExchangeParam","value":-9,)"
                               R"("ResultCode":-9,"ResultCodeDescription":"Параметр вне )"
                               R"(диапазона."})"));
  EXPECT_THAT(r.out, HasSubstr(R"({"step":"call","name":"QUERYINTERFACE","error":)"));

  // What does not fit the adapter stops everything before the first step.
  for (const char* bad :
       {"call LoadBitmap picture.bmp", "set Результат=1", "get Connect", "call NoSuchThing"}) {
    r = Varn(std::string("--1c call Beep ") + bad);
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_EQ(r.out, "") << bad;
  }

  // The adapter's numbering: 58 methods, 78 properties, 41 of them writable.
  r = Varn("--1c list");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Count(r.out, "method "), 58);
  EXPECT_EQ(Count(r.out, "property "), 78);
  EXPECT_EQ(Count(r.out, "read/write"), 41);
  EXPECT_THAT(r.out, HasSubstr("CONNECT  ")) << r.out;
}

TEST_F(VarnAddInSearchTest, SearchFindsTheDeviceAndKeepsOrChangesTheSettings) {
  emu::EmulatorOptions at9600;
  at9600.baudCode = 2;
  Device(2, at9600);
  ASSERT_EQ(Varn("set ComNumber=5").status, 0);

  VarnRun r = Varn("search");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "СOM2\t9600\tФР Варн\n");
  EXPECT_EQ(r.err, "");  // no rows when standard error is no terminal
  EXPECT_EQ(Varn("get ComNumber").out, "ComNumber: 5\n");

  r = Varn("--json search --use");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "[\n{\"ComNumber\":2,\"BaudRate\":2,\"speed\":\"9600\",\"name\":\"ФР Варн\"}\n]\n");
  EXPECT_EQ(Varn("get ComNumber get BaudRate").out, "ComNumber: 2\nBaudRate: 2\n");
  EXPECT_EQ(Varn("search --all").status, 2);
}

TEST_F(VarnAddInSearchTest, InterruptedSearchReportsWhatItFoundAndRestoresTheSettings) {
  emu::EmulatorOptions at9600, silent;
  at9600.baudCode = 2;
  silent.faults.silent = true;
  Device(2, at9600);
  Device(3, silent);  // seven rates to try: time enough to interrupt
  ASSERT_EQ(Varn("set ComNumber=5").status, 0);

  ChildProcess varn(VARN_PROGRAM, {"search"}, env.Path("search.out"));
  // The search driver stores each port it sets: COM3 is being probed.
  const std::string param = "SOFTWARE\\Kvelta\\Варн\\Драйвер\\Param";
  ASSERT_TRUE(Eventually([&] {
    try {
      return Registry::Default().ReadDword(param, "ComNumber") == 3u;
    } catch (const std::exception&) {
      return false;
    }
  }));
  varn.Interrupt();
  EXPECT_EQ(varn.Wait(kPatience), 1);
  const std::string out = ReadFileOrEmpty(env.Path("search.out"));
  EXPECT_THAT(out, HasSubstr("СOM2\t9600\tФР Варн\n"));
  EXPECT_THAT(out, HasSubstr("varn: search stopped\n"));
  EXPECT_EQ(Registry::Default().ReadDword(param, "ComNumber"), 5u);
}

TEST_F(VarnAddInSearchTest, APortFailureTellsWhereTheServerWroteWhyAndNoAnswerAdvisesSearch) {
  emu::EmulatorOptions silent;
  silent.faults.silent = true;
  Device(1, silent);  // COM1 answers nothing; the other numbers lead nowhere
  const std::string hint = "varn: the port server tells why in " + env.LogDir() + "/VarnSrv.err";

  // Once a run, after the first call that met the port.
  VarnRun r = Varn("set ComNumber=5 call GetECRStatus call Beep");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.out, HasSubstr("GetECRStatus: -2\n"));
  EXPECT_EQ(r.err, hint + "\n");
  r = Varn("--1c set ComNumber=5 call GetECRStatus");
  EXPECT_EQ(r.err, hint + "\n");
  r = Varn("tables");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "varn: tables: СOM порт не доступен\n" + hint + "\n");

  r = Varn("--json set ComNumber=1 set Timeout=50 call GetECRStatus");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.out, HasSubstr(R"("ResultCode":-4,)"));
  EXPECT_EQ(r.err,
            hint + "; varn search finds on which port and at which baud rate a device answers\n");

  // The adapter's names are offered too; with --json the mistake is one object.
  r = Varn("--1c call ПечатьСтрок");
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr("varn: unknown name \"ПечатьСтрок\"; did you mean ПечатьСтроки?"));
  r = Varn("--1c get ComNumbr");
  EXPECT_THAT(r.err, HasSubstr("varn: unknown name \"ComNumbr\"; did you mean ComNumber?"));
  r = Varn("--json --1c call Beep now");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out,
            R"j({"error":"Beep: the 1C adapter passes no arguments (\"now\" given)","status":2})j"
            "\n");
}

}  // namespace
}  // namespace varn::test
