// Members found by the names people type: the interface's name in any case,
// or its help string (the Russian name), with the nearest name offered for a
// slip of the keyboard. Every host that takes names from its user (varn,
// the C interface) finds them here, so each says the same.
#pragma once

#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation/dispatch.h"

namespace varn {

// Why a name names no member of the kind asked for; what() is the text
// ("unknown name \"Bepe\"; did you mean Beep?", "Beep is a method: use call").
class EMemberLookup : public std::runtime_error {
 public:
  enum Reason { kUnknown, kWrongKind };
  EMemberLookup(Reason reason, const std::string& text)
      : std::runtime_error(text), m_reason(reason) {}
  Reason reason() const { return m_reason; }

 private:
  Reason m_reason;
};

// The member of `kind` called `name` (by name first, then by help string).
// EMemberLookup when there is none: unknown, or only of another kind (the
// texts speak of varn's steps: "use call", "use get or set").
const MemberInfo& FindMember(const std::vector<MemberInfo>& members, const std::string& name,
                             MemberKind kind);

// The candidate nearest to `typed` (letters compared without case, as names
// are), or "" when none is near enough to be a slip of the keyboard.
std::string NearestName(std::string_view typed, std::span<const std::string> candidates);
// "; did you mean X?" for the candidate nearest to `typed`, or "".
std::string NameSuggestion(std::string_view typed, std::span<const std::string> candidates);

}  // namespace varn
