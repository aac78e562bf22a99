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
                                   CallDriver(u"Beep");
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
      Driver().Set(u"DrawerNumber", ToInt(m_drawer->text()));
      CallDriver(u"OpenDrawer");
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
    if (CallDriver(u"GetDeviceMetrics") != 0) return;
    TDriver& d = Driver();
    Line("Кодовая Страница: " + Num(d.Int(u"UCodePage")));
    Line("Описание Устройства: " + d.Text(u"UDescription"));
    Line("Версия протокола: " + Num(d.Int(u"UMajorProtocolVersion")));
    Line("Подверсия протокола: " + Num(d.Int(u"UMinorProtocolVersion")));
    Line("Тип устройства: " + Num(d.Int(u"UMajorType")));
    Line("Подтип устройства: " + Num(d.Int(u"UMinorType")));
    Line("Модель устройства: " + Num(d.Int(u"UModel")));
  }

  // Here the outcome comes after the memo lines.
  void ShortStatus() {
    m_memo->clear();
    TDriver& d = Driver();
    BeforeCall();
    if (d.Call(u"GetShortECRStatus") == 0) {
      const int32_t flags = d.Int(u"ECRFlags");
      Line(QString("Флаги принтера: %1 (%2)")
               .arg(QString::number(flags, 16).toUpper().rightJustified(4, '0'))
               .arg(flags));
      Line("Оптический датчик чековой ленты: " + YesNo(d.Bool(u"ReceiptRibbonOpticalSensor")));
      Line("Рычаг термоголовки чековой ленты: " + Lever(d.Bool(u"ReceiptRibbonLever")));
      Line("Денежный ящик: " + Drawer(d.Bool(u"IsDrawerOpen")));
      Line("Режим: " + Num(d.Int(u"ECRMode")) + " " + d.Text(u"ECRModeDescription"));
      Line("Напряжение источника питания: " + QString::number(d.Real(u"PowerSourceVoltage")));
    }
    AfterCall();
  }

  void Status() {
    m_memo->clear();
    if (CallDriver(u"GetECRStatus") != 0) return;
    TDriver& d = Driver();
    Line("Версия ПО: " + d.Text(u"ECRSoftVersion"));
    Line("Сборка ПО: " + Num(d.Int(u"ECRBuild")));
    Line("Дата ПО: " + DateText(d.Real(u"ECRSoftDate")));
    Line("Номер принтера: " + Num(d.Int(u"LogicalNumber")));
    Line("Порт: " + Num(d.Int(u"PortNumber")));
    Line("Режим: " + Num(d.Int(u"ECRMode")) + " " + d.Text(u"ECRModeDescription"));
    Line("Оптический датчик чековой ленты " + YesNo(d.Bool(u"ReceiptRibbonOpticalSensor")));
    Line("Рычаг термоголовки чековой ленты " + Lever(d.Bool(u"ReceiptRibbonLever")));
    Line("Денежный ящик " + Drawer(d.Bool(u"IsDrawerOpen")));
  }

  QPlainTextEdit* m_memo;
  QLineEdit* m_drawer;
};

}  // namespace

TPageClass StatePage() {
  return PageClassOf<TfmState>();
}

}  // namespace varn::testapp
