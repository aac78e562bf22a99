#include "platform/automation/member_lookup.h"

#include <algorithm>

#include "platform/text.h"

namespace varn {

std::string NearestName(std::string_view typed, std::span<const std::string> candidates) {
  std::u16string t = Utf8ToUtf16(typed);
  for (char16_t& c : t) c = FoldCase(c);
  // A slip or two in a short name, at most three in a long one: a name
  // further off is a guess that misleads more than it helps.
  const size_t limit = std::min<size_t>(3, 1 + t.size() / 4);
  std::string best;
  size_t bestDistance = limit + 1;
  std::vector<size_t> row;
  for (const std::string& candidate : candidates) {
    std::u16string c = Utf8ToUtf16(candidate);
    // The lengths alone bound the distance; a long word costs nothing more.
    if ((c.size() > t.size() ? c.size() - t.size() : t.size() - c.size()) >= bestDistance) continue;
    for (char16_t& ch : c) ch = FoldCase(ch);
    // Edit distance with adjacent swaps counted as one slip.
    const size_t w = c.size() + 1;
    row.assign(3 * w, 0);
    size_t* prev2 = row.data();
    size_t* prev = prev2 + w;
    size_t* cur = prev + w;
    for (size_t j = 0; j < w; ++j) prev[j] = j;
    for (size_t i = 1; i <= t.size(); ++i) {
      cur[0] = i;
      for (size_t j = 1; j < w; ++j) {
        const size_t cost = t[i - 1] == c[j - 1] ? 0 : 1;
        cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + cost});
        if (i > 1 && j > 1 && t[i - 1] == c[j - 2] && t[i - 2] == c[j - 1])
          cur[j] = std::min(cur[j], prev2[j - 2] + 1);
      }
      std::swap(prev2, prev);
      std::swap(prev, cur);
    }
    if (prev[w - 1] < bestDistance) {
      bestDistance = prev[w - 1];
      best = candidate;
    }
  }
  return best;
}

std::string NameSuggestion(std::string_view typed, std::span<const std::string> candidates) {
  const std::string near = NearestName(typed, candidates);
  return near.empty() ? std::string() : "; did you mean " + near + "?";
}

const MemberInfo& FindMember(const std::vector<MemberInfo>& members, const std::string& name,
                             MemberKind kind) {
  std::vector<const MemberInfo*> byName, byHelp;
  for (const auto& m : members) {
    if (EqualNoCase(m.name, name))
      byName.push_back(&m);
    else if (!m.help.empty() && EqualNoCase(m.help, name))
      byHelp.push_back(&m);
  }
  const auto& found = byName.empty() ? byHelp : byName;
  if (found.empty()) {
    // A member of the step's kind first: "get PrintStrin" hardly means the method.
    std::vector<std::string> ofKind, all;
    for (const auto& m : members)
      for (const std::string* n : {&m.name, &m.help}) {
        if (n->empty()) continue;
        if (m.kind == kind) ofKind.push_back(*n);
        all.push_back(*n);
      }
    std::string hint = NameSuggestion(name, ofKind);
    if (hint.empty()) hint = NameSuggestion(name, all);
    throw EMemberLookup(EMemberLookup::kUnknown, "unknown name \"" + name + "\"" + hint);
  }
  for (const MemberInfo* m : found)
    if (m->kind == kind) return *m;
  const MemberInfo& other = *found.front();
  if (other.kind == MemberKind::Method)
    throw EMemberLookup(EMemberLookup::kWrongKind, other.name + " is a method: use call");
  if (kind == MemberKind::Method)
    throw EMemberLookup(EMemberLookup::kWrongKind, other.name + " is a property: use get or set");
  if (kind == MemberKind::PropertyPut)
    throw EMemberLookup(EMemberLookup::kWrongKind, other.name + " is read-only");
  throw EMemberLookup(EMemberLookup::kWrongKind, other.name + " is write-only");
}

}  // namespace varn
