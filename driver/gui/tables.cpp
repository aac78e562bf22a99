#include "driver/gui/tables.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "driver/gui/dialogs.h"
#include "driver/gui/gui_common.h"
#include "driver/gui/progress.h"
#include "driver/services/operations.h"

namespace varn::gui {
namespace {

constexpr int kValueColumn = 6;

// A value cell's editor: letters dropped in a number field, Enter writes.
class TValueEdit : public QLineEdit {
 public:
  TValueEdit(TfmTable* editor, int row, bool number)
      : m_editor(editor), m_row(row), m_number(number) {}

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
      m_editor->WriteRow(m_row, true);
      return;
    }
    if (m_number && !event->text().isEmpty() && event->text().at(0).isLetter()) return;
    QLineEdit::keyPressEvent(event);
  }

 private:
  TfmTable* m_editor;
  int m_row;
  bool m_number;
};

}  // namespace

TfmTables::TfmTables(QWidget* owner, IDispatch& drv, TTables& tables)
    : QDialog(owner), m_drv(drv), m_tables(tables) {
  setObjectName("TfmTables");
  setWindowTitle("Таблицы");
  auto* layout = new QHBoxLayout(this);
  ListView = new QTreeWidget;
  ListView->setObjectName("ListView");
  ListView->setRootIsDecorated(false);
  ListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView->setHeaderLabels({"Номер", "Рядов", "Полей", "Название"});
  for (int c = 0; c < 3; ++c) ListView->setColumnWidth(c, 64);
  ListView->setMinimumSize(480, 320);
  layout->addWidget(ListView, 1);
  auto* right = new QVBoxLayout;
  btnOpen = new QPushButton("Открыть");
  btnOpen->setObjectName("btnOpen");
  btnRefresh = new QPushButton("Обновить");
  btnRefresh->setObjectName("btnRefresh");
  btnClose = new QPushButton("Закрыть");
  btnClose->setObjectName("btnClose");
  for (auto* b : {btnOpen, btnRefresh, btnClose}) {
    b->setAutoDefault(false);
    right->addWidget(b);
  }
  right->addStretch();
  layout->addLayout(right);
  connect(btnOpen, &QPushButton::clicked, this, [this] { Open(); });
  connect(btnRefresh, &QPushButton::clicked, this, [this] { Refresh(); });
  connect(btnClose, &QPushButton::clicked, this, [this] { reject(); });
  connect(ListView, &QTreeWidget::itemActivated, this, [this] { Open(); });
  // The reads add tables on their worker: the line is added on this thread.
  m_tables.OnTableAdded = [this](TTable& table) {
    QMetaObject::invokeMethod(
        this, [this, rec = table.Data] { AddLine(rec); }, Qt::QueuedConnection);
  };
  for (int i = 0; i < m_tables.Count(); ++i) {
    const TTableRec& rec = m_tables.Items(i).Data;
    auto* item =
        new QTreeWidgetItem(ListView, {QString::number(rec.Number), QString::number(rec.RowCount),
                                       QString::number(rec.FieldCount), Q(rec.Name)});
    item->setData(0, Qt::UserRole, rec.Number);
  }
  if (ListView->topLevelItemCount() > 0) ListView->setCurrentItem(ListView->topLevelItem(0));
}

TfmTables::~TfmTables() {
  m_tables.OnTableAdded = nullptr;
}

void TfmTables::AddLine(const TTableRec& rec) {
  auto* item =
      new QTreeWidgetItem(ListView, {QString::number(rec.Number), QString::number(rec.RowCount),
                                     QString::number(rec.FieldCount), Q(rec.Name)});
  item->setData(0, Qt::UserRole, rec.Number);
  ListView->setCurrentItem(item);
  ListView->scrollToItem(item);
}

void TfmTables::Refresh() {
  for (auto* b : {btnOpen, btnRefresh, btnClose}) b->setEnabled(false);
  ListView->clear();
  try {
    TProgressOwner owner(this);
    RefreshTables(owner, m_tables);
  } catch (const EAbort&) {
  } catch (...) {
    ShowError(this, CurrentErrorText());
  }
  for (auto* b : {btnOpen, btnRefresh, btnClose}) b->setEnabled(true);
}

void TfmTables::Open() {
  QTreeWidgetItem* item = ListView->currentItem();
  if (!item) return;
  TTable* table = m_tables.FindByNumber(item->data(0, Qt::UserRole).toInt());
  if (!table) return;
  try {
    TProgressOwner owner(this);
    OpenTable(owner, *table);
    TfmTable editor(this, m_drv, *table);
    editor.exec();
  } catch (const EAbort&) {
  } catch (...) {
    ShowError(this, CurrentErrorText());
  }
}

