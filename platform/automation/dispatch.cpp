#include "platform/automation/dispatch.h"

#include <cstdio>

#include "platform/errors.h"
#include "platform/text.h"

namespace varn {

DispParams DispParams::FromNatural(std::vector<Variant> natural) {
  DispParams p;
  p.args.assign(std::make_move_iterator(natural.rbegin()), std::make_move_iterator(natural.rend()));
  return p;
}

HRESULT GetIDOfName(IDispatch& obj, const std::u16string& name, DISPID& id) {
  const std::u16string names[1] = {name};
  DISPID ids[1] = {DISPID_UNKNOWN};
  const HRESULT hr = obj.GetIDsOfNames(names, ids);
  id = ids[0];
  return hr;
}

namespace dispatch_detail {

HRESULT FindIds(const std::vector<MemberInfo>& members, std::span<const std::u16string> names,
                std::span<DISPID> ids) {
  if (names.empty() || ids.size() < names.size()) return E_INVALIDARG;
  for (auto& id : ids) id = DISPID_UNKNOWN;
  const MemberInfo* found = nullptr;
  for (const auto& m : members) {
    if (!EqualNoCase(Utf8ToUtf16(m.name), names[0])) continue;
    // A property's get and put share the id; prefer the entry with params for names.
    if (!found || m.params.size() > found->params.size()) found = &m;
  }
  if (!found) return DISP_E_UNKNOWNNAME;
  ids[0] = found->id;
  HRESULT hr = S_OK;
  for (size_t i = 1; i < names.size(); ++i) {
    for (size_t p = 0; p < found->params.size(); ++p)
      if (EqualNoCase(Utf8ToUtf16(found->params[p].name), names[i]))
        ids[i] = static_cast<DISPID>(p);
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT Prepare(const std::vector<MemberInfo>& members, DISPID id, uint16_t flags,
                DispParams& params, size_t& index, std::vector<Variant>& inputs, uint32_t* argErr) {
  const bool put = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
  const MemberInfo* chosen = nullptr;
  for (size_t i = 0; i < members.size(); ++i) {
    const auto& m = members[i];
    if (m.id != id) continue;
    bool fits;
    if (put)
      fits = m.kind == MemberKind::PropertyPut;
    else if (m.kind == MemberKind::Method)
      fits = flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET);
    else
      fits =
          m.kind == MemberKind::PropertyGet && (flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET));
    if (fits) {
      chosen = &m;
      index = i;
      break;
    }
  }
  if (!chosen) return DISP_E_MEMBERNOTFOUND;

  // Named arguments: only the value of a property put.
  if (!params.namedArgs.empty()) {
    if (!(put && params.namedArgs.size() == 1 && params.namedArgs[0] == DISPID_PROPERTYPUT))
      return DISP_E_NONAMEDARGS;
  }
  const size_t argc = params.args.size();
  const size_t nIn = chosen->params.size();
  const bool retval = chosen->kind != MemberKind::PropertyPut && chosen->result != VT_EMPTY;
  if (argc != nIn && !(retval && argc == nIn + 1 && params.args[0].IsByRef()))
    return DISP_E_BADPARAMCOUNT;
  inputs.clear();
  inputs.reserve(nIn);
  for (size_t i = 0; i < nIn; ++i) {
    const size_t pos = argc - 1 - i;  // args are stored last first
    try {
      inputs.push_back(params.args[pos].Deref().ChangeType(chosen->params[i].type));
    } catch (const EVariantError& e) {
      if (argErr) *argErr = static_cast<uint32_t>(pos);
      return e.Code;
    }
  }
  return S_OK;
}

HRESULT Call(const MemberInfo& m, const std::function<Variant()>& run, DispParams& params,
             Variant* result, ExcepInfo* excep) {
  auto fail = [&](int32_t code, const std::string& text) {
    if (excep) {
      excep->scode = code;
      excep->source = Utf8ToUtf16(m.name);
      excep->description = Utf8ToUtf16(text);
    }
    return DISP_E_EXCEPTION;
  };
  try {
    Variant r = run();
    if (m.kind == MemberKind::PropertyPut || m.result == VT_EMPTY) return S_OK;
    r = r.ChangeType(m.result);
    if (params.args.size() == m.params.size() + 1) params.args[0].Store(r);
    if (result) *result = std::move(r);
    return S_OK;
  } catch (const EDriverError& e) {
    return fail(e.Code, e.what());
  } catch (const EVariantError& e) {
    return fail(e.Code, e.what());
  } catch (const std::exception& e) {
    return fail(E_FAIL, e.what());
  }
}

}  // namespace dispatch_detail

namespace {

[[noreturn]] void Raise(HRESULT hr, const std::u16string& name, const ExcepInfo& info) {
  std::string text;
  if (hr == DISP_E_EXCEPTION && !info.description.empty()) {
    text = Utf16ToUtf8(info.description);
  } else {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<uint32_t>(hr));
    text = Utf16ToUtf8(name) + ": automation call failed with " + buf;
  }
  throw EDispatchError(hr, text, info);
}

DISPID IdOf(IDispatch& obj, const std::u16string& name) {
  DISPID id;
  const HRESULT hr = GetIDOfName(obj, name, id);
  if (Failed(hr)) Raise(hr, name, {});
  return id;
}

}  // namespace

Variant InvokeById(IDispatch& obj, DISPID id, uint16_t flags, std::vector<Variant> inputs) {
  DispParams p = DispParams::FromNatural(std::move(inputs));
  if (flags & DISPATCH_PROPERTYPUT) p.namedArgs = {DISPID_PROPERTYPUT};
  Variant result;
  ExcepInfo info;
  const HRESULT hr = obj.Invoke(id, flags, p, &result, &info, nullptr);
  if (Failed(hr)) Raise(hr, u"#" + Utf8ToUtf16(std::to_string(id)), info);
  return result;
}

Variant CallMethod(IDispatch& obj, const std::u16string& name, std::vector<Variant> inputs) {
  return InvokeById(obj, IdOf(obj, name), DISPATCH_METHOD, std::move(inputs));
}

Variant GetProperty(IDispatch& obj, const std::u16string& name) {
  return InvokeById(obj, IdOf(obj, name), DISPATCH_PROPERTYGET);
}

void PutProperty(IDispatch& obj, const std::u16string& name, Variant value) {
  InvokeById(obj, IdOf(obj, name), DISPATCH_PROPERTYPUT, {std::move(value)});
}

}  // namespace varn
