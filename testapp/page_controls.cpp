#include "testapp/page_controls.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

namespace varn::testapp {

TUpDownEdit::TUpDownEdit(const QString& name, const QString& text, int min, int max,
                         QWidget* parent)
    : QAbstractSpinBox(parent), m_min(min), m_max(max) {
  setObjectName(name);
  setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
  setKeyboardTracking(true);
  SetText(text);
}

void TUpDownEdit::SetText(const QString& text) {
  lineEdit()->setText(text);
}

void TUpDownEdit::stepBy(int steps) {
  bool ok = false;
  const int now = text().trimmed().toInt(&ok);
  // A text that is not a number steps from the bottom of the range.
  const long long next = ok ? static_cast<long long>(now) + steps : m_min;
  SetText(QString::number(std::clamp<long long>(next, m_min, m_max)));
}

QAbstractSpinBox::StepEnabled TUpDownEdit::stepEnabled() const {
  bool ok = false;
  const int now = text().trimmed().toInt(&ok);
  if (!ok) return StepUpEnabled | StepDownEnabled;
  StepEnabled e = StepNone;
  if (now < m_max) e |= StepUpEnabled;
  if (now > m_min) e |= StepDownEnabled;
  return e;
}

QSize TUpDownEdit::sizeHint() const {
  // Room for the widest number of the range and the arrows.
  QSize s = QAbstractSpinBox::sizeHint();
  const QFontMetrics fm(font());
  const int digits = fm.horizontalAdvance(QString::number(std::max(std::abs(m_min), m_max)) + "0");
  s.setWidth(std::max(s.width(), digits + 40));
  return s;
}

QPushButton* TCallPage::AddButton(const QString& name, const QString& text,
                                  std::function<void()> body) {
  auto* b = new QPushButton(text, this);
  b->setObjectName(name);
  QObject::connect(b, &QPushButton::clicked, this,
                   [this, body = std::move(body)] { RunCall(body); });
  return b;
}

int32_t TCallPage::CallDriver(const std::u16string& method) {
  BeforeCall();
  const int32_t result = Driver().Call(method);
  AfterCall();
  return result;
}

QComboBox* NewComList(const QString& name) {
  auto* cb = new QComboBox;
  cb->setObjectName(name);
  for (int i = 1; i <= 32; ++i) cb->addItem("COM " + QString::number(i));
  return cb;
}

QComboBox* NewBaudList(const QString& name) {
  auto* cb = new QComboBox;
  cb->setObjectName(name);
  for (const char* rate : {"2400", "4800", "9600", "19200", "38400", "57600", "115200"})
    cb->addItem(rate);
  return cb;
}

QLabel* NewLabel(const QString& name, const QString& text, QWidget* buddy) {
  auto* l = new QLabel(text);
  l->setObjectName(name);
  if (buddy) l->setBuddy(buddy);
  return l;
}

QString Num(int64_t v) {
  return QString::number(v);
}

}  // namespace varn::testapp
