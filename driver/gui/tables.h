// TfmTables: the device's tables ("Таблицы"), read from the cache or the
// device, refreshed in the background; TfmTable: the editor of one table's
// values, one grid row per value cell, written on Enter or on leaving a
// changed cell.
#pragma once

#include <QDialog>

#include "driver/services/tables.h"

class QTreeWidget;
class QPushButton;
class QTableWidget;

namespace varn::gui {

class TfmTables : public QDialog {
 public:
  TfmTables(QWidget* owner, IDispatch& drv, TTables& tables);
  ~TfmTables() override;

 private:
  void AddLine(const TTableRec& rec);
  void Refresh();
  void Open();

  IDispatch& m_drv;
  TTables& m_tables;
  QTreeWidget* ListView;
  QPushButton* btnOpen;
  QPushButton* btnRefresh;
  QPushButton* btnClose;
};

class TfmTable : public QDialog {
 public:
  TfmTable(QWidget* owner, IDispatch& drv, TTable& table);
  ~TfmTable() override;
  // Writes the value cell of `row` when its text differs from the field's
  // (always when `force`); false when the write failed (shown).
  bool WriteRow(int row, bool force);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FitColumns();

  IDispatch& m_drv;
  TTable& m_table;
  QTableWidget* Grid;
  QPushButton* btnClose;
  int m_row = 0;  // the current row, written when left
  bool m_writing = false;
};

}  // namespace varn::gui
