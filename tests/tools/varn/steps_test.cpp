// The varn command line in-process, against an object shaped like the
// driver: output lines, the JSON form, exit statuses, usage errors found
// before anything runs, failing reads, byte values and Russian names.
#include <sstream>

#include "platform/errors.h"
#include "tests/support/test_env.h"
#include "tools/varn/steps.h"

namespace varn::tool {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Properties and methods like the driver's: methods return their result
// code and leave it with its text in ResultCode and ResultCodeDescription.
class TDriverLike : public DispatchObject<TDriverLike> {
 public:
  static const MemberTable<TDriverLike>& Members() {
    using T = TDriverLike;
    const auto prop = [](DISPID id, const char* name, VARTYPE type, const char* help,
                         std::u16string T::*field) {
      return std::vector<Member<T>>{Get<T>(id, name, type, help,
                                           [field](T& s, Args) {
                                             ++s.Calls;
                                             return Variant(s.*field);
                                           }),
                                    Put<T>(id, name, type, help, [field](T& s, Args a) {
                                      ++s.Calls;
                                      s.*field = a[0].ToString();
                                      return Variant();
                                    })};
    };
    static const MemberTable<T> table{[&] {
      std::vector<Member<T>> m{
          Method<T>(7, "Beep", {}, VT_I4, "Гудок",
                    [](T& s, Args) { return s.Finish(115, u"Ошибка \"Бумага\"\nзакончилась"); }),
          Method<T>(10, "PrintString", {}, VT_I4, "ПечатьСтроки",
                    [](T& s, Args) {
                      s.Printed.push_back(s.Line);
                      return s.Finish(0, u"Ошибок нет");
                    }),
          Method<T>(122, "LoadBitmap", {{"FileName", VT_BSTR}}, VT_I4, "ЗагрузкаКартинки",
                    [](T& s, Args a) {
                      s.Printed.push_back(a[0].ToString());
                      return s.Finish(0, u"Ошибок нет");
                    }),
          Get<T>(72, "ResultCode", VT_I4, "Результат", [](T& s, Args) { return Variant(s.Code); }),
          Get<T>(73, "ResultCodeDescription", VT_BSTR, "ОписаниеРезультата",
                 [](T& s, Args) { return Variant(s.Text); }),
          Get<T>(49, "ComNumber", VT_I4, "НомерCOMпорта",
                 [](T& s, Args) {
                   ++s.Calls;
                   return Variant(s.Com);
                 }),
          Put<T>(49, "ComNumber", VT_I4, "НомерCOMпорта",
                 [](T& s, Args a) {
                   ++s.Calls;
                   s.Com = a[0].ToInt32();
                   return Variant();
                 }),
          Get<T>(126, "LogEnabled", VT_BOOL, "ЛогВключен",
                 [](T& s, Args) { return Variant(s.Log); }),
          Put<T>(126, "LogEnabled", VT_BOOL, "ЛогВключен",
                 [](T& s, Args a) {
                   ++s.Calls;
                   s.Log = a[0].ToBool();
                   return Variant();
                 }),
          Get<T>(103, "PortLocked", VT_BOOL, "ПортЗаблокирован",
                 [](T&, Args) -> Variant { throw EDriverError(-4, "Нет связи"); }),
          Get<T>(55, "ECRSoftDate", VT_DATE, "ДатаПОККМ",
                 [](T&, Args) { return Variant::Date(45366); }),
          Get<T>(106, "PowerSourceVoltage", VT_R8, "НапряжениеИсточникаПитания",
                 [](T&, Args) { return Variant(24.5); }),
          Get<T>(51, "ECRBuild", VT_I4, "СборкаККМ", [](T&, Args) { return Variant(3265); }),
      };
      for (auto& p : prop(75, "StringForPrinting", VT_BSTR, "СтрокаДляПечати", &T::Line))
        m.push_back(std::move(p));
      for (auto& p : prop(105, "TransferBytes", VT_BSTR, "ПосылаемыеБайты", &T::Bytes))
        m.push_back(std::move(p));
      return m;
    }()};
    return table;
  }

  Variant Finish(int32_t code, std::u16string text) {
    ++Calls;
    Code = code;
    Text = std::move(text);
    return Variant(code);
  }

