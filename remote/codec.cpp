#include "remote/codec.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

namespace varn::remote {
namespace {

// Bytes after the type word of each fixed-size base type 0..17.
constexpr uint8_t kSizes[18] = {0, 0, 2, 4, 4, 8, 8, 8, 0, 0, 4, 2, 0, 0, 0, 0, 0, 1};

// Arrays of these element types travel as one run of raw bytes.
bool IsPlain(VARTYPE t) {
  switch (t) {
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BOOL:
    case VT_UI1:
      return true;
    default:
      return false;
  }
}

constexpr int kMaxDimensions = 8;
constexpr int kMaxDepth = 16;

[[noreturn]] void Bad(const std::string& detail) {
  throw InvalidDataPacket(detail);
}

[[noreturn]] void Unsupported(uint32_t typeWord) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "Unsupported variant type: %.4X", typeWord);
  throw EInterpreterError(buf);
}

void ReadExact(TDataBlock& b, void* p, size_t n) {
  if (b.Read(p, n) != n) Bad("the block ends inside a value");
}

uint32_t GetU32(TDataBlock& b) {
  uint8_t p[4];
  ReadExact(b, p, 4);
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
int32_t GetI32(TDataBlock& b) {
  return static_cast<int32_t>(GetU32(b));
}
uint64_t GetU64(TDataBlock& b) {
  const uint64_t lo = GetU32(b);
  return lo | uint64_t{GetU32(b)} << 32;
}

void PutU16(TDataBlock& b, uint16_t v) {
  const uint8_t p[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  b.Write(p, 2);
}
void PutU32(TDataBlock& b, uint32_t v) {
  const uint8_t p[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                        static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  b.Write(p, 4);
}
void PutU64(TDataBlock& b, uint64_t v) {
  PutU32(b, static_cast<uint32_t>(v));
  PutU32(b, static_cast<uint32_t>(v >> 32));
}

// The bytes of a fixed-size value of base type `t`.
void WriteFixed(TDataBlock& b, VARTYPE t, const Variant& v) {
  switch (t) {
    case VT_I2:
      PutU16(b, static_cast<uint16_t>(v.RawInt()));
      break;
    case VT_I4:
    case VT_ERROR:
      PutU32(b, static_cast<uint32_t>(v.RawInt()));
      break;
    case VT_R4: {
      // An R4 holds a float's value; clamp anything else instead of an undefined cast.
      const double d = v.RawReal();
      constexpr float inf = std::numeric_limits<float>::infinity();
      const float f = std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()
                          ? (d > 0 ? inf : -inf)
                          : static_cast<float>(d);
      uint32_t u;
      std::memcpy(&u, &f, 4);
      PutU32(b, u);
      break;
    }
    case VT_R8:
    case VT_DATE: {
      const double d = v.RawReal();
      uint64_t u;
      std::memcpy(&u, &d, 8);
      PutU64(b, u);
      break;
    }
    case VT_CY:
      PutU64(b, static_cast<uint64_t>(v.RawInt()));
      break;
    case VT_BOOL:
      PutU16(b, v.RawInt() ? 0xFFFF : 0);
      break;
    case VT_UI1: {
      const auto u = static_cast<uint8_t>(v.RawInt());
      b.Write(&u, 1);
      break;
    }
    default:
      break;  // the size table holds 0
  }
}

Variant ReadFixed(TDataBlock& b, VARTYPE t) {
  switch (t) {
    case VT_I2: {
      uint8_t p[2];
      ReadExact(b, p, 2);
      return Variant::I2(static_cast<int16_t>(p[0] | p[1] << 8));
    }
    case VT_I4:
      return Variant(GetI32(b));
    case VT_ERROR:
      return Variant::Error(GetI32(b));
    case VT_R4: {
      const uint32_t u = GetU32(b);
      float f;
      std::memcpy(&f, &u, 4);
      return Variant::R4(f);
    }
    case VT_R8:
    case VT_DATE: {
      const uint64_t u = GetU64(b);
      double d;
      std::memcpy(&d, &u, 8);
      return t == VT_R8 ? Variant(d) : Variant::Date(d);
    }
    case VT_CY:
      return Variant::Currency(static_cast<int64_t>(GetU64(b)));
    case VT_BOOL: {
      uint8_t p[2];
      ReadExact(b, p, 2);
      return Variant((p[0] | p[1]) != 0);  // any non-zero value is true
    }
    case VT_UI1: {
      uint8_t u;
      ReadExact(b, &u, 1);
      return Variant::UI1(u);
    }
    default:
      return Variant::FromRaw(t, 0, 0);  // 14, 15, 16: no bytes
  }
}

// Coerces for the writer; a value that cannot be is the caller's mistake.
Variant Coerce(const Variant& v, VARTYPE t) {
  try {
    return v.ChangeType(t);
  } catch (const EVariantError& e) {
    throw EInterpreterError(e.what());
  }
}

// Calls `visit` with each position in SafeArray::items (last dimension
// fastest) in the order a SAFEARRAY stores its elements (first dimension
// fastest), which is the order of a plain array's bytes on the wire.
template <class F>
void InStorageOrder(const std::vector<ArrayBound>& bounds, uint64_t count, F visit) {
  const size_t dims = bounds.size();
  std::vector<uint64_t> stride(dims), length(dims), at(dims, 0);
  uint64_t step = 1;
  for (size_t d = dims; d-- > 0;) {
    stride[d] = step;
    length[d] = static_cast<uint64_t>(bounds[d].Length());
    step *= length[d];
  }
  uint64_t pos = 0;
  for (uint64_t n = 0; n < count; ++n) {
    visit(static_cast<size_t>(pos));
    for (size_t d = 0; d < dims; ++d) {  // an odometer, dimension 1 turning first
      pos += stride[d];
      if (++at[d] < length[d]) break;
      pos -= stride[d] * length[d];
      at[d] = 0;
    }
  }
}

class Writer {
 public:
  Writer(TDataBlock& block, IObjectSlots& slots) : m_b(block), m_slots(slots) {}

  void Value(const Variant& v, int depth) {
    if (depth > kMaxDepth) throw EInterpreterError("Values nested deeper than 16 cannot be sent");
    const VARTYPE vt = v.Type();
    if (vt & VT_ARRAY) return Array(v, vt, depth);
    const VARTYPE base = vt & VT_TYPEMASK;
    const bool ref = vt & VT_BYREF;
    if (base == VT_VARIANT) {
      if (!ref) Unsupported(vt);
      PutU32(m_b, VT_BYREF);  // exactly 0x4000, then the referenced value in full
      return Value(v.Target(), depth + 1);
    }
    // 0x4000 alone means a referenced variant, so a typed reference to Empty has no form.
    if ((vt & ~(VT_BYREF | VT_TYPEMASK)) || base == VT_UNKNOWN || base > VT_UI1 ||
        (ref && base == VT_EMPTY))
      Unsupported(vt);
    Variant coerced;
    const Variant* val = &v;
    if (ref) {
      const Variant& target = v.Target();
      if (target.Type() == base) {
        val = &target;
      } else {
        coerced = Coerce(target, base);
        val = &coerced;
      }
    }
    PutU32(m_b, vt);
    switch (base) {
      case VT_BSTR: {
        const std::u16string& s = val->RawString();
        if (s.size() > static_cast<size_t>(MaxBlockSize))
          throw EInterpreterError("String too long");
        PutU32(m_b, static_cast<uint32_t>(s.size()));
        for (char16_t c : s) PutU16(m_b, static_cast<uint16_t>(c));
        break;
      }
      case VT_DISPATCH: {
        const DispatchPtr& d = val->RawDispatch();
        // A null object has no slot; -1 reads back as a null object.
        PutU32(m_b, static_cast<uint32_t>(d ? m_slots.Lend(d) : -1));
        break;
      }
      default:
        WriteFixed(m_b, base, *val);
    }
  }

 private:
  void Array(const Variant& v, VARTYPE vt, int depth) {
    const SafeArray& a = v.RawArray();
    const VARTYPE elem = a.elementType & VT_TYPEMASK;
    const uint32_t word = VT_ARRAY | elem | (vt & VT_BYREF);
    if (elem == VT_UNKNOWN || elem > VT_UI1) Unsupported(word);
    if (a.bounds.size() > kMaxDimensions)
      throw EInterpreterError("Arrays of more than 8 dimensions cannot be sent");
    const int64_t count = SafeArray::CountFor(a.bounds);
    if (count != static_cast<int64_t>(a.items.size()))
      throw EInterpreterError("The array's items do not match its bounds");
    PutU32(m_b, word);
    PutU32(m_b, static_cast<uint32_t>(a.bounds.size()));
    for (const auto& bound : a.bounds) PutU32(m_b, static_cast<uint32_t>(bound.low));
    for (const auto& bound : a.bounds) PutU32(m_b, static_cast<uint32_t>(bound.high));
    if (IsPlain(elem)) {
      const int64_t bytes = count * kSizes[elem];
      if (bytes > MaxBlockSize) throw EInterpreterError("Array too large");
      PutU32(m_b, static_cast<uint32_t>(bytes));
      InStorageOrder(a.bounds, static_cast<uint64_t>(count), [&](size_t i) {
        const Variant& item = a.items[i];
        WriteFixed(m_b, elem, item.Type() == elem ? item : Coerce(item, elem));
      });
      return;
    }
    for (const Variant& item : a.items) {
      if (elem == VT_VARIANT || item.Type() == elem)
        Value(item, depth + 1);
      else
        Value(Coerce(item, elem), depth + 1);
    }
  }

  TDataBlock& m_b;
  IObjectSlots& m_slots;
};

}  // namespace

void WriteValue(const Variant& value, TDataBlock& block, IObjectSlots& slots) {
  try {
    Writer(block, slots).Value(value, 0);
  } catch (const EVariantError& e) {
    throw EInterpreterError(e.what());
  }
}

Variant TValueReader::Read(bool* byRef, bool* byRefVariant) {
  return ReadAt(0, byRef, byRefVariant);
}

Variant TValueReader::ReadAt(int depth, bool* byRef, bool* byRefVariant) {
  if (depth > kMaxDepth) Bad("values nested deeper than 16");
  if (m_valuesLeft == 0) Bad("more than 1048576 values in one block");
  --m_valuesLeft;
  uint32_t word = GetU32(m_block);
  if (byRef) *byRef = (word & VT_BYREF) != 0;
  if (byRefVariant) *byRefVariant = word == VT_BYREF;
  if (word == VT_BYREF) return ReadAt(depth + 1, nullptr, nullptr);
  word &= ~uint32_t{VT_BYREF};
  const VARTYPE base = word & VT_TYPEMASK;
  // A variant by value has no form (only 0x4000 refers to one).
  if ((word & ~uint32_t{VT_ARRAY | VT_TYPEMASK}) || base > VT_UI1 || base == VT_UNKNOWN ||
      (base == VT_VARIANT && !(word & VT_ARRAY)))
    Unsupported(word);
  if (word & VT_ARRAY) return ReadArray(base, depth);
  switch (base) {
    case VT_EMPTY:
      return Variant();
    case VT_NULL:
      return Variant::Null();
    case VT_BSTR:
      return Variant(ReadString());
    case VT_DISPATCH: {
      const int32_t index = GetI32(m_block);
      return Variant(index < 0 ? DispatchPtr() : m_slots.Lookup(index));
    }
    default:
      return ReadFixed(m_block, base);
  }
}

std::u16string TValueReader::ReadString() {
  const int32_t count = GetI32(m_block);
  if (count < 0 || uint64_t(count) * 2 > m_block.Remaining())
    Bad("a string of " + std::to_string(count) + " characters where the block holds " +
        std::to_string(m_block.Remaining()) + " bytes");
  std::u16string s(static_cast<size_t>(count), u'\0');
  for (auto& c : s) {
    uint8_t p[2];
    ReadExact(m_block, p, 2);
    c = static_cast<char16_t>(p[0] | p[1] << 8);
  }
  return s;
}

Variant TValueReader::ReadArray(VARTYPE elem, int depth) {
  TDataBlock& b = m_block;
  const int32_t dims = GetI32(b);
  if (dims < 0 || dims > kMaxDimensions) Bad("an array of " + std::to_string(dims) + " dimensions");
  SafeArray a;
  a.elementType = elem;
  a.bounds.resize(static_cast<size_t>(dims));
  for (auto& bound : a.bounds) bound.low = GetI32(b);
  for (auto& bound : a.bounds) bound.high = GetI32(b);
  // Every length is below 2^32 and the running product is checked before
  // each multiplication, so it cannot overflow.
  uint64_t count = dims == 0 ? 0 : 1;
  for (const auto& bound : a.bounds) {
    count *= static_cast<uint64_t>(bound.Length());
    if (count > m_valuesLeft) Bad("an array of more elements than one block may hold");
  }
  if (IsPlain(elem)) {
    const int32_t bytes = GetI32(b);
    if (uint64_t(bytes) != count * kSizes[elem] || bytes < 0)
      Bad("an array of " + std::to_string(count) + " elements with " + std::to_string(bytes) +
          " bytes");
    if (static_cast<size_t>(bytes) > b.Remaining())
      Bad("an array of " + std::to_string(bytes) + " bytes where the block holds " +
          std::to_string(b.Remaining()));
    m_valuesLeft -= count;
    a.items.resize(count);
    InStorageOrder(a.bounds, count, [&](size_t i) { a.items[i] = ReadFixed(b, elem); });
    return Variant(std::move(a));
  }
  // Every element takes at least its 4-byte type word.
  if (count * 4 > b.Remaining())
    Bad("an array of " + std::to_string(count) + " elements where the block holds " +
        std::to_string(b.Remaining()) + " bytes");
  a.items.reserve(count);
  for (uint64_t i = 0; i < count; ++i) {
    Variant item = ReadAt(depth + 1, nullptr, nullptr);
    if (elem != VT_VARIANT && item.Type() != elem) {
      try {
        item = item.ChangeType(elem);
      } catch (const EVariantError&) {
        Bad("an array element of another type");
      }
    }
    a.items.push_back(std::move(item));
  }
  return Variant(std::move(a));
}

int32_t TValueReader::ReadInt() {
  const Variant v = Read();
  try {
    return v.ToInt32();
  } catch (const EVariantError&) {
    Bad("an integer was expected, not " + VarTypeName(v.Type()));
  }
}

std::u16string TValueReader::ReadText() {
  const Variant v = Read();
  try {
    return v.ToString();
  } catch (const EVariantError&) {
    Bad("a text was expected, not " + VarTypeName(v.Type()));
  }
}

}  // namespace varn::remote
