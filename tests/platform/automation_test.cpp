// The object model: values, the member-table dispatch, the class table.
#include "platform/automation/classes.h"
#include "platform/automation/dispatch.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tests/support/test_env.h"

namespace varn {
namespace {

using ::testing::ElementsAre;

// A small automation class with each kind of member.
class TSample : public DispatchObject<TSample> {
 public:
  explicit TSample(bool* destroyed = nullptr) : m_destroyed(destroyed) {}
  ~TSample() override {
    if (m_destroyed) *m_destroyed = true;
  }
  static const MemberTable<TSample>& Members() {
    static const MemberTable<TSample> table{{
        Method<TSample>(1, "Add", {{"A", VT_I4}, {"B", VT_I4}}, VT_I4, "Сложить",
                        [](TSample&, Args a) { return Variant(a[0].ToInt32() + a[1].ToInt32()); }),
        Get<TSample>(2, "Текст", VT_BSTR, "Текст",
                     [](TSample& s, Args) { return Variant(s.m_text); }),
        Put<TSample>(2, "Текст", VT_BSTR, "Текст",
                     [](TSample& s, Args a) {
                       s.m_text = a[0].ToString();
                       return Variant();
                     }),
        Method<TSample>(3, "Fail", {}, VT_I4, "",
                        [](TSample&, Args) -> Variant { throw EDriverError(-4, "Нет связи"); }),
        Method<TSample>(4, "Echo", {{"Value", VT_VARIANT}}, VT_VARIANT, "",
                        [](TSample&, Args a) { return a[0]; }),
    }};
    return table;
  }
  std::u16string m_text = u"начало";

