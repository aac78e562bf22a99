// Settings tables through the link: structure, reads, range-checked
// writes, InitTable, and the state file that keeps them across restarts.
#include <filesystem>
#include <fstream>
#include <set>

#include "tests/emulator/emulator_fixture.h"

namespace varn::emu {
namespace {

using test::Bytes;
using ::testing::HasSubstr;

std::string Addr(int table, int row, int field) {
  return Bytes({table, row & 0xFF, row >> 8, field});
}

bool UpperCase(const std::string& utf8) {
  for (char16_t c : Utf8ToUtf16(utf8))
    if ((c >= u'a' && c <= u'z') || (c >= u'а' && c <= u'я') || c == u'ё') return false;
  return true;
}

TEST_F(EmulatorTest, EveryTableFieldAndValueIsConsistent) {
  Start();
  int tables = 0, multiRow = 0, stringFields = 0;
  std::set<int> intSizes;
  for (int t = 1;; ++t) {
    const std::string ts = Send(Request(cmd::GetTableStruct, Bytes({t})));
    ASSERT_GE(ts.size(), 2u);
    if (ts[1] == err::kNoTable) break;
    ASSERT_EQ(ts.size(), 2u + 43) << "table " << t;
    ++tables;
    const std::string name = Cp1251ToUtf8(ts.substr(2, 40));
    EXPECT_EQ(name.back(), ' ') << "padded with blanks";
    EXPECT_TRUE(UpperCase(name)) << name;
    const int rows = static_cast<int>(Le(ts.substr(42, 2))), fields = ts[44];
    ASSERT_GE(rows, 1);
    ASSERT_GE(fields, 1);
    multiRow += rows > 1;
    for (int f = 1; f <= fields; ++f) {
      const std::string fs = Data(Request(cmd::GetFieldStruct, Bytes({t, f})));
      ASSERT_GE(fs.size(), 42u);
      EXPECT_TRUE(UpperCase(Cp1251ToUtf8(fs.substr(0, 40))));
      const bool isString = fs[40] != 0;
      const int size = static_cast<uint8_t>(fs[41]);
      uint32_t min = 0, max = 0;
      if (isString) {
        ++stringFields;
        EXPECT_EQ(fs.size(), 42u);
      } else {
        ASSERT_GE(size, 1);
        ASSERT_LE(size, 4);
        intSizes.insert(size);
        ASSERT_EQ(fs.size(), 42u + 2 * static_cast<size_t>(size));
        min = Le(fs.substr(42, static_cast<size_t>(size)));
        max = Le(fs.substr(42 + static_cast<size_t>(size)));
        EXPECT_LE(min, max);
      }
      for (int r = 1; r <= rows; ++r) {
        const std::string v = Data(Request(cmd::ReadTable, Addr(t, r, f)));
        ASSERT_EQ(v.size(), static_cast<size_t>(size)) << t << "." << r << "." << f;
        if (!isString) {
          EXPECT_TRUE(Le(v) >= min && Le(v) <= max) << t << "." << r << "." << f;
        }
      }
      EXPECT_EQ(Error(Request(cmd::ReadTable, Addr(t, rows + 1, f))), err::kBadParameter);
      EXPECT_EQ(Error(Request(cmd::ReadTable, Addr(t, 0, f))), err::kBadParameter);
    }
    EXPECT_EQ(Error(Request(cmd::GetFieldStruct, Bytes({t, fields + 1}))), err::kBadParameter);
    EXPECT_EQ(Error(Request(cmd::GetFieldStruct, Bytes({t, 0}))), err::kBadParameter);
    EXPECT_EQ(Error(Request(cmd::ReadTable, Addr(t, 1, fields + 1))), err::kBadParameter);
  }
  EXPECT_GE(tables, 6);
  EXPECT_GE(multiRow, 3);
  EXPECT_GE(stringFields, 3);
  EXPECT_EQ(intSizes, (std::set<int>{1, 2, 3, 4}));
  // Past the last table, and table 0.
  for (int t : {0, tables + 1, 255}) {
    EXPECT_EQ(Error(Request(cmd::GetTableStruct, Bytes({t}))), err::kNoTable);
    EXPECT_EQ(Error(Request(cmd::GetFieldStruct, Bytes({t, 1}))), err::kNoTable);
    EXPECT_EQ(Error(Request(cmd::ReadTable, Addr(t, 1, 1))), err::kNoTable);
    EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(t, 1, 1) + "\x01")), err::kNoTable);
  }
  EXPECT_EQ(Cp1251ToUtf8(Data(Request(cmd::GetTableStruct, Bytes({1}))).substr(0, 17)),
            "ТИП И РЕЖИМ КАССЫ");
}

