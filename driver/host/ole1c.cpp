#include "driver/host/ole1c.h"

#include "platform/text.h"

namespace varn {
namespace {

// The text GetInfo reports: the platform version the add-in interfaces are
// written for.
const char16_t* const kAddInVersion = u"2000";
const char16_t* const kExtensionName = u"VarnDrv";

bool InRange(const std::vector<TMemberEntry>& entries, int32_t n) {
  return n >= 0 && static_cast<size_t>(n) < entries.size();
}

TMemberEntry EntryOf(const MemberInfo& m) {
  TMemberEntry e;
  e.MemberId = m.id;
  e.Name = Utf8ToUtf16(m.name);
  e.RusName = Utf8ToUtf16(m.help);
  e.UpperName = UpperCase(e.Name);
  e.UpperRusName = UpperCase(e.RusName);
  return e;
}

// The first entry called `name` in either language, ignoring case; -1.
// A member without a Russian name is not found by an empty one.
int32_t Find(const std::vector<TMemberEntry>& entries, const std::u16string& name) {
  if (name.empty()) return -1;
  const std::u16string upper = UpperCase(name);
  for (size_t i = 0; i < entries.size(); ++i)
    if (entries[i].UpperName == upper || entries[i].UpperRusName == upper)
      return static_cast<int32_t>(i);
  return -1;
}

HRESULT FindIn(const std::vector<TMemberEntry>& entries, const std::u16string& name, int32_t& num) {
  num = Find(entries, name);
  return num >= 0 ? S_OK : S_FALSE;
}

HRESULT NameIn(const std::vector<TMemberEntry>& entries, int32_t n, int32_t alias,
               std::u16string& name) {
  name.clear();
  if (!InRange(entries, n)) return S_FALSE;
  name = alias == 0 ? entries[n].UpperName : entries[n].UpperRusName;
  return S_OK;
}

MemberInfo BaseMember(DISPID id, const char* name) {
  return {id, name, MemberKind::Method, {}, VT_EMPTY, ""};
}

}  // namespace

std::vector<MemberInfo> DualInterfaceTypeInfo(const std::vector<MemberInfo>& own) {
  std::vector<MemberInfo> info = {
      BaseMember(0x60000000, "QueryInterface"), BaseMember(0x60000001, "AddRef"),
      BaseMember(0x60000002, "Release"),        BaseMember(0x60010000, "GetTypeInfoCount"),
      BaseMember(0x60010001, "GetTypeInfo"),    BaseMember(0x60010002, "GetIDsOfNames"),
      BaseMember(0x60010003, "Invoke"),
  };
  info.insert(info.end(), own.begin(), own.end());
  return info;
}

HRESULT Tole1C::BuildEntries(const std::vector<MemberInfo>& info) {
  Methods.clear();
  Props.clear();
  if (info.empty()) return S_FALSE;
  Methods.reserve(info.size());
  Props.reserve(info.size());
  for (const MemberInfo& m : info) {
    switch (m.kind) {
      case MemberKind::Method:
        Methods.push_back(EntryOf(m));
        break;
      case MemberKind::PropertyGet:
        Props.push_back(EntryOf(m));
        break;
      case MemberKind::PropertyPut:
        // Its get came before it: a put listed first marks nothing.
        for (auto it = Props.rbegin(); it != Props.rend(); ++it) {
          if (it->MemberId == m.id) {
            it->Writable = true;
            break;
          }
        }
        break;
    }
  }
  Methods.shrink_to_fit();
  Props.shrink_to_fit();
  return S_OK;
}

// --- IInitDone -------------------------------------------------------------------

HRESULT Tole1C::Init(IDispatch*) {
  const std::vector<MemberInfo>& own = TypeInfo();
  return BuildEntries(own.empty() ? own : DualInterfaceTypeInfo(own));
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
  props = static_cast<int32_t>(Props.size());
  return S_OK;
}

HRESULT Tole1C::FindProp(const std::u16string& propName, int32_t& propNum) {
  return FindIn(Props, propName, propNum);
}

HRESULT Tole1C::GetPropName(int32_t propNum, int32_t propAlias, std::u16string& propName) {
  return NameIn(Props, propNum, propAlias, propName);
}

HRESULT Tole1C::GetPropVal(int32_t propNum, Variant& propVal) {
  propVal = Variant();
  if (!InRange(Props, propNum)) return S_FALSE;
  DispParams none;
  return Invoke(Props[propNum].MemberId, DISPATCH_PROPERTYGET, none, &propVal, nullptr, nullptr);
}

HRESULT Tole1C::SetPropVal(int32_t propNum, const Variant& propVal) {
  if (!InRange(Props, propNum)) return S_FALSE;
  DispParams value;
  value.args = {propVal};
  value.namedArgs = {DISPID_PROPERTYPUT};
  return Invoke(Props[propNum].MemberId, DISPATCH_PROPERTYPUT, value, nullptr, nullptr, nullptr);
}

HRESULT Tole1C::IsPropReadable(int32_t propNum, bool& propRead) {
  propRead = InRange(Props, propNum) && Props[propNum].Readable;
  return InRange(Props, propNum) ? S_OK : S_FALSE;
}

HRESULT Tole1C::IsPropWritable(int32_t propNum, bool& propWrite) {
  propWrite = InRange(Props, propNum) && Props[propNum].Writable;
  return InRange(Props, propNum) ? S_OK : S_FALSE;
}

HRESULT Tole1C::GetNMethods(int32_t& methods) {
  methods = static_cast<int32_t>(Methods.size());
  return S_OK;
}

HRESULT Tole1C::FindMethod(const std::u16string& methodName, int32_t& methodNum) {
  return FindIn(Methods, methodName, methodNum);
}

HRESULT Tole1C::GetMethodName(int32_t methodNum, int32_t methodAlias, std::u16string& methodName) {
  return NameIn(Methods, methodNum, methodAlias, methodName);
}

HRESULT Tole1C::GetNParams(int32_t methodNum, int32_t& params) {
  params = 0;  // 1C passes no arguments: inputs are properties
  return InRange(Methods, methodNum) ? S_OK : S_FALSE;
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
  if (!InRange(Methods, methodNum)) return S_FALSE;
  DispParams none;
  return Invoke(Methods[methodNum].MemberId, DISPATCH_METHOD, none, retValue, nullptr, nullptr);
}

HRESULT Tole1C::CallAsProc(int32_t methodNum, SafeArray*) {
  return CallMethodEntry(methodNum, nullptr);
}

HRESULT Tole1C::CallAsFunc(int32_t methodNum, Variant& retValue, SafeArray*) {
  retValue = Variant();
  return CallMethodEntry(methodNum, &retValue);
}

}  // namespace varn
