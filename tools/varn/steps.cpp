#include "tools/varn/steps.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>

#include "driver/base/log_file.h"
#include "platform/automation/member_lookup.h"
#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tools/varn/addin_steps.h"
#include "tools/varn/search_command.h"
#include "tools/varn/tables_command.h"

#ifndef VARN_VERSION
#error "the build passes the project's version as VARN_VERSION"
#endif

namespace varn::tool {
namespace {

const char* const kUsage = R"(usage: varn [--json] STEP...
       varn [--json] list
       varn [--json] tables [--refresh]
       varn [--json] --1c STEP... | list
       varn [--json] search [--use]
       varn properties
       varn [--json] --version
       varn --help

Creates one driver object (VarnDrv.VarnDrv) and runs the steps on it, in order:
  set NAME=VALUE     sets a property; prints nothing
  get NAME           prints "NAME: value"
  call METHOD [ARG]  calls a method (ARG only for LoadBitmap and LoadBitmapEx)
                     and prints "METHOD: value", "ResultCode: n" and
                     "ResultCodeDescription: text"
  list               prints the interface: DISPID, name, kind, type, help string
  tables [--refresh] reads every table of the device and prints its values
                     (the descriptions come from this firmware's cache unless
                     --refresh), with a progress line on stderr; Ctrl+C stops
                     it with ResultCode -30

Names are the interface's, in any case; the Russian help string is accepted
too; a name that is not there gets the nearest one offered ("did you mean
PrintString?"). Values: text as it is, "hex:02 01 FC FD" for bytes, booleans
1/0/true/false, integers in decimal. A word after a call's method is its
argument unless it is a step word (write ./get for a file called get).
Dates print as dd.mm.yyyy (with hh:mm:ss when there is a time of day).

  --json     one JSON array instead of lines, an object per step; dates in
             ISO 8601 ("2023-06-14", "2023-06-14T06:30:00"). A mistake in the
             command line, or a driver that cannot be made, prints one object
             instead: {"error":"...","status":2} (or 1)
  --1c       runs the steps as 1C:Enterprise does, through the driver's add-in
             interfaces (names found by FindMethod/FindProp, calls by number;
             methods take no argument); list shows the add-in's numbering
  --version  prints "varn VERSION" and the driver's "VarnDrv VERSION" (with
             --json {"varn":"...","driver":"..."}, null for a driver not found)

search finds on which port (COM1..COM32) and at which baud rate a device
answers, showing the rows live on a terminal, and prints one line per device
found: port, baud rate, description. The driver's settings stay as they
were, unless --use makes the first device found the driver's port and rate.
Ctrl+C stops the search after the exchange under way.

properties opens the driver's settings window (ShowProperties) on a desktop;
without a display or without the window library it tells why and ends with 1.

Exit status: 0 when every call returned 0 and no step failed; 1 when a call
returned non-zero or a step failed (every step still runs); 2 for a mistake
in the command line (then nothing runs). Failures are told on stderr.
GetFreeLDNumber returns a number, not a result, and never fails.
search: 0 when a device was found, 1 when none was or it was stopped.

After a call returns -2 or -3 (the port could not be opened) or -4 (no answer
from the device), one line on stderr tells where the port server wrote why
($VARN_LOG_DIR/VarnSrv.err, default ~/.local/state/varn/VarnSrv.err), for -4
with the advice to try varn search.
)";

bool IsStepWord(const std::string& w) {
  return w == "set" || w == "get" || w == "call";
}

MemberKind KindOf(StepKind k) {
  switch (k) {
    case StepKind::Set:
      return MemberKind::PropertyPut;
    case StepKind::Get:
      return MemberKind::PropertyGet;
    default:
      return MemberKind::Method;
  }
}

const MemberInfo& Find(const std::vector<MemberInfo>& members, const std::string& name,
                       StepKind step) {
  try {
    return FindMember(members, name, KindOf(step));
  } catch (const EMemberLookup& e) {
    throw EUsageError(e.what());
  }
}

std::string Hex32(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<uint32_t>(hr));
  return buf;
}

