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
