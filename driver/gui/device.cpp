// TfmDevice: the logical devices ("Логические устройства").
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <QSysInfo>
#include "driver/gui/dialogs.h"
#include "driver/gui/gui_common.h"
#include "platform/errors.h"

namespace varn::gui {
namespace {

constexpr int kMaxDevices = 99;

class TfmDevice : public QDialog {
 public:
  TfmDevice(QWidget* owner, IDispatch& drv) : QDialog(owner), m_drv(drv) {
    setObjectName("TfmDevice");
    setWindowTitle("Логические устройства");
    auto* layout = new QHBoxLayout(this);
    auto* left = new QVBoxLayout;
    ListView = new QTreeWidget;
    ListView->setObjectName("ListView");
    ListView->setRootIsDecorated(false);
    ListView->setHeaderLabels({"№", "Название"});
    ListView->setColumnWidth(0, 48);
    ListView->setSortingEnabled(true);
    ListView->sortByColumn(0, Qt::AscendingOrder);
    ListView->setMinimumSize(320, 240);
    left->addWidget(ListView, 1);
    auto* name = new QHBoxLayout;
    edtName = new QLineEdit;
    edtName->setObjectName("edtName");
    name->addWidget(new QLabel("Название:"));
    name->addWidget(edtName, 1);
    left->addLayout(name);
    layout->addLayout(left, 1);
    auto* right = new QVBoxLayout;
    btnAdd = new QPushButton("Добавить");
    btnAdd->setObjectName("btnAdd");
    btnDelete = new QPushButton("Удалить");
    btnDelete->setObjectName("btnDelete");
    auto* btnClose = new QPushButton("Закрыть");
    btnClose->setObjectName("btnClose");
    for (auto* b : {btnAdd, btnDelete, btnClose}) {
      b->setAutoDefault(false);
      right->addWidget(b);
    }
    right->addStretch();
    layout->addLayout(right);
    connect(btnAdd, &QPushButton::clicked, this, [this] { Guard([this] { Add(); }); });
    connect(btnDelete, &QPushButton::clicked, this, [this] { Guard([this] { Delete(); }); });
    connect(btnClose, &QPushButton::clicked, this, [this] { accept(); });
    connect(ListView, &QTreeWidget::itemActivated, this, [this] { accept(); });
    connect(ListView, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { Guard([this, item] { Select(item); }); });
    connect(edtName, &QLineEdit::textEdited, this,
            [this](const QString& text) { Guard([this, text] { Rename(text); }); });
    Fill();
  }

 private:
  void Guard(const std::function<void()>& action) {
    if (m_filling) return;
    try {
      action();
    } catch (...) {
      ShowError(this, CurrentErrorText());
    }
  }
  void Fill() {
    m_filling = true;
    TDrv d(m_drv);
    const int32_t remembered = d.Int(u"LDIndex");
    d.Call(u"GetCountLD");
    const int32_t count = d.Int(u"LDCount");
    ListView->clear();
    QTreeWidgetItem* current = nullptr;
    for (int32_t i = 0; i < count; ++i) {
      d.Set(u"LDIndex", i);
      d.Call(u"EnumLD");
      auto* item =
          new QTreeWidgetItem(ListView, {QString::number(d.Int(u"LDNumber")), d.Text(u"LDName")});
      item->setData(0, Qt::UserRole, d.Int(u"LDNumber"));
      if (i == remembered) current = item;
    }
    d.Set(u"LDIndex", remembered);
    m_filling = false;
    if (current) {
      ListView->setCurrentItem(current);
      ListView->scrollToItem(current);
    }
    btnAdd->setEnabled(count < kMaxDevices);
    btnDelete->setEnabled(count > 1);
  }
  void Select(QTreeWidgetItem* item) {
    if (!item) return;
    TDrv d(m_drv);
    d.Set(u"LDNumber", item->data(0, Qt::UserRole).toInt());
    d.Call(u"GetParamLD");
    d.Call(u"SetActiveLD");
    edtName->setText(d.Text(u"LDName"));
  }
  void Add() {
    TDrv d(m_drv);
    d.Set(u"LDBaudrate", 1);
    d.Set(u"LDTimeout", 100);
    d.Set(u"LDComNumber", 1);
    d.Set(u"LDConnectionType", 0);
    d.Set(u"LDComputerName", QSysInfo::machineHostName().left(15));
    d.Set(u"LDTCPPort", 211);
    d.Set(u"LDIPAddress", QString());
    d.Set(u"LDUseIPAddress", false);
    d.Set(u"LDName", QString("Устройство №%1").arg(d.Call(u"GetFreeLDNumber")));
    d.Check(u"AddLD");
    Fill();
  }
  void Delete() {
    TDrv(m_drv).Check(u"DeleteLD");
    Fill();
  }
  void Rename(const QString& text) {
    TDrv d(m_drv);
    d.Set(u"LDName", text);
    d.Call(u"SetParamLD");
    if (QTreeWidgetItem* item = ListView->currentItem()) item->setText(1, text);
  }

  IDispatch& m_drv;
  QTreeWidget* ListView;
  QLineEdit* edtName;
  QPushButton* btnAdd;
  QPushButton* btnDelete;
  bool m_filling = false;
};

}  // namespace

void ShowDeviceDialog(QWidget* owner, IDispatch& drv) {
  TfmDevice dialog(owner, drv);
  dialog.exec();
}

}  // namespace varn::gui
