#include "remote/interpreter.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/automation/classes.h"
#include "platform/text.h"

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
// Each decoded value costs about a hundred bytes of memory: this bounds what
// one block of at most 16 MiB can expand into.
constexpr size_t kMaxValuesPerBlock = size_t{1} << 20;

[[noreturn]] void Bad(const std::string& detail) {
  throw EInterpreterError(std::string(text::kInvalidDataPacket) + ": " + detail);
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

const char* kDetached = "The connection of this remote object is closed";

}  // namespace

struct TkxDataBlockInterpreter::ReadContext {
  size_t valuesLeft = kMaxValuesPerBlock;
};

// --- lifetime -----------------------------------------------------------------

TkxDataBlockInterpreter::TkxDataBlockInterpreter(ISendDataBlock& sender)
    : CreateObject([](const std::u16string& name) { return ClassTable::Instance().Create(name); }),
      m_sender(sender),
      m_link(std::make_shared<detail::InterpreterLink>()) {
  m_link->interpreter = this;
}

TkxDataBlockInterpreter::~TkxDataBlockInterpreter() {
  std::vector<DispatchPtr> lent;
  {
    std::lock_guard lock(m_link->lock);
    m_link->interpreter = nullptr;  // every proxy is detached at once
    m_proxies.clear();
    lent.swap(m_dispList);
  }
  // The lent objects are released outside the lock: their destructors may
  // do anything, including calls on other connections.
}

// --- FDispList ----------------------------------------------------------------

int32_t TkxDataBlockInterpreter::StoreDispatch(const DispatchPtr& obj) {
  std::lock_guard lock(Lock());
  if (m_dispList.empty()) m_dispList.resize(11);
  for (size_t i = 0; i < m_dispList.size(); ++i) {
    if (!m_dispList[i]) {
      m_dispList[i] = obj;
      return static_cast<int32_t>(i);
    }
  }
  // Full: the last index becomes the new index plus 10.
  const size_t index = m_dispList.size();
  m_dispList.resize(index + 11);
  m_dispList[index] = obj;
  return static_cast<int32_t>(index);
}

void TkxDataBlockInterpreter::ReleaseDispatch(int32_t index) {
  DispatchPtr released;  // released after the lock, like the destructor does
  std::lock_guard lock(Lock());
  if (index >= 0 && static_cast<size_t>(index) < m_dispList.size())
    released = std::move(m_dispList[static_cast<size_t>(index)]);
}

DispatchPtr TkxDataBlockInterpreter::DispatchAt(int32_t index) const {
  std::lock_guard lock(m_link->lock);
  if (index < 0 || static_cast<size_t>(index) >= m_dispList.size()) return {};
  return m_dispList[static_cast<size_t>(index)];
}

size_t TkxDataBlockInterpreter::DispListSlots() const {
  std::lock_guard lock(m_link->lock);
  return m_dispList.size();
}

size_t TkxDataBlockInterpreter::DispListUsed() const {
  std::lock_guard lock(m_link->lock);
  size_t n = 0;
  for (const auto& d : m_dispList) n += d ? 1 : 0;
  return n;
}

size_t TkxDataBlockInterpreter::ProxyCount() const {
  std::lock_guard lock(m_link->lock);
  return m_proxies.size();
}

// --- writing values -------------------------------------------------------------

void TkxDataBlockInterpreter::WriteVariant(const Variant& value, TDataBlock& block) {
  std::lock_guard lock(Lock());
  try {
    WriteValue(value, block, 0);
  } catch (const EVariantError& e) {
    throw EInterpreterError(e.what());
  }
}

