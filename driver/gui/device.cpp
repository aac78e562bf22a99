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
    DriverClient d(m_drv);
    const int32_t remembered = d.Int(dd::kLDIndex);
    d.Call(dd::kGetCountLD);
    const int32_t count = d.Int(dd::kLDCount);
    ListView->clear();
    QTreeWidgetItem* current = nullptr;
    for (int32_t i = 0; i < count; ++i) {
      d.Set(dd::kLDIndex, i);
      d.Call(dd::kEnumLD);
      auto* item = new QTreeWidgetItem(
          ListView, {QString::number(d.Int(dd::kLDNumber)), QText(d, dd::kLDName)});
      item->setData(0, Qt::UserRole, d.Int(dd::kLDNumber));
      if (i == remembered) current = item;
    }
    d.Set(dd::kLDIndex, remembered);
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
    DriverClient d(m_drv);
    d.Set(dd::kLDNumber, item->data(0, Qt::UserRole).toInt());
    d.Call(dd::kGetParamLD);
    d.Call(dd::kSetActiveLD);
    edtName->setText(QText(d, dd::kLDName));
  }
  void Add() {
    DriverClient d(m_drv);
    d.Set(dd::kLDBaudrate, 1);
    d.Set(dd::kLDTimeout, 100);
    d.Set(dd::kLDComNumber, 1);
    d.Set(dd::kLDConnectionType, 0);
    SetText(d, dd::kLDComputerName, QSysInfo::machineHostName().left(15));
    d.Set(dd::kLDTCPPort, 211);
    SetText(d, dd::kLDIPAddress, QString());
    d.Set(dd::kLDUseIPAddress, false);
    SetText(d, dd::kLDName, QString("Устройство №%1").arg(d.Call(dd::kGetFreeLDNumber)));
    d.Check(dd::kAddLD);
    Fill();
  }
  void Delete() {
    DriverClient(m_drv).Check(dd::kDeleteLD);
    Fill();
  }
  void Rename(const QString& text) {
    DriverClient d(m_drv);
    SetText(d, dd::kLDName, text);
    d.Call(dd::kSetParamLD);
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