TfmTable::TfmTable(QWidget* owner, IDispatch& drv, TTable& table)
    : QDialog(owner), m_drv(drv), m_table(table) {
  setObjectName("TfmTable");
  setWindowTitle(Q(table.Data.Name));
  auto* layout = new QVBoxLayout(this);
  Grid = new QTableWidget;
  Grid->setObjectName("Grid");
  Grid->setColumnCount(7);
  Grid->setHorizontalHeaderLabels({"Ряд", "Поле", "Название", "Тип", "Мин.", "Макс.", "Значение"});
  Grid->verticalHeader()->hide();
  // Rows as high as their value editors, no higher.
  Grid->verticalHeader()->setDefaultSectionSize(QLineEdit().sizeHint().height());
  Grid->setSelectionMode(QAbstractItemView::NoSelection);
  Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TFields& fields = table.Fields();
  Grid->setRowCount(fields.Count());
  for (int i = 0; i < fields.Count(); ++i) {
    TField& field = fields.Items(i);
    const TFldRec& f = field.Data;
    const QString cells[] = {QString::number(f.Row),
                             QString::number(f.Number),
                             Q(f.Name),
                             Q(FieldTypeText(f)),
                             QString::number(ShownMinValue(f)),
                             QString::number(ShownMaxValue(f))};
    for (int c = 0; c < 6; ++c) Grid->setItem(i, c, new QTableWidgetItem(cells[c]));
    auto* edit = new TValueEdit(this, i, !f.FieldType);
    edit->setObjectName(QString("edtValue%1").arg(i));
    edit->setFrame(false);
    if (f.FieldType) edit->setMaxLength(f.Size);
    edit->setText(Q(field.Value()));
    Grid->setCellWidget(i, kValueColumn, edit);
    field.OnChange = [this, i](TField& changed) {
      if (auto* e = static_cast<QLineEdit*>(Grid->cellWidget(i, kValueColumn)))
        e->setText(Q(changed.Value()));
      Grid->setCurrentCell(i, kValueColumn);
    };
  }
  // Leaving a row writes its value when it was changed.
  connect(Grid, &QTableWidget::currentCellChanged, this, [this](int row) {
    if (m_row != row && m_row < Grid->rowCount()) WriteRow(m_row, false);
    m_row = row;
  });
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    for (int r = 0; now && r < Grid->rowCount(); ++r)
      if (Grid->cellWidget(r, kValueColumn) == now) Grid->setCurrentCell(r, kValueColumn);
  });
  layout->addWidget(Grid, 1);
  Grid->viewport()->installEventFilter(this);
  btnClose = new QPushButton("Закрыть");
  btnClose->setObjectName("btnClose");
  btnClose->setDefault(true);
  connect(btnClose, &QPushButton::clicked, this, [this] { reject(); });
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnClose);
  layout->addLayout(buttons);
  FitColumns();
  int width = 0;
  for (int c = 0; c < 7; ++c) width += Grid->columnWidth(c);
  resize(std::min(width + 40, 900), 420);
  if (fields.Count() > 0) Grid->setCurrentCell(0, kValueColumn);
}

TfmTable::~TfmTable() {
  for (int i = 0; i < m_table.Fields().Count(); ++i) m_table.Fields().Items(i).OnChange = nullptr;
}

bool TfmTable::WriteRow(int row, bool force) {
  if (m_writing || row < 0 || row >= m_table.Fields().Count()) return true;
  auto* edit = static_cast<QLineEdit*>(Grid->cellWidget(row, kValueColumn));
  TField& field = m_table.Fields().Items(row);
  const std::string text = U8(edit->text());
  if (!force && text == field.Value()) return true;
  m_writing = true;
  btnClose->setEnabled(false);
  bool ok = true;
  try {
    WriteFieldValue(m_drv, field, text);
  } catch (...) {
    ok = false;
    ShowError(this, CurrentErrorText());
  }
  btnClose->setEnabled(true);
  m_writing = false;
  return ok;
}

void TfmTable::FitColumns() {
  const QFontMetrics metrics(Grid->font());
  const int blanks = metrics.horizontalAdvance("  ");
  int total = 0;
  for (int c = 0; c < 7; ++c) {
    int widest = metrics.horizontalAdvance(Grid->horizontalHeaderItem(c)->text());
    for (int r = 0; r < Grid->rowCount(); ++r) {
      const QString text = c == kValueColumn
                               ? static_cast<QLineEdit*>(Grid->cellWidget(r, c))->text()
                               : Grid->item(r, c)->text();
      widest = std::max(widest, metrics.horizontalAdvance(text));
    }
    Grid->setColumnWidth(c, widest + blanks + 8);
    total += Grid->columnWidth(c);
  }
  // The last column takes the rest of the grid's width.
  const int rest = Grid->viewport()->width() - total;
  if (rest > 0) Grid->setColumnWidth(kValueColumn, Grid->columnWidth(kValueColumn) + rest);
}

bool TfmTable::eventFilter(QObject* watched, QEvent* event) {
  // The grid's client area has its final size only once the scroll bars
  // are settled: the last column follows it from there.
  if (watched == Grid->viewport() && event->type() == QEvent::Resize) FitColumns();
  return QDialog::eventFilter(watched, event);
}

void ShowTablesDialog(QWidget* owner, IDispatch& drv) {
  TTables tables;
  tables.Key = ComputeFirmwareKey(drv);
  TProgressOwner progress(owner);
  LoadTables(progress, tables);
  TfmTables dialog(owner, drv, tables);
  dialog.exec();
}

}  // namespace varn::gui
