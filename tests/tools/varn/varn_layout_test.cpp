// Where varn finds the driver and the driver finds VarnSrv, from copies of
// the programs laid out as an install is (bin/, lib/<multiarch>/varn/): a
// varn alone says where it looked and what to do; an installed tree works by
// its relative paths alone, registers the driver on first use, and a tree
// moved elsewhere replaces the driver's registration that names the old
// place.
#include <filesystem>

#include "emulator/emulated_device.h"
#include "emulator/registration.h"
#include "platform/registry.h"
#include "tests/support/test_env.h"

namespace varn::test {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

const std::string kClsidKey = "SOFTWARE\\Classes\\CLSID\\{";

// The library and server paths the registry names for the two classes.
struct Registered {
  std::string driver, server;
};

Registered ReadRegistered() {
  const Registry reg = Registry::Default();
  const auto clsid = reg.ReadString("SOFTWARE\\Classes\\VarnDrv.VarnDrv\\CLSID", "");
  const auto srvClsid = reg.ReadString("SOFTWARE\\Classes\\VarnSrv.VarnSrv\\CLSID", "");
  Registered r;
  if (clsid)
    r.driver =
        reg.ReadString("SOFTWARE\\Classes\\CLSID\\" + *clsid + "\\InprocServer32", "").value_or("");
  if (srvClsid)
    r.server = reg.ReadString("SOFTWARE\\Classes\\CLSID\\" + *srvClsid + "\\LocalServer32", "")
                   .value_or("");
  return r;
}

class VarnLayoutTest : public ::testing::Test {
 protected:
  // bin/varn and bin/VarnSrv, lib/<multiarch>/varn/libVarnDrv.so under `prefix`.
  void Install(const fs::path& prefix) {
    const fs::path bin = fs::path(VARN_PROGRAM).parent_path();
    fs::create_directories(prefix / "bin");
    fs::create_directories(prefix / VARN_PRIVATE_LIBDIR);
    fs::copy_file(VARN_PROGRAM, prefix / "bin/varn");
    fs::copy_file(bin / "VarnSrv", prefix / "bin/VarnSrv");
    fs::copy_file(bin / "libVarnDrv.so", prefix / VARN_PRIVATE_LIBDIR / "libVarnDrv.so");
  }
  ShellRun Run(const std::string& program, const std::string& args) {
    return RunShell(env, "'" + program + "' " + args);
  }
  // The server started on demand ends with the last object: wait for it, so
  // that its files may go.
  bool ServerEnded() {
    return Eventually([&] { return !fs::exists(env.Path("run/VarnSrv.sock")); });
  }

  TempEnv env;
  std::string root = fs::canonical(env.Dir()).string();
};

TEST_F(VarnLayoutTest, AVarnWithoutItsDriverSaysWhereItLookedAndWhatToDo) {
  fs::create_directories(root + "/alone");
  fs::copy_file(VARN_PROGRAM, root + "/alone/varn");

  ShellRun r = Run(root + "/alone/varn", "call GetECRStatus");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "varn: Класс не зарегистрирован: VarnDrv.VarnDrv. Его нет в реестре (" +
                       env.RegistryFile() + "), и libVarnDrv.so нет в папках: " + root +
                       "/alone, " + root + "/" + VARN_PRIVATE_LIBDIR +
                       ". Установите пакет varn или положите libVarnDrv.so рядом с "
                       "программой\n");
  // Nothing was found, so nothing was registered.
  EXPECT_FALSE(Registry::Default().KeyExists("SOFTWARE\\Classes\\VarnDrv.VarnDrv"));
}

TEST_F(VarnLayoutTest, AnInstalledTreeWorksByRelativePathsAndKeepsItsRegistrationTrue) {
  emu::EmulatorOptions o;
  o.paperPath = env.Path("paper.txt");
  emu::EmulatedDevice device(o);
  emu::TComRegistration com1(1, device.SlavePath());

  // The driver from lib/<multiarch>/varn/, VarnSrv from bin/ seen from there.
  Install(root + "/first");
  ShellRun r =
      Run(root + "/first/bin/varn", "set 'StringForPrinting=Первая установка' call PrintString");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_THAT(ReadFileOrEmpty(env.Path("paper.txt")), HasSubstr("Первая установка\n"));
  Registered reg = ReadRegistered();
  EXPECT_EQ(reg.driver, root + "/first/" + VARN_PRIVATE_LIBDIR + "/libVarnDrv.so");
  EXPECT_EQ(reg.server, root + "/first/bin/VarnSrv");
  ASSERT_TRUE(ServerEnded());

  // Moved: the driver's registration names a file that is gone; the
  // relative path finds the new place, and the registration says so.
  fs::rename(root + "/first", root + "/moved");
  r = Run(root + "/moved/bin/varn", "list");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("PrintString"));
  EXPECT_EQ(ReadRegistered().driver, root + "/moved/" + VARN_PRIVATE_LIBDIR + "/libVarnDrv.so");
  // VarnSrv's own registration is its own to renew, at its next start.
  ShellRun regServer = Run(root + "/moved/bin/VarnSrv", "/RegServer");
  ASSERT_EQ(regServer.status, 0) << regServer.err;
  r = Run(root + "/moved/bin/varn", "set 'StringForPrinting=Перенесённая' call PrintString");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(ReadFileOrEmpty(env.Path("paper.txt")), HasSubstr("Перенесённая\n"));
  EXPECT_EQ(ReadRegistered().server, root + "/moved/bin/VarnSrv");
  ASSERT_TRUE(ServerEnded());

  // A registration whose file is there wins over the program's own folders:
  // a second tree uses the first one's driver.
  Install(root + "/second");
  r = Run(root + "/second/bin/varn", "call GetECRStatus");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadRegistered().driver, root + "/moved/" + VARN_PRIVATE_LIBDIR + "/libVarnDrv.so");
  ASSERT_TRUE(ServerEnded());
}

}  // namespace
}  // namespace varn::test
