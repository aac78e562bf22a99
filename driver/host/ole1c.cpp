#include "driver/host/ole1c.h"

#include "platform/text.h"

namespace varn {
namespace {

// The text GetInfo reports: the platform version the add-in interfaces are
// written for.
const char16_t* const kAddInVersion = u"2000";
const char16_t* const kExtensionName = u"VarnDrv";

HRESULT FindIn(int32_t found, int32_t& num) {
  num = found;
  return num >= 0 ? S_OK : S_FALSE;
}

HRESULT NameIn(const TMemberEntry* entry, int32_t alias, std::u16string& name) {
  name.clear();
  if (!entry) return S_FALSE;
  name = alias == 0 ? entry->UpperName : entry->UpperRusName;
  return S_OK;
}

}  // namespace

// --- IInitDone -------------------------------------------------------------------

HRESULT Tole1C::Init(IDispatch*) {
  return Entries.Build(TypeInfo()) ? S_OK : S_FALSE;
}

HRESULT Tole1C::Done() {
  return S_OK;
}

HRESULT Tole1C::GetInfo(SafeArray& info) {
  if (info.bounds.empty()) {
    // A host that passed no array gets one of a single element.
    info.bounds = {{0, 0}};
    info.items.assign(1, Variant());
  }
  const ArrayBound& b = info.bounds[0];
  if (info.bounds.size() != 1 || b.low > 0 || b.high < 0 ||
      info.items.size() != static_cast<size_t>(b.Length()))
    return E_INVALIDARG;
  info.items[static_cast<size_t>(-int64_t{b.low})] = Variant(kAddInVersion);
  return S_OK;
}

// --- ILanguageExtender ----------------------------------------------------------------

HRESULT Tole1C::RegisterExtensionAs(std::u16string& extensionName) {
  extensionName = kExtensionName;
  return S_OK;
}

HRESULT Tole1C::GetNProps(int32_t& props) {
  props = static_cast<int32_t>(Entries.Props.size());
  return S_OK;
}

HRESULT Tole1C::FindProp(const std::u16string& propName, int32_t& propNum) {
  return FindIn(Entries.FindProp(propName), propNum);
}

HRESULT Tole1C::GetPropName(int32_t propNum, int32_t propAlias, std::u16string& propName) {
  return NameIn(Entries.Prop(propNum), propAlias, propName);
}

HRESULT Tole1C::GetPropVal(int32_t propNum, Variant& propVal) {
  propVal = Variant();
  const TMemberEntry* prop = Entries.Prop(propNum);
  if (!prop) return S_FALSE;
  DispParams none;
  return Invoke(prop->MemberId, DISPATCH_PROPERTYGET, none, &propVal, nullptr, nullptr);
}

HRESULT Tole1C::SetPropVal(int32_t propNum, const Variant& propVal) {
  const TMemberEntry* prop = Entries.Prop(propNum);
  if (!prop) return S_FALSE;
  DispParams value;
  value.args = {propVal};
  value.namedArgs = {DISPID_PROPERTYPUT};
  return Invoke(prop->MemberId, DISPATCH_PROPERTYPUT, value, nullptr, nullptr, nullptr);
}

HRESULT Tole1C::IsPropReadable(int32_t propNum, bool& propRead) {
  const TMemberEntry* prop = Entries.Prop(propNum);
  propRead = prop && prop->Readable;
  return prop ? S_OK : S_FALSE;
}

HRESULT Tole1C::IsPropWritable(int32_t propNum, bool& propWrite) {
  const TMemberEntry* prop = Entries.Prop(propNum);
  propWrite = prop && prop->Writable;
  return prop ? S_OK : S_FALSE;
}

HRESULT Tole1C::GetNMethods(int32_t& methods) {
  methods = static_cast<int32_t>(Entries.Methods.size());
  return S_OK;
}

HRESULT Tole1C::FindMethod(const std::u16string& methodName, int32_t& methodNum) {
  return FindIn(Entries.FindMethod(methodName), methodNum);
}

HRESULT Tole1C::GetMethodName(int32_t methodNum, int32_t methodAlias, std::u16string& methodName) {
  return NameIn(Entries.Method(methodNum), methodAlias, methodName);
}

HRESULT Tole1C::GetNParams(int32_t methodNum, int32_t& params) {
  params = 0;  // 1C passes no arguments: inputs are properties
  return Entries.Method(methodNum) ? S_OK : S_FALSE;
}

HRESULT Tole1C::GetParamDefValue(int32_t, int32_t, Variant& paramDefValue) {
  paramDefValue = Variant();
  return S_OK;
}

HRESULT Tole1C::HasRetVal(int32_t, bool& retValue) {
  retValue = true;
  return S_OK;
}

HRESULT Tole1C::CallMethodEntry(int32_t methodNum, Variant* retValue) {
  const TMemberEntry* method = Entries.Method(methodNum);
  if (!method) return S_FALSE;
  DispParams none;
  return Invoke(method->MemberId, DISPATCH_METHOD, none, retValue, nullptr, nullptr);
}

HRESULT Tole1C::CallAsProc(int32_t methodNum, SafeArray*) {
  return CallMethodEntry(methodNum, nullptr);
}

HRESULT Tole1C::CallAsFunc(int32_t methodNum, Variant& retValue, SafeArray*) {
  retValue = Variant();
  return CallMethodEntry(methodNum, &retValue);
}

}  // namespace varn
