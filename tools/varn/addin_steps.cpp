#include "tools/varn/addin_steps.h"

#include <cstdio>

#include "driver/host/addin.h"
#include "platform/automation/member_lookup.h"
#include "platform/text.h"

namespace varn::tool {
namespace {

// Ids of the view below: method numbers as they are, property numbers from here.
constexpr DISPID kPropertyBase = 0x10000;

// The adapter as an IDispatch, so that the plain steps' runner runs on it:
// names through FindMethod and FindProp, calls by the adapter's numbers.
class TAddInView : public RefCountedDispatch {
 public:
  TAddInView(IDispatch& obj, ILanguageExtender& lang) : m_obj(&obj), m_lang(lang) {}

  HRESULT GetIDsOfNames(std::span<const std::u16string> names, std::span<DISPID> ids) override {
    if (names.size() != 1 || ids.empty()) return DISP_E_UNKNOWNNAME;
    int32_t n = -1;
    if (m_lang.FindMethod(names[0], n) == S_OK) {
      ids[0] = n;
    } else if (m_lang.FindProp(names[0], n) == S_OK) {
      ids[0] = kPropertyBase + n;
    } else {
      ids[0] = DISPID_UNKNOWN;
      return DISP_E_UNKNOWNNAME;
    }
    return S_OK;
  }

  HRESULT Invoke(DISPID id, uint16_t flags, DispParams& params, Variant* result, ExcepInfo*,
                 uint32_t*) override {
    Variant value;
    HRESULT hr;
    if (id >= kPropertyBase && (flags & DISPATCH_PROPERTYPUT)) {
      if (params.args.size() != 1) return DISP_E_BADPARAMCOUNT;
      return m_lang.SetPropVal(id - kPropertyBase, params.args[0]);
    } else if (id >= kPropertyBase) {
      hr = m_lang.GetPropVal(id - kPropertyBase, value);
    } else {
      hr = m_lang.CallAsFunc(id, value, nullptr);
    }
    if (result) *result = std::move(value);
    return hr;
  }

