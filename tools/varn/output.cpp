// varn's output: the JSON texts (strings, dates, values), the report of
// the steps as lines or one JSON array, and the interface list of
// `varn list`. Values in lines are written as the driver log writes them.
#include "tools/varn/output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>

#include "driver/base/log_file.h"
#include "driver/contract/varn_drv_dispids.h"
#include "platform/text.h"

namespace varn::tool {

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

std::string MemberName(DISPID id) {
  return Utf16ToUtf8(drv_dispid::Name(id));
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

Report::Report(bool json, std::ostream& out, std::ostream& err, bool pipe)
    : m_json(json), m_pipe(pipe), m_out(out), m_err(err) {
  if (m_json && !m_pipe) m_out << '[';
}

Report::~Report() {
  if (m_json && !m_pipe) m_out << (m_first ? "]\n" : "\n]\n");
  m_out.flush();
}

void Report::Line(const std::string& name, const std::string& value) {
  m_out << name << ": " << value << '\n';
}

void Report::Object(const Step& s, const std::string& fields) {
  if (!m_pipe) m_out << (m_first ? "\n" : ",\n");
  m_out << R"({"step":")" << StepWord(s.kind) << R"(","name":)" << JsonString(s.name) << fields
        << '}';
  if (m_pipe) m_out << '\n';
  m_first = false;
}

void Report::Failure(const Step& s, const std::string& error) {
  m_out.flush();  // keeps the order where both streams meet
  m_err << "varn: " << s.name << ": " << error << std::endl;
  if (m_json)
    Object(s, R"(,"error":)" + JsonString(error));
  else if (m_pipe)
    m_out << "varn: " << s.name << ": " << error << '\n';
}

void Report::Malformed(size_t lineNumber, const std::string& error) {
  const std::string text = "line " + std::to_string(lineNumber) + ": " + error;
  m_err << "varn: " << text << std::endl;
  if (m_json)
    m_out << R"({"error":)" << JsonString(text) << R"(,"status":2})" << '\n';
  else
    m_out << "varn: " << text << '\n';
  EndAnswer();
}

void Report::EndAnswer() {
  if (!m_pipe) return;
  if (!m_json) m_out << '\n';
  m_out.flush();
}

void Report::Hint(IDispatch& obj, int32_t code) {
  if (m_hinted) return;
  const std::string line = ReasonHint(obj, code);
  if (line.empty()) return;
  m_hinted = true;
  m_out.flush();
  m_err << line << std::endl;
}

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
  const std::optional<DateParts> d = SplitDate(date);
  if (!d) {
    if (!std::isfinite(date)) return "null";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.15g", date);
    return buf;
  }
  char buf[48];
  int n = std::snprintf(buf, sizeof buf, "\"%.4d-%.2u-%.2u", d->year, d->month, d->day);
  if (d->HasTime())
    n +=
        std::snprintf(buf + n, sizeof buf - n, "T%.2d:%.2d:%.2d", d->hours, d->minutes, d->seconds);
  std::snprintf(buf + n, sizeof buf - n, "\"");
  return buf;
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
          << R"(,"kind":")" << kind << R"(","type":")" << TypeKindName(r.type) << '"';
      if (!r.args.empty()) {
        out << R"(,"arguments":[)";
        for (size_t i = 0; i < r.args.size(); ++i)
          out << (i ? "," : "") << R"({"name":)" << JsonString(r.args[i].name) << R"(,"type":")"
              << TypeKindName(r.args[i].type) << R"("})";
        out << ']';
      }
      out << R"(,"help":)" << JsonString(r.help) << '}';
    } else {
      std::string type = TypeKindName(r.type);
      for (const auto& a : r.args) type += std::string(", ") + a.name + ": " + TypeKindName(a.type);
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

}  // namespace varn::tool
