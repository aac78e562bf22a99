// The registry as varn runs leave it: a run that changes nothing leaves the
// file as it was (a hand-written one included), a real change merges keys
// written twice and says what it dropped, and a write that fails (a full
// disk, a folder nobody may write) is a failed set with the old file intact;
// a runtime folder in /tmp that another user took first is replaced by one
// of our own.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/files.h"
#include "tests/support/test_env.h"

namespace varn::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using VarnRun = ShellRun;

constexpr const char* kDriverClsid = "{4D959331-0703-402F-95D8-D3BE00EEF8BA}";

std::string DriverBesideVarn() {
  return std::filesystem::canonical(VARN_PROGRAM).parent_path().string() + "/libVarnDrv.so";
}

class VarnRegistryTest : public ::testing::Test {
 protected:
  VarnRun Varn(const std::string& args, const std::string& registry = {}) {
    const std::string prefix = registry.empty() ? "" : "VARN_REGISTRY='" + registry + "' ";
    return RunShell(env, prefix + VARN_PROGRAM + " " + args);
  }

  TempEnv env;
};

TEST_F(VarnRegistryTest, ReadOnlyRunsWriteNothingAndARealChangeSaysWhatTheMergeDropped) {
  // As a user might leave it: LF line ends, comments, the settings key
  // twice (merged from another machine) and a value twice in one key.
  // The log file in use is there already (the driver writes it back).
  const std::string handWritten =
      "Windows Registry Editor Version 5.00\n"
      "; settings of the till\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Kvelta\\Варн\\Драйвер\\Param]\n"
      "\"ComNumber\"=dword:00000002\n"
      "\"Timeout\"=dword:00000064\n"
      "\"LogFileName\"=\"" +
      env.LogDir() +
      "/VarnDrv.log\"\n"
      "\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Kvelta\\Варн\\Тест]\n"
      "\"Page\"=dword:00000001\n"
      "\"Page\"=dword:00000003\n"
      "\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Kvelta\\Варн\\Драйвер\\Param]\n"
      "\"ComNumber\"=dword:00000005\n"
      "\n"
      // Present, so no first start writes the logical devices.
      "[HKEY_CURRENT_USER\\SOFTWARE\\Kvelta\\Варн\\Драйвер\\Logical Devices]\n"
      // Registered where it is, so no first use registers the driver.
      "\n[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\VarnDrv.VarnDrv\\CLSID]\n"
      "@=\"" +
      std::string(kDriverClsid) +
      "\"\n"
      "\n[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\CLSID\\" +
      kDriverClsid +
      "\\InprocServer32]\n"
      "@=\"" +
      DriverBesideVarn() + "\"\n";
  std::ofstream(env.RegistryFile()) << handWritten;

  VarnRun get = Varn("get ComNumber get Timeout");
  EXPECT_EQ(get.status, 0) << get.err;
  EXPECT_EQ(get.out, "ComNumber: 5\nTimeout: 100\n");  // the later line wins
  EXPECT_EQ(get.err, "");
  VarnRun list = Varn("list");
  EXPECT_EQ(list.status, 0) << list.err;
  VarnRun same = Varn("set Timeout=100 get Timeout");  // a setter that saves nothing
  EXPECT_EQ(same.status, 0) << same.err;
  EXPECT_EQ(ReadFileOrEmpty(env.RegistryFile()), handWritten);

  VarnRun set = Varn("set ComNumber=4");
  EXPECT_EQ(set.status, 0) << set.err;
  EXPECT_THAT(set.err, HasSubstr("registry " + env.RegistryFile() +
                                 ": [HKEY_CURRENT_USER\\SOFTWARE\\Kvelta\\Варн\\Драйвер\\Param] "
                                 "is written 2 times; merged, dropping "
                                 "\"ComNumber\"=dword:00000002 (line 4)\n"));
  EXPECT_THAT(set.err, HasSubstr("registry " + env.RegistryFile() +
                                 ": [HKEY_CURRENT_USER\\SOFTWARE\\Kvelta\\Варн\\Тест] repeats "
                                 "values; dropping \"Page\"=dword:00000001 (line 9)\n"));
  const std::string merged = ReadFileOrEmpty(env.RegistryFile());
  EXPECT_THAT(merged, HasSubstr("\"ComNumber\"=dword:00000004\r\n"));
  EXPECT_THAT(merged, HasSubstr("\"Page\"=dword:00000003\r\n"));
  EXPECT_THAT(merged, Not(HasSubstr("dword:00000002")));
  EXPECT_EQ(merged.find("[HKEY_CURRENT_USER\\SOFTWARE\\Kvelta\\Варн\\Драйвер\\Param]"),
            merged.rfind("[HKEY_CURRENT_USER\\SOFTWARE\\Kvelta\\Варн\\Драйвер\\Param]"));

  // Nothing left to merge: the next runs are quiet and write nothing.
  VarnRun again = Varn("set ComNumber=4 get ComNumber");
  EXPECT_EQ(again.err, "");
  EXPECT_EQ(ReadFileOrEmpty(env.RegistryFile()), merged);
}