 private:
  DispatchPtr m_obj;  // the adapter lives while its view does
  ILanguageExtender& m_lang;
};

// The interface's own spelling of a name the adapter gives in upper case,
// so the output reads as the plain steps' does.
std::string Spelling(const std::vector<MemberInfo>* info, const std::u16string& upper) {
  if (info)
    for (const auto& m : *info)
      if (EqualNoCase(Utf8ToUtf16(m.name), upper)) return m.name;
  return Utf16ToUtf8(upper);
}

VARTYPE PutType(const std::vector<MemberInfo>* info, const std::string& name) {
  if (info)
    for (const auto& m : *info)
      if (m.kind == MemberKind::PropertyPut && m.name == name && !m.params.empty())
        return m.params.back().type;
  return VT_VARIANT;  // text, or hex: bytes
}

// The adapter's names of its methods or its properties, both languages,
// spelled as the interface spells them where it can tell.
std::vector<std::string> AdapterNames(ILanguageExtender& lang, const std::vector<MemberInfo>* info,
                                      bool methods) {
  std::vector<std::string> names;
  int32_t count = 0;
  methods ? lang.GetNMethods(count) : lang.GetNProps(count);
  for (int32_t i = 0; i < count; ++i)
    for (int32_t language : {0, 1}) {
      std::u16string name;
      methods ? lang.GetMethodName(i, language, name) : lang.GetPropName(i, language, name);
      if (name.empty()) continue;
      std::string spelled = Spelling(info, name);
      if (info && language == 1)
        for (const auto& m : *info)
          if (EqualNoCase(Utf8ToUtf16(m.help), name)) spelled = m.help;
      names.push_back(std::move(spelled));
    }
  return names;
}

// "unknown name", with the adapter's name nearest to it: of the step's kind
// first, then of the other.
EUsageError UnknownName(ILanguageExtender& lang, const std::vector<MemberInfo>* info,
                        const Step& s) {
  const bool call = s.kind == StepKind::Call;
  std::string near = NearestName(s.name, AdapterNames(lang, info, call));
  if (near.empty()) near = NearestName(s.name, AdapterNames(lang, info, !call));
  return EUsageError("unknown name \"" + s.name + "\"" +
                     (near.empty() ? "" : "; did you mean " + near + "?"));
}

void Resolve(ILanguageExtender& lang, const std::vector<MemberInfo>* info,
             std::vector<Step>& steps) {
  for (Step& s : steps) {
    const std::u16string name = Utf8ToUtf16(s.name);
    int32_t method = -1, prop = -1;
    lang.FindMethod(name, method);
    lang.FindProp(name, prop);
    std::u16string upper;
    if (method >= 0)
      lang.GetMethodName(method, 0, upper);
    else if (prop >= 0)
      lang.GetPropName(prop, 0, upper);
    else
      throw UnknownName(lang, info, s);
    s.name = Spelling(info, upper);

    if (s.kind == StepKind::Call) {
      if (method < 0) throw EUsageError(s.name + " is a property: use get or set");
      if (s.hasText)
        throw EUsageError(s.name + ": the 1C adapter passes no arguments (\"" + s.text +
                          "\" given)");
      s.id = method;
      continue;
    }
    if (prop < 0) throw EUsageError(s.name + " is a method: use call");
    bool allowed = false;
    if (s.kind == StepKind::Set) {
      lang.IsPropWritable(prop, allowed);
      if (!allowed) throw EUsageError(s.name + " is read-only");
      s.value = ParseValue(s.name, s.text, PutType(info, s.name));
    } else {
      lang.IsPropReadable(prop, allowed);
      if (!allowed) throw EUsageError(s.name + " is write-only");
    }
    s.id = kPropertyBase + prop;
  }
}

// Methods, then properties, by the numbers 1C uses.
void PrintAddInList(ILanguageExtender& lang, bool json, std::ostream& out) {
  struct Row {
    const char* kind;
    int32_t number;
    std::string name, alias, access;
  };
  std::vector<Row> rows;
  size_t width = 0;
  int32_t count = 0;
  std::u16string name, alias;
  lang.GetNMethods(count);
  for (int32_t i = 0; i < count; ++i) {
    lang.GetMethodName(i, 0, name);
    lang.GetMethodName(i, 1, alias);
    rows.push_back({"method", i, Utf16ToUtf8(name), Utf16ToUtf8(alias), ""});
  }
  lang.GetNProps(count);
  for (int32_t i = 0; i < count; ++i) {
    bool writable = false;
    lang.GetPropName(i, 0, name);
    lang.GetPropName(i, 1, alias);
    lang.IsPropWritable(i, writable);
    rows.push_back({"property", i, Utf16ToUtf8(name), Utf16ToUtf8(alias),
                    writable ? "read/write" : "read-only"});
  }
  for (const Row& r : rows) width = std::max(width, r.name.size());

  if (json) out << '[';
  bool first = true;
  for (const Row& r : rows) {
    if (json) {
      out << (first ? "\n" : ",\n") << R"({"kind":")" << r.kind << R"(","number":)" << r.number
          << R"(,"name":)" << JsonString(r.name) << R"(,"alias":)" << JsonString(r.alias);
      if (!r.access.empty())
        out << R"(,"writable":)" << (r.access == "read/write" ? "true" : "false");
      out << '}';
    } else {
      char head[32];
      std::snprintf(head, sizeof head, "%-8s %3d  %-10s  ", r.kind, static_cast<int>(r.number),
                    r.access.c_str());
      out << head << r.name << std::string(width - r.name.size() + 2, ' ') << r.alias << '\n';
    }
    first = false;
  }
  if (json) out << (first ? "]\n" : "\n]\n");
}

}  // namespace

int RunAddIn(IDispatch& obj, bool list, std::vector<Step> steps, bool json, std::ostream& out,
             std::ostream& err) {
  auto* init = QueryAddIn<IInitDone>(obj);
  auto* lang = QueryAddIn<ILanguageExtender>(obj);
  if (!init || !lang) {
    err << "varn: the object offers no 1C add-in interfaces" << std::endl;
    return kExitFailed;
  }
  if (init->Init(nullptr) != S_OK) {
    err << "varn: the add-in found no type information to serve" << std::endl;
    return kExitFailed;
  }
  if (list) {
    PrintAddInList(*lang, json, out);
    init->Done();
    return kExitOk;
  }
  const auto* info = dynamic_cast<const ITypeInfoSource*>(&obj);
  Resolve(*lang, info ? &info->TypeInfo() : nullptr, steps);
  const DispatchPtr view = MakeObject<TAddInView>(obj, *lang);
  const int status = RunSteps(*view, steps, json, out, err);
  init->Done();
  return status;
}

}  // namespace varn::tool
