// What varn writes: the lines ("NAME: value"), the objects of the JSON
// form, the failures on standard error and the one hint where the port
// server tells why. The steps' runner and the command line share it; the
// texts are those scripts already rely on.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "platform/automation/dispatch.h"
#include "platform/automation/value_text.h"
#include "tools/varn/steps.h"

namespace varn::tool {

// A value as JSON: numbers and booleans as they are, texts quoted, dates
// in ISO 8601; null for what has no value of its own.
std::string JsonValue(const Variant& value);
// The name of the driver's member `id` (UTF-8), as output lines and JSON
// fields spell it.
std::string MemberName(DISPID id);
// "set", "get" or "call".
const char* StepWord(StepKind k);

// Where the results go: lines, or the objects of one JSON array. For the
// pipe (`pipe`), an answer a step: its lines and an empty line, or its
// object on one line, flushed at EndAnswer; failures on `out` too, so that
// the peer reads one answer for every step.
class Report {
 public:
  Report(bool json, std::ostream& out, std::ostream& err, bool pipe = false);
  ~Report();
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;

  bool Json() const { return m_json; }
  void Line(const std::string& name, const std::string& value);
  // `fields`: the members after "step" and "name", each starting with a comma.
  void Object(const Step& s, const std::string& fields);
  void Failure(const Step& s, const std::string& error);
  // A pipe's line that is no step: its answer and the line on `err`.
  void Malformed(size_t lineNumber, const std::string& error);
  // The end of one step's answer in the pipe; nothing otherwise.
  void EndAnswer();
  // Where the port server tells why, once a run: every later call on the
  // same port fails for the same reason.
  void Hint(IDispatch& obj, int32_t code);

 private:
  bool m_json;
  bool m_pipe;
  std::ostream& m_out;
  std::ostream& m_err;
  bool m_first = true;
  bool m_hinted = false;
};

}  // namespace varn::tool
