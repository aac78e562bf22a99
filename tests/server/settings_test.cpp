// The server's eight settings in the registry store: defaults, partial keys,
// the save, and a registry that cannot be read.
#include <fstream>

#include "platform/registry.h"
#include "server/settings.h"
#include "tests/support/test_env.h"

namespace varn {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  ~SettingsTest() override { s.ResetSettings(); }
  test::TempEnv env;
  TServerSettings s;
};

void ExpectDefaults(const TServerSettings& s) {
  EXPECT_TRUE(s.Warning);
  EXPECT_FALSE(s.LogOn);
  EXPECT_EQ(s.TCPPort, 211);
  EXPECT_FALSE(s.AutoUnlock);
  EXPECT_FALSE(s.TCPEnabled);
  EXPECT_EQ(s.PortTimeout, 10);
  EXPECT_EQ(s.TCPAddress.load(), "");
  EXPECT_EQ(s.TCPAllow.load(), "");
}

TEST_F(SettingsTest, NoKeyGivesDefaultsAndLoadingCreatesNothing) {
  s.LogOn = true;
  s.TCPPort = 5;
  s.TCPAllow = "10.0.0.0/8";
  s.LoadSettings();
  ExpectDefaults(s);
  EXPECT_FALSE(Registry::Default().KeyExists(kServerKey));
}

TEST_F(SettingsTest, ValuesPresentAreUsedAndTheRestKeepDefaults) {
  Registry reg = Registry::Default();
  reg.WriteDword(kServerKey, "AutoUnlock", 7);  // any non-zero value is true
  reg.WriteDword(kServerKey, "PortTimeout", 30);
  reg.WriteString(kServerKey, "TCPPort", "2000");  // not a DWORD: ignored
  reg.WriteDword(kServerKey, "TCPAllow", 1);       // not a string: ignored
  s.LoadSettings();
  EXPECT_TRUE(s.AutoUnlock);
  EXPECT_EQ(s.PortTimeout, 30);
  EXPECT_EQ(s.TCPPort, 211);
  EXPECT_TRUE(s.Warning);
  EXPECT_FALSE(s.LogOn);
  EXPECT_EQ(s.TCPAllow.load(), "");
}

TEST_F(SettingsTest, SaveWritesAllEightAndLoadReadsThemBack) {
  s.Warning = false;
  s.LogOn = true;
  s.TCPPort = 4211;
  s.AutoUnlock = true;
  s.TCPEnabled = true;
  s.PortTimeout = 32767;
  s.TCPAddress = "fd00::1";
  // Whatever was typed comes back as it was, checked only when used.
  const std::string allow = "192.168.1.0/24; \"сеть\" \\x";
  s.TCPAllow = allow;
  s.SaveSettings();
  EXPECT_THAT(Registry::Default().ValueNames(kServerKey),
              ::testing::ElementsAre("LogOn", "Warning", "TCPPort", "TCPEnabled", "AutoUnlock",
                                     "PortTimeout", "TCPAddress", "TCPAllow"));
  EXPECT_EQ(Registry::Default().ReadString(kServerKey, "TCPAllow"), allow);
  TServerSettings t;
  t.LoadSettings();
  EXPECT_FALSE(t.Warning);
  EXPECT_TRUE(t.LogOn);
  EXPECT_EQ(t.TCPPort, 4211);
  EXPECT_TRUE(t.AutoUnlock);
  EXPECT_TRUE(t.TCPEnabled);
  EXPECT_EQ(t.PortTimeout, 32767);
  EXPECT_EQ(t.TCPAddress.load(), "fd00::1");
  EXPECT_EQ(t.TCPAllow.load(), allow);
  t.ResetSettings();
  ExpectDefaults(t);
}

TEST_F(SettingsTest, UnreadableRegistryGivesDefaultsAndIsNotOverwritten) {
  const std::string garbage = "this is not a registry file\n[";
  std::ofstream(env.RegistryFile()) << garbage;
  s.AutoUnlock = true;
  s.LoadSettings();
  ExpectDefaults(s);
  s.SaveSettings();  // fails silently
  EXPECT_EQ(test::ReadFileOrEmpty(env.RegistryFile()), garbage);
}

}  // namespace
}  // namespace varn
