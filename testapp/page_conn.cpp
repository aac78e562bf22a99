// Подключение: the server connection and the port locks.
#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSysInfo>

#include "testapp/page_controls.h"
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

class TfmConn : public TCallPage {
 public:
  TfmConn(QWidget* owner, TDriver& driver) : TCallPage(owner, driver) {
    setObjectName("fmConn");
    m_com = NewComList("cbCOMNumber");
    m_computer = new QLineEdit(QSysInfo::machineHostName());
    m_computer->setObjectName("edtComputerName");
    auto* browse = new QPushButton("...");
    browse->setObjectName("btnBrowse");
    browse->setFixedWidth(30);
    QObject::connect(browse, &QPushButton::clicked, this, [this] { Browse(); });

    auto* grid = new QGridLayout(this);
    grid->addWidget(NewLabel("lblCOMNumber", "COM порт:", m_com), 0, 0);
    grid->addWidget(m_com, 0, 1);
    grid->addWidget(NewLabel("lblComputerName", "Компьютер:", m_computer), 1, 0);
    grid->addWidget(m_computer, 1, 1, 1, 2);
    grid->addWidget(browse, 1, 3);
    grid->setRowMinimumHeight(2, 8);
    const struct {
      const char* name;
      const char* text;
      std::function<void()> body;
    } buttons[] = {
        {"btnServerConnect", "Подключиться к серверу",
         [this] {
           Driver().Set(drv_dispid::kComputerName, m_computer->text());
           CallDriver(drv_dispid::kServerConnect);
         }},
        {"btnServerDisconnect", "Отключиться от сервера",
         [this] { CallDriver(drv_dispid::kServerDisconnect); }},
        {"btnLockPort", "Занять порт",
         [this] {
           Driver().Set(drv_dispid::kComNumber, m_com->currentIndex() + 1);
           CallDriver(drv_dispid::kLockPort);
         }},
        {"btnUnlockPort", "Освободить порт", [this] { CallDriver(drv_dispid::kUnlockPort); }},
        {"btnAdminUnlockPort", "Освободить порт (админ.)",
         [this] { CallDriver(drv_dispid::kAdminUnlockPort); }},
        {"btnAdminUnlockPorts", "Освободить порты (админ.)",
         [this] { CallDriver(drv_dispid::kAdminUnlockPorts); }},
    };
    int row = 3;
    for (const auto& b : buttons)
      grid->addWidget(AddButton(b.name, b.text, b.body), row++, 0, 1, 2);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(row, 1);
  }
  static QString PageTitle() { return "Подключение"; }

 private:
  void Browse() {
    bool ok = false;
    const QString name = QInputDialog::getText(this, AppTitle(), "Укажите имя компьютера",
                                               QLineEdit::Normal, m_computer->text(), &ok);
    if (ok && !name.trimmed().isEmpty()) m_computer->setText(name.trimmed());
  }

  QComboBox* m_com;
  QLineEdit* m_computer;
};

}  // namespace

TPageClass ConnPage() {
  return PageClassOf<TfmConn>();
}

}  // namespace varn::testapp