  int Calls = 0;
  int32_t Com = 1, Code = 0;
  bool Log = false;
  std::u16string Line, Bytes, Text;
  std::vector<std::u16string> Printed;
};

struct Outcome {
  int status;
  std::string out, err;
};

class VarnStepsTest : public ::testing::Test {
 protected:
  Outcome Varn(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = RunCommandLine(
        args,
        [this] {
          ++creations;
          return DispatchPtr(obj);
        },
        out, err);
    return {status, out.str(), err.str()};
  }
  TDriverLike* obj = new TDriverLike;
  DispatchPtr hold{obj};
  int creations = 0;
};

TEST_F(VarnStepsTest, StepsRunInOrderOnOneObjectAndPrintOneLinePerResult) {
  const Outcome r =
      Varn({"set", "ComNumber=3", "set", "стрОКАдляпечати=Привет, мир", "call", "printstring",
            "get", "comnumber", "set", "LogEnabled=true", "get", "ЛОГВКЛЮЧЕН", "get", "ECRSoftDate",
            "get", "PowerSourceVoltage", "get", "StringForPrinting"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "PrintString: 0\n"
            "ResultCode: 0\n"
            "ResultCodeDescription: Ошибок нет\n"
            "ComNumber: 3\n"
            "LogEnabled: 1\n"
            "ECRSoftDate: 15.03.2024\n"
            "PowerSourceVoltage: 24.5\n"
            "StringForPrinting: Привет, мир\n");
  EXPECT_EQ(creations, 1);
  EXPECT_THAT(obj->Printed, ElementsAre(u"Привет, мир"));
}

TEST_F(VarnStepsTest, ANonZeroCallOrAFailedReadGivesStatusOneAfterEveryStepRan) {
  Outcome r = Varn({"call", "Beep", "get", "PortLocked", "set", "ComNumber=4", "get", "ComNumber"});
  EXPECT_EQ(r.status, kExitFailed);
  EXPECT_EQ(r.out,
            "Beep: 115\nResultCode: 115\nResultCodeDescription: Ошибка \"Бумага\"\nзакончилась\n"
            "ComNumber: 4\n");
  EXPECT_EQ(r.err, "varn: PortLocked: Нет связи\n");

  r = Varn({"get", "PortLocked"});
  EXPECT_EQ(r.status, kExitFailed);
  r = Varn({"call", "Гудок"});
  EXPECT_EQ(r.status, kExitFailed);
  EXPECT_EQ(r.err, "");
}

TEST_F(VarnStepsTest, JsonIsOneArrayWithAnObjectPerStep) {
  Outcome r = Varn({"--json", "set", "StringForPrinting=a\"b\\c", "get", "StringForPrinting",
                    "call", "Beep", "get", "LogEnabled", "get", "ECRSoftDate", "get",
                    "PowerSourceVoltage", "get", "PortLocked"});
  EXPECT_EQ(r.status, kExitFailed);
  EXPECT_EQ(r.out,
            "[\n"
            R"({"step":"set","name":"StringForPrinting"},)"
            "\n"
            R"({"step":"get","name":"StringForPrinting","value":"a\"b\\c"},)"
            "\n"
            R"({"step":"call","name":"Beep","value":115,"ResultCode":115,)"
            R"("ResultCodeDescription":"Ошибка \"Бумага\"\nзакончилась"},)"
            "\n"
            R"({"step":"get","name":"LogEnabled","value":false},)"
            "\n"
            R"({"step":"get","name":"ECRSoftDate","value":"15.03.2024"},)"
            "\n"
            R"({"step":"get","name":"PowerSourceVoltage","value":24.5},)"
            "\n"
            R"({"step":"get","name":"PortLocked","error":"Нет связи"})"
            "\n]\n");
  EXPECT_EQ(r.err, "varn: PortLocked: Нет связи\n");

  EXPECT_EQ(JsonString("\x01\t\r\x1f ё\x7f"), R"("\u0001\t\r\u001f ё)"
                                              "\x7f\"");
  EXPECT_EQ(JsonString("\xff"), "\"\xEF\xBF\xBD\"");  // not UTF-8: the replacement character
}

