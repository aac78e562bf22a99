// Шрифты: the metrics of one font, or of every font the device has.
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "testapp/page_controls.h"
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

class TfmFont : public TCallPage {
 public:
  TfmFont(QWidget* owner, TDriver& driver) : TCallPage(owner, driver) {
    setObjectName("fmFont");
    m_memo = new QPlainTextEdit;
    m_memo->setObjectName("Memo");
    m_memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_font = new TUpDownEdit("edtFontType", "1", 0, 255);

    auto* controls = new QGridLayout;
    controls->addWidget(NewLabel("lblFontType", "Номер шрифта:", m_font), 0, 0);
    controls->addWidget(m_font, 0, 1);
    controls->addWidget(AddButton("btnGetFontMetrics", "Параметры шрифта", [this] { OneFont(); }),
                        1, 0, 1, 2);
    controls->addWidget(
        AddButton("btnGetFontsMetrics", "Параметры шрифтов", [this] { AllFonts(); }), 2, 0, 1, 2);
    controls->setColumnStretch(2, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_memo, 1);
    layout->addLayout(controls);
  }
  static QString PageTitle() { return "Шрифты"; }

 private:
  void Line(const QString& text) { m_memo->appendPlainText(text); }

  // PrintWidth div CharWidth; a device that reports a character width of
  // 0 gets 0 characters per line rather than a division by zero.
  QString CharsPerLine() {
    const int32_t charWidth = Driver().Int(drv_dispid::kCharWidth);
    return Num(charWidth == 0 ? 0 : Driver().Int(drv_dispid::kPrintWidth) / charWidth);
  }

  void Metrics() {
    Line("Ширина печати в точках: " + Num(Driver().Int(drv_dispid::kPrintWidth)));
    Line("Ширина символа в точках: " + Num(Driver().Int(drv_dispid::kCharWidth)));
    Line("Высота символа в точках: " + Num(Driver().Int(drv_dispid::kCharHeight)));
  }

  void OneFont() {
    m_memo->clear();
    Driver().Set(drv_dispid::kFontType, ToInt(m_font->text()));
    if (CallDriver(drv_dispid::kGetFontMetrics) != 0) return;
    Metrics();
    Line("Количество шрифтов: " + Num(Driver().Int(drv_dispid::kFontCount)));
    Line("Количество символов в строке: " + CharsPerLine());
  }

  // Font 1 gives the count; then each font in turn, up to the first one
  // the device refuses.
  void AllFonts() {
    m_memo->clear();
    TDriver& d = Driver();
    d.Set(drv_dispid::kFontType, 1);
    BeforeCall();
    if (d.Call(drv_dispid::kGetFontMetrics) == 0) {
      const int32_t count = d.Int(drv_dispid::kFontCount);
      Line("Количество шрифтов: " + Num(count));
      for (int32_t n = 1; n <= count; ++n) {
        d.Set(drv_dispid::kFontType, n);
        if (d.Call(drv_dispid::kGetFontMetrics) != 0) break;
        Line("Шрифт " + Num(n));
        Metrics();
        Line("Количество символов в строке: " + CharsPerLine());
      }
    }
    AfterCall();
  }

  QPlainTextEdit* m_memo;
  TUpDownEdit* m_font;
};

}  // namespace

TPageClass FontPage() {
  return PageClassOf<TfmFont>();
}

}  // namespace varn::testapp
