// What the window tests share: the offscreen application on the driver
// fixture, finding widgets by their object names, waiting while Qt runs,
// handling modal windows as they appear, and the pictures of the windows
// (VARN_SCREENSHOTS=<folder> saves each as VarnDrv-<window>.png there).
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTest>

#include "driver/gui/gui_common.h"
#include "tests/driver/core/driver_fixture.h"
#include "tests/support/qt_test.h"

namespace varn::test {

inline void Screenshot(QWidget* w, const char* name) {
  test::Screenshot(*w, "VarnDrv", name);
}

[[maybe_unused]] inline auto* const g_qt = AddQtEnvironment("drv_gui_test", [] {
  gui::SetWindowsFont();
  gui::InstallQtTranslations();
});

class GuiTest : public DriverTest {
 protected:
  template <class W = QWidget>
  static W* Find(QWidget& parent, const char* name) {
    W* w = parent.findChild<W*>(name);
    EXPECT_TRUE(w) << name;
    return w;
  }
};

}  // namespace varn::test