TEST_F(VarnStepsTest, UsageErrorsAreFoundBeforeAnyStepRuns) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"set", "ComNumber=3", "get", "Bogus"}, "unknown name \"Bogus\""},
      {{"set", "ComNumber=3", "set", "ComNumber=abc"}, "ComNumber: \"abc\" is not an integer"},
      {{"set", "ComNumber=99999999999"}, "ComNumber: 99999999999 is out of range"},
      {{"set", "LogEnabled=yes"}, "LogEnabled: \"yes\" is not a boolean (1, 0, true or false)"},
      {{"set", "TransferBytes=hex:0G"}, "TransferBytes: \"hex:0G\" is not a byte string"},
      {{"set", "TransferBytes=hex:123"}, "TransferBytes: \"hex:123\" is not a byte string"},
      {{"set", "ECRBuild=1"}, "ECRBuild is read-only"},
      {{"set", "Beep=1"}, "Beep is a method: use call"},
      {{"get", "Beep"}, "Beep is a method: use call"},
      {{"call", "ComNumber"}, "ComNumber is a property: use get or set"},
      {{"call", "LoadBitmap"}, "LoadBitmap: missing argument FileName"},
      {{"call", "LoadBitmap", "get", "ComNumber"}, "LoadBitmap: missing argument FileName"},
      {{"call", "Beep", "now"}, "Beep takes no argument (\"now\" given)"},
  };
  for (const auto& [args, message] : cases) {
    const Outcome r = Varn(args);
    EXPECT_EQ(r.status, kExitUsage) << args.back();
    EXPECT_THAT(r.err, HasSubstr("varn: " + message)) << args.back();
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(obj->Calls, 0) << "a step ran before its command line was checked";
  EXPECT_EQ(obj->Com, 1);

  // Mistakes of form are told without making the object at all.
  creations = 0;
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"--jsn", "get", "ComNumber"},
                                             {"get", "ComNumber", "--json"},
                                             {"set", "ComNumber"},
                                             {"get"},
                                             {"list", "get", "ComNumber"}}) {
    const Outcome r = Varn(args);
    EXPECT_EQ(r.status, kExitUsage) << r.err;
    EXPECT_THAT(r.err, HasSubstr("varn --help"));
  }
  EXPECT_EQ(creations, 0);
  const Outcome help = Varn({"--help"});
  EXPECT_EQ(help.status, kExitOk);
  EXPECT_THAT(help.out, HasSubstr("usage: varn [--json] STEP..."));
}

TEST_F(VarnStepsTest, BytesAndArgumentsReachTheObject) {
  const Outcome r = Varn({"set", "ПосылаемыеБайты=hex:02 01 FCFD 98", "call", "LoadBitmap",
                          "/tmp/логотип.bmp", "set", "StringForPrinting=hex:"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(obj->Bytes, u"\x02\x01\u044C\u044D\u0098");  // one character per byte, cp1251
  EXPECT_THAT(obj->Printed, ElementsAre(u"/tmp/логотип.bmp"));
  EXPECT_EQ(obj->Line, u"");
}

TEST_F(VarnStepsTest, ListShowsTheMemberTable) {
  Outcome r = Varn({"list"});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_THAT(r.out, HasSubstr("   7  Beep                   method      integer   Гудок\n"));
  EXPECT_THAT(r.out,
              HasSubstr("  49  ComNumber              read/write  integer   НомерCOMпорта\n"));
  EXPECT_THAT(r.out, HasSubstr("  51  ECRBuild               read-only   integer   СборкаККМ\n"));
  EXPECT_THAT(r.out, HasSubstr(" 122  LoadBitmap             method      integer, FileName: text  "
                               "ЗагрузкаКартинки\n"));
  r = Varn({"--json", "list"});
  EXPECT_THAT(r.out,
              HasSubstr(R"({"dispid":122,"name":"LoadBitmap","kind":"method",)"
                        R"("type":"integer","arguments":[{"name":"FileName","type":"text"}],)"
                        R"("help":"ЗагрузкаКартинки"})"));
}

TEST_F(VarnStepsTest, AnObjectThatCannotBeMadeOrDescribedEndsWithStatusOne) {
  std::ostringstream out, err;
  EXPECT_EQ(RunCommandLine(
                std::vector<std::string>{"get", "ComNumber"},
                []() -> DispatchPtr {
                  throw EDriverError(REGDB_E_CLASSNOTREG, "Класс не зарегистрирован: X");
                },
                out, err),
            kExitFailed);
  EXPECT_EQ(err.str(), "varn: Класс не зарегистрирован: X\n");
}

}  // namespace
}  // namespace varn::tool
