// Устройства: the driver's logical devices through its buffer properties.
#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>

#include "testapp/form_controls.h"
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

class TfmLD : public TPage {
 public:
  TfmLD(QWidget* owner, TDriver& driver) : TPage(owner, driver) {
    setObjectName("fmLD");
    m_index = NumberEdit(this, "edtLDIndex", 0);
    m_count = TextEdit(this, "edtLDCount", "", 64);
    m_count->setReadOnly(true);
    m_baudRate = BaudRateList(this, "cbBaudRate");
    m_comNumber = ComPortList(this, "cbComNumber");
    m_number = NumberEdit(this, "edtLDNumber", 1);
    m_name = TextEdit(this, "edtLDName", "");
    m_timeout = NumberEdit(this, "edtTimeout", 100);
    m_computer = TextEdit(this, "edtComputerName", "");
    auto* browse = ActionButton(this, "btnComputerName", "...", [this] { BrowseComputer(); });
    browse->setFixedWidth(24);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    int row = 0;
    const auto field = [&](const QString& caption, QWidget* input) {
      grid->addWidget(Caption(this, caption, input), row, 0);
      grid->addWidget(input, row++, 1);
    };
    field("Индекс:", m_index);
    field("Количество:", m_count);
    field("Скорость:", m_baudRate);
    field("\u0421OM порт:", m_comNumber);  // the first letter is the Cyrillic Es
    field("Номер:", m_number);
    field("Название:", m_name);
    field("Таймаут:", m_timeout);
    auto* computer = new QHBoxLayout;
    computer->setSpacing(2);
    computer->addWidget(m_computer);
    computer->addWidget(browse);
    grid->addWidget(Caption(this, "Компьютер:", m_computer), row, 0);
    grid->addLayout(computer, row++, 1);
    grid->setRowStretch(8, 1);

    row = 0;
    const auto add = [&](const char* name, const QString& text, std::function<void()> onClick) {
      grid->addWidget(ActionButton(this, name, text, std::move(onClick)), row++, 2);
    };
    add("btnAddLD", "Добавить ЛУ", [this] { Run([&] { PutLDFields(); }, u"AddLD", true); });
    add("btnDeleteLD", "Удалить ЛУ", [this] { Run([&] { SetNumber(); }, u"DeleteLD", true); });
    add("btnGetCountLD", "Количество ЛУ", [this] { Run({}, u"GetCountLD", true); });
    add("btnEnumLD", "Перечислить ЛУ", [this] {
      Run([&] { Driver().Set(u"LDIndex", ToInt(m_index->text())); }, u"EnumLD", true);
    });
    add("btnSetParamLD", "Установить параметры ЛУ", [this] {
      Run(
          [&] {
            SetNumber();
            PutLDFields();
          },
          u"SetParamLD", false);
    });
    add("btnGetParamLD", "Получить параметры ЛУ",
        [this] { Run([&] { SetNumber(); }, u"GetParamLD", true); });
    add("btnSetActiveLD", "Установить активное ЛУ",
        [this] { Run([&] { SetNumber(); }, u"SetActiveLD", true); });
    add("btnGetActiveLD", "Получить активное ЛУ", [this] { Run({}, u"GetActiveLD", true); });
    grid->setColumnStretch(1, 1);

    // What the driver holds now; this is where the driver object comes to be.
    RunCall([&] { ShowLDFields(); });
  }
  static QString PageTitle() { return "Устройства"; }

 private:
  // Sets, the call, and on this page the fields shown whatever the result.
  void Run(const std::function<void()>& sets, const std::u16string& method, bool show) {
    RunCall([&] {
      if (sets) sets();
      BeforeCall();
      Driver().Call(method);
      AfterCall();
      if (show) ShowLDFields();
    });
  }

  void SetNumber() { Driver().Set(u"LDNumber", ToInt(m_number->text())); }

  void PutLDFields() {
    Driver().Set(u"LDName", m_name->text());
    Driver().Set(u"LDBaudrate", m_baudRate->currentIndex());
    Driver().Set(u"LDComNumber", m_comNumber->currentIndex() + 1);
    Driver().Set(u"LDComputerName", m_computer->text());
    Driver().Set(u"LDTimeout", ToInt(m_timeout->text()));
  }

  void ShowLDFields() {
    m_name->setText(Driver().Text(u"LDName"));
    m_number->setText(QString::number(Driver().Int(u"LDNumber")));
    m_comNumber->setCurrentIndex(Driver().Int(u"LDComNumber") - 1);
    m_baudRate->setCurrentIndex(Driver().Int(u"LDBaudrate"));
    m_count->setText(QString::number(Driver().Int(u"LDCount")));
    m_index->setText(QString::number(Driver().Int(u"LDIndex")));
  }

  void BrowseComputer() {
    bool ok = false;
    const QString name =
        QInputDialog::getText(this, QApplication::applicationDisplayName(),
                              "Укажите имя компьютера", QLineEdit::Normal, m_computer->text(), &ok);
    if (ok && !name.trimmed().isEmpty()) m_computer->setText(name.trimmed());
  }

  QLineEdit* m_index;
  QLineEdit* m_count;
  QComboBox* m_baudRate;
  QComboBox* m_comNumber;
  QLineEdit* m_number;
  QLineEdit* m_name;
  QLineEdit* m_timeout;
  QLineEdit* m_computer;
};

}  // namespace

TPageClass LDPage() {
  return PageClassOf<TfmLD>();
}

}  // namespace varn::testapp
