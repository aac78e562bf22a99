// The manual pages as the build wrote them, read the way man(1) reads
// them: groff with every warning on must have nothing to say, and varn(1)
// must list every result code of the table (the device's too) and every
// verb and option of `varn --help`, so that neither can go missing silently.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/result_codes.h"
#include "protocol/commands.h"
#include "tests/support/test_env.h"

namespace varn {
namespace {

using test::RunShell;
using test::TempEnv;

std::vector<std::string> Pages() {
  std::vector<std::string> pages;
  std::stringstream list(MAN_PAGES);
  for (std::string page; std::getline(list, page, ':');)
    if (!page.empty()) pages.push_back(page);
  return pages;
}

std::string Quoted(const std::string& path) {
  return "'" + path + "'";
}

// The page as plain UTF-8 text, 200 columns wide so that no line of the
// tables is broken, with its groff diagnostics.
test::ShellRun Render(const TempEnv& env, const std::string& page) {
  return RunShell(env, "groff -Kutf8 -man -Tutf8 -ww -rLL=200n -P-cbou " + Quoted(page));
}

bool HasLine(const std::string& text, const std::string& pattern) {
  return std::regex_search(text, std::regex(pattern, std::regex::multiline));
}

std::string RegexQuoted(const std::string& s) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  return std::regex_replace(s, special, R"(\$&)");
}

TEST(ManPages, EveryPageFormatsWithoutAWarning) {
  TempEnv env;
  const std::vector<std::string> pages = Pages();
  ASSERT_GE(pages.size(), 3u);
  for (const std::string& page : pages) {
    SCOPED_TRACE(page);
    const test::ShellRun check = RunShell(env, "groff -Kutf8 -man -Tutf8 -ww -z " + Quoted(page));
    ASSERT_EQ(check.status, 0) << check.err << " (is groff installed? scripts/bootstrap)";
    EXPECT_EQ(check.err, "");
    // man(1) itself, as a reader calls it, and the compressed copy that is
    // installed says the same.
    const test::ShellRun man = RunShell(
        env, "LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -P cat -l " + Quoted(page) + ".gz");
    EXPECT_EQ(man.status, 0) << man.err;
    EXPECT_EQ(man.err, "");
    EXPECT_TRUE(HasLine(man.out, "^NAME$")) << man.out.substr(0, 400);
    EXPECT_TRUE(HasLine(man.out, "^SEE ALSO$"));
    EXPECT_EQ(man.out.find("@VARN_"), std::string::npos);
    EXPECT_EQ(man.out.find("\\f"), std::string::npos) << "an escape printed as text";
  }
}

TEST(ManPages, VarnListsEveryResultCodeAndEveryVerb) {
  TempEnv env;
  const test::ShellRun page = Render(env, std::string(MAN_DIR) + "/varn.1");
  ASSERT_EQ(page.status, 0) << page.err;
  const std::string& text = page.out;
  for (const char* section :
       {"SYNOPSIS", "EXIT STATUS", "RESULT CODES", "ENVIRONMENT", "FILES", "EXAMPLES"})
    EXPECT_TRUE(HasLine(text, std::string("^") + section + "$")) << section;
  for (const char* variable : {"VARN_REGISTRY", "VARN_RUNTIME_DIR", "VARN_LOG_DIR"})
    EXPECT_TRUE(HasLine(text, std::string("^ +") + variable + "$")) << variable;

  // Each code of the table is a term of its own, with who gives it, its
  // text, and what to do.
  for (const TResultCode& r : kResultCodes) {
    SCOPED_TRACE(r.Code);
    EXPECT_TRUE(HasLine(text, "^ +" + std::to_string(r.Code) + " \\(" + r.Giver + "\\)$"));
    if (*r.Text) {
      EXPECT_NE(text.find(std::string("\"") + r.Text + "\""), std::string::npos);
    }
  }
  EXPECT_TRUE(HasLine(text, "^ +1 to 255 \\(device\\)$"));
  // The device's codes, one line each: decimal, hexadecimal, its text.
  for (int code = kFirstDeviceError; code <= kLastDeviceError; ++code) {
    char number[32];
    std::snprintf(number, sizeof number, "%3d  0x%02X  ", code, code);
    const std::string line = number + protocol::DeviceErrorText(static_cast<uint8_t>(code));
    EXPECT_TRUE(HasLine(text, "^ +" + RegexQuoted(line) + "$")) << line;
  }

  // The verbs and options of the usage text: the words after "varn" in its
  // synopsis lines, and the first word of its two-space indented lines.
  const test::ShellRun usage = RunShell(env, Quoted(VARN_PROGRAM) + " --help");
  ASSERT_EQ(usage.status, 0) << usage.err;
  std::set<std::string> words;
  static const std::regex word(R"(^(-|--?[a-z0-9][a-z0-9-]*|[a-z][a-z0-9-]*)$)");
  std::stringstream lines(usage.out);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_search(line, m, std::regex(R"(^(usage:)? +varn (.*)$)"))) {
      std::string rest = m[2];
      for (char& c : rest)
        if (c == '[' || c == ']' || c == '|') c = ' ';
      std::stringstream tokens(rest);
      for (std::string t; tokens >> t;)
        if (std::regex_match(t, word)) words.insert(t);
    } else if (std::regex_search(line, m, std::regex(R"(^  (-{0,2}[a-z0-9][a-z0-9-]*)\b)"))) {
      words.insert(m[1]);
    }
  }
  for (const char* expected : {"set", "get", "call", "-", "--json", "list", "--version", "--1c",
                               "search", "tables", "properties", "--help"})
    EXPECT_EQ(words.count(expected), 1u) << "usage text no longer offers " << expected;
  for (const std::string& w : words) {
    // As a word of its own: a term, a synopsis word or a literal in the text.
    EXPECT_TRUE(HasLine(text, "(^|[ \\[(])" + RegexQuoted(w) + "($|[ \\]),.])"))
        << "varn(1) does not mention \"" << w << "\"";
  }
  // The port commands.
  for (const char* ports : {"varn ports", "ports set N PATH", "ports unset N", "ports check [N]"})
    EXPECT_NE(text.find(ports), std::string::npos) << ports;
}

