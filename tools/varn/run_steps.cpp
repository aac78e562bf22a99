// Running resolved steps on the object: one automation call per step (and
// the reads of ResultCode and ResultCodeDescription that judge it), every
// step even after a failure, the exit status from what the calls returned;
// the hint where the port server tells why a port failed; the pipe of
// `varn -`, a step a line, each answered before the next is read.
#include <cstdio>
#include <istream>

#include "driver/base/log_file.h"
#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tools/varn/output.h"
#include "tools/varn/steps.h"

namespace varn::tool {
namespace {

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

// A property of the object's own, or `fallback` when it has none.
Variant PropertyOr(IDispatch& obj, const std::u16string& name, Variant fallback) {
  try {
    return GetProperty(obj, name);
  } catch (const std::exception&) {
    return fallback;
  }
}

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

// The next line of `in` into `line`, without its '\n'; false at the end of
// the input. A line longer than kMaxStepLine is read to its end but not
// kept (`tooLong`), so that no input makes the line grow without bound.
bool ReadStepLine(std::istream& in, std::string& line, bool& tooLong) {
  line.clear();
  tooLong = false;
  std::streambuf& buf = *in.rdbuf();
  using Traits = std::streambuf::traits_type;
  for (Traits::int_type c = buf.sbumpc();; c = buf.sbumpc()) {
    if (Traits::eq_int_type(c, Traits::eof())) {
      in.setstate(std::ios::eofbit);
      return !line.empty() || tooLong;
    }
    if (c == '\n') return true;
    if (line.size() < kMaxStepLine)
      line += Traits::to_char_type(c);
    else
      tooLong = true;
  }
}

bool IsComment(const std::string& line) {
  const size_t first = line.find_first_not_of(" \t\r");
  return first == std::string::npos || line[first] == '#';
}

}  // namespace

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

int RunPipe(IDispatch& obj, const std::vector<MemberInfo>& members, std::istream& in, bool json,
            std::ostream& out, std::ostream& err) {
  bool failed = false, nonZero = false;
  Report report(json, out, err, /*pipe=*/true);
  std::string line;
  bool tooLong = false;
  for (size_t number = 1; ReadStepLine(in, line, tooLong); ++number) {
    if (!tooLong && IsComment(line)) continue;
    std::vector<Step> step;
    try {
      if (tooLong) throw EUsageError("longer than " + std::to_string(kMaxStepLine) + " bytes");
      step.push_back(SplitStepLine(line));
      ResolveSteps(step, members);
    } catch (const EUsageError& e) {
      report.Malformed(number, e.what());
      failed = true;
      continue;
    }
    if (!RunStep(obj, step.front(), report, nonZero)) failed = true;
    report.EndAnswer();
  }
  return failed || nonZero ? kExitFailed : kExitOk;
}

}  // namespace varn::tool
