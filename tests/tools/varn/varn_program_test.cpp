// The varn program as scripts use it: the real driver library beside it,
// VarnSrv started on demand, the emulator as COM1; standard output, standard
// error and the exit status kept apart.
#include <fstream>

#include "emulator/emulated_device.h"
#include "emulator/registration.h"
#include "platform/pty.h"
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

// `varn -` as another language's program uses it: one line in, its answer
// read back before the next goes (its output fully buffered, so only the
// program's own flush after each step lets the answer out), on one object.
class VarnPipe {
 public:
  VarnPipe(const TempEnv& env, const std::string& options)
      : m_env(env), m_fifo(env.Path("steps" + options)) {
    EXPECT_EQ(RunShell(env, "mkfifo " + m_fifo).status, 0);
    m_varn.emplace(
        "/bin/sh",
        std::vector<std::string>{"-c",
                                 // stdbuf preloads its library, which a sanitized
                                 // program refuses unless told the order is fine.
                                 "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}"
                                 "verify_asan_link_order=0 exec stdbuf -o 65536 " +
                                     std::string(VARN_PROGRAM) + " " + options + " - <" + m_fifo +
                                     " >" + m_answers.SlavePath() + " 2>" + env.Path("pipe.err")},
        env.Path("pipe.out"));
    // Opened after the start (varn would hold it too), for reading and
    // writing so that the open does not wait for varn; closing it is the
    // end of varn's input.
    m_steps.open(m_fifo, std::ios::in | std::ios::out);
    EXPECT_TRUE(m_steps.is_open());
  }

  // Sends `line` and reads its answer: up to an empty line (lines), or one
  // line (JSON); what came within kPatience when it does not end.
  std::string Ask(const std::string& line, bool json = false) {
    m_steps << line << '\n' << std::flush;
    std::string answer;
    const auto until = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < until) {
      answer += m_answers.ReadSome(4096, std::chrono::milliseconds(200));
      if (json ? answer.ends_with('\n') : answer == "\n" || answer.ends_with("\n\n")) break;
    }
    return answer;
  }
  void Send(const std::string& line) { m_steps << line << '\n' << std::flush; }

  // Ends the input; varn's exit status.
  std::optional<int> End() {
    m_steps.close();
    return m_varn->Wait(kPatience);
  }
  std::string Err() const { return ReadFileOrEmpty(m_env.Path("pipe.err")); }

 private:
  const TempEnv& m_env;
  const std::string m_fifo;
  PtyDevice m_answers;  // raw: the bytes as varn writes them
  std::fstream m_steps;
  std::optional<ChildProcess> m_varn;
};

TEST_F(VarnProgramTest, StepsFromAPipeAreAnsweredOneByOneOnOneObject) {
  emu::EmulatorOptions o;
  o.paperPath = env.Path("paper.txt");
  emu::EmulatedDevice device(o);
  emu::TComRegistration com1(1, device.SlavePath());

  {
    VarnPipe pipe(env, "");
    // A set's value is the rest of the line; its answer is the empty line.
    EXPECT_EQ(pipe.Ask("set StringForPrinting=Привет из трубы"), "\n");
    EXPECT_EQ(pipe.Ask("call ПечатьСтроки"),
              "PrintString: 0\nResultCode: 0\nResultCodeDescription: Ошибок нет.\n\n");
    // Blank lines and comments are no steps and get no answer.
    pipe.Send("");
    pipe.Send("  # a comment");
    EXPECT_EQ(pipe.Ask("get StringForPrinting"), "StringForPrinting: Привет из трубы\n\n");
    // A malformed line is answered with its error; the pipe goes on.
    EXPECT_EQ(pipe.Ask("gte ECRMode"),
              "varn: line 6: unknown step \"gte\"; did you mean get? (steps: set NAME=VALUE, "
              "get NAME, call METHOD [ARG])\n\n");
    EXPECT_EQ(pipe.Ask("call Beep 3"), "varn: line 7: Beep takes no argument (\"3\" given)\n\n");
    EXPECT_EQ(pipe.Ask("get ECRMode\r"), "ECRMode: 0\n\n");
    EXPECT_EQ(pipe.End(), 1);  // the malformed lines count as failed steps
    EXPECT_EQ(pipe.Err(),
              "varn: line 6: unknown step \"gte\"; did you mean get? (steps: set NAME=VALUE, "
              "get NAME, call METHOD [ARG])\n"
              "varn: line 7: Beep takes no argument (\"3\" given)\n");
  }
  EXPECT_THAT(ReadFileOrEmpty(env.Path("paper.txt")), HasSubstr("Привет из трубы\n"));

  {
    VarnPipe pipe(env, "--json");
    EXPECT_EQ(pipe.Ask("set PortNumber=33", true), "{\"step\":\"set\",\"name\":\"PortNumber\"}\n");
    EXPECT_EQ(pipe.Ask("call GetExchangeParam", true),
              "{\"step\":\"call\",\"name\":\"GetExchangeParam\",\"value\":-9,\"ResultCode\":-9,"
              "\"ResultCodeDescription\":\"Параметр вне диапазона.\"}\n");
    EXPECT_EQ(pipe.Ask("get NoSuchThing", true),
              "{\"error\":\"line 3: unknown name \\\"NoSuchThing\\\"\",\"status\":2}\n");
    EXPECT_EQ(pipe.Ask("get PortNumber", true),
              "{\"step\":\"get\",\"name\":\"PortNumber\",\"value\":33}\n");
    EXPECT_EQ(pipe.End(), 1);
  }

  // All well: status 0; the end of the input without a last line break too.
  const std::string varn = VARN_PROGRAM;
  VarnRun r = RunShell(env, "printf 'call GetECRStatus\\nget ECRMode\\n' | " + varn + " -");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "GetECRStatus: 0\nResultCode: 0\nResultCodeDescription: Ошибок нет.\n\n"
            "ECRMode: 0\n\n");
  r = RunShell(env, "printf 'get ECRMode' | " + varn + " -");
  EXPECT_EQ(r.out, "ECRMode: 0\n\n");
  EXPECT_EQ(r.err, "");
  r = Varn("- get ECRMode");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
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
