#include "testapp/page.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <stdexcept>
#include <vector>

#include "platform/automation/dispatch.h"
#include "platform/automation/variant.h"

namespace varn::testapp {

QString AppTitle() {
  return QString::fromUtf8(kAppTitle);
}

QString CurrentErrorText() {
  return QString::fromStdString(varn::CurrentErrorText());
}

TPage::TPage(QWidget* owner, TDriver& driver) : QWidget(owner), m_driver(driver) {}

void TPage::BeforeCall() {
  if (OnBeforeCall) OnBeforeCall(*this);
}

void TPage::AfterCall() {
  if (OnAfterCall) OnAfterCall(*this);
}

void TPage::RunCall(const std::function<void()>& body) {
  // Only the buttons enabled now come back: a button the page keeps
  // disabled (a stop button while idle) stays so.
  std::vector<QAbstractButton*> disabled;
  for (QAbstractButton* b : findChildren<QAbstractButton*>()) {
    if (b->isEnabled() && b->metaObject()->className() == QStringLiteral("QPushButton")) {
      b->setEnabled(false);
      disabled.push_back(b);
    }
  }
  QString failure;
  try {
    body();
  } catch (...) {
    failure = CurrentErrorText();
  }
  for (QAbstractButton* b : disabled) b->setEnabled(true);
  if (!failure.isEmpty()) QMessageBox::critical(window(), AppTitle(), failure);
}

int32_t TPage::ToInt(const QString& text) {
  bool ok = false;
  const int32_t v = text.trimmed().toInt(&ok);
  if (!ok) throw std::invalid_argument("'" + text.toStdString() + "' не является целым числом.");
  return v;
}

}  // namespace varn::testapp