// One automation call; false with the failure's text.
bool Invoke(IDispatch& obj, DISPID id, uint16_t flags, std::vector<Variant> inputs, Variant& result,
            std::string& error) {
  try {
    DispParams params = DispParams::FromNatural(std::move(inputs));
    if (flags & DISPATCH_PROPERTYPUT) params.namedArgs = {DISPID_PROPERTYPUT};
    ExcepInfo info;
    const HRESULT hr = obj.Invoke(id, flags, params, &result, &info, nullptr);
    if (Succeeded(hr)) return true;
    error = hr == DISP_E_EXCEPTION && !info.description.empty()
                ? Utf16ToUtf8(info.description)
                : "automation call failed with " + Hex32(hr);
  } catch (const std::exception& e) {
    error = e.what();
  }
  return false;
}

std::string JsonValue(const Variant& value) {
  const Variant& v = value.Deref();
  switch (v.Type()) {
    case VT_BOOL:
      return v.RawInt() ? "true" : "false";
    case VT_I2:
    case VT_I4:
    case VT_UI1:
    case VT_ERROR:
    case VT_CY:
      return LogValueText(v);
    case VT_R4:
    case VT_R8:
      return std::isfinite(v.RawReal()) ? LogValueText(v) : "null";
    case VT_DATE:
      return JsonDate(v.RawReal());
    case VT_BSTR:
      return JsonString(LogValueText(v));
    default:
      return "null";
  }
}

// A property of the object's own, or `fallback` when it has none.
Variant PropertyOr(IDispatch& obj, const std::u16string& name, Variant fallback) {
  try {
    return GetProperty(obj, name);
  } catch (const std::exception&) {
    return fallback;
  }
}

const char* StepWord(StepKind k) {
  switch (k) {
    case StepKind::Set:
      return "set";
    case StepKind::Get:
      return "get";
    default:
      return "call";
  }
}

// Where the results go: lines, or the objects of one JSON array.
class Report {
 public:
  Report(bool json, std::ostream& out, std::ostream& err) : m_json(json), m_out(out), m_err(err) {
    if (m_json) m_out << '[';
  }
  ~Report() {
    if (m_json) m_out << (m_first ? "]\n" : "\n]\n");
    m_out.flush();
  }
  bool Json() const { return m_json; }
  void Line(const std::string& name, const std::string& value) {
    m_out << name << ": " << value << '\n';
  }
  // `fields`: the members after "step" and "name", each starting with a comma.
  void Object(const Step& s, const std::string& fields) {
    m_out << (m_first ? "\n" : ",\n") << R"({"step":")" << StepWord(s.kind) << R"(","name":)"
          << JsonString(s.name) << fields << '}';
    m_first = false;
  }
  void Failure(const Step& s, const std::string& error) {
    m_out.flush();  // keeps the order where both streams meet
    m_err << "varn: " << s.name << ": " << error << std::endl;
    if (m_json) Object(s, R"(,"error":)" + JsonString(error));
  }
  // Where the port server tells why, once a run: every later call on the
  // same port fails for the same reason.
  void Hint(IDispatch& obj, int32_t code) {
    if (m_hinted) return;
    const std::string line = ReasonHint(obj, code);
    if (line.empty()) return;
    m_hinted = true;
    m_out.flush();
    m_err << line << std::endl;
  }

 private:
  bool m_json;
  std::ostream& m_out;
  std::ostream& m_err;
  bool m_first = true;
  bool m_hinted = false;
};

