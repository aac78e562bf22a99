// Общие: the device's metrics and status, the beep and the cash drawer.
#include <QDate>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "testapp/page_controls.h"
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

QString YesNo(bool v) {
  return v ? "есть" : "нет";
}
QString Lever(bool v) {
  return v ? "опущен" : "поднят";
}
QString Drawer(bool v) {
  return v ? "открыт" : "закрыт";
}

// An automation date (days since 30.12.1899) as the date it stands for.
QString DateText(double date) {
  return QDate(1899, 12, 30).addDays(static_cast<qint64>(std::floor(date))).toString("dd.MM.yyyy");
}

class TfmState : public TCallPage {
 public:
  TfmState(QWidget* owner, TDriver& driver) : TCallPage(owner, driver) {
    setObjectName("fmState");
    m_memo = new QPlainTextEdit;
    m_memo->setObjectName("Memo");
    m_memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_drawer = new QLineEdit("0");
    m_drawer->setObjectName("edtDrawer");

    auto* buttons = new QGridLayout;
    buttons->addWidget(
        AddButton("btnGetDeviceMetrics", "Параметры устройства", [this] { DeviceMetrics(); }), 0,
        0);
    buttons->addWidget(AddButton("btnBeep", "Гудок",
                                 [this] {
                                   m_memo->clear();
                                   CallDriver(drv_dispid::kBeep);
                                 }),
                       0, 1);
    buttons->addWidget(
        AddButton("btnGetShortECRStatus", "Краткий запрос", [this] { ShortStatus(); }), 1, 0);
    buttons->addWidget(AddButton("btnGetECRStatus", "Состояние", [this] { Status(); }), 1, 1);
    buttons->addWidget(NewLabel("lblDrawer", "Денежный ящик:", m_drawer), 2, 0, Qt::AlignRight);
    auto* drawer = new QHBoxLayout;
    m_drawer->setMaximumWidth(60);
    drawer->addWidget(m_drawer);
    drawer->addWidget(AddButton("btnOpenDrawer", "Открыть денежный ящик", [this] {
      m_memo->clear();
      Driver().Set(drv_dispid::kDrawerNumber, ToInt(m_drawer->text()));
      CallDriver(drv_dispid::kOpenDrawer);
    }));
    buttons->addLayout(drawer, 2, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_memo, 1);
    layout->addLayout(buttons);
  }
  static QString PageTitle() { return "Общие"; }

 private:
  void Line(const QString& text) { m_memo->appendPlainText(text); }

  // The outcome is shown before the memo lines.
  void DeviceMetrics() {
    m_memo->clear();
    if (CallDriver(drv_dispid::kGetDeviceMetrics) != 0) return;
    TDriver& d = Driver();
    Line("Кодовая Страница: " + Num(d.Int(drv_dispid::kUCodePage)));
    Line("Описание Устройства: " + d.Text(drv_dispid::kUDescription));
    Line("Версия протокола: " + Num(d.Int(drv_dispid::kUMajorProtocolVersion)));
    Line("Подверсия протокола: " + Num(d.Int(drv_dispid::kUMinorProtocolVersion)));
    Line("Тип устройства: " + Num(d.Int(drv_dispid::kUMajorType)));
    Line("Подтип устройства: " + Num(d.Int(drv_dispid::kUMinorType)));
    Line("Модель устройства: " + Num(d.Int(drv_dispid::kUModel)));
  }

  // Here the outcome comes after the memo lines.
  void ShortStatus() {
    m_memo->clear();
    TDriver& d = Driver();
    BeforeCall();
    if (d.Call(drv_dispid::kGetShortECRStatus) == 0) {
      const int32_t flags = d.Int(drv_dispid::kECRFlags);
      Line(QString("Флаги принтера: %1 (%2)")
               .arg(QString::number(flags, 16).toUpper().rightJustified(4, '0'))
               .arg(flags));
      Line("Оптический датчик чековой ленты: " +
           YesNo(d.Bool(drv_dispid::kReceiptRibbonOpticalSensor)));
      Line("Рычаг термоголовки чековой ленты: " + Lever(d.Bool(drv_dispid::kReceiptRibbonLever)));
      Line("Денежный ящик: " + Drawer(d.Bool(drv_dispid::kIsDrawerOpen)));
      Line("Режим: " + Num(d.Int(drv_dispid::kECRMode)) + " " +
           d.Text(drv_dispid::kECRModeDescription));
      Line("Напряжение источника питания: " +
           QString::number(d.Real(drv_dispid::kPowerSourceVoltage)));
    }
    AfterCall();
  }

  void Status() {
    m_memo->clear();
    if (CallDriver(drv_dispid::kGetECRStatus) != 0) return;
    TDriver& d = Driver();
    Line("Версия ПО: " + d.Text(drv_dispid::kECRSoftVersion));
    Line("Сборка ПО: " + Num(d.Int(drv_dispid::kECRBuild)));
    Line("Дата ПО: " + DateText(d.Real(drv_dispid::kECRSoftDate)));
    Line("Номер принтера: " + Num(d.Int(drv_dispid::kLogicalNumber)));
    Line("Порт: " + Num(d.Int(drv_dispid::kPortNumber)));
    Line("Режим: " + Num(d.Int(drv_dispid::kECRMode)) + " " +
         d.Text(drv_dispid::kECRModeDescription));
    Line("Оптический датчик чековой ленты " +
         YesNo(d.Bool(drv_dispid::kReceiptRibbonOpticalSensor)));
    Line("Рычаг термоголовки чековой ленты " + Lever(d.Bool(drv_dispid::kReceiptRibbonLever)));
    Line("Денежный ящик " + Drawer(d.Bool(drv_dispid::kIsDrawerOpen)));
  }

  QPlainTextEdit* m_memo;
  QLineEdit* m_drawer;
};

}  // namespace

TPageClass StatePage() {
  return PageClassOf<TfmState>();
}

}  // namespace varn::testapp