// The converter on a page that uses every form of the source, including
// what troff would take as its own: a backslash, a leading dot or quote,
// brackets and semicolons, which CMake's lists would eat.
TEST(ManPages, ConverterKeepsWhatTroffWouldTakeAsItsOwn) {
  TempEnv env;
  const std::string source = env.Path("sample.1.md");
  std::FILE* f = std::fopen(source.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs(
      "# SAMPLE 1 \"\" \"Varn @VARN_VERSION@\" \"Varn Manual\"\n"
      "\n"
      "## NAME\n"
      "\n"
      "sample - a page of every form\n"
      "\n"
      "## DESCRIPTION\n"
      "\n"
      "A path C:\\Temp\\x; a list [a; b] and **bold -x** or *italic* with `--opt=1`.\n"
      ".hidden starts with a dot\n"
      "'quoted starts with a quote\n"
      "\n"
      "    printf 'a\\n' | tr ';' '[' --x\n"
      "    .dot in code\n"
      "\n"
      "- first item\n"
      "  goes on\n"
      "- second item\n"
      "\n"
      "`--term`\n"
      ": Its text.\n"
      "\n"
      "  Its second paragraph.\n"
      "\n"
      "      indented code in the item\n"
      "\n"
      "After the list.\n"
      "\n"
      "## SEE ALSO\n"
      "\n"
      "**varn**(1)\n",
      f);
  std::fclose(f);
  const std::string out = env.Path("sample.1");
  const test::ShellRun convert =
      RunShell(env, Quoted(CMAKE_PROGRAM) + " -DSOURCE=" + Quoted(source) +
                        " -DOUTPUT=" + Quoted(out) + " -DVERSION=9.8.7 -P " + Quoted(MAN_SCRIPT));
  ASSERT_EQ(convert.status, 0) << convert.err;
  const std::string troff = test::ReadFileOrEmpty(out);
  EXPECT_NE(troff.find(".TH SAMPLE 1 \"\" \"Varn 9.8.7\""), std::string::npos) << troff;
  EXPECT_NE(troff.find("\\fB\\-\\-opt=1\\fR"), std::string::npos) << troff;
  EXPECT_NE(troff.find("\\fBbold \\-x\\fR"), std::string::npos) << troff;
  EXPECT_NE(troff.find("\\fIitalic\\fR"), std::string::npos) << troff;
  EXPECT_NE(troff.find("\n.IP \\(bu 2\nfirst item\ngoes on\n"), std::string::npos) << troff;
  EXPECT_NE(troff.find("\n.TP\n\\fB\\-\\-term\\fR\nIts text.\n.IP\nIts second paragraph.\n"),
            std::string::npos)
      << troff;
  EXPECT_NE(troff.find("\n.nf\n"), std::string::npos) << troff;

  const test::ShellRun page = Render(env, out);
  ASSERT_EQ(page.status, 0) << page.err;
  EXPECT_EQ(page.err, "");
  const std::string& text = page.out;
  EXPECT_TRUE(
      HasLine(text, R"(A path C:\\Temp\\x; a list \[a; b\] and bold -x or italic with --opt=1\.)"))
      << text;
  EXPECT_TRUE(HasLine(text, R"(\.hidden starts with a dot 'quoted starts with a quote$)")) << text;
  EXPECT_TRUE(HasLine(text, R"(^ +printf 'a\\n' \| tr ';' '\[' --x$)")) << text;
  EXPECT_TRUE(HasLine(text, R"(^ +\.dot in code$)")) << text;
  EXPECT_TRUE(HasLine(text, R"(^ +indented code in the item$)")) << text;
  EXPECT_TRUE(HasLine(text, R"(^ +After the list\.$)")) << text;
  EXPECT_TRUE(test::ReadFileOrEmpty(out + ".gz").starts_with("\x1f\x8b")) << "gzip";
}

}  // namespace
}  // namespace varn
