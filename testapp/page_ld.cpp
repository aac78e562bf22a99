// Устройства: the driver's logical devices through its buffer properties.
#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "testapp/page_controls.h"
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

class TfmLD : public TCallPage {
 public:
  TfmLD(QWidget* owner, TDriver& driver) : TCallPage(owner, driver) {
    setObjectName("fmLD");
    m_index = Edit("edtLDIndex", "0", 64);
    m_count = Edit("edtLDCount", "", 64);
    m_count->setReadOnly(true);
    m_baudRate = NewBaudList("cbBaudRate");
    m_comNumber = NewComList("cbComNumber");
    m_number = Edit("edtLDNumber", "1", 64);
    m_name = Edit("edtLDName", "");
    m_timeout = Edit("edtTimeout", "100", 64);
    m_computer = Edit("edtComputerName", "");
    auto* browse = new QPushButton("...");
    browse->setObjectName("btnComputerName");
    connect(browse, &QPushButton::clicked, this, [this] { BrowseComputer(); });
    browse->setFixedWidth(24);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    int row = 0;
    const auto field = [&](const char* name, const QString& caption, QWidget* input) {
      grid->addWidget(NewLabel(name, caption, input), row, 0);
      grid->addWidget(input, row++, 1);
    };
    field("lblLDIndex", "Индекс:", m_index);
    field("lblLDCount", "Количество:", m_count);
    field("lblBaudRate", "Скорость:", m_baudRate);
    field("lblComNumber", "\u0421OM порт:", m_comNumber);  // the first letter is the Cyrillic Es
    field("lblLDNumber", "Номер:", m_number);
    field("lblLDName", "Название:", m_name);
    field("lblTimeout", "Таймаут:", m_timeout);
    auto* computer = new QHBoxLayout;
    computer->setSpacing(2);
    computer->addWidget(m_computer);
    computer->addWidget(browse);
    grid->addWidget(NewLabel("lblComputerName", "Компьютер:", m_computer), row, 0);
    grid->addLayout(computer, row++, 1);
    grid->setRowStretch(8, 1);

    row = 0;
    const auto add = [&](const char* name, const QString& text, std::function<void()> onClick) {
      grid->addWidget(AddButton(name, text, std::move(onClick)), row++, 2);
    };
    add("btnAddLD", "Добавить ЛУ",
        [this] { Run([&] { PutLDFields(); }, drv_dispid::kAddLD, true); });
    add("btnDeleteLD", "Удалить ЛУ",
        [this] { Run([&] { SetNumber(); }, drv_dispid::kDeleteLD, true); });
    add("btnGetCountLD", "Количество ЛУ", [this] { Run({}, drv_dispid::kGetCountLD, true); });
    add("btnEnumLD", "Перечислить ЛУ", [this] {
      Run([&] { Driver().Set(drv_dispid::kLDIndex, ToInt(m_index->text())); }, drv_dispid::kEnumLD,
          true);
    });
    add("btnSetParamLD", "Установить параметры ЛУ", [this] {
      Run(
          [&] {
            SetNumber();
            PutLDFields();
          },
          drv_dispid::kSetParamLD, false);
    });
    add("btnGetParamLD", "Получить параметры ЛУ",
        [this] { Run([&] { SetNumber(); }, drv_dispid::kGetParamLD, true); });
    add("btnSetActiveLD", "Установить активное ЛУ",
        [this] { Run([&] { SetNumber(); }, drv_dispid::kSetActiveLD, true); });
    add("btnGetActiveLD", "Получить активное ЛУ",
        [this] { Run({}, drv_dispid::kGetActiveLD, true); });
    grid->setColumnStretch(1, 1);

    // What the driver holds now; this is where the driver object comes to be.
    RunCall([&] { ShowLDFields(); });
  }
  static QString PageTitle() { return "Устройства"; }

 private:
  // Sets, the call, and on this page the fields shown whatever the result.
  void Run(const std::function<void()>& sets, DISPID method, bool show) {
    if (sets) sets();
    CallDriver(method);
    if (show) ShowLDFields();
  }

  QLineEdit* Edit(const char* name, const QString& text, int width = 0) {
    auto* e = new QLineEdit(text);
    e->setObjectName(name);
    if (width > 0) e->setFixedWidth(width);
    return e;
  }

  void SetNumber() { Driver().Set(drv_dispid::kLDNumber, ToInt(m_number->text())); }

  void PutLDFields() {
    Driver().Set(drv_dispid::kLDName, m_name->text());
    Driver().Set(drv_dispid::kLDBaudrate, m_baudRate->currentIndex());
    Driver().Set(drv_dispid::kLDComNumber, m_comNumber->currentIndex() + 1);
    Driver().Set(drv_dispid::kLDComputerName, m_computer->text());
    Driver().Set(drv_dispid::kLDTimeout, ToInt(m_timeout->text()));
  }

  void ShowLDFields() {
    m_name->setText(Driver().Text(drv_dispid::kLDName));
    m_number->setText(Num(Driver().Int(drv_dispid::kLDNumber)));
    m_comNumber->setCurrentIndex(Driver().Int(drv_dispid::kLDComNumber) - 1);
    m_baudRate->setCurrentIndex(Driver().Int(drv_dispid::kLDBaudrate));
    m_count->setText(Num(Driver().Int(drv_dispid::kLDCount)));
    m_index->setText(Num(Driver().Int(drv_dispid::kLDIndex)));
  }

  void BrowseComputer() {
    bool ok = false;
    const QString name = QInputDialog::getText(this, AppTitle(), "Укажите имя компьютера",
                                               QLineEdit::Normal, m_computer->text(), &ok);
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
