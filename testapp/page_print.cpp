// Печать: feeding, the test run, text lines in three kinds and bar codes.
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "testapp/page_controls.h"
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

// An edit whose typing (keys, pasting, dropping) stops at `limit`
// characters while a longer text set by the program (its default, a
// restored value) stays whole; QLineEdit::setMaxLength would cut that.
class TLimitedEdit : public QLineEdit {
 public:
  TLimitedEdit(const QString& name, const QString& text, int limit)
      : QLineEdit(text), m_limit(limit), m_last(text) {
    setObjectName(name);
    // Read back, not taken from the signal: a refused edit is undone inside it.
    QObject::connect(this, &QLineEdit::textChanged, this, [this] { m_last = this->text(); });
    QObject::connect(this, &QLineEdit::textEdited, this, [this](const QString& now) {
      if (now.size() <= m_limit || now.size() <= m_last.size()) return;
      const int cursor = cursorPosition() - static_cast<int>(now.size() - m_last.size());
      setText(m_last);
      setCursorPosition(cursor);
    });
  }

 private:
  int m_limit;
  QString m_last;
};

class TfmPrint : public TCallPage {
 public:
  TfmPrint(QWidget* owner, TDriver& driver) : TCallPage(owner, driver) {
    setObjectName("fmPrint");
    m_quantity = new TUpDownEdit("edtStringQuantity", "15", 0, 255);
    m_period = new TUpDownEdit("edtRunningPeriod", "15", 0, 255);
    m_font = new TUpDownEdit("edtFontType", "1", 0, 255);
    m_string = new QLineEdit("Строка для печати");
    m_string->setObjectName("edtStringForPrinting");
    m_barcode = new TLimitedEdit("edtBarcode", "1234567890123", 12);

    auto* grid = new QGridLayout(this);
    grid->addWidget(NewLabel("lblStringQuantity", "Количество строк:", m_quantity), 0, 0);
    grid->addWidget(m_quantity, 0, 1);
    grid->addWidget(AddButton("btnFeedDocument", "Продвинуть документ",
                              [this] {
                                Driver().Set(drv_dispid::kStringQuantity,
                                             ToInt(m_quantity->text()));
                                CallDriver(drv_dispid::kFeedDocument);
                              }),
                    0, 2);
    grid->addWidget(NewLabel("lblRunningPeriod", "Период прогона:", m_period), 1, 0);
    grid->addWidget(m_period, 1, 1);
    grid->addWidget(AddButton("btnTest", "Тестовый прогон",
                              [this] {
                                Driver().Set(drv_dispid::kRunningPeriod, ToInt(m_period->text()));
                                CallDriver(drv_dispid::kTest);
                              }),
                    1, 2);
    grid->addWidget(AddButton("btnInterruptTest", "Прервать прогон",
                              [this] { CallDriver(drv_dispid::kInterruptTest); }),
                    2, 2);
    grid->addWidget(NewLabel("lblFontType", "Тип шрифта:", m_font), 3, 0);
    grid->addWidget(m_font, 3, 1);
    grid->addWidget(AddButton("btnPrintStringWithFont", "Печать строки шрифтом",
                              [this] {
                                const int32_t font = ToInt(m_font->text());
                                // Set after BeforeCall: the time shown includes them.
                                BeforeCall();
                                Driver().Set(drv_dispid::kFontType, font);
                                Driver().Set(drv_dispid::kStringForPrinting, m_string->text());
                                Driver().Call(drv_dispid::kPrintStringWithFont);
                                AfterCall();
                              }),
                    3, 2);
    grid->addWidget(NewLabel("lblStringForPrinting", "Строка:", m_string), 4, 0);
    grid->addWidget(m_string, 4, 1, 1, 2);
    grid->addWidget(AddButton("btnPrintString", "Печать строки",
                              [this] {
                                Driver().Set(drv_dispid::kStringForPrinting, m_string->text());
                                CallDriver(drv_dispid::kPrintString);
                              }),
                    5, 2);
    grid->addWidget(AddButton("btnPrintWideString", "Печать жирной строки",
                              [this] {
                                Driver().Set(drv_dispid::kStringForPrinting, m_string->text());
                                CallDriver(drv_dispid::kPrintWideString);
                              }),
                    6, 2);
    grid->addWidget(NewLabel("lblBarcode", "Штрих-код:", m_barcode), 7, 0);
    // Room for the 13 digits of an EAN-13 code.
    m_barcode->setMinimumWidth(m_barcode->fontMetrics().horizontalAdvance(QString(13, '0')) + 10);
    grid->addWidget(m_barcode, 7, 1);
    grid->addWidget(AddButton("btnPrintBarCode", "Печать штрих-кода",
                              [this] {
                                Driver().Set(drv_dispid::kBarCode, m_barcode->text());
                                CallDriver(drv_dispid::kPrintBarCode);
                              }),
                    7, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(8, 1);
  }
  static QString PageTitle() { return "Печать"; }

 private:
  TUpDownEdit* m_quantity;
  TUpDownEdit* m_period;
  TUpDownEdit* m_font;
  QLineEdit* m_string;
  TLimitedEdit* m_barcode;
};

}  // namespace

TPageClass PrintPage() {
  return PageClassOf<TfmPrint>();
}

}  // namespace varn::testapp
