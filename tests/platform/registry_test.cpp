#include <cstdlib>
#include <fstream>

#include "platform/files.h"
#include "platform/registry.h"
#include "tests/support/test_env.h"

#ifndef REGISTRY_WRITER
#error "REGISTRY_WRITER must name the helper program"
#endif

namespace varn {
namespace {

const std::string kKey = "SOFTWARE\\Kvelta\\Варн\\Сервер";

class RegistryTest : public ::testing::Test {
 protected:
  test::TempEnv env;
  Registry reg = Registry::Default();
};

TEST_F(RegistryTest, ValuesOfBothTypesWithCyrillicNames) {
  EXPECT_FALSE(reg.KeyExists(kKey));
  EXPECT_EQ(reg.ReadDword(kKey, "LogOn"), std::nullopt);
  reg.WriteDword(kKey, "LogOn", 1);
  reg.WriteDword(kKey, "TCPPort", 0xFFFFFFFF);
  reg.WriteString(kKey, "Имя", "Значение \"в кавычках\" и \\ черта");
  EXPECT_TRUE(reg.KeyExists("software\\kvelta\\ВАРН"));
  EXPECT_EQ(reg.ReadDword(kKey, "logon"), 1u);
  EXPECT_EQ(reg.ReadDword(kKey, "TCPPort"), 0xFFFFFFFFu);
  EXPECT_EQ(reg.ReadString("SOFTWARE\\KVELTA\\варн\\сервер", "ИМЯ"),
            "Значение \"в кавычках\" и \\ черта");
  EXPECT_EQ(reg.ReadString(kKey, "LogOn"), std::nullopt);  // wrong type
  reg.WriteDword(kKey, "LOGON", 0);                        // same value, other spelling
  EXPECT_EQ(reg.ValueNames(kKey), (std::vector<std::string>{"LogOn", "TCPPort", "Имя"}));

  const std::string text = test::ReadFileOrEmpty(env.RegistryFile());
  EXPECT_THAT(text, ::testing::StartsWith("Windows Registry Editor Version 5.00\r\n"));
  EXPECT_THAT(text, ::testing::HasSubstr("[HKEY_CURRENT_USER\\SOFTWARE\\Kvelta\\Варн\\Сервер]"));
  EXPECT_THAT(text, ::testing::HasSubstr("\"LogOn\"=dword:00000000"));
  EXPECT_THAT(text, ::testing::HasSubstr("\"Имя\"=\"Значение \\\"в кавычках\\\" и \\\\ черта\""));
}

TEST_F(RegistryTest, TextsWithLineBreaksKeepTheFileWhole) {
  const std::string text = std::string("две\r\nстроки\tи ноль ") + '\0' + "!";
  reg.WriteString(kKey, "Имя", text);
  reg.WriteString(kKey, "После", "ещё");
  EXPECT_EQ(reg.ReadString(kKey, "Имя"), text);
  EXPECT_EQ(reg.ReadString(kKey, "После"), "ещё");
  EXPECT_THAT(test::ReadFileOrEmpty(env.RegistryFile()),
              ::testing::HasSubstr("\"Имя\"=hex(1):34,04,32,04,35,04,0d,00,0a,00,"));
  std::ofstream(env.RegistryFile())
      << "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n"
         "\"A\"=hex(1):41,00,0A,00,42,00,00,00\n\"B\"=hex(1):\n";
  EXPECT_EQ(reg.ReadString("X", "A"), "A\nB");
  EXPECT_EQ(reg.ReadString("X", "B"), "");
  for (const char* bad : {"41,00,", "41,0", "41,00,42", "4100", "zz,00"}) {
    std::ofstream(env.RegistryFile())
        << "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n\"A\"=hex(1):" << bad
        << "\n";
    EXPECT_THROW(reg.ReadString("X", "A"), ERegistryError) << bad;
  }
}

TEST_F(RegistryTest, SubkeysAndRecursiveDelete) {
  reg.WriteString(kKey + "\\Ports", "COM1", "/dev/pts/3");
  reg.CreateKey("SOFTWARE\\Kvelta\\Варн\\Драйвер\\Logical Devices\\1");
  reg.WriteDword("SOFTWARE\\Kvelta\\Варн\\Драйвер\\Param", "ComNumber", 2);
  EXPECT_EQ(reg.SubKeys("SOFTWARE\\Kvelta\\Варн"), (std::vector<std::string>{"Сервер", "Драйвер"}));
  EXPECT_EQ(reg.SubKeys("SOFTWARE\\Kvelta\\Варн\\Драйвер"),
            (std::vector<std::string>{"Logical Devices", "Param"}));
  reg.DeleteKey("software\\kvelta\\варн\\драйвер");
  EXPECT_FALSE(reg.KeyExists("SOFTWARE\\Kvelta\\Варн\\Драйвер\\Param"));
  EXPECT_EQ(reg.ReadString(kKey + "\\Ports", "COM1"), "/dev/pts/3");
  reg.DeleteValue(kKey + "\\Ports", "COM1");
  EXPECT_EQ(reg.ReadString(kKey + "\\Ports", "COM1"), std::nullopt);
}

TEST_F(RegistryTest, ReadsAFileWrittenByHand) {
  std::ofstream(env.RegistryFile())
      << "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n"
         "; a comment\n[HKEY_CURRENT_USER\\SOFTWARE\\Kvelta\\Варн\\Сервер]\n"
         "@=\"default\"\n\"PortTimeout\"=dword:0000000a\n";
  EXPECT_EQ(reg.ReadDword(kKey, "PortTimeout"), 10u);
  EXPECT_EQ(reg.ReadString(kKey, ""), "default");
}

TEST_F(RegistryTest, DamagedFileIsNeverOverwritten) {
  const std::string damaged =
      "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\X]\r\n\"A\"=hex:01\r\n";
  std::ofstream(env.RegistryFile()) << damaged;
  EXPECT_THROW(reg.ReadDword("X", "A"), ERegistryError);
  EXPECT_THROW(reg.WriteDword("X", "B", 1), ERegistryError);
  EXPECT_EQ(test::ReadFileOrEmpty(env.RegistryFile()), damaged);

  std::ofstream(env.RegistryFile()) << "garbage\n";
  try {
    reg.KeyExists("X");
    FAIL();
  } catch (const ERegistryError& e) {
    EXPECT_THAT(e.what(), ::testing::HasSubstr("line 1"));
  }
  std::ofstream(env.RegistryFile())
      << "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n";
  EXPECT_THROW(reg.KeyExists("A"), ERegistryError);
}

TEST(RegistryDataTest, TheIndexKeepsFileOrderCaseAndNeighboursApart) {
  RegistryData d;
  d.SetValue("Root\\B c", "X", {RegValue::Type::Dword, {}, 1});  // ' ' sorts before '\\'
  d.SetValue("Root\\b\\Deep", "Y", {RegValue::Type::Dword, {}, 2});
  d.SetValue("Root\\A", "Z", {RegValue::Type::Dword, {}, 3});
  d.Ensure("ROOT\\B");
  d.Ensure("Rootless");
  EXPECT_EQ(d.SubKeys("root"), (std::vector<std::string>{"B c", "b", "A"}));
  EXPECT_EQ(d.SubKeys(""), (std::vector<std::string>{"Root", "Rootless"}));
  EXPECT_TRUE(d.Exists("ROOT\\B\\deep"));
  EXPECT_TRUE(d.Exists("root"));
  EXPECT_FALSE(d.Exists("Roo"));
  EXPECT_EQ(d.Find("root\\b\\")->path, "ROOT\\B");  // as first written

  // Values by folded name; a delete keeps the others found.
  for (const char* n : {"Один", "Два", "Три"})
    d.SetValue("Root\\A", n, {RegValue::Type::String, n, 0});
  EXPECT_TRUE(d.DeleteValue("root\\a", "ОДИН"));
  EXPECT_FALSE(d.DeleteValue("root\\a", "один"));
  EXPECT_EQ(d.Value("Root\\A", "три")->text, "Три");
  EXPECT_EQ(d.Find("Root\\A")->Value("z")->dword, 3u);
  d.SetValue("Root\\A", "ДВА", {RegValue::Type::String, "2", 0});
  EXPECT_EQ(d.Find("Root\\A")->values.size(), 3u);
  EXPECT_EQ(d.Value("Root\\A", "Два")->text, "2");

  // A tree goes with all its keys, not its neighbours'.
  d.DeleteTree("root\\B");
  EXPECT_FALSE(d.Exists("Root\\b\\Deep"));
  EXPECT_TRUE(d.Exists("Root\\B c"));
  EXPECT_EQ(d.SubKeys("Root"), (std::vector<std::string>{"B c", "A"}));
  const RegistryData copy = d;  // a copy has an index of its own
  d.DeleteTree("");
  EXPECT_FALSE(d.Exists("Root"));
  EXPECT_EQ(copy.Value("root\\b c", "x")->dword, 1u);
  EXPECT_EQ(RegistryData::Parse(copy.Serialize()).Serialize(), copy.Serialize());
}

TEST(RegistryDataTest, KeysAndValuesWrittenTwiceMergeAndSayWhatWasDropped) {
  const RegistryData d = RegistryData::Parse(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_CURRENT_USER\\A]\n\"x\"=dword:00000001\n\"y\"=\"старое\"\n"
      "[HKEY_CURRENT_USER\\B]\n\"z\"=dword:00000001\n\"Z\"=dword:00000002\n"
      "[HKEY_CURRENT_USER\\a]\n\"Y\"=\"новое\"\n\"w\"=dword:00000003\n"
      "[HKEY_CURRENT_USER\\C]\n[HKEY_CURRENT_USER\\C]\n");
  EXPECT_EQ(d.Value("A", "y")->text, "новое");
  EXPECT_EQ(d.Value("B", "z")->dword, 2u);
  EXPECT_EQ(d.Find("a")->values.size(), 3u);
  EXPECT_EQ(d.Merged(),
            (std::vector<std::string>{
                "[HKEY_CURRENT_USER\\A] is written 2 times; merged, dropping \"y\"=\"старое\" "
                "(line 4)",
                "[HKEY_CURRENT_USER\\B] repeats values; dropping \"z\"=dword:00000001 (line 6)",
                "[HKEY_CURRENT_USER\\C] is written 2 times; merged, nothing dropped"}));
  EXPECT_TRUE(RegistryData::Parse(d.Serialize()).Merged().empty());
}

TEST_F(RegistryTest, AChangeThatChangesNothingWritesNothing) {
  const std::string byHand =
      "Windows Registry Editor Version 5.00\n; mine\n[HKEY_CURRENT_USER\\X]\n"
      "\"A\"=dword:00000001\n[HKEY_CURRENT_USER\\x]\n\"A\"=dword:00000002\n";
  std::ofstream(env.RegistryFile()) << byHand;
  EXPECT_FALSE(reg.Update([](RegistryData& d) {
    d.SetValue("X", "a", {RegValue::Type::Dword, {}, 2});
    d.Ensure("x");
    d.DeleteValue("X", "missing");
    d.DeleteTree("Y");
  }));
  reg.CreateKey("X");
  reg.WriteDword("X", "A", 2);
  reg.DeleteKey("Nothing");
  EXPECT_EQ(test::ReadFileOrEmpty(env.RegistryFile()), byHand);
  ::testing::internal::CaptureStderr();
  reg.WriteDword("X", "B", 3);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "registry " + env.RegistryFile() +
                ": [HKEY_CURRENT_USER\\X] is written 2 times; merged, dropping "
                "\"A\"=dword:00000001 (line 4)\n");
  EXPECT_EQ(test::ReadFileOrEmpty(env.RegistryFile()),
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\X]\r\n"
            "\"A\"=dword:00000002\r\n\"B\"=dword:00000003\r\n");
  // No file, no change: still no file.
  RemoveFile(env.RegistryFile());
  reg.DeleteValue("X", "A");
  EXPECT_FALSE(FileExists(env.RegistryFile()));
}

TEST_F(RegistryTest, ConcurrentWritersInTwoProcessesLoseNothing) {
  // Two real processes, 200 values each, all at the same time.
  const std::string cmd =
      std::string("'") + REGISTRY_WRITER + "' A 200 & '" + REGISTRY_WRITER + "' B 200 & wait";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(reg.ReadDword("SOFTWARE\\Test\\A", "V" + std::to_string(i)), uint32_t(i));
    EXPECT_EQ(reg.ReadString("SOFTWARE\\Test\\B", "V" + std::to_string(i)),
              "значение " + std::to_string(i));
  }
  EXPECT_FALSE(FileExists(env.RegistryFile() + ".tmp"));
}

}  // namespace
}  // namespace varn
