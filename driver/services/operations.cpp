#include "driver/services/operations.h"

#include <cstdarg>
#include <cstdio>
#include <exception>
#include <stdexcept>

#include "driver/client/driver_client.h"
#include "platform/text.h"

namespace varn {
namespace {

// Table numbers are one byte on the line: a device that knows every number
// still ends here instead of with a range error.
constexpr int32_t kLastTableNumber = 255;

std::string Format(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// Connected and locked around the operation; every step that succeeded is
// undone, in reverse order, also when a later one fails. A failure of the
// undoing is reported only when nothing failed before it.
void RunSession(DriverClient& drv, TOperation& operation) {
  // Dropping the object would end the server connection too; said here, it
  // does not depend on who else might hold a reference.
  DriverSession session(drv, {.serverDisconnect = true});
  operation.Execute(drv.Object());
  session.Close();
}

}  // namespace

// --- operations ----------------------------------------------------------------------

void TOperation::CheckCancelled() const {
  if (Cancelled) throw EAbort();
}

void TOperation::ShowProgress(int32_t position, const std::string& info, const std::string& info2) {
  if (Progress) Progress->ShowProgress(position, info, info2);
}

void TTablesRead::Setup(IProgressWindow& progress) {
  TOperation::Setup(progress);
  progress.SetCaption("Чтение описаний таблиц...");
  progress.SetMaximum(10);
}

void TTablesRead::Execute(IDispatch& drv) {
  m_tables.Clear();
  for (int32_t n = 1; n <= kLastTableNumber; ++n) {
    TTableRec rec;
    rec.Number = n;
    if (!ReadTableStruct(drv, rec)) break;
    CheckCancelled();
    ShowProgress(n, Format("Прочитано таблиц: %d", n));
    m_tables.Add(rec).LoadFieldDefs();
  }
  m_tables.SortByNumber();
}

void TFieldDefsRead::Setup(IProgressWindow& progress) {
  TOperation::Setup(progress);
  progress.SetCaption("Чтение описаний полей...");
  progress.SetMaximum(m_table.Data.FieldCount);
}

void TFieldDefsRead::Execute(IDispatch& drv) {
  TFields& fields = m_table.Fields();
  const TTableRec& table = m_table.Data;
  fields.Clear();
  for (int32_t n = 1; n <= table.FieldCount; ++n) {
    CheckCancelled();
    TFldRec rec;
    rec.Number = n;
    rec.Table = table.Number;
    ReadFieldStruct(drv, rec);
    rec.Row = 1;
    fields.Add(rec);
    ShowProgress(n, Format("Полей всего: %d Прочитано: %d", table.FieldCount, n));
  }
  ExpandRows(m_table);
}

void TFieldsRead::Setup(IProgressWindow& progress) {
  TOperation::Setup(progress);
  progress.SetCaption("Чтение данных таблицы...");
  progress.SetMaximum(m_table.Fields().Count());
}

void TFieldsRead::Execute(IDispatch& drv) {
  TFields& fields = m_table.Fields();
  const int32_t rows = m_table.Data.RowCount, perRow = m_table.Data.FieldCount;
  for (int32_t n = 1; n <= fields.Count(); ++n) {
    CheckCancelled();
    ReadFieldValue(drv, fields.Items(n - 1));
    // Rows completed, and the fields read of the row in hand.
    const int32_t rowsRead = perRow > 0 ? n / perRow : 0;
    const int32_t inRow = perRow > 0 ? (n - 1) % perRow + 1 : n;
    ShowProgress(n, Format("Рядов всего: %d прочитано: %d", rows, rowsRead),
                 Format("Полей всего: %d прочитано: %d", perRow, inRow));
  }
}

// --- the worker --------------------------------------------------------------------------

TWorkThread::TWorkThread(TOperation& operation)
    : m_operation(operation), m_thread([this] { Run(); }) {}

TWorkThread::~TWorkThread() {
  WaitFor();
}

void TWorkThread::WaitFor() {
  if (m_thread.joinable()) m_thread.join();
}

void TWorkThread::Run() {
  TOperation& op = m_operation;
  try {
    DriverClient drv;
    try {
      drv.Object();
    } catch (const std::exception& e) {
      // Not a device or server failure: reported as any other error.
      throw std::runtime_error(e.what());
    }
    RunSession(drv, op);
  } catch (const EDriverError& e) {
    op.ResultCode = e.Code;
    op.ErrorText = e.what();
  } catch (const std::exception& e) {
    op.ResultCode = rc::kOSError;
    op.ErrorText = e.what();
  } catch (...) {
    op.ResultCode = rc::kOSError;
    op.ErrorText = "unknown error";
  }
  if (!op.Cancelled && op.Progress) op.Progress->Close();
}

// --- running them ------------------------------------------------------------------------

void RunOperation(IProgressOwner& owner, TOperation& operation) {
  std::unique_ptr<IProgressWindow> window = owner.CreateProgressWindow();
  operation.Setup(*window);
  {
    TWorkThread worker(operation);
    try {
      if (!window->ShowModal()) operation.Cancelled = true;
    } catch (...) {
      operation.Cancelled = true;
      worker.WaitFor();
      operation.Progress = nullptr;
      throw;
    }
    worker.WaitFor();
  }
  operation.Progress = nullptr;
  window.reset();
  if (operation.ResultCode == kCancelledCode) throw EAbort();
  if (operation.ResultCode != 0) throw EDriverError(operation.ResultCode, operation.ErrorText);
}

void ReadTables(IProgressOwner& owner, TTables& tables) {
  TTablesRead operation(tables);
  RunOperation(owner, operation);
}

void ReadFieldDefs(IProgressOwner& owner, TTable& table) {
  TFieldDefsRead operation(table);
  RunOperation(owner, operation);
}

void ReadFieldValues(IProgressOwner& owner, TTable& table) {
  TFieldsRead operation(table);
  RunOperation(owner, operation);
}

void LoadTables(IProgressOwner& owner, TTables& tables) {
  if (tables.LoadFromRegistry()) return;
  ReadTables(owner, tables);
  tables.SaveToRegistry();
}

void RefreshTables(IProgressOwner& owner, TTables& tables) {
  ReadTables(owner, tables);
  // A refresh trusts nothing cached: the field descriptions come from the
  // device again when each table is opened, and are cached anew then.
  for (int i = 0; i < tables.Count(); ++i) tables.Items(i).Fields().Clear();
  tables.SaveToRegistry();
}

void OpenTable(IProgressOwner& owner, TTable& table) {
  if (!IsPlausibleTable(table.Data)) throw std::length_error(TooLargeText(table.Data));
  if (table.Fields().Count() == 0) {
    ReadFieldDefs(owner, table);
    if (table.Fields().Count() == 0)
      throw std::runtime_error("Количество полей в таблице равно 0.");
    table.SaveFieldDefs();
  }
  if (table.Data.RowCount == 0)
    throw std::runtime_error("Количество рядов в таблице равно 0.\r\nТаблица не содержит данных.");
  ReadFieldValues(owner, table);
}

}  // namespace varn