// False when the step failed; `nonZero` set when a call returned non-zero.
bool RunStep(IDispatch& obj, const Step& s, Report& report, bool& nonZero) {
  Variant value;
  std::string error;
  switch (s.kind) {
    case StepKind::Set: {
      // A setter that saves (ComNumber, BaudRate) says in ResultCode when
      // the save failed: a code that the set itself brought is its failure.
      DISPID codeId, textId;
      const bool hasOutcome = Succeeded(GetIDOfName(obj, u"ResultCode", codeId)) &&
                              Succeeded(GetIDOfName(obj, u"ResultCodeDescription", textId));
      Variant before, after, text;
      std::string ignored;
      if (hasOutcome) Invoke(obj, codeId, DISPATCH_PROPERTYGET, {}, before, ignored);
      if (!Invoke(obj, s.id, DISPATCH_PROPERTYPUT, {s.value}, value, error)) break;
      if (hasOutcome && Invoke(obj, codeId, DISPATCH_PROPERTYGET, {}, after, ignored)) {
        try {
          const int32_t code = after.ToInt32();
          if (code != 0 && (before.IsEmpty() || before.ToInt32() != code) &&
              Invoke(obj, textId, DISPATCH_PROPERTYGET, {}, text, ignored)) {
            error = "ResultCode " + std::to_string(code) + ": " + LogValueText(text);
            break;
          }
        } catch (const EVariantError&) {
          // No number: no outcome to judge the set by.
        }
      }
      if (report.Json()) report.Object(s, "");
      return true;
    }
    case StepKind::Get:
      if (!Invoke(obj, s.id, DISPATCH_PROPERTYGET, {}, value, error)) break;
      if (report.Json())
        report.Object(s, R"(,"value":)" + JsonValue(value));
      else
        report.Line(s.name, LogValueText(value));
      return true;
    case StepKind::Call: {
      std::vector<Variant> inputs;
      if (s.hasText) inputs.push_back(s.value);
      if (!Invoke(obj, s.id, DISPATCH_METHOD, std::move(inputs), value, error)) break;
      // The outcome the driver keeps; an object without it reports the value alone.
      Variant code, text;
      DISPID codeId, textId;
      const bool hasOutcome = Succeeded(GetIDOfName(obj, u"ResultCode", codeId)) &&
                              Succeeded(GetIDOfName(obj, u"ResultCodeDescription", textId));
      if (hasOutcome && (!Invoke(obj, codeId, DISPATCH_PROPERTYGET, {}, code, error) ||
                         !Invoke(obj, textId, DISPATCH_PROPERTYGET, {}, text, error)))
        break;
      try {
        // GetFreeLDNumber's value is a number, not a result: it never fails.
        if (s.name != "GetFreeLDNumber")
          nonZero = nonZero || (!value.Deref().IsEmpty() && value.ToDouble() != 0);
      } catch (const EVariantError&) {
        nonZero = true;  // a value that is no number is no success either
      }
      if (report.Json()) {
        std::string fields = R"(,"value":)" + JsonValue(value);
        if (hasOutcome)
          fields += R"(,"ResultCode":)" + JsonValue(code) + R"(,"ResultCodeDescription":)" +
                    JsonValue(text);
        report.Object(s, fields);
      } else {
        report.Line(s.name, LogValueText(value));
        if (hasOutcome) {
          report.Line("ResultCode", LogValueText(code));
          report.Line("ResultCodeDescription", LogValueText(text));
        }
      }
      try {
        const Variant& outcome = hasOutcome ? code : value;
        if (!outcome.Deref().IsEmpty()) report.Hint(obj, outcome.ToInt32());
      } catch (const EVariantError&) {
        // no number, no port failure to point at
      }
      return true;
    }
  }
  report.Failure(s, error);
  return false;
}

std::string TypeName(VARTYPE vt) {
  switch (vt) {
    case VT_I2:
    case VT_I4:
    case VT_UI1:
      return "integer";
    case VT_BSTR:
      return "text";
    case VT_BOOL:
      return "boolean";
    case VT_R4:
    case VT_R8:
      return "double";
    case VT_DATE:
      return "date";
    case VT_CY:
      return "currency";
    case VT_VARIANT:
      return "any";
    case VT_EMPTY:
      return "none";
    default:
      return VarTypeName(vt);
  }
}

}  // namespace

std::string JsonString(std::string_view text) {
  const std::string valid = Utf16ToUtf8(Utf8ToUtf16(text));  // bad sequences become U+FFFD
  std::string r = "\"";
  for (const char ch : valid) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        r += "\\\"";
        break;
      case '\\':
        r += "\\\\";
        break;
      case '\n':
        r += "\\n";
        break;
      case '\r':
        r += "\\r";
        break;
      case '\t':
        r += "\\t";
        break;
      case '\b':
        r += "\\b";
        break;
      case '\f':
        r += "\\f";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          r += buf;
        } else {
          r += ch;
        }
    }
  }
  return r + '"';
}

