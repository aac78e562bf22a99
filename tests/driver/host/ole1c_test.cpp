// The driver as 1C sees it: the object libVarnDrv.so makes for
// VarnDrv.VarnDrv, reached through the add-in interfaces, numbered from the
// driver's type information, calling through to the emulator.
#include "driver/host/addin.h"
#include "tests/driver/core/driver_fixture.h"

namespace varn::test {
namespace {

class AddInTest : public DriverTest {
 protected:
  AddInTest()
      : init(QueryAddIn<IInitDone>(drv.Object())),
        lang(QueryAddIn<ILanguageExtender>(drv.Object())) {}

  int32_t Method(const char16_t* name) {
    int32_t n = -2;
    EXPECT_EQ(lang->FindMethod(name, n), S_OK) << Utf16ToUtf8(name);
    return n;
  }
  int32_t Prop(const char16_t* name) {
    int32_t n = -2;
    EXPECT_EQ(lang->FindProp(name, n), S_OK) << Utf16ToUtf8(name);
    return n;
  }
  std::u16string MethodName(int32_t n, int32_t alias) {
    std::u16string name = u"?";
    EXPECT_EQ(lang->GetMethodName(n, alias, name), S_OK);
    return name;
  }
  Variant Value(const char16_t* prop) {
    Variant v;
    EXPECT_EQ(lang->GetPropVal(Prop(prop), v), S_OK);
    return v;
  }
  int32_t CallFunc(const char16_t* method) {
    Variant rc;
    EXPECT_EQ(lang->CallAsFunc(Method(method), rc, nullptr), S_OK);
    return rc.ToInt32();
  }

