// What the pages share besides TPage: the number field with an up-down
// (TUpDownEdit), the page whose buttons each run one driver call
// (TCallPage), and the COM port and baud-rate lists.
//
//   auto* e = new TUpDownEdit("edtTimeout", "50", 0, 32767);
//   AddButton("btnConnect", "Установить связь", [this] { CallDriver(u"Connect"); });
#pragma once

#include <QAbstractSpinBox>
#include <QString>
#include <functional>

#include "testapp/page.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace varn::testapp {

// A number field as the test program has them: any text may be typed (a
// text that is not a number fails the standard conversion when a button
// uses it), and the up-down (arrows, keys, wheel) steps within the range.
// Its saved value is its text.
class TUpDownEdit : public QAbstractSpinBox {
 public:
  TUpDownEdit(const QString& name, const QString& text, int min, int max,
              QWidget* parent = nullptr);
  void SetText(const QString& text);
  int Min() const { return m_min; }
  int Max() const { return m_max; }
  void stepBy(int steps) override;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  StepEnabled stepEnabled() const override;
  QValidator::State validate(QString&, int&) const override { return QValidator::Acceptable; }

 private:
  int m_min, m_max;
};

// A page of buttons, each a driver call inside the call frame.
class TCallPage : public TPage {
 public:
  using TPage::TPage;

 protected:
  // A button whose click runs `body` in the call frame (RunCall).
  QPushButton* AddButton(const QString& name, const QString& text, std::function<void()> body);
  // BeforeCall, the method, AfterCall; the method's result.
  int32_t CallDriver(const std::u16string& method);
};

// "COM 1" .. "COM 32": entry k stands for port k + 1.
QComboBox* NewComList(const QString& name);
// "2400" .. "115200": the entry index is the baud-rate code.
QComboBox* NewBaudList(const QString& name);
// A label named `name` for `buddy`.
QLabel* NewLabel(const QString& name, const QString& text, QWidget* buddy = nullptr);
// The text of a driver value for the memos.
QString Num(int64_t v);

}  // namespace varn::testapp