TEST_F(EmulatorTest, WritesAreRangeCheckedAndReadBack) {
  Start();
  // Table 1, field 1: the register's number, 1 byte, 1..99 (also in the status).
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(1, 1, 1) + Bytes({0}))), err::kBadParameter);
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(1, 1, 1) + Bytes({100}))), err::kBadParameter);
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(1, 1, 1) + Bytes({42}))), 0);
  EXPECT_EQ(Data(Request(cmd::ReadTable, Addr(1, 1, 1))), Bytes({42}));
  EXPECT_EQ(Data(Request(cmd::GetECRStatus))[8], 42);

  // 2 bytes, 10..1000; the value must have the field's size.
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(1, 1, 5) + Bytes({9, 0}))), err::kBadParameter);
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(1, 1, 5) + Bytes({0xE9, 0x03}))),
            err::kBadParameter);
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(1, 1, 5) + Bytes({0xE8}))), err::kBadLength);
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(1, 1, 5) + Bytes({0xE8, 0x03, 0}))),
            err::kBadLength);
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(1, 1, 5) + Bytes({0xE8, 0x03}))), 0);
  EXPECT_EQ(Le(Data(Request(cmd::ReadTable, Addr(1, 1, 5)))), 1000u);

  // 3 and 4 bytes.
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(1, 1, 7) + Bytes({0x81, 0x51, 0x01}))),
            err::kBadParameter);
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(1, 1, 7) + Bytes({0x80, 0x51, 0x01}))),
            0);  // 86400
  EXPECT_EQ(Le(Data(Request(cmd::ReadTable, Addr(1, 1, 7)))), 86400u);
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(2, 30, 2) + Bytes({0x00, 0xE1, 0xF5, 0x05}))),
            err::kBadParameter);  // 100000000
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(2, 30, 2) + Bytes({0xFF, 0xE0, 0xF5, 0x05}))), 0);
  EXPECT_EQ(Le(Data(Request(cmd::ReadTable, Addr(2, 30, 2)))), 99999999u);

  // A string field of 21 bytes in row 3 of 30; rows are separate.
  EXPECT_EQ(Cp1251ToUtf8(Data(Request(cmd::ReadTable, Addr(2, 3, 1))).substr(0, 8)), "КАССИР 3");
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(2, 3, 1) + Text("Иванова", 21))), 0);
  EXPECT_EQ(Data(Request(cmd::ReadTable, Addr(2, 3, 1))), Text("Иванова", 21));
  EXPECT_EQ(Cp1251ToUtf8(Data(Request(cmd::ReadTable, Addr(2, 4, 1))).substr(0, 8)), "КАССИР 4");
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(2, 3, 1) + Text("x", 20))), err::kBadLength);
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(2, 31, 1) + Text("x", 21))), err::kBadParameter);
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(2, 1, 3) + Text("x", 21))), err::kBadParameter);
}

TEST_F(EmulatorTest, ValuesSurviveARestartAndInitTableRestoresDefaults) {
  EmulatorOptions o;
  o.statePath = env.Path("state/tables.txt");
  Start(o);
  // Quote, backslash, line feed, the one byte cp1251 has no letter for, ё.
  std::string odd = std::string("\"a\\b\n", 5) + '\x98' + Utf8ToCp1251("ё");
  odd.resize(40, '\0');
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(1, 1, 1) + Bytes({7}))), 0);
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(5, 16, 1) + Text("Бакалея", 20))), 0);
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(6, 4, 1) + odd)), 0);
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(4, 2, 1) + Bytes({0xF4, 0x01}))), 0);
  // Writing the default (1000) again leaves nothing to keep for it.
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(4, 2, 1) + Bytes({0xE8, 0x03}))), 0);
  const std::string file = test::ReadFileOrEmpty(o.statePath);
  EXPECT_THAT(file, HasSubstr("\n1.1.1 = 7\n"));
  EXPECT_THAT(file, HasSubstr("\n5.16.1 = \"Бакалея\"\n"));
  EXPECT_THAT(file, HasSubstr("\n6.4.1 = \"\\\"a\\\\b\\x0A\\x98ё\"\n"));
  EXPECT_THAT(file, ::testing::Not(HasSubstr("4.2.1")));

  Start(o);
  EXPECT_EQ(Data(Request(cmd::ReadTable, Addr(1, 1, 1))), Bytes({7}));
  EXPECT_EQ(Data(Request(cmd::ReadTable, Addr(5, 16, 1))), Text("Бакалея", 20));
  EXPECT_EQ(Data(Request(cmd::ReadTable, Addr(6, 4, 1))), odd);

  EXPECT_EQ(Error(Request(cmd::InitTable)), 0);
  EXPECT_EQ(Data(Request(cmd::ReadTable, Addr(1, 1, 1))), Bytes({1}));
  EXPECT_EQ(Cp1251ToUtf8(Data(Request(cmd::ReadTable, Addr(5, 16, 1))).substr(0, 8)), "ОТДЕЛ 16");
  EXPECT_EQ(test::ReadFileOrEmpty(o.statePath).find('='), std::string::npos);
  Start(o);
  EXPECT_EQ(Data(Request(cmd::ReadTable, Addr(1, 1, 1))), Bytes({1}));
}

