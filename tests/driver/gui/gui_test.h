// What the window tests share: the offscreen application on the driver
// fixture, finding widgets by their object names, waiting while Qt runs,
// handling modal windows as they appear, and the pictures of the windows
// (VARN_SCREENSHOTS=<folder> saves each as VarnDrv-<window>.png there).
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>

#include "driver/gui/gui_common.h"
#include "tests/driver/core/driver_fixture.h"

namespace varn::test {

inline void Screenshot(QWidget* w, const char* name) {
  const char* dir = std::getenv("VARN_SCREENSHOTS");
  if (!dir) return;
  if (!w->isVisible()) w->adjustSize();
  w->grab().save(QString("%1/VarnDrv-%2.png").arg(dir, name));
}

// Types `text` into `w` as the keyboard does, any letters (QTest's key
// clicks know ASCII only).
inline void Type(QWidget* w, const QString& text) {
  for (const QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(w, &release);
  }
}

// A double-click as the mouse makes it: press, release, double-click,
// release (QTest's own sends the double-click alone).
inline void DoubleClick(QWidget* w, QPoint at) {
  QTest::mouseClick(w, Qt::LeftButton, {}, at);
  QTest::mouseDClick(w, Qt::LeftButton, {}, at);
  QTest::mouseRelease(w, Qt::LeftButton, {}, at);
}

// Eventually, with Qt's events processed meanwhile (the workers post to the
// windows).
template <class F>
bool EventuallyQt(F done) {
  return Eventually([&] {
    QApplication::processEvents();
    return done();
  });
}

// Calls `step` with each modal window that becomes active, again on every
// tick while it returns false. A step must not run a nested event loop
// (exec, a message box): it posts such actions instead, so that the next
// modal window is seen too.
class Modals {
 public:
  explicit Modals(std::function<bool(QWidget*)> step) : m_step(std::move(step)) {
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
      QWidget* w = QApplication::activeModalWidget();
      if (!w || m_done.count(w)) return;
      if (m_step(w)) m_done.insert(w);
    });
    m_timer.start(20);
  }

 private:
  std::function<bool(QWidget*)> m_step;
  QTimer m_timer;
  std::set<QWidget*> m_done;
};

// Runs `inspect` on the next modal window to appear, then closes it (as
// Escape does); the text of a message box is kept.
class OnModal {
 public:
  explicit OnModal(std::function<void(QWidget*)> inspect = {})
      : m_modals([this, inspect = std::move(inspect)](QWidget* w) {
          if (auto* box = qobject_cast<QMessageBox*>(w)) {
            text = box->text();
            caption = box->windowTitle();
          }
          if (inspect) inspect(w);
          static_cast<QDialog*>(w)->reject();
          return true;
        }) {}
  QString text, caption;

 private:
  Modals m_modals;
};

// One QApplication for the whole binary, offscreen, destroyed at the end
// (so that what Qt and fontconfig hold is freed: clean under LeakSanitizer).
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    m_app = std::make_unique<QApplication>(m_argc, m_argv);
    QApplication::setQuitOnLastWindowClosed(false);
    gui::SetWindowsFont();
  }
  void TearDown() override { m_app.reset(); }

 private:
  int m_argc = 1;
  char m_name[16] = "drv_gui_test";
  char* m_argv[2] = {m_name, nullptr};
  std::unique_ptr<QApplication> m_app;
};
inline auto* const g_qt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

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
