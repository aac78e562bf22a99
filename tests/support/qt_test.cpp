#include "tests/support/qt_test.h"

#include <gtest/gtest.h>

#include <QFont>
#include <QKeyEvent>
#include <QTest>
#include <cstdlib>
#include <string>

namespace varn::test {
namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  QtEnvironment(const char* name, std::function<void()> setUp)
      : m_name(name), m_setUp(std::move(setUp)) {}
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    m_argv[0] = m_name.data();
    m_app = std::make_unique<QApplication>(m_argc, m_argv);
    QApplication::setFont(QFont("DejaVu Sans", 9));
    // Closing a window ends a test's loop, never the test program.
    QApplication::setQuitOnLastWindowClosed(false);
    if (m_setUp) m_setUp();
  }
  void TearDown() override { m_app.reset(); }

 private:
  std::string m_name;
  std::function<void()> m_setUp;
  int m_argc = 1;
  char* m_argv[2] = {nullptr, nullptr};
  std::unique_ptr<QApplication> m_app;
};

}  // namespace

::testing::Environment* AddQtEnvironment(const char* programName, std::function<void()> setUp) {
  return ::testing::AddGlobalTestEnvironment(new QtEnvironment(programName, std::move(setUp)));
}

void Type(QWidget* w, const QString& text) {
  for (const QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(w, &release);
  }
}

void DoubleClick(QWidget* w, QPoint at) {
  QTest::mouseClick(w, Qt::LeftButton, {}, at);
  QTest::mouseDClick(w, Qt::LeftButton, {}, at);
  QTest::mouseRelease(w, Qt::LeftButton, {}, at);
}

void Screenshot(QWidget& w, const char* prefix, const char* name) {
  const char* dir = std::getenv("VARN_SCREENSHOTS");
  if (!dir) return;
  if (!w.isVisible()) w.adjustSize();
  QApplication::processEvents();
  w.grab().save(QString("%1/%2-%3.png").arg(dir, prefix, name));
}

Modals::Modals(std::function<bool(QWidget*)> step) : m_step(std::move(step)) {
  QObject::connect(&m_timer, &QTimer::timeout, [this] {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || m_done.count(w)) return;
    if (!m_step(w)) return;
    m_done.insert(w);
    // A later window may be made at the address of one gone.
    QObject::connect(w, &QObject::destroyed, &m_timer, [this, w] { m_done.erase(w); });
  });
  m_timer.start(20);
}

OnModal::OnModal(std::function<void(QWidget*)> inspect)
    : m_modals([this, inspect = std::move(inspect)](QWidget* w) {
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
          text = box->text();
          caption = box->windowTitle();
        }
        if (inspect) inspect(w);
        static_cast<QDialog*>(w)->reject();
        return true;
      }) {}

}  // namespace varn::test