TEST_F(EmulatorTest, AStateFileThatCannotBeWrittenKeepsTheOldValue) {
  EmulatorOptions o;
  o.statePath = env.Path("state.txt");
  std::string said;
  o.onDiagnostic = [&](const std::string& text) { said = text; };
  Start(o);
  // Something that is not a file took its place.
  std::filesystem::remove(o.statePath);
  std::filesystem::create_directory(o.statePath);
  EXPECT_EQ(Error(Request(cmd::WriteTable, Addr(1, 1, 1) + Bytes({9}))), err::kInternal);
  EXPECT_EQ(Data(Request(cmd::ReadTable, Addr(1, 1, 1))), Bytes({1}));
  EXPECT_EQ(Error(Request(cmd::InitTable)), err::kInternal);
  device->Stop();
  EXPECT_THAT(said, HasSubstr("state.txt"));
}

TEST(EmulatorStateFile, AnUnusableFileIsRefusedWithItsLineAndKept) {
  test::TempEnv env;
  const std::string path = env.Path("state.txt");
  const std::pair<const char*, const char*> cases[] = {
      {"1.1.1 = 0\n", "line 1: the value is out of the field's range 1..99"},
      {"# ok\n\n9.1.1 = 1\n", "line 3: no such table, row or field"},
      {"1.2.1 = 1\n", "line 1: no such table, row or field"},
      {"1.1.8 = 1\n", "line 1: no such table, row or field"},
      {"1.1 = 1\n", "line 1: expected table.row.field"},
      {"1.1.1 1\n", "line 1: expected '='"},
      {"1.1.1 = \"x\"\n", "line 1: expected a number"},
      {"1.1.1 = -1\n", "line 1: expected a number"},
      {"1.1.1 = 99999999999999999999\n", "line 1: expected a number"},
      {"1.1.1 = 5 x\n", "line 1: unexpected text after the value"},
      {"2.1.1 = 5\n", "line 1: expected a quoted text"},
      {"2.1.1 = \"abc\n", "line 1: the text has no closing quote"},
      {"2.1.1 = \"a\\q\"\n", "line 1: unknown escape in the text"},
      {"2.1.1 = \"a\\x4\"\n", "line 1: unknown escape in the text"},
      {"2.1.1 = \"1234567890123456789012\"\n", "longer than the field (21 bytes)"},
      {"99999999999.1.1 = 1\n", "line 1: no such table, row or field"},
  };
  for (const auto& [text, message] : cases) {
    { std::ofstream(path, std::ios::binary) << text; }
    EmulatorOptions o;
    o.statePath = path;
    try {
      EmulatedDevice device(o);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const EDriverError& e) {
      EXPECT_EQ(e.Code, -8);
      EXPECT_THAT(e.what(), HasSubstr(path));
      EXPECT_THAT(e.what(), HasSubstr(message)) << text;
    }
    EXPECT_EQ(test::ReadFileOrEmpty(path), text) << "never overwritten";
  }
  // A path where no file can be made.
  {
    std::ofstream(env.Path("file")) << "x";
    EmulatorOptions o;
    o.statePath = env.Path("file/state.txt");
    EXPECT_THAT([&] { EmulatedDevice device(o); },
                test::ThrowsDriverError(-8, "state file " + o.statePath + ": open " + o.statePath +
                                                ": Not a directory"));
    // Made at start when missing.
    o.statePath = env.Path("new/state.txt");
    EmulatedDevice device(o);
    EXPECT_TRUE(std::filesystem::exists(o.statePath));
  }
  // Comments, blanks and CR LF line ends are fine.
  std::ofstream(path, std::ios::binary) << "# x\r\n\r\n  1.1.1=5 # five\r\n2.1.1 = \"\"\r\n";
  EmulatorOptions o;
  o.statePath = path;
  EXPECT_NO_THROW(EmulatedDevice{o});
}

}  // namespace
}  // namespace varn::emu