 private:
  bool* m_destroyed;
};

class DispatchTest : public ::testing::Test {
 protected:
  HRESULT Invoke(DISPID id, uint16_t flags, DispParams& p, Variant* r = nullptr) {
    return obj->Invoke(id, flags, p, r, &excep, &argErr);
  }
  DispatchPtr obj = MakeObject<TSample>();
  ExcepInfo excep;
  uint32_t argErr = 99;
};

TEST_F(DispatchTest, NamesAreFoundWithoutRegardToCase) {
  DISPID id;
  EXPECT_EQ(GetIDOfName(*obj, u"add", id), S_OK);
  EXPECT_EQ(id, 1);
  EXPECT_EQ(GetIDOfName(*obj, u"ТЕКСТ", id), S_OK);
  EXPECT_EQ(id, 2);
  EXPECT_EQ(GetIDOfName(*obj, u"Missing", id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
  const std::u16string names[] = {u"Add", u"b", u"C"};
  DISPID ids[3];
  EXPECT_EQ(obj->GetIDsOfNames(names, ids), DISP_E_UNKNOWNNAME);
  EXPECT_THAT(ids, ElementsAre(1, 1, DISPID_UNKNOWN));
}

TEST_F(DispatchTest, MethodsCoerceArgumentsAndReturnTheirValue) {
  EXPECT_EQ(CallMethod(*obj, u"Add", {Variant(2), Variant(u"40")}), Variant(42));
  PutProperty(*obj, u"Текст", Variant(7));  // coerced to a string
  EXPECT_EQ(GetProperty(*obj, u"Текст"), Variant(u"7"));
}

TEST_F(DispatchTest, RetvalAlsoReachesAnExtraByReferenceArgument) {
  Variant out;
  DispParams p;
  p.args = {Variant::Ref(out), Variant(5), Variant(6)};  // last first: Value, B, A
  Variant result;
  ASSERT_EQ(Invoke(1, DISPATCH_METHOD, p, &result), S_OK);
  EXPECT_EQ(result, Variant(11));
  EXPECT_EQ(out, Variant(11));

  Variant typed = Variant::I2(0);
  p.args = {Variant::TypedRef(typed, VT_I2), Variant(1), Variant(2)};
  ASSERT_EQ(Invoke(1, DISPATCH_METHOD, p), S_OK);
  EXPECT_EQ(typed, Variant::I2(3));
}

TEST_F(DispatchTest, WrongCallsGetTheirCodesAndNeverCrash) {
  DispParams none;
  EXPECT_EQ(Invoke(77, DISPATCH_METHOD, none), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Invoke(1, DISPATCH_METHOD, none), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Invoke(1, DISPATCH_PROPERTYPUT, none), DISP_E_MEMBERNOTFOUND);

  DispParams three = DispParams::FromNatural({Variant(1), Variant(2), Variant(3)});
  EXPECT_EQ(Invoke(1, DISPATCH_METHOD, three), DISP_E_BADPARAMCOUNT);  // extra is not by-ref

  DispParams bad = DispParams::FromNatural({Variant(1), Variant(u"много")});
  EXPECT_EQ(Invoke(1, DISPATCH_METHOD, bad), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 0u);  // B is args[0]
  DispParams big = DispParams::FromNatural({Variant(1e12), Variant(1)});
  EXPECT_EQ(Invoke(1, DISPATCH_METHOD, big), DISP_E_OVERFLOW);
  EXPECT_EQ(argErr, 1u);

  DispParams named = DispParams::FromNatural({Variant(1), Variant(2)});
  named.namedArgs = {0};
  EXPECT_EQ(Invoke(1, DISPATCH_METHOD, named), DISP_E_NONAMEDARGS);

  DispParams put = DispParams::FromNatural({Variant(u"x")});
  put.namedArgs = {DISPID_PROPERTYPUT};
  EXPECT_EQ(Invoke(2, DISPATCH_PROPERTYPUT, put), S_OK);
  EXPECT_EQ(GetProperty(*obj, u"Текст"), Variant(u"x"));
}

TEST_F(DispatchTest, ErrorsInsideBecomeExceptionInformation) {
  DispParams none;
  EXPECT_EQ(Invoke(3, DISPATCH_METHOD, none), DISP_E_EXCEPTION);
  EXPECT_EQ(excep.scode, -4);
  EXPECT_EQ(excep.description, u"Нет связи");
  try {
    CallMethod(*obj, u"Fail");
    FAIL();
  } catch (const EDispatchError& e) {
    EXPECT_EQ(e.Code, DISP_E_EXCEPTION);
    EXPECT_STREQ(e.what(), "Нет связи");
  }
}

TEST_F(DispatchTest, TypeInformationFollowsTheTable) {
  const auto& info = dynamic_cast<ITypeInfoSource&>(*static_cast<TSample*>(obj.get())).TypeInfo();
  ASSERT_EQ(info.size(), 5u);
  EXPECT_EQ(info[0].name, "Add");
  EXPECT_EQ(info[0].help, "Сложить");
  EXPECT_EQ(info[0].kind, MemberKind::Method);
  EXPECT_EQ(info[1].name, "Текст");
  EXPECT_EQ(info[1].kind, MemberKind::PropertyGet);
  EXPECT_EQ(info[2].name, "Текст");
  EXPECT_EQ(info[2].kind, MemberKind::PropertyPut);
}

TEST(ObjectLifetime, LastReleaseDestroys) {
  bool destroyed = false;
  {
    DispatchPtr a = MakeObject<TSample>(&destroyed);
    Variant held(a);
    DispatchPtr b = held.ToDispatch();
    a = DispatchPtr();
    EXPECT_FALSE(destroyed);
  }
  EXPECT_TRUE(destroyed);
}

TEST(VariantTest, Conversions) {
  EXPECT_EQ(Variant(u" 12 ").ToInt32(), 12);
  EXPECT_EQ(Variant(2.5).ToInt32(), 2);  // half to even
  EXPECT_EQ(Variant(3.5).ToInt32(), 4);
  EXPECT_EQ(Variant(u"1,5").ToDouble(), 1.5);
  EXPECT_TRUE(Variant(u"TRUE").ToBool());
  EXPECT_FALSE(Variant().ToBool());
  EXPECT_EQ(Variant(true).RawInt(), -1);
  EXPECT_EQ(Variant(-7).ToString(), u"-7");
  EXPECT_EQ(Variant::Currency(12345).ToString(), u"1.2345");
  EXPECT_THROW(Variant::Null().ToInt32(), EVariantError);
  EXPECT_THROW(Variant(u"abc").ToInt32(), EVariantError);
  EXPECT_THROW(Variant(300).ChangeType(VT_UI1), EVariantError);
  EXPECT_EQ(Variant(u"255").ChangeType(VT_UI1), Variant::UI1(255));
}

TEST(VariantTest, ArraysCopyOnWrite) {
  SafeArray a;
  a.elementType = VT_I4;
  a.bounds = {{1, 3}};
  a.items = {Variant(1), Variant(2), Variant(3)};
  Variant v(a);
  EXPECT_EQ(v.Type(), VT_ARRAY | VT_I4);
  Variant copy = v;
  copy.MutableArray().items[0] = Variant(9);
  EXPECT_EQ(v.RawArray().items[0], Variant(1));
  EXPECT_FALSE(v == copy);
  EXPECT_EQ(SafeArray::CountFor({{0, 1}, {5, 7}}), 6);
  EXPECT_EQ(SafeArray::CountFor({{0, -1}}), 0);
}

TEST(ClassTableTest, CreatesByProgIdOrRegisteredClsid) {
  test::TempEnv env;
  const std::string clsid = "{11111111-2222-3333-4444-555555555555}";
  ClassTable::Instance().Add({clsid, "Test.Sample", [] { return MakeObject<TSample>(); }});
  EXPECT_TRUE(ClassTable::Instance().Create(u"test.sample"));
  EXPECT_TRUE(ClassTable::Instance().Create(u"{11111111-2222-3333-4444-555555555555}"));

  // Known to the registry under a ProgID the table has.
  Registry reg = Registry::Default();
  const std::string other = "{AAAAAAAA-0000-0000-0000-000000000000}";
  RegisterClass(reg, other, "Test.Sample", "/usr/bin/true");
  EXPECT_EQ(RegisteredProgId(reg, other), "Test.Sample");
  EXPECT_EQ(RegisteredLocalServer(reg, other), "/usr/bin/true");
  EXPECT_EQ(reg.ReadString("SOFTWARE\\Classes\\Test.Sample\\CLSID", ""), other);
  EXPECT_TRUE(ClassTable::Instance().Create(Utf8ToUtf16(other)));

  UnregisterClass(reg, other, "Test.Sample");
  EXPECT_FALSE(reg.KeyExists("SOFTWARE\\Classes\\CLSID\\" + other));
  EXPECT_THAT([&] { ClassTable::Instance().Create(Utf8ToUtf16(other)); },
              test::ThrowsDriverError(REGDB_E_CLASSNOTREG, "Класс не зарегистрирован: " + other));
}

}  // namespace
}  // namespace varn
