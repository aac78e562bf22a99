#include "driver/gui/find.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "driver/gui/dialogs.h"
#include "driver/gui/gui_common.h"

namespace varn::gui {
namespace {
QString Q16(const std::u16string& s) {
  return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}
}  // namespace

TfmFind::TfmFind(QWidget* owner, IDispatch& drv) : QDialog(owner) {
  setObjectName("TfmFind");
  setWindowTitle("Поиск оборудования");
  auto* layout = new QHBoxLayout(this);
  ListView = new QTreeWidget;
  ListView->setObjectName("ListView");
  ListView->setRootIsDecorated(false);
  ListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView->setHeaderLabels({"Порт", "Скорость", "Название"});
  ListView->headerItem()->setTextAlignment(1, Qt::AlignCenter);
  ListView->setColumnWidth(0, 70);
  ListView->setColumnWidth(1, 80);
  ListView->setMinimumSize(420, 300);
  layout->addWidget(ListView, 1);
  auto* right = new QVBoxLayout;
  btnStart = new QPushButton("Начать поиск");
  btnStart->setObjectName("btnStart");
  btnStop = new QPushButton("Прервать");
  btnStop->setObjectName("btnStop");
  btnStop->setEnabled(false);
  btnClose = new QPushButton("Закрыть");
  btnClose->setObjectName("btnClose");
  // The busy indicator: a bar that runs while the search does.
  Animate = new QProgressBar;
  Animate->setObjectName("Animate");
  Animate->setRange(0, 0);
  Animate->setTextVisible(false);
  Animate->setFixedHeight(12);
  Animate->hide();
  for (auto* b : {btnStart, btnStop, btnClose}) {
    b->setAutoDefault(false);
    right->addWidget(b);
  }
  right->addWidget(Animate);
  right->addStretch();
  layout->addLayout(right);
  connect(btnStart, &QPushButton::clicked, this, [this] { Start(); });
  connect(btnStop, &QPushButton::clicked, this, [this] { Stop(); });
  connect(btnClose, &QPushButton::clicked, this, [this] { reject(); });
  connect(ListView, &QTreeWidget::itemActivated, this, [this] { Choose(); });
  m_search = std::make_unique<TDeviceSearch>(drv, *this);
}

TfmFind::~TfmFind() {
  m_search.reset();  // stops and waits; its queued calls die with the window
}

void TfmFind::Run() {
  exec();
  m_search->Close();
}

void TfmFind::done(int result) {
  m_search->Stop();
  QDialog::done(result);
}

void TfmFind::Start() {
  m_search->Start();
  btnStop->setEnabled(true);
  btnStart->setEnabled(false);
  Animate->show();
}

void TfmFind::Stop() {
  m_search->Stop();
}

void TfmFind::Choose() {
  const int index = ListView->indexOfTopLevelItem(ListView->currentItem());
  if (index >= 0) m_search->Choose(static_cast<size_t>(index));
  accept();
}

void TfmFind::Cleared() {
  QMetaObject::invokeMethod(
      this, [this] { ListView->clear(); }, Qt::QueuedConnection);
}

void TfmFind::SetLine(size_t index, const TSearchLine& line) {
  while (ListView->topLevelItemCount() <= static_cast<int>(index)) {
    auto* item = new QTreeWidgetItem(ListView);
    item->setTextAlignment(1, Qt::AlignCenter);
  }
  QTreeWidgetItem* item = ListView->topLevelItem(static_cast<int>(index));
  item->setText(0, Q16(line.port));
  item->setText(1, Q16(line.speed));
  item->setText(2, Q16(line.name));
  item->setData(0, Qt::UserRole, line.tag);
  ListView->scrollToItem(item);
}

void TfmFind::LineAdded(size_t index, const TSearchLine& line) {
  QMetaObject::invokeMethod(
      this, [this, index, line] { SetLine(index, line); }, Qt::QueuedConnection);
}

void TfmFind::LineChanged(size_t index, const TSearchLine& line) {
  LineAdded(index, line);
}

void TfmFind::Finished(const std::string& error) {
  QMetaObject::invokeMethod(
      this,
      [this, error] {
        Animate->hide();
        btnStop->setEnabled(false);
        btnStart->setEnabled(true);
        if (!error.empty()) ShowError(this, Q(error));
      },
      Qt::QueuedConnection);
}

void ShowFindDialog(QWidget* owner, IDispatch& drv) {
  TfmFind dialog(owner, drv);
  dialog.Run();
}

}  // namespace varn::gui