std::string JsonDate(double date) {
  // The driver log's bounds and rounding, so both forms name the same moment.
  if (!(date >= -657434.0 && date < 2958466.0)) {
    if (!std::isfinite(date)) return "null";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.15g", date);
    return buf;
  }
  // Days from 30.12.1899; the fraction is the time of day, also before that date.
  auto days = static_cast<int64_t>(date);
  int64_t seconds = std::llround(std::fabs(date - static_cast<double>(days)) * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    ++days;
  }
  using namespace std::chrono;
  const year_month_day ymd{sys_days{1899y / December / 30} + std::chrono::days{days}};
  char buf[48];
  int n = std::snprintf(buf, sizeof buf, "\"%.4d-%.2u-%.2u", static_cast<int>(ymd.year()),
                        static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
  if (seconds != 0)
    n += std::snprintf(buf + n, sizeof buf - n, "T%.2d:%.2d:%.2d", static_cast<int>(seconds / 3600),
                       static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  std::snprintf(buf + n, sizeof buf - n, "\"");
  return buf;
}

std::string ReasonHint(IDispatch& obj, int32_t code) {
  if (code != rc::kPortUnavailable && code != rc::kPortBusy && code != rc::kNoLink) return {};
  std::string line = "varn: the port server tells why in ";
  // Another computer's server keeps them in its own log folder.
  const int32_t type = PropertyOr(obj, u"ConnectionType", Variant(0)).ToInt32();
  if (type == 0) {
    line += LogDirectory() + "/VarnSrv.err";
  } else {
    const bool byAddress = type == 1 && PropertyOr(obj, u"UseIPAddress", Variant(false)).ToBool();
    const std::string host = Utf16ToUtf8(
        PropertyOr(obj, byAddress ? u"IPAddress" : u"ComputerName", Variant(u"")).ToString());
    line += "VarnSrv.err in the log folder of " + (host.empty() ? "the server's computer" : host);
  }
  if (code == rc::kNoLink)
    line += "; varn search finds on which port and at which baud rate a device answers";
  return line;
}

std::vector<Step> SplitSteps(std::span<const std::string> words) {
  std::vector<Step> steps;
  for (size_t i = 0; i < words.size();) {
    const std::string& word = words[i++];
    Step s;
    if (word == "set") {
      if (i >= words.size()) throw EUsageError("set: missing NAME=VALUE");
      const std::string& assignment = words[i++];
      const size_t eq = assignment.find('=');
      if (eq == std::string::npos || eq == 0)
        throw EUsageError("set " + assignment + ": expected NAME=VALUE");
      s.kind = StepKind::Set;
      s.name = assignment.substr(0, eq);
      s.text = assignment.substr(eq + 1);
    } else if (word == "get" || word == "call") {
      if (i >= words.size())
        throw EUsageError(word + ": missing " + (word == "get" ? "NAME" : "METHOD"));
      s.kind = word == "get" ? StepKind::Get : StepKind::Call;
      s.name = words[i++];
      if (s.kind == StepKind::Call && i < words.size() && !IsStepWord(words[i])) {
        s.text = words[i++];
        s.hasText = true;
      }
    } else if (word.starts_with("-")) {
      throw EUsageError("\"" + word + "\" is an option: options go before the steps");
    } else {
      static const std::vector<std::string> kWords{"set", "get", "call"};
      throw EUsageError("unknown step \"" + word + "\"" + NameSuggestion(word, kWords) +
                        " (steps: set NAME=VALUE, get NAME, call METHOD [ARG])");
    }
    steps.push_back(std::move(s));
  }
  return steps;
}

Variant ParseValue(const std::string& name, const std::string& text, VARTYPE type) {
  const auto notA = [&](const std::string& what) {
    return EUsageError(name + ": \"" + text + "\" is not " + what);
  };
  switch (type) {
    case VT_BSTR:
    case VT_VARIANT: {
      if (text.rfind("hex:", 0) != 0) return Variant(Utf8ToUtf16(text));
      std::string bytes;
      if (!ParseHexBytes(std::string_view(text).substr(4), HexSeparators::Blanks, bytes))
        throw notA("a byte string (hex:02 01 FC FD)");
      return Variant(Cp1251ToUtf16(bytes));
    }
    case VT_BOOL: {
      if (text == "1" || EqualNoCase(text, "true")) return Variant(true);
      if (text == "0" || EqualNoCase(text, "false")) return Variant(false);
      throw notA("a boolean (1, 0, true or false)");
    }
    case VT_I2:
    case VT_I4:
    case VT_UI1: {
      const char* first = text.data() + (text.starts_with('+') ? 1 : 0);
      const char* last = text.data() + text.size();
      int64_t n = 0;
      const auto [end, ec] = std::from_chars(first, last, n);
      if (ec == std::errc::invalid_argument || end != last || first == last)
        throw notA("an integer");
      const bool fits = type == VT_I4   ? n >= INT32_MIN && n <= INT32_MAX
                        : type == VT_I2 ? n >= INT16_MIN && n <= INT16_MAX
                                        : n >= 0 && n <= 255;
      if (ec == std::errc::result_out_of_range || !fits)
        throw EUsageError(name + ": " + text + " is out of range for " + TypeName(type) + " " +
                          VarTypeName(type));
      if (type == VT_I2) return Variant::I2(static_cast<int16_t>(n));
      if (type == VT_UI1) return Variant::UI1(static_cast<uint8_t>(n));
      return Variant(static_cast<int32_t>(n));
    }
    case VT_R4:
    case VT_R8: {
      double d = 0;
      const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
      if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(d))
        throw notA("a number (with a decimal point)");
      return type == VT_R4 ? Variant::R4(static_cast<float>(d)) : Variant(d);
    }
    default:
      throw EUsageError(name + ": values of type " + TypeName(type) + " cannot be given");
  }
}

void ResolveSteps(std::vector<Step>& steps, const std::vector<MemberInfo>& members) {
  for (Step& s : steps) {
    const MemberInfo& m = Find(members, s.name, s.kind);
    s.name = m.name;
    s.id = m.id;
    switch (s.kind) {
      case StepKind::Set:
        s.value = ParseValue(m.name, s.text,
                             m.params.empty() ? VARTYPE{VT_VARIANT} : m.params.back().type);
        break;
      case StepKind::Get:
        if (!m.params.empty()) throw EUsageError(m.name + " needs arguments to be read");
        break;
      case StepKind::Call:
        if (m.params.size() > 1) throw EUsageError(m.name + " takes more than one argument");
        if (m.params.size() == 1 && !s.hasText)
          throw EUsageError(m.name + ": missing argument " + m.params[0].name);
        if (m.params.empty() && s.hasText)
          throw EUsageError(m.name + " takes no argument (\"" + s.text + "\" given)");
        if (s.hasText) s.value = ParseValue(m.name, s.text, m.params[0].type);
        break;
    }
  }
}

int RunSteps(IDispatch& obj, const std::vector<Step>& steps, bool json, std::ostream& out,
             std::ostream& err) {
  bool failed = false, nonZero = false;
  {
    Report report(json, out, err);
    for (const Step& s : steps)
      if (!RunStep(obj, s, report, nonZero)) failed = true;
  }
  return failed || nonZero ? kExitFailed : kExitOk;
}

void PrintMemberList(const std::vector<MemberInfo>& members, bool json, std::ostream& out) {
  struct Row {
    std::string name, help;
    bool get = false, put = false, method = false;
    VARTYPE type = VT_EMPTY;
    std::vector<ParamInfo> args;
  };
  std::map<DISPID, Row> rows;
  size_t width = 0;
  for (const auto& m : members) {
    Row& r = rows[m.id];
    if (r.name.empty()) r.name = m.name;
    if (r.help.empty()) r.help = m.help;
    width = std::max(width, r.name.size());
    switch (m.kind) {
      case MemberKind::Method:
        r.method = true;
        r.type = m.result;
        r.args = m.params;
        break;
      case MemberKind::PropertyGet:
        r.get = true;
        r.type = m.result;
        break;
      case MemberKind::PropertyPut:
        r.put = true;
        if (!r.get && !m.params.empty()) r.type = m.params.back().type;
        break;
    }
  }
  if (json) out << '[';
  bool first = true;
  for (const auto& [id, r] : rows) {
    const std::string kind = r.method         ? "method"
                             : r.get && r.put ? "read/write"
                             : r.get          ? "read-only"
                                              : "write-only";
    if (json) {
      out << (first ? "\n" : ",\n") << R"({"dispid":)" << id << R"(,"name":)" << JsonString(r.name)
          << R"(,"kind":")" << kind << R"(","type":")" << TypeName(r.type) << '"';
      if (!r.args.empty()) {
        out << R"(,"arguments":[)";
        for (size_t i = 0; i < r.args.size(); ++i)
          out << (i ? "," : "") << R"({"name":)" << JsonString(r.args[i].name) << R"(,"type":")"
              << TypeName(r.args[i].type) << R"("})";
        out << ']';
      }
      out << R"(,"help":)" << JsonString(r.help) << '}';
    } else {
      std::string type = TypeName(r.type);
      for (const auto& a : r.args) type += std::string(", ") + a.name + ": " + TypeName(a.type);
      char head[16];
      std::snprintf(head, sizeof head, "%4d  ", static_cast<int>(id));
      out << head << r.name << std::string(width - r.name.size() + 2, ' ') << kind
          << std::string(12 - kind.size(), ' ') << type
          << std::string(type.size() < 8 ? 10 - type.size() : 2, ' ') << r.help << '\n';
    }
    first = false;
  }
  if (json) out << (first ? "]\n" : "\n]\n");
}

