// The test program as a real process, offscreen: its usage text instead of
// the window, and its end on a termination signal, saving its inputs as a
// close by the user does.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "driver/core/varn_drv.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/testing/child_process.h"
#include "testapp/saved_inputs.h"
#include "tests/support/test_env.h"

namespace varn::test {
namespace {

class ProgramTest : public ::testing::Test {
 protected:
  ProgramTest() { ::setenv("QT_QPA_PLATFORM", "offscreen", 1); }
  std::string Output() const { return ReadFileOrEmpty(env.Path("out.txt")); }
  TempEnv env;
  Registry registry = Registry::Default();
};

TEST_F(ProgramTest, HelpPrintsTheUsageAndABadParameterIsRefused) {
  {
    ChildProcess program(VARNTEST_PROGRAM, {"--help"}, env.Path("out.txt"));
    EXPECT_EQ(program.Wait(kPatience), std::optional<int>(0)) << "the window opened instead";
  }
  EXPECT_NE(Output().find("Использование: VarnTest"), std::string::npos) << Output();
  EXPECT_NE(Output().find("--help"), std::string::npos) << Output();
  {
    ChildProcess program(VARNTEST_PROGRAM, {"--no-such-thing"}, env.Path("out.txt"));
    EXPECT_EQ(program.Wait(kPatience), std::optional<int>(2));
  }
  EXPECT_NE(Output().find("неизвестный параметр --no-such-thing"), std::string::npos) << Output();
}

TEST_F(ProgramTest, TerminationSignalsCloseItAndTheInputsAreSaved) {
  // The driver's log shows when the window is up: its pages read the driver.
  registry.WriteDword(kDriverParamKey, "LogEnabled", 1);
  const std::string log = env.LogDir() + "/VarnDrv.log";
  const std::string barcode = "edtBarcode.fmPrint.pnlData.fmMain";
  for (const bool terminate : {true, false}) {
    SCOPED_TRACE(terminate ? "SIGTERM" : "SIGINT");
    registry.DeleteKey(testapp::kSavedInputsKey);
    registry.WriteDword(testapp::kSavedInputsKey, "PageIndex", 4);
    RemoveFile(log);
    ChildProcess program(VARNTEST_PROGRAM, {}, env.Path("out.txt"));
    ASSERT_TRUE(Eventually([&] { return !ReadFileOrEmpty(log).empty() || !program.Running(); }))
        << Output();
    ASSERT_TRUE(program.Running()) << Output();
    if (terminate)
      program.Terminate();
    else
      program.Interrupt();
    EXPECT_EQ(program.Wait(kPatience), std::optional<int>(0)) << Output();
    // Written by the close: the page shown and every input.
    EXPECT_EQ(registry.ReadDword(testapp::kSavedInputsKey, "PageIndex"), 4u);
    EXPECT_EQ(registry.ReadString(testapp::kSavedInputsKey, barcode), "1234567890123");
  }

  // A signal while the start-up's message box is up (a stored page that
  // is not there): the box goes, and so does the program, saving.
  registry.DeleteKey(testapp::kSavedInputsKey);
  registry.WriteDword(testapp::kSavedInputsKey, "PageIndex", 11);
  RemoveFile(log);
  ChildProcess program(VARNTEST_PROGRAM, {}, env.Path("out.txt"));
  ASSERT_TRUE(Eventually([&] { return !ReadFileOrEmpty(log).empty() || !program.Running(); }))
      << Output();
  program.Terminate();
  EXPECT_EQ(program.Wait(kPatience), std::optional<int>(0)) << Output();
  EXPECT_EQ(registry.ReadDword(testapp::kSavedInputsKey, "PageIndex"), 0u);
  EXPECT_EQ(registry.ReadString(testapp::kSavedInputsKey, barcode), "1234567890123");
}

}  // namespace
}  // namespace varn::test
