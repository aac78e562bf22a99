// Hosts without a display, or without the window library, get a clear
// result from ShowProperties and never load Qt.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/testing/child_process.h"
#include "tests/driver/core/driver_fixture.h"

namespace varn::test {
namespace {

bool QtLoaded() {
  return ReadFileOrEmpty("/proc/self/maps").find("libQt6") != std::string::npos;
}

class WindowLoadingTest : public DriverTest {
 protected:
  WindowLoadingTest() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) unsetenv(name);
  }
};

TEST_F(WindowLoadingTest, WithoutDisplayOrLibraryShowPropertiesFailsClearlyAndQtStaysOut) {
  Driver drv;
  EXPECT_EQ(drv.Call(u"ShowProperties"), -8);
  EXPECT_EQ(drv.Result().first, -8);
  EXPECT_NE(drv.Result().second.find("нет дисплея"), std::string::npos) << drv.Result().second;

  // varn on a terminal without a display: the reason, exit status 1.
  const std::string out = env.Path("varn.txt");
  ChildProcess varnRun(VARN_PROGRAM, {"properties"}, out);
  EXPECT_EQ(varnRun.Wait(std::chrono::seconds(60)), 1);
  EXPECT_NE(ReadFileOrEmpty(out).find("-8: Окно свойств недоступно: нет дисплея"),
            std::string::npos)
      << ReadFileOrEmpty(out);

  // A display named that does not answer: the same -8 with the reason,
  // for the driver and for varn, and Qt is not loaded to find it out.
  int n = 99;
  while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n))) ++n;
  const std::string name = ":" + std::to_string(n);
  setenv("DISPLAY", name.c_str(), 1);
  EXPECT_EQ(drv.Call(u"ShowProperties"), -8);
  EXPECT_EQ(drv.Result().second, "Окно свойств недоступно: дисплей " + name +
                                     " недоступен (No such file or directory).");
  const std::string unreachable = env.Path("varn-display.txt");
  ChildProcess varnDisplay(VARN_PROGRAM, {"properties"}, unreachable);
  EXPECT_EQ(varnDisplay.Wait(std::chrono::seconds(60)), 1);
  EXPECT_NE(ReadFileOrEmpty(unreachable).find("-8: Окно свойств недоступно: дисплей " + name),
            std::string::npos)
      << ReadFileOrEmpty(unreachable);
  unsetenv("DISPLAY");
  EXPECT_FALSE(QtLoaded());

  // A driver installed without the window library: a display is there, the
  // library is not.
  const std::string copy = env.Path("libVarnDrv.so");
  std::filesystem::copy_file(std::filesystem::path(VARN_PROGRAM).parent_path() / "libVarnDrv.so",
                             copy);
  RegisterClass(registry, kVarnDrvClsid, kVarnDrvProgId, copy, ServerKind::InProcess);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  {
    Driver lone;
    EXPECT_EQ(lone.Call(u"ShowProperties"), -8);
    EXPECT_NE(lone.Result().second.find("библиотека окон драйвера не загружена"), std::string::npos)
        << lone.Result().second;
  }
  unsetenv("QT_QPA_PLATFORM");
  EXPECT_FALSE(QtLoaded());
}

}  // namespace
}  // namespace varn::test
