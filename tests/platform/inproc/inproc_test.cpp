// In-process activation: a server library registered, found beside the
// program, called across its boundary, unregistered; and the ways loading
// one fails.
#include <filesystem>
#include <fstream>

#include "platform/automation/classes.h"
#include "platform/automation/inproc_server.h"
#include "platform/dynamic_library.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tests/platform/inproc/sample_class.h"
#include "tests/support/test_env.h"

namespace varn {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
namespace fs = std::filesystem;

const std::string kKey = std::string("SOFTWARE\\Classes\\CLSID\\") + test::kInprocSampleClsid;

// An object of the host that the library calls back.
class THostAdder : public DispatchObject<THostAdder> {
 public:
  static const MemberTable<THostAdder>& Members() {
    static const MemberTable<THostAdder> table{{
        Method<THostAdder>(1, "Add", {{"A", VT_I4}, {"B", VT_I4}}, VT_I4, "",
                           [](THostAdder& s, Args a) {
                             ++s.Calls;
                             return Variant(a[0].ToInt32() + a[1].ToInt32());
                           }),
    }};
    return table;
  }
  int Calls = 0;
};

std::string PathOf(IDispatch& obj) {
  return Utf16ToUtf8(GetProperty(obj, u"ModulePath").ToString());
}

// What CreateObject raised: its code and text.
std::pair<int32_t, std::string> CreateFailure(const std::u16string& name) {
  try {
    CreateObject(name);
  } catch (const EDriverError& e) {
    return {e.Code, e.what()};
  }
  return {0, "created"};
}

TEST(InprocServerTest, RegisteredLibraryServesByProgIdAndClsidUntilUnregistered) {
  test::TempEnv env;
  // A copy elsewhere, so that finding it proves the registration was followed.
  const std::string copy = env.Path("libRegisteredCopy.so");
  fs::copy_file(SAMPLE_LIBRARY, copy);
  const DynamicLibrary lib = DynamicLibrary::Load(copy);
  ASSERT_EQ(lib.Function<inproc::RegisterFunction>(inproc::kRegisterServer)(), 0);

  Registry reg = Registry::Default();
  const std::string canonical = fs::canonical(copy).string();
  EXPECT_EQ(RegisteredInprocServer(reg, test::kInprocSampleClsid), canonical);
  EXPECT_EQ(reg.ReadString(kKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(RegisteredProgId(reg, test::kInprocSampleClsid), test::kInprocSampleProgId);
  EXPECT_EQ(RegisteredClsid(reg, test::kInprocSampleProgId), test::kInprocSampleClsid);
  EXPECT_FALSE(RegisteredLocalServer(reg, test::kInprocSampleClsid));

  EXPECT_EQ(PathOf(*CreateObject(u"varninprocsample.sample")), canonical);
  std::u16string lower = Utf8ToUtf16(test::kInprocSampleClsid);
  for (auto& c : lower) c = FoldCase(c);
  EXPECT_EQ(PathOf(*CreateObject(lower)), canonical);
  // The library's classes are its own; the host's table has not learnt them.
  EXPECT_FALSE(ClassTable::Instance().Find(test::kInprocSampleProgId));

  ASSERT_EQ(lib.Function<inproc::RegisterFunction>(inproc::kUnregisterServer)(), 0);
  EXPECT_FALSE(reg.KeyExists(kKey));
  EXPECT_FALSE(reg.KeyExists(std::string("SOFTWARE\\Classes\\") + test::kInprocSampleProgId));
  // Unregistered, a CLSID leads nowhere; the ProgID still finds the library
  // of the build beside the program.
  EXPECT_EQ(CreateFailure(Utf8ToUtf16(test::kInprocSampleClsid)),
            std::make_pair(REGDB_E_CLASSNOTREG,
                           std::string("Класс не зарегистрирован: ") + test::kInprocSampleClsid));
  EXPECT_EQ(PathOf(*CreateObject(Utf8ToUtf16(test::kInprocSampleProgId))),
            fs::canonical(SAMPLE_LIBRARY).string());
  // A CLSID known by its ProgID alone leads to the same library.
  RegisterClass(reg, test::kInprocSampleClsid, test::kInprocSampleProgId);
  EXPECT_EQ(PathOf(*CreateObject(Utf8ToUtf16(test::kInprocSampleClsid))),
            fs::canonical(SAMPLE_LIBRARY).string());
  EXPECT_EQ(LibraryBesideProgram(test::kInprocSampleProgId),
            fs::path(SAMPLE_LIBRARY).parent_path().string() + "/libVarnInprocSample.so");
}

TEST(InprocServerTest, CallsCrossTheLibraryBoundary) {
  test::TempEnv env;
  DispatchPtr obj = CreateObject(Utf8ToUtf16(test::kInprocSampleProgId));
  ASSERT_TRUE(obj);

  // Texts both ways.
  EXPECT_EQ(GetProperty(*obj, u"text").ToString(), u"начало");
  PutProperty(*obj, u"Text", Variant(u"Привет, мир"));
  EXPECT_EQ(GetProperty(*obj, u"Text").ToString(), u"Привет, мир");

  // An array of mixed values, one of them an array itself, comes back reversed.
  SafeArray inner{VT_I4, {{1, 2}}, {Variant(7), Variant(8)}};
  SafeArray items{VT_VARIANT, {{0, 2}}, {Variant(1), Variant(u"два"), Variant(std::move(inner))}};
  const Variant reversed = CallMethod(*obj, u"Reverse", {Variant(items)});
  ASSERT_TRUE(reversed.IsArray());
  std::reverse(items.items.begin(), items.items.end());
  EXPECT_EQ(reversed.RawArray(), items);

  // Objects both ways: the library calls one of the host, the host one of the library.
  auto* adder = new THostAdder;
  DispatchPtr lent(adder);
  EXPECT_EQ(CallMethod(*obj, u"CallBack", {Variant(lent), Variant(2), Variant(40)}).ToInt32(), 42);
  EXPECT_EQ(adder->Calls, 1);
  DispatchPtr child = CallMethod(*obj, u"MakeChild", {Variant(u"дочь")}).ToDispatch();
  ASSERT_TRUE(child);
  EXPECT_EQ(GetProperty(*child, u"Text").ToString(), u"дочь");
  EXPECT_EQ(GetProperty(*obj, u"Live").ToInt32(), 2);
  child = DispatchPtr();  // released into the library, which deletes it
  EXPECT_EQ(GetProperty(*obj, u"Live").ToInt32(), 1);

  // A failure inside arrives as an exception result with its code and text.
  try {
    CallMethod(*obj, u"Fail");
    ADD_FAILURE() << "Fail did not fail";
  } catch (const EDispatchError& e) {
    EXPECT_EQ(e.Code, DISP_E_EXCEPTION);
    EXPECT_EQ(e.Excep.scode, -4);
    EXPECT_EQ(e.Excep.description, u"Нет связи");
  }

  // Type information through the library's own copy of the classes.
  auto* info = dynamic_cast<ITypeInfoSource*>(obj.get());
  ASSERT_NE(info, nullptr);
  ASSERT_FALSE(info->TypeInfo().empty());
  EXPECT_EQ(info->TypeInfo()[0].name, "Text");
  EXPECT_EQ(info->TypeInfo()[0].help, "Текст");
}

TEST(InprocServerTest, LibrariesThatCannotServeAreReportedClearly) {
  test::TempEnv env;
  Registry reg = Registry::Default();
  const auto registerAt = [&](const std::string& clsid, const std::string& progId,
                              const std::string& path) {
    RegisterClass(reg, clsid, progId, path, ServerKind::InProcess);
  };

  // A library that is not there, and a file that is no library.
  registerAt("{00000000-0000-0000-0000-0000000000A1}", "Varn.Gone", "/nonexistent/libGone.so");
  auto [code, text] = CreateFailure(u"Varn.Gone");
  EXPECT_EQ(code, CO_E_DLLNOTFOUND);
  EXPECT_THAT(text, StartsWith("Не удалось загрузить библиотеку /nonexistent/libGone.so: "));
  EXPECT_THAT(text, HasSubstr("No such file"));
  { std::ofstream(env.Path("libText.so")) << "not a library\n"; }
  registerAt("{00000000-0000-0000-0000-0000000000A2}", "Varn.Text", env.Path("libText.so"));
  EXPECT_EQ(CreateFailure(u"Varn.Text").first, CO_E_DLLNOTFOUND);

  // A library without the entry point: registered, and found beside the program.
  const std::string noEntry = fs::path(SAMPLE_LIBRARY).parent_path() / "libVarnInprocNoEntry.so";
  registerAt("{00000000-0000-0000-0000-0000000000A3}", "Varn.NoEntry", noEntry);
  EXPECT_EQ(CreateFailure(u"Varn.NoEntry"),
            std::make_pair(CO_E_ERRORINDLL,
                           "В библиотеке " + noEntry + " нет точки входа VarnDllGetObject"));
  EXPECT_EQ(CreateFailure(Utf8ToUtf16(test::kNoEntryProgId)).first, CO_E_ERRORINDLL);

  // A library asked for a class it does not serve.
  registerAt("{00000000-0000-0000-0000-0000000000A4}", "Varn.Other", SAMPLE_LIBRARY);
  EXPECT_EQ(CreateFailure(u"Varn.Other"),
            std::make_pair(CLASS_E_CLASSNOTAVAILABLE,
                           std::string("Библиотека ") + SAMPLE_LIBRARY +
                               " не создаёт объект {00000000-0000-0000-0000-0000000000A4}"));

  // Names that lead nowhere: unknown, or not a plain library name.
  // A ProgID's failure goes on with the places looked in and what to do.
  auto [unknownCode, unknownText] = CreateFailure(u"Varn.Unknown");
  EXPECT_EQ(unknownCode, REGDB_E_CLASSNOTREG);
  EXPECT_THAT(unknownText,
              StartsWith("Класс не зарегистрирован: Varn.Unknown. Его нет в реестре (" +
                         env.RegistryFile() +
                         "), и libVarn.so нет в папках: " + ProgramDirectory() + ", "));
  EXPECT_THAT(unknownText,
              HasSubstr(". Установите пакет varn или положите libVarn.so рядом с программой"));
  EXPECT_EQ(CreateFailure(u"../VarnInprocSample.Sample").first, REGDB_E_CLASSNOTREG);
  EXPECT_EQ(LibraryBesideProgram("../x.y"), "");
  EXPECT_EQ(LibraryBesideProgram("NoDot"), "");
  // A class registered only as a local server is not started from here.
  RegisterClass(reg, "{00000000-0000-0000-0000-0000000000A5}", "Varn.Local", "/usr/bin/true");
  EXPECT_EQ(CreateFailure(u"Varn.Local").first, REGDB_E_CLASSNOTREG);
}

TEST(InprocServerTest, ALibraryFoundByAPathRuleRegistersItselfInPlaceOfAStaleRegistration) {
  test::TempEnv env;
  Registry reg = Registry::Default();
  const std::string canonical = fs::canonical(SAMPLE_LIBRARY).string();
  // Not registered: found beside the program, and registered from there.
  EXPECT_EQ(PathOf(*CreateObject(Utf8ToUtf16(test::kInprocSampleProgId))), canonical);
  EXPECT_EQ(RegisteredInprocServer(reg, test::kInprocSampleClsid), canonical);
  EXPECT_EQ(RegisteredClsid(reg, test::kInprocSampleProgId), test::kInprocSampleClsid);

  // Registered where no file is any more (a package removed): the same, by
  // ProgID and by CLSID; the registration names the library found.
  for (const std::string& name :
       {std::string(test::kInprocSampleProgId), std::string(test::kInprocSampleClsid)}) {
    RegisterClass(reg, test::kInprocSampleClsid, test::kInprocSampleProgId,
                  env.Path("gone/libVarnInprocSample.so"), ServerKind::InProcess);
    EXPECT_EQ(PathOf(*CreateObject(Utf8ToUtf16(name))), canonical) << name;
    EXPECT_EQ(RegisteredInprocServer(reg, test::kInprocSampleClsid), canonical) << name;
  }

  // A folder given by the host (libvarn's own) is looked in after the
  // program's: a library only there is the one loaded.
  fs::create_directories(env.Path("host"));
  fs::copy_file(SAMPLE_LIBRARY, env.Path("host/libVarnHostOnly.so"));
  EXPECT_THAT([&] { CreateObject(u"VarnHostOnly.Sample", {env.Path("host")}); },
              test::ThrowsDriverError(CLASS_E_CLASSNOTAVAILABLE,
                                      "Библиотека " + env.Path("host/libVarnHostOnly.so") +
                                          " не создаёт объект VarnHostOnly.Sample"));
  EXPECT_EQ(LibraryFolders().front(), ProgramDirectory());
}

}  // namespace
}  // namespace varn