int RunCommandLine(std::span<const std::string> args, const std::function<DispatchPtr()>& create,
                   std::ostream& out, std::ostream& err) {
  // A script that asked for JSON parses what comes out even when the line
  // is wrong, also with --json in the wrong place.
  const bool wantsJson = std::ranges::find(args, std::string("--json")) != args.end();
  const auto failed = [&](const std::string& message, int status) {
    if (wantsJson)
      out << R"({"error":)" << JsonString(message) << R"(,"status":)" << status << "}\n"
          << std::flush;
    err << "varn: " << message;
    if (status == kExitUsage) err << "\n(varn --help shows the usage)";
    err << std::endl;
    return status;
  };
  const auto usage = [&](const std::string& message) { return failed(message, kExitUsage); };
  static const std::vector<std::string> kOptions{"--json", "--1c", "--help", "--version"};
  bool json = false, addIn = false, version = false;
  size_t i = 0;
  for (; i < args.size() && args[i].starts_with("-"); ++i) {
    if (args[i] == "--json") {
      json = true;
    } else if (args[i] == "--1c") {
      addIn = true;
    } else if (args[i] == "--help" || args[i] == "-h") {
      out << kUsage;
      return kExitOk;
    } else if (args[i] == "--version") {
      version = true;
    } else {
      return usage("unknown option \"" + args[i] + "\"" + NameSuggestion(args[i], kOptions));
    }
  }
  if (version) {
    if (i < args.size()) return usage("--version takes nothing beside it");
    // The driver's own version too: the two are installed apart.
    std::string driver;
    try {
      if (DispatchPtr drv = create())
        driver = Utf16ToUtf8(GetProperty(*drv, u"FileVersion").ToString());
    } catch (const std::exception& e) {
      err << "varn: the driver's version: " << e.what() << std::endl;
    }
    if (json)
      out << R"({"varn":")" VARN_VERSION R"(","driver":)"
          << (driver.empty() ? "null" : JsonString(driver)) << "}\n";
    else
      out << "varn " VARN_VERSION "\n" << (driver.empty() ? "" : "VarnDrv " + driver + "\n");
    return kExitOk;
  }
  const auto words = args.subspan(i);
  if (words.empty()) return usage("no steps");
  if (words[0] == "tables") {
    try {
      return RunTablesCommand(words.subspan(1), create, json, out, err);
    } catch (const EUsageError& e) {
      return usage(e.what());
    }
  }
  if (words[0] == "search") {
    if (addIn) return usage("--1c does not apply to search");
    try {
      return RunSearch(words.subspan(1), create, json, out, err);
    } catch (const EUsageError& e) {
      return usage(e.what());
    }
  }
  if (words[0] == "properties") {
    // The driver's settings window, on a desktop: its result line only.
    if (words.size() > 1 || addIn || json) return usage("properties takes nothing beside it");
    try {
      DispatchPtr drv = create();
      const int32_t code = CallMethod(*drv, u"ShowProperties").ToInt32();
      if (code != 0)
        err << "varn: " << code << ": "
            << Utf16ToUtf8(GetProperty(*drv, u"ResultCodeDescription").ToString()) << std::endl;
      return code == 0 ? kExitOk : kExitFailed;
    } catch (const std::exception& e) {
      err << "varn: " << e.what() << std::endl;
      return kExitFailed;
    }
  }
  const bool list = words[0] == "list";
  if (list && words.size() > 1) return usage("list takes no steps beside it");
  std::vector<Step> steps;
  try {
    if (!list) steps = SplitSteps(words);
  } catch (const EUsageError& e) {
    return usage(e.what());
  }

  DispatchPtr obj;
  try {
    obj = create();
  } catch (const std::exception& e) {
    return failed(e.what(), kExitFailed);
  }
  if (addIn && obj) {
    try {
      return RunAddIn(*obj, list, std::move(steps), json, out, err);
    } catch (const EUsageError& e) {
      return usage(e.what());
    }
  }
  const auto* info = obj ? dynamic_cast<const ITypeInfoSource*>(obj.get()) : nullptr;
  if (!info) return failed("the object gives no type information", kExitFailed);
  if (list) {
    PrintMemberList(info->TypeInfo(), json, out);
    return kExitOk;
  }
  try {
    ResolveSteps(steps, info->TypeInfo());
  } catch (const EUsageError& e) {
    return usage(e.what());
  }
  return RunSteps(*obj, steps, json, out, err);
}

}  // namespace varn::tool
