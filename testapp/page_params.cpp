// Параметры связи: the device's exchange parameters and the connection.
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "testapp/page_controls.h"
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

class TfmParams : public TCallPage {
 public:
  TfmParams(QWidget* owner, TDriver& driver) : TCallPage(owner, driver) {
    setObjectName("fmParams");
    m_portNumber = new QLineEdit("0");
    m_portNumber->setObjectName("edtPortNumber");
    m_portNumber->setMaxLength(3);
    m_com = NewComList("cbComNumber");
    m_com->setCurrentIndex(0);
    m_baud = NewBaudList("cbBaudRate");
    m_baud->setCurrentIndex(6);
    m_timeout = new TUpDownEdit("edtTimeout", "50", 0, 32767);

    auto* grid = new QGridLayout(this);
    grid->addWidget(NewLabel("lblPortNumber", "Порт принтера:", m_portNumber), 0, 0);
    grid->addWidget(m_portNumber, 0, 1);
    grid->addWidget(NewLabel("lblComNumber", "COM порт:", m_com), 1, 0);
    grid->addWidget(m_com, 1, 1);
    grid->addWidget(NewLabel("lblBaudRate", "Скорость:", m_baud), 2, 0);
    grid->addWidget(m_baud, 2, 1);
    grid->addWidget(NewLabel("lblTimeout", "Таймаут:", m_timeout), 3, 0);
    grid->addWidget(m_timeout, 3, 1);
    grid->setRowMinimumHeight(4, 8);

    grid->addWidget(AddButton("btnGetExchangeParam", "Получить параметры",
                              [this] {
                                Driver().Set(drv_dispid::kPortNumber, ToInt(m_portNumber->text()));
                                if (CallDriver(drv_dispid::kGetExchangeParam) != 0) return;
                                m_timeout->SetText(Num(Driver().Int(drv_dispid::kTimeout)));
                                m_baud->setCurrentIndex(Driver().Int(drv_dispid::kBaudRate));
                              }),
                    5, 0, 1, 2);
    grid->addWidget(AddButton("btnSetExchangeParam", "Установить параметры",
                              [this] {
                                const int32_t timeout = ToInt(m_timeout->text());
                                const int32_t port = ToInt(m_portNumber->text());
                                Driver().Set(drv_dispid::kTimeout, timeout);
                                Driver().Set(drv_dispid::kBaudRate, m_baud->currentIndex());
                                Driver().Set(drv_dispid::kPortNumber, port);
                                CallDriver(drv_dispid::kSetExchangeParam);
                              }),
                    6, 0, 1, 2);
    grid->addWidget(AddButton("btnConnect", "Установить связь",
                              [this] {
                                const int32_t timeout = ToInt(m_timeout->text());
                                Driver().Set(drv_dispid::kComNumber, m_com->currentIndex() + 1);
                                Driver().Set(drv_dispid::kBaudRate, m_baud->currentIndex());
                                Driver().Set(drv_dispid::kTimeout, timeout);
                                CallDriver(drv_dispid::kConnect);
                              }),
                    7, 0, 1, 2);
    grid->addWidget(AddButton("btnDisconnect", "Разорвать связь",
                              [this] { CallDriver(drv_dispid::kDisconnect); }),
                    8, 0, 1, 2);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(9, 1);
  }
  static QString PageTitle() { return "Параметры связи"; }

 private:
  QLineEdit* m_portNumber;
  QComboBox* m_com;
  QComboBox* m_baud;
  TUpDownEdit* m_timeout;
};

}  // namespace

TPageClass ParamsPage() {
  return PageClassOf<TfmParams>();
}

}  // namespace varn::testapp
