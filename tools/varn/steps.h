// The `varn` command line as a library: steps parsed from words, checked
// against an automation object's type information, and run on it, with the
// output lines, the JSON form and the exit statuses of the contract. It works
// on any object that offers ITypeInfoSource; the program hands it the driver.
//
//   std::vector<Step> steps = SplitSteps({"set", "ComNumber=3", "call", "Beep"});
//   ResolveSteps(steps, members);            // EUsageError: exit status 2
//   int status = RunSteps(*obj, steps, false, std::cout, std::cerr);
//
//   // or the whole program:
//   return RunCommandLine(args, [] { return CreateObject(u"VarnDrv.VarnDrv"); },
//                         std::cout, std::cerr);
#pragma once

#include <functional>
#include <istream>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/automation/dispatch.h"

namespace varn::tool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a call returned non-zero or a step failed
inline constexpr int kExitUsage = 2;   // nothing ran

// A mistake in the command line, found before any step runs.
class EUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class StepKind { Set, Get, Call };

struct Step {
  StepKind kind = StepKind::Get;
  std::string name;      // as typed; after ResolveSteps as the interface spells it
  std::string text;      // set: the value; call: the argument
  bool hasText = false;  // a call's argument was given
  DISPID id = DISPID_UNKNOWN;
  Variant value;  // the parsed value or argument (after ResolveSteps)
};

// Syntax alone: "set NAME=VALUE", "get NAME", "call METHOD [ARG]", where the
// word after a call's method is its argument unless it is a step word.
std::vector<Step> SplitSteps(std::span<const std::string> words);

// One line of `varn -` in the same syntax: "set NAME=VALUE" (the value is
// the rest of the line as it is, blanks included), "get NAME", "call METHOD
// [ARG]" (the argument is the rest of the line after the method, without
// the blanks around it, so a step word or a blank is no end of it). A
// carriage return at the end is dropped. EUsageError when it is malformed.
Step SplitStepLine(std::string_view line);

// Finds each name (case-insensitive; the Russian help string too) among the
// members of its kind, and parses each value for its type: text as it is
// ("hex:02 01 FC" gives one character per byte through cp1251), booleans
// 1/0/true/false, integers in decimal, reals with a decimal point.
void ResolveSteps(std::vector<Step>& steps, const std::vector<MemberInfo>& members);

// A value parsed for `type`; EUsageError naming `name` when it does not parse.
Variant ParseValue(const std::string& name, const std::string& text, VARTYPE type);

// Runs every step in order, even after a failure. Lines ("NAME: value") or
// one JSON array go to `out`, failures ("varn: NAME: message") to `err`.
// kExitOk, or kExitFailed when a call returned non-zero or a step failed.
int RunSteps(IDispatch& obj, const std::vector<Step>& steps, bool json, std::ostream& out,
             std::ostream& err);

// `varn -`: steps from `in`, one a line (SplitStepLine), each resolved and
// run on `obj` as it arrives and answered on `out` at once (flushed): its
// lines and one empty line, or with `json` its one JSON object on a line.
// Blank lines and lines starting with '#' are skipped. A malformed line
// (or one longer than kMaxStepLine) is answered with its error (also on
// `err`) and the pipe goes on. Ends at the end of `in`: kExitOk, or
// kExitFailed when a call returned non-zero, a step failed or a line was
// malformed.
inline constexpr size_t kMaxStepLine = 64 * 1024;
int RunPipe(IDispatch& obj, const std::vector<MemberInfo>& members, std::istream& in, bool json,
            std::ostream& out, std::ostream& err);

// One line per DISPID: DISPID, name, kind, type, help string (or JSON).
void PrintMemberList(const std::vector<MemberInfo>& members, bool json, std::ostream& out);

// The whole program: options, "list", "--help", the usage checks (all before
// any step runs; the object is made only when the syntax is right), then
// the steps. Returns the exit status.
// `varn -` reads its steps from `in` (the other form: from standard input).
int RunCommandLine(std::span<const std::string> args, const std::function<DispatchPtr()>& create,
                   std::istream& in, std::ostream& out, std::ostream& err);
int RunCommandLine(std::span<const std::string> args, const std::function<DispatchPtr()>& create,
                   std::ostream& out, std::ostream& err);

// `text` as a JSON string, quotes included (UTF-8 passes through).
std::string JsonString(std::string_view text);

// An automation date in ISO 8601 for JSON, quotes included: "2023-06-14", or
// "2023-06-14T06:30:00" with a time of day; outside years 100..9999 the
// number itself (null when it is none).
std::string JsonDate(double date);

// After a call returned -2 or -3 (the port could not be opened) or -4 (no
// answer): the line that says where the port server wrote why, "" for any
// other code. It reads `obj`'s connection settings when it has them.
std::string ReasonHint(IDispatch& obj, int32_t code);

}  // namespace varn::tool