  Driver drv;
  IInitDone* init;
  ILanguageExtender* lang;
};

TEST_F(AddInTest, NumbersEveryMemberOfTheDriverAndFindsItInBothLanguages) {
  ASSERT_NE(init, nullptr);
  ASSERT_NE(lang, nullptr);
  ASSERT_EQ(init->Init(nullptr), S_OK);

  int32_t methods = 0, props = 0, writable = 0;
  lang->GetNMethods(methods);
  lang->GetNProps(props);
  for (int32_t i = 0; i < props; ++i) {
    bool canRead = false, canWrite = false;
    EXPECT_EQ(lang->IsPropReadable(i, canRead), S_OK);
    EXPECT_TRUE(canRead);
    lang->IsPropWritable(i, canWrite);
    writable += canWrite;
  }
  EXPECT_EQ(methods, 58);
  EXPECT_EQ(props, 78);
  EXPECT_EQ(writable, 41);

  // The base members first, then the interface in order; names in upper case.
  EXPECT_EQ(MethodName(0, 0), u"QUERYINTERFACE");
  EXPECT_EQ(MethodName(0, 1), u"");
  EXPECT_EQ(MethodName(6, 0), u"INVOKE");
  EXPECT_EQ(MethodName(7, 1), u"НАСТРОЙКАСВОЙСТВ");
  EXPECT_EQ(MethodName(57, 0), u"SAVEPARAMS");
  EXPECT_EQ(Method(u"установитьсвязь"), 8);
  EXPECT_EQ(Method(u"CONNECT"), 8);
  EXPECT_EQ(MethodName(8, 1), u"УСТАНОВИТЬСВЯЗЬ");
  EXPECT_EQ(Method(u"GetFreeLDNumber"), Method(u"получить свободный номер лу"));
  EXPECT_EQ(Prop(u"результат"), Prop(u"ResultCode"));
  EXPECT_EQ(Prop(u"номерcomпорта"), Prop(u"COMNUMBER"));
  bool canWrite = true;
  lang->IsPropWritable(Prop(u"Результат"), canWrite);
  EXPECT_FALSE(canWrite);
  lang->IsPropWritable(Prop(u"НомерCOMпорта"), canWrite);
  EXPECT_TRUE(canWrite);
  std::u16string name;
  EXPECT_EQ(lang->GetPropName(Prop(u"FileVersionMS"), 1, name), S_OK);
  EXPECT_EQ(name, u"");
  // The lookup upper-cases by the code page's letters, beyond А..Я too.
  EXPECT_EQ(UpperCase(u"ёґїієўjя"), u"ЁҐЇІЄЎJЯ");

  // Not found, out of range: S_FALSE with -1 or an empty text.
  int32_t n = 0;
  EXPECT_EQ(lang->FindProp(u"NoSuchName", n), S_FALSE);
  EXPECT_EQ(n, -1);
  EXPECT_EQ(lang->FindProp(u"", n), S_FALSE);  // not the first member without a Russian name
  EXPECT_EQ(lang->FindMethod(u"ResultCode", n), S_FALSE);
  name.assign(1, u'x');
  EXPECT_EQ(lang->GetPropName(78, 0, name), S_FALSE);
  EXPECT_EQ(name, u"");
  EXPECT_EQ(lang->GetMethodName(-1, 1, name), S_FALSE);
  bool flag = true;
  EXPECT_EQ(lang->IsPropWritable(78, flag), S_FALSE);
  EXPECT_FALSE(flag);
  EXPECT_EQ(lang->GetNParams(8, n), S_OK);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(lang->GetNParams(58, n), S_FALSE);
  Variant v = Variant(5);
  EXPECT_EQ(lang->GetPropVal(78, v), S_FALSE);
  EXPECT_TRUE(v.IsEmpty());

  // The rest of the interfaces as the platform uses them.
  EXPECT_EQ(lang->RegisterExtensionAs(name), S_OK);
  EXPECT_EQ(name, u"VarnDrv");
  SafeArray info{VT_VARIANT, {{0, 0}}, {Variant()}};
  EXPECT_EQ(init->GetInfo(info), S_OK);
  EXPECT_EQ(info.items[0], Variant(u"2000"));
  EXPECT_EQ(lang->HasRetVal(8, flag), S_OK);
  EXPECT_TRUE(flag);
  EXPECT_EQ(init->Done(), S_OK);

  // Beside the add-in, the plain driver: the same members by name.
  DISPID id = 0;
  EXPECT_EQ(GetIDOfName(drv.Object(), u"Connect", id), S_OK);
  EXPECT_EQ(id, 2);
  EXPECT_EQ(GetIDOfName(drv.Object(), u"FindMethod", id), DISP_E_UNKNOWNNAME);
}

TEST_F(AddInTest, CallsReachTheDeviceThroughTheDriversInvoke) {
  StartDevice();
  ASSERT_EQ(init->Init(nullptr), S_OK);
  EXPECT_EQ(lang->SetPropVal(Prop(u"СтрокаДляПечати"), Variant(u"Привет из 1С")), S_OK);
  EXPECT_EQ(CallFunc(u"ПечатьСтроки"), 0);
  EXPECT_EQ(Value(u"ОписаниеРезультата"), Variant(u"Ошибок нет."));
  EXPECT_THAT(Paper(), ::testing::HasSubstr("Привет из 1С\n"));
  EXPECT_EQ(lang->CallAsProc(Method(u"Гудок"), nullptr), S_OK);
  EXPECT_EQ(Value(u"Результат"), Variant(0));

  // A command that fails: Invoke succeeds, the value is the result code.
  EXPECT_EQ(lang->SetPropVal(Prop(u"PortNumber"), Variant(33)), S_OK);
  EXPECT_EQ(CallFunc(u"ПолучитьПараметрыОбмена"), -9);
  EXPECT_EQ(Value(u"ОписаниеРезультата"), Variant(u"Параметр вне диапазона."));
  // The values go through the driver's own setters: the port is stored.
  EXPECT_EQ(lang->SetPropVal(Prop(u"НомерCOMпорта"), Variant(u"3")), S_OK);
  EXPECT_EQ(Driver().Int(u"ComNumber"), 3);

  // Failures of the automation layer come back unchanged.
  Variant rc;
  EXPECT_EQ(lang->CallAsFunc(0, rc, nullptr), DISP_E_MEMBERNOTFOUND);  // QueryInterface
  EXPECT_EQ(lang->CallAsFunc(Method(u"LoadBitmap"), rc, nullptr), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(lang->SetPropVal(Prop(u"ResultCode"), Variant(1)), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(lang->SetPropVal(Prop(u"Timeout"), Variant(u"abc")), DISP_E_TYPEMISMATCH);
}

}  // namespace
}  // namespace varn::test
