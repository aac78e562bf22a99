// What the window suites share: one offscreen QApplication per test binary,
// modal windows handled as they appear, waiting while Qt runs, typing any
// letters, and the pictures of the windows (VARN_SCREENSHOTS=<folder>).
#pragma once

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <set>

#include "tests/support/test_env.h"

class QWidget;
class QPoint;

namespace varn::test {

// One QApplication for the whole binary, offscreen (no display needed),
// DejaVu Sans 9 as on the target systems, destroyed at the end so that what
// Qt and fontconfig hold is freed (clean under LeakSanitizer). `setUp` runs
// after the application is made. Use once per binary:
//   [[maybe_unused]] auto* const g_qt = AddQtEnvironment("my_test");
::testing::Environment* AddQtEnvironment(const char* programName, std::function<void()> setUp = {});

// Eventually, with Qt's events processed meanwhile (workers post to the
// windows).
template <class F>
bool EventuallyQt(F done) {
  return Eventually([&] {
    QApplication::processEvents();
    return done();
  });
}

// Types `text` into `w` as the keyboard does, any letters (QTest's key
// clicks know ASCII only).
void Type(QWidget* w, const QString& text);

// A double-click as the mouse makes it: press, release, double-click,
// release (QTest's own sends the double-click alone).
void DoubleClick(QWidget* w, QPoint at);

// Saves `w` as <VARN_SCREENSHOTS>/<prefix>-<name>.png when that variable is
// set; `w` is laid out first if it is not shown.
void Screenshot(QWidget& w, const char* prefix, const char* name);

// Calls `step` with each modal window that becomes active, again on every
// tick while it returns false. A step must not run a nested event loop
// (exec, a message box): it posts such actions instead, so that the next
// modal window is seen too.
class Modals {
 public:
  explicit Modals(std::function<bool(QWidget*)> step);

 private:
  std::function<bool(QWidget*)> m_step;
  QTimer m_timer;
  std::set<QWidget*> m_done;
};

// Runs `inspect` on the next modal window to appear, then closes it (as
// Escape does); the text and caption of a message box are kept.
class OnModal {
 public:
  explicit OnModal(std::function<void(QWidget*)> inspect = {});
  QString text, caption;

 private:
  Modals m_modals;
};

}  // namespace varn::test
