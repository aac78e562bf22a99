// The varn command line in-process, against an object shaped like the
// driver: output lines, the JSON form, exit statuses, usage errors found
// before anything runs, failing reads, byte values and Russian names.
#include <sstream>

#include "platform/automation/member_lookup.h"
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
          Get<T>(56, "Date", VT_DATE, "Дата", [](T& s, Args) { return Variant::Date(s.When); }),
          // A call that ends as the server's port failures do, by the code set here.
          Method<T>(20, "CutCheck", {}, VT_I4, "ОтрезатьЧек",
                    [](T& s, Args) { return s.Finish(s.Next, u"СOM порт не доступен"); }),
          Get<T>(120, "ConnectionType", VT_I4, "ТипПодключения",
                 [](T& s, Args) { return Variant(s.Connection); }),
          Put<T>(120, "ConnectionType", VT_I4, "ТипПодключения",
                 [](T& s, Args a) {
                   s.Connection = a[0].ToInt32();
                   return Variant();
                 }),
      };
      for (auto& p : prop(75, "StringForPrinting", VT_BSTR, "СтрокаДляПечати", &T::Line))
        m.push_back(std::move(p));
      for (auto& p : prop(105, "TransferBytes", VT_BSTR, "ПосылаемыеБайты", &T::Bytes))
        m.push_back(std::move(p));
      for (auto& p : prop(121, "ComputerName", VT_BSTR, "ИмяКомпьютера", &T::Computer))
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
  int32_t Com = 1, Code = 0, Next = 0, Connection = 0;
  double When = 45366;
  bool Log = false;
  std::u16string Line, Bytes, Text, Computer;
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
            R"({"step":"get","name":"ECRSoftDate","value":"2024-03-15"},)"
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

TEST_F(VarnStepsTest, PipeLinesKeepTheirBlanksAndNoLineGrowsWithoutBound) {
  std::istringstream in(
      "set StringForPrinting=  two  words \n"
      "call LoadBitmap  my picture.bmp  \r\n" +
      std::string(kMaxStepLine + 10, 'x') +
      "\n"
      "get ComNumber 2\n"
      "\t# set ComNumber=5\n"
      "get StringForPrinting");
  std::ostringstream out, err;
  EXPECT_EQ(RunCommandLine(
                std::vector<std::string>{"-"}, [this] { return DispatchPtr(obj); }, in, out, err),
            kExitFailed);
  EXPECT_EQ(out.str(),
            "\n"
            "LoadBitmap: 0\nResultCode: 0\nResultCodeDescription: Ошибок нет\n\n"
            "varn: line 3: longer than 65536 bytes\n\n"
            "varn: line 4: get ComNumber: one name only (\"2\" after it)\n\n"
            "StringForPrinting:   two  words \n\n");
  EXPECT_THAT(obj->Printed, ElementsAre(u"my picture.bmp"));
  EXPECT_EQ(obj->Com, 1);
  EXPECT_THAT(err.str(), HasSubstr("varn: line 3: longer than 65536 bytes\n"));
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

TEST_F(VarnStepsTest, WithJsonEveryMistakeStillPrintsOneJsonObject) {
  // Scripts parse standard output whatever happened: the mistake comes as
  // one object, and on stderr as before.
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--json", "get", "Bogus"}, R"(unknown name \"Bogus\")"},
      {{"--json", "set", "ComNumber=abc"}, R"(ComNumber: \"abc\" is not an integer)"},
      {{"--json"}, "no steps"},
      {{"--json", "--bogus", "get", "ComNumber"}, R"(unknown option \"--bogus\")"},
      {{"get", "ComNumber", "--json"}, R"(\"--json\" is an option: options go before the steps)"},
      {{"--json", "tables", "--now"}, R"(tables takes only --refresh (\"--now\" given))"},
      {{"--json", "properties"}, "properties takes nothing beside it"},
      {{"--json", "--version", "get", "ComNumber"}, "--version takes nothing beside it"},
      {{"--json", "search", "--all"}, R"(search: unknown word \"--all\" (search [--use]))"},
  };
  for (const auto& [args, message] : cases) {
    const Outcome r = Varn(args);
    EXPECT_EQ(r.status, kExitUsage) << message;
    EXPECT_EQ(r.out, R"({"error":")" + message +
                         R"(","status":2})"
                         "\n");
    EXPECT_THAT(r.err, HasSubstr("(varn --help shows the usage)")) << message;
  }
  EXPECT_EQ(obj->Calls, 0);

  // A driver that cannot be made: status 1, and still one object.
  std::ostringstream out, err;
  EXPECT_EQ(
      RunCommandLine(
          std::vector<std::string>{"--json", "get", "ComNumber"},
          []() -> DispatchPtr { throw EDriverError(REGDB_E_CLASSNOTREG, "Нет \"X\""); }, out, err),
      kExitFailed);
  EXPECT_EQ(out.str(), R"({"error":"Нет \"X\"","status":1})"
                       "\n");
  EXPECT_EQ(err.str(), "varn: Нет \"X\"\n");
}

