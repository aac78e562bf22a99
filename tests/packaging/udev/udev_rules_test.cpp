// The udev rule example as udev reads it: every rule line, and every
// commented rule an administrator may take the "#" out of, is a list of
// KEY op "value" pairs with matches and assignments where udev wants them,
// and the main rule gives the adapter its name, group and mode.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

struct Pair {
  std::string key, op, value;
};

// One rule line into its pairs; an empty list when it is no such list.
std::vector<Pair> Pairs(const std::string& line) {
  static const std::regex pair(
      R"re(\s*([A-Z_]+(?:\{[A-Za-z0-9_/.-]+\})?)\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*(,|$))re");
  std::vector<Pair> pairs;
  auto at = line.cbegin();
  std::smatch m;
  while (at != line.cend()) {
    if (!std::regex_search(at, line.cend(), m, pair, std::regex_constants::match_continuous))
      return {};
    pairs.push_back({m[1], m[2], m[3]});
    at = m[0].second;
    if (m[4].length() == 0 && at != line.cend()) return {};
  }
  return pairs;
}

bool IsMatch(const std::string& op) {
  return op == "==" || op == "!=";
}

TEST(UdevRulesTest, EveryRuleParsesAsKeyOpValuePairsAndTheMainOneNamesTheAdapter) {
  std::ifstream file(UDEV_RULES);
  ASSERT_TRUE(file.is_open()) << UDEV_RULES;
  std::string line;
  int rules = 0, commentedRules = 0;
  std::vector<Pair> main;
  for (int number = 1; std::getline(file, line); ++number) {
    if (line.empty() || line.starts_with("# ") || line == "#") continue;
    const bool commented = line.starts_with("#");
    const std::vector<Pair> pairs = Pairs(commented ? line.substr(1) : line);
    ASSERT_FALSE(pairs.empty()) << "line " << number << ": " << line;
    // Matches first, then assignments, as in any readable rule.
    bool assigning = false;
    for (const Pair& p : pairs) {
      if (!IsMatch(p.op)) assigning = true;
      EXPECT_FALSE(assigning && IsMatch(p.op)) << "line " << number << ": a match after "
                                               << "an assignment";
      EXPECT_FALSE(p.key.starts_with("ATTRS{") && !IsMatch(p.op))
          << "line " << number << ": ATTRS only matches";
    }
    EXPECT_TRUE(IsMatch(pairs.front().op)) << "line " << number;
    (commented ? commentedRules : rules)++;
    if (!commented) main = pairs;
  }
  EXPECT_EQ(rules, 1);
  EXPECT_EQ(commentedRules, 1);
  const auto value = [&](const std::string& key, const std::string& op) {
    for (const Pair& p : main)
      if (p.key == key && p.op == op) return p.value;
    return std::string("(none)");
  };
  EXPECT_EQ(value("SUBSYSTEM", "=="), "tty");
  EXPECT_EQ(value("SYMLINK", "+="), "varn-printer");
  EXPECT_EQ(value("GROUP", "="), "dialout");
  EXPECT_EQ(value("MODE", "="), "0660");
  for (const char* key : {"ATTRS{idVendor}", "ATTRS{idProduct}", "ATTRS{serial}"})
    EXPECT_NE(value(key, "=="), "(none)") << key;
}

}  // namespace
