// Two real interpreters wired back to back in memory: every call block and
// answer is kept, so the tests can look at what travelled.
#include <limits>
#include <string>
#include <vector>

#include "platform/text.h"
#include "remote/interpreter.h"
#include "tests/remote/sample_object.h"
#include "tests/support/test_env.h"

namespace varn::remote {
namespace {

// One end: what it sends is served at once by the other end's interpreter.
class End : public ISendDataBlock {
 public:
  std::optional<TDataBlock> Send(TDataBlock& block, bool waitForResult) override {
    sent.push_back(block);
    if (!waitForResult) {
      other->answer = block;
      return std::nullopt;
    }
    answer.reset();
    TDataBlock call = block;
    other->interp->InterpretData(call);
    return std::move(answer);
  }
  TkxDataBlockInterpreter* interp = nullptr;
  End* other = nullptr;
  std::vector<TDataBlock> sent;
  std::optional<TDataBlock> answer;
};

std::string Payload(TDataBlock b) {
  const auto mem = b.Memory();
  return HexDump(std::string(mem.begin() + HeaderSize, mem.end()));
}

class InterpreterTest : public ::testing::Test {
 protected:
  InterpreterTest() {
    client.interp = &clientInterp;
    server.interp = &serverInterp;
    client.other = &server;
    server.other = &client;
    test::RegisterSampleClass();
  }
  // The server's answer to a call block made of `payload`.
  TDataBlock Serve(int32_t sig, const std::string& payload) {
    TDataBlock b;
    b.Write(payload.data(), payload.size());
    b.SetSignature(sig);
    server.sent.clear();
    serverInterp.InterpretData(b);
    EXPECT_EQ(server.sent.size(), 1u);
    return server.sent.empty() ? TDataBlock() : server.sent.back();
  }
  std::string ErrorText(TDataBlock answer) {
    EXPECT_EQ(answer.Signature(), ResultSig | asError);
    return Utf16ToUtf8(clientInterp.ReadVariant(answer).ToString());
  }

