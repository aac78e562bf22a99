#include "remote/interpreter.h"

#include "platform/automation/classes.h"
#include "platform/text.h"

namespace varn::remote {

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

DispatchPtr TkxDataBlockInterpreter::Lookup(int32_t index) {
  return DispatchPtr(new TkxDataDispatch(*this, index));
}

// --- values -------------------------------------------------------------------

void TkxDataBlockInterpreter::WriteVariant(const Variant& value, TDataBlock& block) {
  std::lock_guard lock(Lock());
  Write(value, block);
}

Variant TkxDataBlockInterpreter::ReadVariant(TDataBlock& block, bool* byRef, bool* byRefVariant) {
  std::lock_guard lock(Lock());
  return TValueReader(block, *this).Read(byRef, byRefVariant);
}

// --- serving --------------------------------------------------------------------

void TkxDataBlockInterpreter::RaiseIfError(TDataBlock& block) {
  if (block.Action() != asError) return;
  const Variant v = TValueReader(block, *this).Read();
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
    Write(Variant(Utf8ToUtf16(error)), block);
    block.SetSignature(ResultSig | asError);
  }
  if (answer) m_sender.Send(block, false);
}

bool TkxDataBlockInterpreter::DoCustomAction(TDataBlock& block) {
  // No custom action is handled in this system.
  throw EInterpreterError("Invalid action received: " + std::to_string(block.Action()));
}

bool TkxDataBlockInterpreter::DoCreateObject(TDataBlock& b) {
  const std::u16string name = TValueReader(b, *this).ReadText();
  b.Clear();
  // ClassTable turns a CLSID in braces into its registered ProgID itself.
  DispatchPtr obj = CreateObject(name);
  if (!obj) throw EInterpreterError("Cannot create " + Utf16ToUtf8(name));
  Write(Variant(obj), b);
  b.SetSignature(ResultSig | asCreateObject);
  return true;
}

bool TkxDataBlockInterpreter::DoFreeObject(TDataBlock& b) {
  try {
    ReleaseDispatch(TValueReader(b, *this).ReadInt());
  } catch (...) {
    // Freeing is never answered, so there is nobody to tell.
  }
  return false;
}

bool TkxDataBlockInterpreter::DoGetIDsOfNames(TDataBlock& b) {
  TValueReader in(b, *this);
  const int32_t index = in.ReadInt();
  const std::u16string name = in.ReadText();
  b.Clear();
  const DispatchPtr obj = DispatchAt(index);
  DISPID id = DISPID_UNKNOWN;
  const HRESULT hr = obj ? GetIDOfName(*obj, name, id) : E_FAIL;
  Write(Variant(hr), b);
  if (hr == S_OK) Write(Variant(id), b);
  b.SetSignature(ResultSig | asGetID);
  return true;
}