void TkxDataBlockInterpreter::WriteValue(const Variant& v, TDataBlock& b, int depth) {
  if (depth > kMaxDepth) throw EInterpreterError("Values nested deeper than 16 cannot be sent");
  const VARTYPE vt = v.Type();
  if (vt & VT_ARRAY) return WriteArray(v, vt, b, depth);
  const VARTYPE base = vt & VT_TYPEMASK;
  const bool ref = vt & VT_BYREF;
  if (base == VT_VARIANT) {
    if (!ref) Unsupported(vt);
    PutU32(b, VT_BYREF);  // exactly 0x4000, then the referenced value in full
    return WriteValue(v.Target(), b, depth + 1);
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
  PutU32(b, vt);
  switch (base) {
    case VT_BSTR: {
      const std::u16string& s = val->RawString();
      if (s.size() > static_cast<size_t>(MaxBlockSize)) throw EInterpreterError("String too long");
      PutU32(b, static_cast<uint32_t>(s.size()));
      for (char16_t c : s) PutU16(b, static_cast<uint16_t>(c));
      break;
    }
    case VT_DISPATCH: {
      const DispatchPtr& d = val->RawDispatch();
      // A null object has no slot; -1 reads back as a null object.
      PutU32(b, static_cast<uint32_t>(d ? StoreDispatch(d) : -1));
      break;
    }
    default:
      WriteFixed(b, base, *val);
  }
}

void TkxDataBlockInterpreter::WriteArray(const Variant& v, VARTYPE vt, TDataBlock& b, int depth) {
  const SafeArray& a = v.RawArray();
  const VARTYPE elem = a.elementType & VT_TYPEMASK;
  const uint32_t word = VT_ARRAY | elem | (vt & VT_BYREF);
  if (elem == VT_UNKNOWN || elem > VT_UI1) Unsupported(word);
  if (a.bounds.size() > kMaxDimensions)
    throw EInterpreterError("Arrays of more than 8 dimensions cannot be sent");
  const int64_t count = SafeArray::CountFor(a.bounds);
  if (count != static_cast<int64_t>(a.items.size()))
    throw EInterpreterError("The array's items do not match its bounds");
  PutU32(b, word);
  PutU32(b, static_cast<uint32_t>(a.bounds.size()));
  for (const auto& bound : a.bounds) PutU32(b, static_cast<uint32_t>(bound.low));
  for (const auto& bound : a.bounds) PutU32(b, static_cast<uint32_t>(bound.high));
  if (IsPlain(elem)) {
    const int64_t bytes = count * kSizes[elem];
    if (bytes > MaxBlockSize) throw EInterpreterError("Array too large");
    PutU32(b, static_cast<uint32_t>(bytes));
    for (const Variant& item : a.items)
      WriteFixed(b, elem, item.Type() == elem ? item : Coerce(item, elem));
    return;
  }
  for (const Variant& item : a.items) {
    if (elem == VT_VARIANT || item.Type() == elem)
      WriteValue(item, b, depth + 1);
    else
      WriteValue(Coerce(item, elem), b, depth + 1);
  }
}

// --- reading values -------------------------------------------------------------

Variant TkxDataBlockInterpreter::ReadVariant(TDataBlock& block, bool* byRef, bool* byRefVariant) {
  std::lock_guard lock(Lock());
  ReadContext ctx;
  return ReadValue(block, ctx, byRef, byRefVariant, 0);
}

Variant TkxDataBlockInterpreter::ReadValue(TDataBlock& b, ReadContext& ctx, bool* byRef,
                                           bool* byRefVariant, int depth) {
  if (depth > kMaxDepth) Bad("values nested deeper than 16");
  if (ctx.valuesLeft == 0) Bad("more than 1048576 values in one block");
  --ctx.valuesLeft;
  uint32_t word = GetU32(b);
  if (byRef) *byRef = (word & VT_BYREF) != 0;
  if (byRefVariant) *byRefVariant = word == VT_BYREF;
  if (word == VT_BYREF) return ReadValue(b, ctx, nullptr, nullptr, depth + 1);
  word &= ~uint32_t{VT_BYREF};
  const VARTYPE base = word & VT_TYPEMASK;
  // A variant by value has no form (only 0x4000 refers to one).
  if ((word & ~uint32_t{VT_ARRAY | VT_TYPEMASK}) || base > VT_UI1 || base == VT_UNKNOWN ||
      (base == VT_VARIANT && !(word & VT_ARRAY)))
    Unsupported(word);
  if (word & VT_ARRAY) return ReadArray(b, ctx, base, depth);
  switch (base) {
    case VT_EMPTY:
      return Variant();
    case VT_NULL:
      return Variant::Null();
    case VT_BSTR:
      return Variant(ReadString(b, ctx));
    case VT_DISPATCH: {
      const int32_t index = GetI32(b);
      if (index < 0) return Variant(DispatchPtr());
      return Variant(DispatchPtr(new TkxDataDispatch(*this, index)));
    }
    default:
      return ReadFixed(b, base);
  }
}

std::u16string TkxDataBlockInterpreter::ReadString(TDataBlock& b, ReadContext&) {
  const int32_t count = GetI32(b);
  if (count < 0 || uint64_t(count) * 2 > b.Remaining())
    Bad("a string of " + std::to_string(count) + " characters where the block holds " +
        std::to_string(b.Remaining()) + " bytes");
  std::u16string s(static_cast<size_t>(count), u'\0');
  for (auto& c : s) {
    uint8_t p[2];
    ReadExact(b, p, 2);
    c = static_cast<char16_t>(p[0] | p[1] << 8);
  }
  return s;
}

Variant TkxDataBlockInterpreter::ReadArray(TDataBlock& b, ReadContext& ctx, VARTYPE elem,
                                           int depth) {
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
    if (count > ctx.valuesLeft) Bad("an array of more elements than one block may hold");
  }
  if (IsPlain(elem)) {
    const int32_t bytes = GetI32(b);
    if (uint64_t(bytes) != count * kSizes[elem] || bytes < 0)
      Bad("an array of " + std::to_string(count) + " elements with " + std::to_string(bytes) +
          " bytes");
    if (static_cast<size_t>(bytes) > b.Remaining())
      Bad("an array of " + std::to_string(bytes) + " bytes where the block holds " +
          std::to_string(b.Remaining()));
    ctx.valuesLeft -= count;
    a.items.reserve(count);
    for (uint64_t i = 0; i < count; ++i) a.items.push_back(ReadFixed(b, elem));
    return Variant(std::move(a));
  }
  // Every element takes at least its 4-byte type word.
  if (count * 4 > b.Remaining())
    Bad("an array of " + std::to_string(count) + " elements where the block holds " +
        std::to_string(b.Remaining()) + " bytes");
  a.items.reserve(count);
  for (uint64_t i = 0; i < count; ++i) {
    Variant item = ReadValue(b, ctx, nullptr, nullptr, depth + 1);
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

int32_t TkxDataBlockInterpreter::ReadInt(TDataBlock& b, ReadContext& ctx) {
  const Variant v = ReadValue(b, ctx, nullptr, nullptr, 0);
  try {
    return v.ToInt32();
  } catch (const EVariantError&) {
    Bad("an integer was expected, not " + VarTypeName(v.Type()));
  }
}

std::u16string TkxDataBlockInterpreter::ReadText(TDataBlock& b, ReadContext& ctx) {
  const Variant v = ReadValue(b, ctx, nullptr, nullptr, 0);
  try {
    return v.ToString();
  } catch (const EVariantError&) {
    Bad("a text was expected, not " + VarTypeName(v.Type()));
  }
}

// --- serving --------------------------------------------------------------------

void TkxDataBlockInterpreter::RaiseIfError(TDataBlock& block) {
  if (block.Action() != asError) return;
  ReadContext ctx;
  const Variant v = ReadValue(block, ctx, nullptr, nullptr, 0);
  std::u16string msg;
  try {
    msg = v.ToString();
  } catch (const EVariantError&) {
    msg = u"The peer reported an error of type " + Utf8ToUtf16(VarTypeName(v.Type()));
  }
  throw ERemoteError(Utf16ToUtf8(msg));
}

void TkxDataBlockInterpreter::InterpretData(TDataBlock& block) {
  std::lock_guard lock(Lock());
  RaiseIfError(block);  // an error block as a call is not answered
  bool answer = true;
  std::string error;
  try {
    switch (block.Action()) {
      case asInvoke:
        answer = DoInvoke(block);
        break;
      case asGetID:
        answer = DoGetIDsOfNames(block);
        break;
      case asCreateObject:
        answer = DoCreateObject(block);
        break;
      case asFreeObject:
        answer = DoFreeObject(block);
        break;
      case asGetServers:
        answer = DoGetServers(block);
        break;
      default:
        answer = DoCustomAction(block);
        break;
    }
    if (answer && block.Size() > MaxBlockSize)
      error = "The answer is larger than " + std::to_string(MaxBlockSize) + " bytes";
  } catch (const std::exception& e) {
    error = e.what();
    answer = true;
  } catch (...) {
    error = "Unknown error";
    answer = true;
  }
  if (!error.empty()) {
    block.Clear();
    WriteValue(Variant(Utf8ToUtf16(error)), block, 0);
    block.SetSignature(ResultSig | asError);
  }
  if (answer) m_sender.Send(block, false);
}

bool TkxDataBlockInterpreter::DoCustomAction(TDataBlock& block) {
  // No custom action is handled in this system.
  throw EInterpreterError("Invalid action received: " + std::to_string(block.Action()));
}

bool TkxDataBlockInterpreter::DoCreateObject(TDataBlock& b) {
  ReadContext ctx;
  const std::u16string name = ReadText(b, ctx);
  b.Clear();
  // ClassTable turns a CLSID in braces into its registered ProgID itself.
  DispatchPtr obj = CreateObject(name);
  if (!obj) throw EInterpreterError("Cannot create " + Utf16ToUtf8(name));
  WriteValue(Variant(obj), b, 0);
  b.SetSignature(ResultSig | asCreateObject);
  return true;
}

bool TkxDataBlockInterpreter::DoFreeObject(TDataBlock& b) {
  try {
    ReadContext ctx;
    ReleaseDispatch(ReadInt(b, ctx));
  } catch (...) {
    // Freeing is never answered, so there is nobody to tell.
  }
  return false;
}

bool TkxDataBlockInterpreter::DoGetIDsOfNames(TDataBlock& b) {
  ReadContext ctx;
  const int32_t index = ReadInt(b, ctx);
  const std::u16string name = ReadText(b, ctx);
  b.Clear();
  const DispatchPtr obj = DispatchAt(index);
  DISPID id = DISPID_UNKNOWN;
  const HRESULT hr = obj ? GetIDOfName(*obj, name, id) : E_FAIL;
  WriteValue(Variant(hr), b, 0);
  if (hr == S_OK) WriteValue(Variant(id), b, 0);
  b.SetSignature(ResultSig | asGetID);
  return true;
}

bool TkxDataBlockInterpreter::DoInvoke(TDataBlock& b) {
  ReadContext ctx;
  const int32_t index = ReadInt(b, ctx);
  const DISPID id = ReadInt(b, ctx);
  const auto flags = static_cast<uint16_t>(ReadInt(b, ctx));
  const Variant wantedValue = ReadValue(b, ctx, nullptr, nullptr, 0);
  if (wantedValue.Type() != VT_BOOL) Bad("a boolean was expected");
  const bool wanted = wantedValue.RawInt() != 0;
  const int32_t argc = ReadInt(b, ctx);
  const int32_t named = ReadInt(b, ctx);
  // Each argument and named id takes at least a 4-byte type word.
  if (argc < 0 || uint64_t(argc) * 4 > b.Remaining())
    Bad(std::to_string(argc) + " arguments where the block holds " + std::to_string(b.Remaining()) +
        " bytes");
  if (named < 0 || named > argc)
    Bad(std::to_string(named) + " named arguments of " + std::to_string(argc));
  DispParams params;
  params.namedArgs.reserve(static_cast<size_t>(named));
  for (int32_t i = 0; i < named; ++i) params.namedArgs.push_back(ReadInt(b, ctx));

  enum Kind : uint8_t { kValue, kTypedRef, kVariantRef };
  std::vector<Variant> storage;  // reserved: the references point into it
  std::vector<Kind> kinds;
  storage.reserve(static_cast<size_t>(argc));
  kinds.reserve(static_cast<size_t>(argc));
  for (int32_t i = 0; i < argc; ++i) {
    bool ref = false, refVariant = false;
    storage.push_back(ReadValue(b, ctx, &ref, &refVariant, 0));
    kinds.push_back(refVariant ? kVariantRef : ref ? kTypedRef : kValue);
  }
  std::vector<Variant> refs(static_cast<size_t>(argc));  // what goes back after the call
  params.args.reserve(static_cast<size_t>(argc));
  for (size_t i = 0; i < storage.size(); ++i) {
    if (kinds[i] == kVariantRef)
      refs[i] = Variant::Ref(storage[i]);
    else if (kinds[i] == kTypedRef)
      refs[i] = Variant::TypedRef(storage[i], storage[i].Type());
    params.args.push_back(kinds[i] == kValue ? storage[i] : refs[i]);
  }
  b.Clear();

  const DispatchPtr obj = DispatchAt(index);
  Variant result;
  ExcepInfo excep;
  uint32_t argErr = 0;
  // An empty slot is answered like DoGetIDsOfNames answers it.
  const HRESULT hr =
      obj ? obj->Invoke(id, flags, params, wanted ? &result : nullptr, &excep, &argErr) : E_FAIL;
  WriteValue(Variant(hr), b, 0);
  if (hr == DISP_E_EXCEPTION) {
    WriteValue(Variant(excep.scode), b, 0);
    WriteValue(Variant(excep.description), b, 0);
  }
  for (size_t i = 0; i < refs.size(); ++i)
    if (kinds[i] != kValue) WriteValue(refs[i], b, 0);
  if (wanted) WriteValue(result, b, 0);
  b.SetSignature(ResultSig | asInvoke);
  return true;
}

bool TkxDataBlockInterpreter::DoGetServers(TDataBlock& b) {
  b.Clear();
  WriteValue(Variant::Null(), b, 0);  // no server list in this system
  b.SetSignature(ResultSig | asGetServers);
  return true;
}

// --- calling ----------------------------------------------------------------------

TDataBlock TkxDataBlockInterpreter::SendAndWait(TDataBlock& block) {
  if (block.Size() > MaxBlockSize)
    throw EInterpreterError("The call is larger than " + std::to_string(MaxBlockSize) + " bytes");
  std::optional<TDataBlock> answer = m_sender.Send(block, true);
  if (!answer) throw ESocketConnectionError("No answer to the remote call");
  RaiseIfError(*answer);
  return std::move(*answer);
}

HRESULT TkxDataBlockInterpreter::SendInvoke(int32_t dispatchIndex, DISPID id, uint16_t flags,
                                            DispParams& params, Variant* result, ExcepInfo* excep) {
  std::lock_guard lock(Lock());
  TDataBlock b;
  try {
    WriteValue(Variant(dispatchIndex), b, 0);
    WriteValue(Variant(id), b, 0);
    WriteValue(Variant(int32_t{flags}), b, 0);
    WriteValue(Variant(result != nullptr), b, 0);
    WriteValue(Variant(static_cast<int32_t>(params.args.size())), b, 0);
    WriteValue(Variant(static_cast<int32_t>(params.namedArgs.size())), b, 0);
    for (DISPID n : params.namedArgs) WriteValue(Variant(n), b, 0);
    for (const Variant& a : params.args) WriteValue(a, b, 0);
  } catch (const EVariantError& e) {
    throw EInterpreterError(e.what());
  }
  b.SetSignature(CallSig | asInvoke);
  TDataBlock answer = SendAndWait(b);

  ReadContext ctx;
  const HRESULT hr = ReadInt(answer, ctx);
  if (hr == DISP_E_EXCEPTION) {
    const int32_t code = ReadInt(answer, ctx);
    std::u16string text = ReadText(answer, ctx);
    if (excep) {
      excep->scode = code;
      excep->description = std::move(text);
    }
  }
  for (Variant& a : params.args) {
    if (!a.IsByRef()) continue;
    Variant v = ReadValue(answer, ctx, nullptr, nullptr, 0);
    try {
      if (a.BaseType() == VT_VARIANT && !a.IsArray())
        a.Target() = std::move(v);  // a referenced variant takes the value itself
      else
        a.Store(v);
    } catch (const EVariantError& e) {
      throw EInterpreterError(e.what());
    }
  }
  if (result) *result = ReadValue(answer, ctx, nullptr, nullptr, 0);
  return hr;
}

HRESULT TkxDataBlockInterpreter::SendGetIDsOfNames(int32_t dispatchIndex,
                                                   std::span<const std::u16string> names,
                                                   std::span<DISPID> ids) {
  if (names.size() != 1) return E_NOTIMPL;
  if (ids.empty()) return E_INVALIDARG;
  std::lock_guard lock(Lock());
  TDataBlock b;
  WriteValue(Variant(dispatchIndex), b, 0);
  WriteValue(Variant(names[0]), b, 0);
  b.SetSignature(CallSig | asGetID);
  TDataBlock answer = SendAndWait(b);
  ReadContext ctx;
  const HRESULT hr = ReadInt(answer, ctx);
  if (hr == S_OK) ids[0] = ReadInt(answer, ctx);
  return hr;
}

DispatchPtr TkxDataBlockInterpreter::SendCreateObject(const std::u16string& name) {
  std::lock_guard lock(Lock());
  TDataBlock b;
  WriteValue(Variant(name), b, 0);
  b.SetSignature(CallSig | asCreateObject);
  TDataBlock answer = SendAndWait(b);
  ReadContext ctx;
  const Variant v = ReadValue(answer, ctx, nullptr, nullptr, 0);
  if (v.Type() != VT_DISPATCH || !v.RawDispatch()) Bad("an object was expected");
  return v.RawDispatch();
}

Variant TkxDataBlockInterpreter::SendGetServers() {
  std::lock_guard lock(Lock());
  TDataBlock b;
  b.SetSignature(CallSig | asGetServers);
  TDataBlock answer = SendAndWait(b);
  ReadContext ctx;
  return ReadValue(answer, ctx, nullptr, nullptr, 0);
}

// --- the proxy ----------------------------------------------------------------------

TkxDataDispatch::TkxDataDispatch(TkxDataBlockInterpreter& interpreter, int32_t dispatchIndex)
    : m_link(interpreter.m_link), m_index(dispatchIndex) {
  std::lock_guard lock(m_link->lock);
  interpreter.m_proxies.insert(this);
}

TkxDataDispatch::~TkxDataDispatch() {
  std::lock_guard lock(m_link->lock);
  if (m_link->interpreter) m_link->interpreter->m_proxies.erase(this);
}

bool TkxDataDispatch::Detached() const {
  std::lock_guard lock(m_link->lock);
  return m_link->interpreter == nullptr;
}

HRESULT TkxDataDispatch::GetIDsOfNames(std::span<const std::u16string> names,
                                       std::span<DISPID> ids) {
  // The link outlives this call even if the last reference to the proxy
  // goes away inside it (a closing handler may drop it).
  const auto link = m_link;
  std::lock_guard lock(link->lock);
  if (!link->interpreter) throw EInterpreterError(kDetached);
  const DispatchPtr keep(this);
  return link->interpreter->SendGetIDsOfNames(m_index, names, ids);
}

HRESULT TkxDataDispatch::Invoke(DISPID id, uint16_t flags, DispParams& params, Variant* result,
                                ExcepInfo* excep, uint32_t*) {
  const auto link = m_link;
  std::lock_guard lock(link->lock);
  if (!link->interpreter) throw EInterpreterError(kDetached);
  const DispatchPtr keep(this);
  return link->interpreter->SendInvoke(m_index, id, flags, params, result, excep);
}

}  // namespace varn::remote
