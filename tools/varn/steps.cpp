// Parsing: the words of the command line (or the lines of `varn -`) into
// steps, each name found among the object's members of its kind, each value
// parsed for its type, so that every mistake is found before anything runs.
#include "tools/varn/steps.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "platform/automation/member_lookup.h"
#include "platform/automation/value_text.h"
#include "platform/text.h"
#include "tools/varn/output.h"

namespace varn::tool {
namespace {

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

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// `text` without the blanks at its start.
std::string_view SkipBlanks(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  return text.substr(i);
}

std::string_view TrimBlanks(std::string_view text) {
  text = SkipBlanks(text);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

const MemberInfo& Find(const std::vector<MemberInfo>& members, const std::string& name,
                       StepKind step) {
  try {
    return FindMember(members, name, KindOf(step));
  } catch (const EMemberLookup& e) {
    throw EUsageError(e.what());
  }
}

// `form`: the first word of a command line, where the program's other
// forms may have been meant too.
EUsageError UnknownStep(const std::string& word, bool form = false) {
  static const std::vector<std::string> kWords{"set", "get", "call"};
  static const std::vector<std::string> kForms{"set",    "get",    "call",  "list",
                                               "tables", "search", "ports", "properties"};
  return EUsageError("unknown step \"" + word + "\"" +
                     NameSuggestion(word, form ? kForms : kWords) +
                     " (steps: set NAME=VALUE, get NAME, call METHOD [ARG])");
}

}  // namespace

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
      throw UnknownStep(word, i == 1);
    }
    steps.push_back(std::move(s));
  }
  return steps;
}

Step SplitStepLine(std::string_view line) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  line = SkipBlanks(line);
  const size_t end = std::min(line.find_first_of(" \t"), line.size());
  const std::string word(line.substr(0, end));
  const std::string_view rest = SkipBlanks(line.substr(end));
  Step s;
  if (word == "set") {
    // The value is the rest of the line as it is: blanks are text to print.
    const size_t eq = rest.find('=');
    if (rest.empty()) throw EUsageError("set: missing NAME=VALUE");
    if (eq == std::string_view::npos || eq == 0)
      throw EUsageError("set " + std::string(TrimBlanks(rest)) + ": expected NAME=VALUE");
    s.kind = StepKind::Set;
    s.name = std::string(rest.substr(0, eq));
    s.text = std::string(rest.substr(eq + 1));
  } else if (word == "get" || word == "call") {
    const std::string_view words = TrimBlanks(rest);
    if (words.empty()) throw EUsageError(word + ": missing " + (word == "get" ? "NAME" : "METHOD"));
    const size_t gap = std::min(words.find_first_of(" \t"), words.size());
    s.kind = word == "get" ? StepKind::Get : StepKind::Call;
    s.name = std::string(words.substr(0, gap));
    const std::string_view more = SkipBlanks(words.substr(gap));
    if (!more.empty() && s.kind == StepKind::Get)
      throw EUsageError("get " + s.name + ": one name only (\"" + std::string(more) +
                        "\" after it)");
    if (!more.empty()) {
      s.text = std::string(more);
      s.hasText = true;
    }
  } else {
    throw UnknownStep(word);
  }
  return s;
}

Variant ParseValue(const std::string& name, const std::string& text, VARTYPE type) {
  try {
    return ValueFromText(text, type);
  } catch (const EValueText& e) {
    throw EUsageError(name + ": " + e.what());
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

}  // namespace varn::tool