bool TkxDataBlockInterpreter::DoInvoke(TDataBlock& b) {
  TValueReader in(b, *this);
  const int32_t index = in.ReadInt();
  const DISPID id = in.ReadInt();
  const auto flags = static_cast<uint16_t>(in.ReadInt());
  const Variant wantedValue = in.Read();
  if (wantedValue.Type() != VT_BOOL) throw InvalidDataPacket("a boolean was expected");
  const bool wanted = wantedValue.RawInt() != 0;
  const int32_t argc = in.ReadInt();
  const int32_t named = in.ReadInt();
  // Each argument and named id takes at least a 4-byte type word.
  if (argc < 0 || uint64_t(argc) * 4 > b.Remaining())
    throw InvalidDataPacket(std::to_string(argc) + " arguments where the block holds " +
                            std::to_string(b.Remaining()) + " bytes");
  if (named < 0 || named > argc)
    throw InvalidDataPacket(std::to_string(named) + " named arguments of " + std::to_string(argc));
  DispParams params;
  params.namedArgs.reserve(static_cast<size_t>(named));
  for (int32_t i = 0; i < named; ++i) params.namedArgs.push_back(in.ReadInt());

  enum Kind : uint8_t { kValue, kTypedRef, kVariantRef };
  std::vector<Variant> storage;  // reserved: the references point into it
  std::vector<Kind> kinds;
  storage.reserve(static_cast<size_t>(argc));
  kinds.reserve(static_cast<size_t>(argc));
  for (int32_t i = 0; i < argc; ++i) {
    bool ref = false, refVariant = false;
    storage.push_back(in.Read(&ref, &refVariant));
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
  Write(Variant(hr), b);
  if (hr == DISP_E_EXCEPTION) {
    Write(Variant(excep.scode), b);
    Write(Variant(excep.description), b);
  }
  for (size_t i = 0; i < refs.size(); ++i)
    if (kinds[i] != kValue) Write(refs[i], b);
  if (wanted) Write(result, b);
  b.SetSignature(ResultSig | asInvoke);
  return true;
}

bool TkxDataBlockInterpreter::DoGetServers(TDataBlock& b) {
  b.Clear();
  Write(Variant::Null(), b);  // no server list in this system
  b.SetSignature(ResultSig | asGetServers);
  return true;
}

// --- calling ----------------------------------------------------------------------

TDataBlock TkxDataBlockInterpreter::SendAndWait(TDataBlock& block) {
  if (block.Size() > MaxBlockSize)
    throw EInterpreterError("The call is larger than " + std::to_string(MaxBlockSize) + " bytes");
  std::optional<TDataBlock> answer = m_sender.Send(block, true);
  if (!answer) throw ESocketConnectionError("Нет ответа на удалённый вызов");
  RaiseIfError(*answer);
  return std::move(*answer);
}

HRESULT TkxDataBlockInterpreter::SendInvoke(int32_t dispatchIndex, DISPID id, uint16_t flags,
                                            DispParams& params, Variant* result, ExcepInfo* excep) {
  std::lock_guard lock(Lock());
  TDataBlock b;
  Write(Variant(dispatchIndex), b);
  Write(Variant(id), b);
  Write(Variant(int32_t{flags}), b);
  Write(Variant(result != nullptr), b);
  Write(Variant(static_cast<int32_t>(params.args.size())), b);
  Write(Variant(static_cast<int32_t>(params.namedArgs.size())), b);
  for (DISPID n : params.namedArgs) Write(Variant(n), b);
  for (const Variant& a : params.args) Write(a, b);
  b.SetSignature(CallSig | asInvoke);
  TDataBlock answer = SendAndWait(b);

  TValueReader in(answer, *this);
  const HRESULT hr = in.ReadInt();
  if (hr == DISP_E_EXCEPTION) {
    const int32_t code = in.ReadInt();
    std::u16string text = in.ReadText();
    if (excep) {
      excep->scode = code;
      excep->description = std::move(text);
    }
  }
  for (Variant& a : params.args) {
    if (!a.IsByRef()) continue;
    Variant v = in.Read();
    try {
      if (a.BaseType() == VT_VARIANT && !a.IsArray())
        a.Target() = std::move(v);  // a referenced variant takes the value itself
      else
        a.Store(v);
    } catch (const EVariantError& e) {
      throw EInterpreterError(e.what());
    }
  }
  if (result) *result = in.Read();
  return hr;
}

HRESULT TkxDataBlockInterpreter::SendGetIDsOfNames(int32_t dispatchIndex,
                                                   std::span<const std::u16string> names,
                                                   std::span<DISPID> ids) {
  if (names.size() != 1) return E_NOTIMPL;
  if (ids.empty()) return E_INVALIDARG;
  std::lock_guard lock(Lock());
  TDataBlock b;
  Write(Variant(dispatchIndex), b);
  Write(Variant(names[0]), b);
  b.SetSignature(CallSig | asGetID);
  TDataBlock answer = SendAndWait(b);
  TValueReader in(answer, *this);
  const HRESULT hr = in.ReadInt();
  if (hr == S_OK) ids[0] = in.ReadInt();
  return hr;
}

DispatchPtr TkxDataBlockInterpreter::SendCreateObject(const std::u16string& name) {
  std::lock_guard lock(Lock());
  TDataBlock b;
  Write(Variant(name), b);
  b.SetSignature(CallSig | asCreateObject);
  TDataBlock answer = SendAndWait(b);
  const Variant v = TValueReader(answer, *this).Read();
  if (v.Type() != VT_DISPATCH || !v.RawDispatch())
    throw InvalidDataPacket("an object was expected");
  return v.RawDispatch();
}

Variant TkxDataBlockInterpreter::SendGetServers() {
  std::lock_guard lock(Lock());
  TDataBlock b;
  b.SetSignature(CallSig | asGetServers);
  TDataBlock answer = SendAndWait(b);
  return TValueReader(answer, *this).Read();
}

}  // namespace varn::remote
