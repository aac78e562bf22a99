// The data block and the value encoding, byte for byte, and what a decoder
// does with blocks that lie. No interpreter and no sender: objects go to
// and come from a plain list.
#include <string>
#include <vector>

#include "platform/text.h"
#include "remote/codec.h"
#include "tests/remote/sample_object.h"
#include "tests/support/test_env.h"

namespace varn::remote {
namespace {

using test::Bytes;

// Slot i holds the i-th object lent; looking it up gives that object back.
class ListSlots : public IObjectSlots {
 public:
  int32_t Lend(const DispatchPtr& obj) override {
    lent.push_back(obj);
    return static_cast<int32_t>(lent.size() - 1);
  }
  DispatchPtr Lookup(int32_t index) override {
    return static_cast<size_t>(index) < lent.size() ? lent[static_cast<size_t>(index)]
                                                    : DispatchPtr();
  }
  std::vector<DispatchPtr> lent;
};

std::string Payload(TDataBlock& b) {
  const auto mem = b.Memory();
  return HexDump(std::string(mem.begin() + HeaderSize, mem.end()));
}

TDataBlock BlockOf(const std::string& payload) {
  TDataBlock b;
  b.Write(payload.data(), payload.size());
  return b;
}

class CodecTest : public ::testing::Test {
 protected:
  std::string Encode(const Variant& v) {
    TDataBlock b;
    WriteValue(v, b, slots);
    return Payload(b);
  }
  Variant Decode(const std::string& payload) {
    TDataBlock b = BlockOf(payload);
    return TValueReader(b, slots).Read();
  }
  Variant RoundTrip(const Variant& v) {
    TDataBlock b;
    WriteValue(v, b, slots);
    Variant back = TValueReader(b, slots).Read();
    EXPECT_EQ(b.Remaining(), 0u);
    return back;
  }
  // The message of the EInterpreterError that decoding `payload` raises.
  std::string DecodeError(const std::string& payload) {
    return test::MessageOf<EInterpreterError>([&] { Decode(payload); });
  }
  std::string EncodeError(const Variant& v) {
    return test::MessageOf<EInterpreterError>([&] { Encode(v); });
  }
  ListSlots slots;
};

TEST(DataBlockTest, HeaderSignatureAndPositions) {
  TDataBlock b;
  b.SetSignature(CallSig | asInvoke);
  const uint8_t payload[] = {1, 2, 3};
  b.Write(payload, 3);
  EXPECT_EQ(HexDump(std::string(b.Memory().begin(), b.Memory().end())),
            "02 DA 00 00 03 00 00 00 01 02 03");
  uint8_t out[8] = {};
  EXPECT_EQ(b.Read(out, 2), 2u);
  EXPECT_EQ(b.Read(out, 8), 1u);  // fewer at the end of the payload
  EXPECT_EQ(b.Read(out, 8), 0u);
  b.Clear();
  EXPECT_EQ(b.Size(), 0);
  EXPECT_EQ(b.Signature(), CallSig | asInvoke);  // stays until set again
  EXPECT_EQ(HexDump(std::string(b.Memory().begin(), b.Memory().end())), "02 DA 00 00 00 00 00 00");

  EXPECT_FALSE(IsWellFormed(0x1234));
  EXPECT_TRUE(IsWellFormed(0xDA02));
  EXPECT_FALSE(IsAnswer(0xDA02));
  EXPECT_TRUE(IsAnswer(0xDB01));
  EXPECT_TRUE(IsWellFormed(0xFFFF));  // mask tests: any superset passes
  EXPECT_TRUE(IsAnswer(0xFFFF));
  EXPECT_EQ(ActionOf(0xDB11), asGetGUID);
}

TEST_F(CodecTest, ScalarsByteForByte) {
  EXPECT_EQ(Encode(Variant()), "00 00 00 00");
  EXPECT_EQ(Encode(Variant::Null()), "01 00 00 00");
  EXPECT_EQ(Encode(Variant(u"abc")), "08 00 00 00 03 00 00 00 61 00 62 00 63 00");  // 14 bytes
  EXPECT_EQ(Encode(Variant(u"Я")), "08 00 00 00 01 00 00 00 2F 04");
  EXPECT_EQ(Encode(Variant::I2(-2)), "02 00 00 00 FE FF");
  EXPECT_EQ(Encode(Variant(0x01020304)), "03 00 00 00 04 03 02 01");
  EXPECT_EQ(Encode(Variant::R4(1.0f)), "04 00 00 00 00 00 80 3F");
  EXPECT_EQ(Encode(Variant(1.0)), "05 00 00 00 00 00 00 00 00 00 F0 3F");
  EXPECT_EQ(Encode(Variant::Currency(10000)), "06 00 00 00 10 27 00 00 00 00 00 00");
  EXPECT_EQ(Encode(Variant::Date(2.0)), "07 00 00 00 00 00 00 00 00 00 00 40");
  EXPECT_EQ(Encode(Variant::Error(E_FAIL)), "0A 00 00 00 05 40 00 80");
  EXPECT_EQ(Encode(Variant(true)), "0B 00 00 00 FF FF");
  EXPECT_EQ(Encode(Variant(false)), "0B 00 00 00 00 00");
  EXPECT_EQ(Encode(Variant::UI1(0xAB)), "11 00 00 00 AB");

  for (const Variant& v : {Variant(), Variant::Null(), Variant(u"Нет связи"), Variant(u""),
                           Variant::I2(-32768), Variant(-7), Variant::R4(-0.5f), Variant(3.25),
                           Variant::Currency(-123456789012), Variant::Date(45000.5),
                           Variant::Error(-4), Variant(true), Variant(false), Variant::UI1(255)}) {
    EXPECT_EQ(RoundTrip(v), v) << VarTypeName(v.Type());
  }
  // A boolean word other than 0 and FFFF reads as true.
  EXPECT_EQ(Decode(Bytes({0x0B, 0, 0, 0, 0x01, 0x00})), Variant(true));
}

TEST_F(CodecTest, ByReferenceValues) {
  Variant n = 7;
  EXPECT_EQ(Encode(Variant::TypedRef(n, VT_I4)), "03 40 00 00 07 00 00 00");
  Variant s = u"x";
  EXPECT_EQ(Encode(Variant::TypedRef(s, VT_BSTR)), "08 40 00 00 01 00 00 00 78 00");
  // A referenced variant: exactly 0x4000, then the value it holds in full.
  EXPECT_EQ(Encode(Variant::Ref(s)), "00 40 00 00 08 00 00 00 01 00 00 00 78 00");
  Variant empty;
  EXPECT_EQ(Encode(Variant::Ref(empty)), "00 40 00 00 00 00 00 00");
  // A typed reference is written as its type, whatever its storage holds now.
  Variant loose = u"12";
  EXPECT_EQ(Encode(Variant::TypedRef(loose, VT_I2)), "02 40 00 00 0C 00");

  bool byRef = false, byRefVariant = false;
  TDataBlock b;
  WriteValue(Variant::TypedRef(n, VT_I4), b, slots);
  WriteValue(Variant::Ref(s), b, slots);
  TValueReader in(b, slots);
  EXPECT_EQ(in.Read(&byRef, &byRefVariant), Variant(7));
  EXPECT_TRUE(byRef);
  EXPECT_FALSE(byRefVariant);
  EXPECT_EQ(in.Read(&byRef, &byRefVariant), Variant(u"x"));
  EXPECT_TRUE(byRef);
  EXPECT_TRUE(byRefVariant);
}

TEST_F(CodecTest, ArraysRawAndElementWise) {
  SafeArray ints;
  ints.elementType = VT_I4;
  ints.bounds = {{1, 3}};
  ints.items = {Variant(1), Variant(2), Variant(-1)};
  EXPECT_EQ(Encode(Variant(ints)),
            "03 20 00 00 01 00 00 00 01 00 00 00 03 00 00 00 "   // type, D, low, high
            "0C 00 00 00 01 00 00 00 02 00 00 00 FF FF FF FF");  // B, raw elements

  // Two dimensions of variants: one value per element, last dimension fastest.
  SafeArray grid;
  grid.elementType = VT_VARIANT;
  grid.bounds = {{0, 1}, {5, 6}};
  grid.items = {Variant(u"a"), Variant(1), Variant::Null(), Variant(true)};
  EXPECT_EQ(Encode(Variant(grid)),
            "0C 20 00 00 02 00 00 00 00 00 00 00 05 00 00 00 01 00 00 00 06 00 00 00 "
            "08 00 00 00 01 00 00 00 61 00 03 00 00 00 01 00 00 00 01 00 00 00 "
            "0B 00 00 00 FF FF");
  EXPECT_EQ(RoundTrip(Variant(grid)), Variant(grid));
  EXPECT_EQ(RoundTrip(Variant(ints)), Variant(ints));

  SafeArray texts;
  texts.elementType = VT_BSTR;
  texts.bounds = {{0, 1}};
  texts.items = {Variant(u"один"), Variant(u"")};
  EXPECT_EQ(RoundTrip(Variant(texts)), Variant(texts));

  SafeArray bytes;
  bytes.elementType = VT_UI1;
  bytes.bounds = {{0, -1}};  // empty
  EXPECT_EQ(Encode(Variant(bytes)), "11 20 00 00 01 00 00 00 00 00 00 00 FF FF FF FF 00 00 00 00");
  EXPECT_EQ(RoundTrip(Variant(bytes)), Variant(bytes));

  // A referenced array keeps bit 14 on its type word.
  Variant held(ints);
  EXPECT_EQ(Encode(Variant::TypedRef(held, VT_ARRAY | VT_I4)).substr(0, 11), "03 60 00 00");
}

TEST_F(CodecTest, PlainArraysTravelInStorageOrder) {
  // a(i, j) = 10 i + j, i in 0..1, j in 0..2. The items hold the last
  // dimension fastest; the bytes go the way the peers' platform stores
  // them, the first dimension fastest.
  SafeArray m;
  m.elementType = VT_I4;
  m.bounds = {{0, 1}, {0, 2}};
  m.items = {Variant(0), Variant(1), Variant(2), Variant(10), Variant(11), Variant(12)};
  EXPECT_EQ(Encode(Variant(m)),
            "03 20 00 00 02 00 00 00 00 00 00 00 00 00 00 00 01 00 00 00 02 00 00 00 "
            "18 00 00 00 00 00 00 00 0A 00 00 00 01 00 00 00 0B 00 00 00 02 00 00 00 "
            "0C 00 00 00");
  EXPECT_EQ(RoundTrip(Variant(m)), Variant(m));

  // Three dimensions with other low bounds: items[i] = i, 2 x 3 x 2.
  SafeArray cube;
  cube.elementType = VT_UI1;
  cube.bounds = {{1, 2}, {-1, 1}, {5, 6}};
  for (int i = 0; i < 12; ++i) cube.items.push_back(Variant::UI1(static_cast<uint8_t>(i)));
  const std::string bytes = Encode(Variant(cube));
  EXPECT_EQ(bytes.substr(bytes.size() - 35), "00 06 02 08 04 0A 01 07 03 09 05 0B");
  EXPECT_EQ(RoundTrip(Variant(cube)), Variant(cube));
}

TEST_F(CodecTest, TypesWithoutAnEncodingAreRefused) {
  EXPECT_EQ(EncodeError(Variant::FromRaw(VT_UNKNOWN, 0, 0)), "Unsupported variant type: 000D");
  EXPECT_EQ(EncodeError(Variant::FromRaw(VT_VARIANT, 0, 0)), "Unsupported variant type: 000C");
  EXPECT_EQ(EncodeError(Variant::FromRaw(18, 0, 0)), "Unsupported variant type: 0012");
  EXPECT_EQ(DecodeError(Bytes({0x0D, 0, 0, 0})), "Unsupported variant type: 000D");
  EXPECT_EQ(DecodeError(Bytes({0x0C, 0, 0, 0})), "Unsupported variant type: 000C");
  EXPECT_EQ(DecodeError(Bytes({0x12, 0, 0, 0})), "Unsupported variant type: 0012");
  EXPECT_EQ(DecodeError(Bytes({0x03, 0x10, 0, 0, 1, 0, 0, 0})), "Unsupported variant type: 1003");
  // 14, 15 and 16 carry no bytes.
  TDataBlock b = BlockOf(Bytes({0x0E, 0, 0, 0, 0x10, 0, 0, 0}));
  TValueReader in(b, slots);
  EXPECT_EQ(in.Read().Type(), 14);
  EXPECT_EQ(in.Read().Type(), 16);
}

TEST_F(CodecTest, BlocksThatLieAreRejectedBeforeAllocating) {
  const std::string prefix = "Неверный пакет данных: ";
  EXPECT_EQ(DecodeError(Bytes({0x03, 0, 0})), prefix + "the block ends inside a value");
  EXPECT_EQ(DecodeError(Bytes({0x03, 0, 0, 0, 1, 2})), prefix + "the block ends inside a value");
  EXPECT_EQ(DecodeError(Bytes({0x08, 0, 0, 0, 0xE8, 0x03, 0, 0, 0x61, 0})),
            prefix + "a string of 1000 characters where the block holds 2 bytes");
  EXPECT_EQ(DecodeError(Bytes({0x08, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF})),
            prefix + "a string of -1 characters where the block holds 0 bytes");
  EXPECT_EQ(DecodeError(Bytes({0x03, 0x20, 0, 0, 9, 0, 0, 0})),
            prefix + "an array of 9 dimensions");
  EXPECT_EQ(DecodeError(Bytes({0x03, 0x20, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF})),
            prefix + "an array of -1 dimensions");
  // 2^31 elements declared in one dimension.
  EXPECT_EQ(
      DecodeError(Bytes({0x11, 0x20, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0x7F})),
      prefix + "an array of more elements than one block may hold");
  // Three bytes declared and said to be 3 elements, none there.
  EXPECT_EQ(DecodeError(Bytes({0x11, 0x20, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0})),
            prefix + "an array of 3 bytes where the block holds 0");
  EXPECT_EQ(DecodeError(Bytes({0x03, 0x20, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0})),
            prefix + "an array of 3 elements with 4 bytes");
  EXPECT_EQ(DecodeError(Bytes({0x0C, 0x20, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 99, 0, 0, 0})),
            prefix + "an array of 100 elements where the block holds 0 bytes");
  // A NaN where an error code is due (a float cast that must not happen).
  EXPECT_EQ(DecodeError(Bytes({0x0A, 0x20, 0,    0, 1, 0, 0, 0, 0, 0, 0, 0, 0,    0,
                               0,    0,    0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF8, 0x7F})),
            prefix + "an array element of another type");
  // References to references: bounded nesting, not a deep recursion.
  std::string nested;
  for (int i = 0; i < 1000; ++i) nested += Bytes({0x00, 0x40, 0, 0});
  EXPECT_EQ(DecodeError(nested), prefix + "values nested deeper than 16");
  // A text where an array of error codes promised codes.
  EXPECT_EQ(DecodeError(Bytes(
                {0x0A, 0x20, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x08, 0, 0, 0, 0, 0, 0, 0})),
            prefix + "an array element of another type");
}

TEST_F(CodecTest, ObjectsTravelAsTheirSlotNumbers) {
  const DispatchPtr a = MakeObject<test::TRemoteSample>(), b = MakeObject<test::TRemoteSample>();
  EXPECT_EQ(Encode(Variant(a)), "09 00 00 00 00 00 00 00");
  EXPECT_EQ(Encode(Variant(b)), "09 00 00 00 01 00 00 00");
  EXPECT_EQ(Encode(Variant(DispatchPtr())), "09 00 00 00 FF FF FF FF");  // no object, no slot
  EXPECT_EQ(Decode(Bytes({0x09, 0, 0, 0, 1, 0, 0, 0})), Variant(b));
  EXPECT_EQ(Decode(Bytes({0x09, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF})), Variant(DispatchPtr()));
}

}  // namespace
}  // namespace varn::remote