TEST_F(VarnStepsTest, DatesAreIsoInJsonAndDayMonthYearInText) {
  obj->When = 45091.25;  // 14.06.2023 06:00
  Outcome r = Varn({"--json", "get", "Date", "get", "ECRSoftDate"});
  EXPECT_EQ(r.out,
            "[\n"
            R"({"step":"get","name":"Date","value":"2023-06-14T06:00:00"},)"
            "\n"
            R"({"step":"get","name":"ECRSoftDate","value":"2024-03-15"})"
            "\n]\n");
  r = Varn({"get", "Date", "get", "ECRSoftDate"});
  EXPECT_EQ(r.out, "Date: 14.06.2023 06:00:00\nECRSoftDate: 15.03.2024\n");

  EXPECT_EQ(JsonDate(45091), R"("2023-06-14")");
  EXPECT_EQ(JsonDate(0), R"("1899-12-30")");
  EXPECT_EQ(JsonDate(-1.25), R"("1899-12-29T06:00:00")");  // the fraction is the time, also here
  EXPECT_EQ(JsonDate(45091.9999999), R"("2023-06-15")");   // rounded to the second, as the log
  EXPECT_EQ(JsonDate(-657434), R"("0100-01-01")");
  EXPECT_EQ(JsonDate(2958465.5), R"("9999-12-31T12:00:00")");
  EXPECT_EQ(JsonDate(2958466), "2958466");  // no such year: the number itself
  EXPECT_EQ(JsonDate(std::nan("")), "null");
}

TEST_F(VarnStepsTest, AnUnknownNameOffersTheNearestMember) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"call", "PrintStrng"}, R"(unknown name "PrintStrng"; did you mean PrintString?)"},
      {{"call", "printsrting"}, R"(unknown name "printsrting"; did you mean PrintString?)"},
      {{"get", "ECRSoftDat"}, R"(unknown name "ECRSoftDat"; did you mean ECRSoftDate?)"},
      {{"call", "ПечатьСтрок"}, R"(unknown name "ПечатьСтрок"; did you mean ПечатьСтроки?)"},
      // Of the step's kind first: ComNumber, not the method CutCheck.
      {{"get", "ComNmber"}, R"(unknown name "ComNmber"; did you mean ComNumber?)"},
      // Nothing near: no guess.
      {{"get", "Bogus"}, "unknown name \"Bogus\"\n"},
      {{"gte", "ComNumber"}, R"(unknown step "gte"; did you mean get? (steps:)"},
      {{"--jsno", "get", "ComNumber"}, R"(unknown option "--jsno"; did you mean --json?)"},
  };
  for (const auto& [args, message] : cases) {
    const Outcome r = Varn(args);
    EXPECT_EQ(r.status, kExitUsage) << message;
    EXPECT_THAT(r.err, HasSubstr("varn: " + message));
  }

  const std::vector<std::string> names{"Beep", "PrintString", "PrintStringWithFont"};
  EXPECT_EQ(NearestName("Bepe", names), "Beep");  // two letters swapped: one slip
  EXPECT_EQ(NearestName("printstrin", names), "PrintString");
  EXPECT_EQ(NearestName("Beer", names), "Beep");
  EXPECT_EQ(NearestName("Bxxr", names), "");
  EXPECT_EQ(NearestName("", names), "");
  EXPECT_EQ(NearestName("Beep", {}), "");
  EXPECT_EQ(NearestName(std::string(1 << 20, 'P'), names), "");  // a huge word costs nothing
}

TEST_F(VarnStepsTest, APortFailureTellsOnceWhereTheServerWroteWhy) {
  test::TempEnv env;
  const std::string local = "varn: the port server tells why in " + env.LogDir() + "/VarnSrv.err";
  for (const int32_t code : {-2, -3}) {
    obj->Next = code;
    const Outcome r = Varn({"call", "CutCheck", "call", "CutCheck"});
    EXPECT_EQ(r.status, kExitFailed);
    EXPECT_EQ(r.err, local + "\n") << "once a run, after the first: " << code;
  }
  obj->Next = -4;
  Outcome r = Varn({"--json", "call", "CutCheck"});
  EXPECT_EQ(r.err,
            local + "; varn search finds on which port and at which baud rate a device answers\n");
  EXPECT_THAT(r.out, HasSubstr(R"("ResultCode":-4,)"));

  // Other codes, failed reads and successes point nowhere.
  for (const int32_t code : {0, -1, -5, -16, 115}) {
    obj->Next = code;
    r = Varn({"call", "CutCheck", "get", "PortLocked"});
    EXPECT_EQ(r.err, "varn: PortLocked: Нет связи\n") << code;
  }

  // The same resolution of the folder as everywhere: XDG_STATE_HOME without VARN_LOG_DIR.
  unsetenv("VARN_LOG_DIR");
  setenv("XDG_STATE_HOME", env.Path("state").c_str(), 1);
  obj->Next = -2;
  r = Varn({"call", "CutCheck"});
  unsetenv("XDG_STATE_HOME");
  EXPECT_EQ(r.err,
            "varn: the port server tells why in " + env.Path("state") + "/varn/VarnSrv.err\n");

  // A server on another computer keeps its diagnostics there.
  r = Varn({"set", "ConnectionType=1", "set", "ComputerName=SHOP-2", "call", "CutCheck"});
  EXPECT_EQ(r.err, "varn: the port server tells why in VarnSrv.err in the log folder of SHOP-2\n");
}

TEST_F(VarnStepsTest, VersionNamesVarnAndTheDriver) {
  // This object has no FileVersion: varn's own version, and why not the driver's.
  Outcome r = Varn({"--version"});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_EQ(r.out, "varn " VARN_VERSION "\n");
  EXPECT_THAT(r.err, HasSubstr("varn: the driver's version: "));
  r = Varn({"--json", "--version"});
  EXPECT_EQ(r.out, R"({"varn":")" VARN_VERSION R"(","driver":null})"
                   "\n");
  EXPECT_THAT(Varn({"--help"}).out, HasSubstr("varn [--json] --version"));
}

}  // namespace
}  // namespace varn::tool