// A folder for the registry that takes no new file: a 64 KB tmpfs filled up
// (for root, whom folder modes do not stop), else a folder closed to writing.
class UnwritableFolder {
 public:
  explicit UnwritableFolder(const std::string& path) : m_path(path) {
    MakeDirectories(path, 0700);
    m_mounted =
        std::system(("mount -t tmpfs -o size=64k tmpfs '" + path + "' 2>/dev/null").c_str()) == 0;
  }
  ~UnwritableFolder() {
    if (m_mounted) std::system(("umount '" + m_path + "'").c_str());
    std::system(("chmod 0700 '" + m_path + "'").c_str());
  }
  // After the first registry is in: no room for another file. False when
  // this machine offers no way to refuse (root without mount).
  bool Close() {
    if (m_mounted) {
      std::ofstream fill(m_path + "/fill", std::ios::binary);
      const std::string block(4096, 'x');
      for (int i = 0; i < 64 && fill; ++i) fill << block << std::flush;
    } else if (std::system(("chmod 0500 '" + m_path + "'").c_str()) != 0) {
      return false;
    }
    const std::string probe = m_path + "/probe";
    const bool refused = !(std::ofstream(probe) << std::string(8192, 'x') << std::flush);
    RemoveFile(probe);
    return refused;
  }
  const char* Reason() const { return m_mounted ? "No space left on device" : "Permission denied"; }

 private:
  std::string m_path;
  bool m_mounted = false;
};

TEST_F(VarnRegistryTest, AWriteThatFailsIsAFailedSetAndTheOldFileStays) {
  UnwritableFolder folder(env.Path("settings"));
  const std::string registry = env.Path("settings") + "/registry.reg";
  VarnRun first = Varn("set ComNumber=3", registry);
  ASSERT_EQ(first.status, 0) << first.err;
  const std::string before = ReadFileOrEmpty(registry);
  ASSERT_THAT(before, HasSubstr("\"ComNumber\"=dword:00000003"));
  if (!folder.Close()) GTEST_SKIP() << "no way to refuse a write here";

  VarnRun set = Varn("set ComNumber=2 get ComNumber", registry);
  EXPECT_EQ(set.status, 1);
  EXPECT_EQ(set.out, "ComNumber: 2\n");  // the object keeps it; the file does not
  EXPECT_THAT(set.err, HasSubstr("varn: ComNumber: ResultCode -8: "));
  EXPECT_THAT(set.err, HasSubstr(folder.Reason()));

  VarnRun save = Varn("--json set BaudRate=4 call SaveParams", registry);
  EXPECT_EQ(save.status, 1);
  EXPECT_THAT(save.out,
              HasSubstr("{\"step\":\"set\",\"name\":\"BaudRate\",\"error\":\"ResultCode -8: "));
  EXPECT_THAT(save.out, HasSubstr("\"name\":\"SaveParams\",\"value\":-8,\"ResultCode\":-8,"));
  EXPECT_THAT(save.out, HasSubstr(folder.Reason()));

  EXPECT_EQ(ReadFileOrEmpty(registry), before);
  EXPECT_EQ(RunShell(env, "ls -A '" + env.Path("settings") + "' | grep -c tmp").out, "0\n");
}

TEST_F(VarnRegistryTest, AnotherUsersFolderInTmpSendsTheRuntimeFolderHome) {
  // In a mount namespace of its own the run sees a /tmp where another user
  // (12345) made /tmp/varn-<uid> first; the real /tmp stays untouched.
  const std::string base = env.Dir().substr(env.Dir().rfind('/') + 1);
  const std::string fake = env.Path("tmp"), home = env.Path("home");
  std::ofstream(env.Path("in-namespace.sh"))
      << "set -e\n"
      << "mkdir -p '" << fake << "/" << base << "' '" << fake << "/varn-'$(id -u) '" << home
      << "'\n"
      << "chmod 1777 '" << fake << "'\n"
      << "chown 12345 '" << fake << "/varn-'$(id -u)\n"
      << "mount --bind '" << env.Dir() << "' '" << fake << "/" << base << "'\n"
      << "mount --rbind '" << fake << "' /tmp\n"
      << "exec env -u XDG_RUNTIME_DIR -u VARN_RUNTIME_DIR HOME='" << home << "' " << VARN_PROGRAM
      << " call ServerConnect\n";
  if (RunShell(env, "[ $(id -u) = 0 ] && unshare -m --propagation private true").status != 0)
    GTEST_SKIP() << "needs root and mount namespaces";
  VarnRun r =
      RunShell(env, "unshare -m --propagation private sh '" + env.Path("in-namespace.sh") + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("ServerConnect: 0\nResultCode: 0\n"));
  EXPECT_THAT(r.err, HasSubstr("varn: the runtime folder /tmp/varn-"));
  EXPECT_THAT(r.err, HasSubstr("it belongs to user 12345, not to this user (0); using " + home +
                               "/.local/state/varn/run instead\n"));
  EXPECT_TRUE(FileExists(home + "/.local/state/varn/run"));
}

}  // namespace
}  // namespace varn::test