  End client, server;
  TkxDataBlockInterpreter clientInterp{client};
  TkxDataBlockInterpreter serverInterp{server};
};

TEST_F(InterpreterTest, CreateByClsidThenCallByName) {
  DispatchPtr obj = clientInterp.SendCreateObject(Utf8ToUtf16(test::kSampleClsid));
  ASSERT_TRUE(obj);
  EXPECT_EQ(Payload(client.sent.back()).substr(0, 11), "08 00 00 00");
  EXPECT_EQ(client.sent.back().Signature(), CallSig | asCreateObject);
  EXPECT_EQ(server.sent.back().Signature(), ResultSig | asCreateObject);
  EXPECT_EQ(Payload(server.sent.back()), "09 00 00 00 00 00 00 00");  // slot 0
  EXPECT_EQ(serverInterp.DispListUsed(), 1u);
  EXPECT_EQ(clientInterp.ProxyCount(), 1u);

  EXPECT_EQ(CallMethod(*obj, u"Add", {Variant(40), Variant(2)}), Variant(42));
  PutProperty(*obj, u"Text", Variant(u"Привет"));
  EXPECT_EQ(GetProperty(*obj, u"text"), Variant(u"Привет"));
  // The invoke call: index, id, flags, result wanted, 2 args, 0 named, args last first.
  client.sent.clear();
  CallMethod(*obj, u"Add", {Variant(1), Variant(2)});
  ASSERT_EQ(client.sent.size(), 2u);  // GetIDsOfNames, then Invoke
  EXPECT_EQ(client.sent[0].Signature(), CallSig | asGetID);
  EXPECT_EQ(client.sent[1].Signature(), CallSig | asInvoke);
  EXPECT_EQ(Payload(client.sent[1]),
            "03 00 00 00 00 00 00 00 03 00 00 00 01 00 00 00 03 00 00 00 01 00 00 00 "
            "0B 00 00 00 FF FF 03 00 00 00 02 00 00 00 03 00 00 00 00 00 00 00 "
            "03 00 00 00 02 00 00 00 03 00 00 00 01 00 00 00");
  obj = {};
  EXPECT_EQ(clientInterp.ProxyCount(), 0u);    // a destroyed proxy leaves the list
  EXPECT_EQ(serverInterp.DispListUsed(), 1u);  // and frees nothing remotely
}

TEST_F(InterpreterTest, AnswersCarryExactlyWhatTheCallerExpects) {
  DispatchPtr obj = clientInterp.SendCreateObject(u"Varn.RemoteSample");
  DISPID nothing, fail, add;
  ASSERT_EQ(GetIDOfName(*obj, u"Nothing", nothing), S_OK);
  ASSERT_EQ(GetIDOfName(*obj, u"Fail", fail), S_OK);
  ASSERT_EQ(GetIDOfName(*obj, u"Add", add), S_OK);

  // A wanted result that comes back Empty still occupies a value.
  DispParams none;
  Variant result = 5;
  ASSERT_EQ(obj->Invoke(nothing, DISPATCH_METHOD, none, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(Payload(server.sent.back()), "03 00 00 00 00 00 00 00 00 00 00 00");
  EXPECT_TRUE(result.IsEmpty());
  ASSERT_EQ(obj->Invoke(nothing, DISPATCH_METHOD, none, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Payload(server.sent.back()), "03 00 00 00 00 00 00 00");

  // DISP_E_EXCEPTION: its code and text come before the by-reference values.
  Variant out = u"unchanged";
  DispParams p;
  p.args = {Variant::Ref(out)};
  ExcepInfo excep;
  ASSERT_EQ(obj->Invoke(fail, DISPATCH_METHOD, p, &result, &excep, nullptr), DISP_E_EXCEPTION);
  EXPECT_EQ(excep.scode, -4);
  EXPECT_EQ(excep.description, u"Нет связи");
  TDataBlock answer = server.sent.back();
  EXPECT_EQ(clientInterp.ReadVariant(answer), Variant(DISP_E_EXCEPTION));
  EXPECT_EQ(clientInterp.ReadVariant(answer), Variant(-4));
  EXPECT_EQ(clientInterp.ReadVariant(answer), Variant(u"Нет связи"));
  bool byRef = false, byRefVariant = false;
  EXPECT_EQ(clientInterp.ReadVariant(answer, &byRef, &byRefVariant), Variant(u"unchanged"));
  EXPECT_TRUE(byRefVariant);
  EXPECT_TRUE(clientInterp.ReadVariant(answer).IsEmpty());  // the wanted result
  EXPECT_EQ(answer.Remaining(), 0u);

  // A value that cannot become the member's type is refused by the member.
  DispParams nan;
  nan.args = {Variant(std::numeric_limits<double>::quiet_NaN()), Variant(1)};
  EXPECT_EQ(obj->Invoke(add, DISPATCH_METHOD, nan, &result, nullptr, nullptr), DISP_E_OVERFLOW);

  // The extra by-reference argument of a retval member gets the result too.
  Variant sum;
  DispParams q;
  q.args = {Variant::Ref(sum), Variant(5), Variant(6)};
  ASSERT_EQ(obj->Invoke(add, DISPATCH_METHOD, q, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(sum, Variant(11));
  EXPECT_EQ(result, Variant(11));
}

TEST_F(InterpreterTest, ByReferenceArgumentsTravelBothWays) {
  serverInterp.CreateObject = [](const std::u16string&) { return MakeObject<test::TRefDoubler>(); };
  DispatchPtr obj = clientInterp.SendCreateObject(u"any");
  Variant anything = u"ab";
  Variant count = 21;
  Variant code = Variant::I2(-4);
  Variant cash = Variant::Currency(15000);
  SafeArray arr;
  arr.elementType = VT_I4;
  arr.bounds = {{0, 2}};
  arr.items = {Variant(1), Variant(2), Variant(3)};
  Variant list(arr);
  DispParams p;
  p.args = {Variant::Ref(anything),
            Variant::TypedRef(count, VT_I4),
            Variant::TypedRef(code, VT_I2),
            Variant::TypedRef(cash, VT_CY),
            Variant::TypedRef(list, VT_ARRAY | VT_I4),
            Variant(u"by value")};
  Variant result;
  ASSERT_EQ(obj->Invoke(1, DISPATCH_METHOD, p, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result, Variant(5));
  EXPECT_EQ(anything, Variant(u"abab"));
  EXPECT_EQ(count, Variant(42));
  EXPECT_EQ(code, Variant::I2(-8));
  EXPECT_EQ(cash, Variant::Currency(30000));
  EXPECT_EQ(list.RawArray().items, (std::vector<Variant>{Variant(3), Variant(2), Variant(1)}));
}

TEST_F(InterpreterTest, EmptySlotsAndNameCounts) {
  DispatchPtr ghost(new TkxDataDispatch(clientInterp, 5));
  DISPID id = 0;
  EXPECT_EQ(GetIDOfName(*ghost, u"Add", id), E_FAIL);
  DispParams p;
  Variant result;
  EXPECT_EQ(ghost->Invoke(1, DISPATCH_METHOD, p, &result, nullptr, nullptr), E_FAIL);

  // Two names: E_NOTIMPL without any traffic.
  client.sent.clear();
  const std::u16string names[] = {u"Add", u"A"};
  DISPID ids[2];
  EXPECT_EQ(ghost->GetIDsOfNames(names, ids), E_NOTIMPL);
  EXPECT_TRUE(client.sent.empty());
}

TEST_F(InterpreterTest, ActionsWithoutAHandlerAndErrorBlocks) {
  EXPECT_EQ(ErrorText(Serve(CallSig | asGetGUID, "")), "Invalid action received: 17");
  EXPECT_EQ(ErrorText(Serve(CallSig | 0x63, "")), "Invalid action received: 99");
  EXPECT_EQ(Serve(CallSig | asGetServers, "").Signature(), ResultSig | asGetServers);
  EXPECT_EQ(Payload(server.sent.back()), "01 00 00 00");  // Null
  EXPECT_TRUE(clientInterp.SendGetServers() == Variant::Null());

  // An error block arriving as a call: the error leaves, nothing is answered.
  TDataBlock err;
  clientInterp.WriteVariant(Variant(u"сбой"), err);
  err.SetSignature(CallSig | asError);
  server.sent.clear();
  EXPECT_EQ(test::MessageOf<ERemoteError>([&] { serverInterp.InterpretData(err); }), "сбой");
  EXPECT_TRUE(server.sent.empty());

  // A handler that cannot decode its call answers with the reason.
  EXPECT_EQ(ErrorText(Serve(CallSig | asInvoke, test::Bytes({0x03, 0, 0, 0, 0}))),
            "Неверный пакет данных: the block ends inside a value");
  EXPECT_EQ(
      ErrorText(Serve(CallSig | asCreateObject, test::Bytes({0x08, 0, 0, 0, 1, 0, 0, 0, 0x41, 0}))),
      "Класс не зарегистрирован: A");
}

TEST_F(InterpreterTest, FreeObjectEmptiesTheSlotWithoutAnswer) {
  const int before = test::g_liveSamples;
  DispatchPtr obj = clientInterp.SendCreateObject(u"Varn.RemoteSample");
  EXPECT_EQ(test::g_liveSamples, before + 1);
  TDataBlock b;
  clientInterp.WriteVariant(Variant(0), b);
  b.SetSignature(CallSig | asFreeObject);
  server.sent.clear();
  serverInterp.InterpretData(b);
  EXPECT_TRUE(server.sent.empty());
  EXPECT_EQ(test::g_liveSamples, before);
  EXPECT_EQ(serverInterp.DispListUsed(), 0u);
  // Garbage in a free call is swallowed, and not answered either.
  TDataBlock junk;
  junk.SetSignature(CallSig | asFreeObject);
  serverInterp.InterpretData(junk);
  EXPECT_TRUE(server.sent.empty());
}

TEST_F(InterpreterTest, DispatchListSlots) {
  std::vector<DispatchPtr> objs;
  for (int i = 0; i < 12; ++i) objs.push_back(MakeObject<test::TRemoteSample>());
  for (int i = 0; i < 10; ++i) EXPECT_EQ(serverInterp.StoreDispatch(objs[i]), i);
  EXPECT_EQ(serverInterp.DispListSlots(), 11u);
  EXPECT_EQ(serverInterp.StoreDispatch(objs[10]), 10);  // the eleventh
  EXPECT_EQ(serverInterp.DispListSlots(), 11u);
  EXPECT_EQ(serverInterp.StoreDispatch(objs[11]), 11);  // the twelfth grows the list to 0..21
  EXPECT_EQ(serverInterp.DispListSlots(), 22u);
  serverInterp.ReleaseDispatch(3);
  serverInterp.ReleaseDispatch(-1);  // ignored
  serverInterp.ReleaseDispatch(22);  // ignored
  EXPECT_EQ(serverInterp.DispListUsed(), 11u);
  EXPECT_EQ(serverInterp.StoreDispatch(objs[3]), 3);  // the lowest free slot again
  // An object written goes into the list, and out as its slot number.
  TDataBlock b;
  serverInterp.WriteVariant(Variant(objs[0]), b);
  EXPECT_EQ(Payload(b), "09 00 00 00 0C 00 00 00");
}

TEST(InterpreterLifetimeTest, ADestroyedInterpreterFreesItsObjectsAndDetachesItsProxies) {
  End a, b;
  auto clientSide = std::make_unique<TkxDataBlockInterpreter>(a);
  TkxDataBlockInterpreter serverSide(b);
  a.interp = clientSide.get();
  b.interp = &serverSide;
  a.other = &b;
  b.other = &a;
  test::RegisterSampleClass();
  DispatchPtr obj = clientSide->SendCreateObject(u"Varn.RemoteSample");
  const int live = test::g_liveSamples;
  clientSide->StoreDispatch(MakeObject<test::TRemoteSample>());
  EXPECT_EQ(test::g_liveSamples, live + 1);
  clientSide.reset();
  EXPECT_EQ(test::g_liveSamples, live);  // what it lent goes with it
  EXPECT_TRUE(static_cast<TkxDataDispatch*>(obj.get())->Detached());
  EXPECT_EQ(test::MessageOf<EInterpreterError>([&] {
              CallMethod(*obj, u"Add", {1, 2});
            }),
            "Соединение этого удалённого объекта закрыто");
}

}  // namespace
}  // namespace varn::remote
