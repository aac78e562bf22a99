// The varn program as scripts use it: the real driver library beside it,
// VarnSrv started on demand, the emulator as COM1; standard output, standard
// error and the exit status kept apart.
#include "emulator/emulated_device.h"
#include "emulator/registration.h"
#include "platform/testing/child_process.h"
#include "platform/text.h"
#include "tests/support/test_env.h"

namespace varn::test {
namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;

using VarnRun = ShellRun;

class VarnProgramTest : public ::testing::Test {
 protected:
  VarnRun Varn(const std::string& args) {
    return RunShell(env, std::string(VARN_PROGRAM) + " " + args);
  }

  TempEnv env;
};

TEST_F(VarnProgramTest, PrintsThroughTheDriverAndKeepsItsContract) {
  emu::EmulatorOptions o;
  o.paperPath = env.Path("paper.txt");
  emu::EmulatedDevice device(o);
  emu::TComRegistration com1(1, device.SlavePath());

  // Russian help strings name members too; every step runs on one object.
  VarnRun r = Varn(
      "call GetECRStatus get РежимККМ set 'StringForPrinting=Привет' call ПечатьСтроки "
      "set FieldType=true get FieldType get PowerSourceVoltage");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "GetECRStatus: 0\nResultCode: 0\nResultCodeDescription: Ошибок нет.\n"
            "ECRMode: 0\n"
            "PrintString: 0\nResultCode: 0\nResultCodeDescription: Ошибок нет.\n"
            "FieldType: 1\n"
            "PowerSourceVoltage: 0\n");
  EXPECT_EQ(r.err, "");
  EXPECT_THAT(ReadFileOrEmpty(env.Path("paper.txt")), HasSubstr("Привет\n"));

  // A call that fails and a read that fails: status 1, every step still ran.
  r = Varn(
      "--json set PortNumber=33 call GetExchangeParam get PortLocked set 'BarCode=hex:31 32' "
      "get BarCode");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.out, HasSubstr("{\"step\":\"set\",\"name\":\"PortNumber\"}"));
  EXPECT_THAT(r.out, HasSubstr("{\"step\":\"call\",\"name\":\"GetExchangeParam\",\"value\":-9,"
                               "\"ResultCode\":-9,\"ResultCodeDescription\":\"Параметр вне "
                               "диапазона.\"}"));
  EXPECT_THAT(r.out, HasSubstr("{\"step\":\"get\",\"name\":\"PortLocked\",\"error\":"));
  EXPECT_THAT(r.out, HasSubstr("{\"step\":\"get\",\"name\":\"BarCode\",\"value\":\"12\"}"));
  EXPECT_THAT(r.err, HasSubstr("varn: PortLocked: "));

  // Usage errors stop everything before the first step.
  for (const char* bad : {"set ResultCode=1", "get NoSuchThing", "set Timeout=abc", "call"}) {
    r = Varn(std::string("call Beep ") + bad);
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_EQ(r.out, "") << bad;
    EXPECT_FALSE(r.err.empty()) << bad;
  }

  // `set` persists the settings exactly as the driver does.
  r = Varn("set ComNumber=3");
  EXPECT_EQ(r.status, 0);
  r = Varn("get ComNumber");
  EXPECT_EQ(r.out, "ComNumber: 3\n");
}

TEST_F(VarnProgramTest, ScriptsGetVersionsJsonForMistakesAndIsoDates) {
  VarnRun r = Varn("--version");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "varn " VARN_VERSION "\nVarnDrv " VARN_VERSION "\n");
  r = Varn("--json --version");
  EXPECT_EQ(r.out, R"({"varn":")" VARN_VERSION R"(","driver":")" VARN_VERSION R"("})"
                   "\n");

  r = Varn("--json call PrintStrng");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, R"({"error":"unknown name \"PrintStrng\"; did you mean PrintString?",)"
                   R"("status":2})"
                   "\n");
  EXPECT_THAT(r.err, HasSubstr("did you mean PrintString?"));

  emu::EmulatedDevice device(emu::EmulatorOptions{});
  emu::TComRegistration com1(1, device.SlavePath());
  r = Varn("--json call GetECRStatus get ECRSoftDate");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, ContainsRegex(R"(\{"step":"get","name":"ECRSoftDate","value":)"
                                   R"("[0-9]{4}-[0-9]{2}-[0-9]{2}"\})"));
  r = Varn("call GetECRStatus get ECRSoftDate");
  EXPECT_THAT(r.out, ContainsRegex("\nECRSoftDate: [0-9]{2}\\.[0-9]{2}\\.[0-9]{4}\n"));
}

}  // namespace
}  // namespace varn::test
