// The long table reads (all table descriptions, a table's field
// descriptions, a table's values) run as operations on a worker thread that
// has a driver object of its own, while the caller's thread shows a progress
// window and waits. The window is behind a small interface, so the same
// operations run under the Qt progress window and on varn's terminal.
//
//   class TMyWindow : public IProgressWindow { ... };       // the UI's side
//   class TMyDialog : public IProgressOwner { ... };        // makes them
//   TTables tables;
//   tables.Key = ComputeFirmwareKey(*drv);
//   LoadTables(dialog, tables);        // the cache, else the device (and cache it)
//   OpenTable(dialog, tables.Items(0)); // field descriptions if needed, then values
//   // EAbort: the user stopped it (show nothing); EDriverError: show the error
//
// The worker connects, locks the port, runs the operation and always
// disconnects and unlocks again, also when the operation fails or is stopped.
// The model's notifications (OnTableAdded, OnChange) are raised on the
// worker during a read: a window's handler posts them to its own thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "driver/services/tables.h"
#include "platform/automation/dispatch.h"
#include "platform/errors.h"

namespace varn {

inline constexpr int32_t kCancelledCode = -30;
inline constexpr const char* kCancelledText = "Прервано пользователем.";

// The user stopped the operation: callers show nothing for it. It is the
// driver error -30, so code that only knows EDriverError still sees why.
class EAbort : public EDriverError {
 public:
  EAbort() : EDriverError(kCancelledCode, kCancelledText) {}
};

// The window that shows one operation while it runs (the GUI's progress
// dialog, or a line on varn's terminal). The worker thread calls
// ShowProgress and Close; an implementation carries them over to its own
// user-interface thread (posts them) and never blocks the worker for long.
class IProgressWindow {
 public:
  virtual ~IProgressWindow() = default;
  // The caller's thread, before the worker starts (TOperation::Setup).
  virtual void SetCaption(const std::string& text) = 0;
  virtual void SetMaximum(int32_t maximum) = 0;  // the bar runs from 0
  // The worker: the bar's position and the two lines of text (the second is
  // empty for the reads that do not use it).
  virtual void ShowProgress(int32_t position, const std::string& info,
                            const std::string& info2) = 0;
  // The worker, when it is done and was not stopped: ShowModal returns true.
  // It may come before ShowModal has begun; then ShowModal returns at once.
  virtual void Close() = 0;
  // The caller's thread: shows the window and waits until Close (true) or
  // until the user stops the operation or closes the window (false).
  virtual bool ShowModal() = 0;
};

// What owns the progress windows: the calling dialog, or the terminal.
class IProgressOwner {
 public:
  virtual std::unique_ptr<IProgressWindow> CreateProgressWindow() = 0;

 protected:
  ~IProgressOwner() = default;
};

// One background read. Cancelled is written by the caller's thread and read
// by the worker between exchanges; ResultCode and ErrorText are written by
// the worker and read by the caller only after the worker has ended.
class TOperation {
 public:
  virtual ~TOperation() = default;

  std::atomic<bool> Cancelled{false};
  int32_t ResultCode = 0;
  std::string ErrorText;
  IProgressWindow* Progress = nullptr;

  // Stores the window, then sets its caption and maximum.
  virtual void Setup(IProgressWindow& progress) { Progress = &progress; }
  // The work, on the worker's driver object (connected, port locked).
  virtual void Execute(IDispatch& drv) = 0;
  // EAbort when Cancelled is set.
  void CheckCancelled() const;

 protected:
  void ShowProgress(int32_t position, const std::string& info, const std::string& info2 = {});
};

// Every table description from table 1 up to the first the device does not
// know; each table takes its cached field descriptions (LoadFieldDefs).
class TTablesRead : public TOperation {
 public:
  explicit TTablesRead(TTables& tables) : m_tables(tables) {}
  void Setup(IProgressWindow& progress) override;
  void Execute(IDispatch& drv) override;

 private:
  TTables& m_tables;
};

class TTableOperation : public TOperation {
 public:
  explicit TTableOperation(TTable& table) : m_table(table) {}

 protected:
  TTable& m_table;
};

// The table's field descriptions: row 1 from the device, the other rows as
// copies.
class TFieldDefsRead : public TTableOperation {
 public:
  using TTableOperation::TTableOperation;
  void Setup(IProgressWindow& progress) override;
  void Execute(IDispatch& drv) override;
};

// Every value of the table, in the order of its Fields.
class TFieldsRead : public TTableOperation {
 public:
  using TTableOperation::TTableOperation;
  void Setup(IProgressWindow& progress) override;
  void Execute(IDispatch& drv) override;
};

// Runs one operation once on a thread of its own, with a driver object of
// its own (CreateObject(u"VarnDrv.VarnDrv"), so it starts from the stored
// settings): ServerConnect, LockPort, Connect, Execute, then Disconnect,
// UnlockPort and ServerDisconnect for whatever had succeeded. The outcome
// goes to the operation's ResultCode and ErrorText; unless the operation
// was cancelled, the progress window is closed at the end.
class TWorkThread {
 public:
  explicit TWorkThread(TOperation& operation);  // starts running
  ~TWorkThread();                               // waits
  TWorkThread(const TWorkThread&) = delete;
  TWorkThread& operator=(const TWorkThread&) = delete;
  void WaitFor();

 private:
  void Run();

  TOperation& m_operation;
  std::thread m_thread;
};

// On the caller's thread: a progress window from `owner`, the operation set
// up and run by a TWorkThread while the window is shown; a window that ends
// without Close cancels the operation. Waits for the worker (its current
// exchange and its clean-up), then: EAbort for -30, EDriverError for any
// other failure.
void RunOperation(IProgressOwner& owner, TOperation& operation);

// The three reads, each as one operation.
void ReadTables(IProgressOwner& owner, TTables& tables);
void ReadFieldDefs(IProgressOwner& owner, TTable& table);
void ReadFieldValues(IProgressOwner& owner, TTable& table);

// What the table editor does with them. Key must be set.
// The tables from the cache, or else read from the device and cached.
void LoadTables(IProgressOwner& owner, TTables& tables);
// The table descriptions read from the device again and cached, the whole
// cache of this firmware replaced: the field descriptions are dropped, so
// opening a table reads them from the device again (a damaged cache entry
// is repaired this way).
void RefreshTables(IProgressOwner& owner, TTables& tables);
// Opening a table: its field descriptions when it has none (read and
// cached), then all its values. std::runtime_error "Количество полей в
// таблице равно 0." or "Количество рядов в таблице равно 0.\r\nТаблица не
// содержит данных." for a table without fields or rows; std::length_error
// (TooLargeText) for a table over kMaxTableCells.
void OpenTable(IProgressOwner& owner, TTable& table);

}  // namespace varn
