#include "tools/varn/tables_command.h"

#include <chrono>
#include <mutex>

#include "driver/services/operations.h"
#include "driver/services/tables.h"
#include "platform/errors.h"
#include "platform/signals.h"
#include "platform/terminal.h"
#include "tools/varn/steps.h"

namespace varn::tool {
namespace {

using namespace std::chrono_literals;

// How often the terminal looks at the worker's progress and for a signal.
constexpr std::chrono::milliseconds kSlice = 50ms;
constexpr const char* kNoErrors = msg::kDriverNoError;  // the driver's text for 0

// Texts with line breaks (the model's messages) on one line.
std::string OneLine(std::string text) {
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, " ");
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

// One operation's progress window as standard error shows it: a line
// redrawn in place on a terminal; elsewhere only the caption, once, so that
// a log stays short. Everything is written here on the caller's thread, in
// ShowModal; the worker only leaves the latest state behind. A termination
// signal is the cancel button.
class TTerminalProgress : public IProgressWindow {
 public:
  TTerminalProgress(TerminationSignals& signals, std::ostream& err, bool terminal)
      : m_signals(signals), m_err(err), m_terminal(terminal) {}
  ~TTerminalProgress() override {
    if (m_drawn) m_err << "\r\033[K" << std::flush;
  }

  void SetCaption(const std::string& text) override { m_caption = text; }
  void SetMaximum(int32_t maximum) override { m_maximum = maximum; }
  void ShowProgress(int32_t position, const std::string& info, const std::string& info2) override {
    std::lock_guard lock(m_mutex);
    m_position = position;
    m_info = info;
    m_info2 = info2;
    m_changed = true;
  }
  void Close() override {
    std::lock_guard lock(m_mutex);
    m_closed = true;
  }
  bool ShowModal() override {
    if (m_terminal)
      Draw();
    else
      m_err << m_caption << std::endl;
    if (m_signals.Wait(0ms)) return false;
    for (;;) {
      {
        std::lock_guard lock(m_mutex);
        if (m_changed && m_terminal) Draw();
        m_changed = false;
        if (m_closed) return true;
      }
      if (m_signals.Wait(kSlice)) return false;
    }
  }

 private:
  // "[####------] info  info2", short enough for an 80-column line; the
  // caption until the first item is in.
  void Draw() {
    constexpr int kWidth = 10;
    const int filled = m_maximum > 0 ? std::min(m_position, m_maximum) * kWidth / m_maximum : 0;
    m_err << "\r\033[K[" << std::string(static_cast<size_t>(filled), '#')
          << std::string(static_cast<size_t>(kWidth - filled), '-') << "] "
          << (m_info.empty() ? m_caption : m_info);
    if (!m_info2.empty()) m_err << "  " << m_info2;
    m_err << std::flush;
    m_drawn = true;
  }

  TerminationSignals& m_signals;
  std::ostream& m_err;
  const bool m_terminal;
  std::string m_caption;
  int32_t m_maximum = 100;
  bool m_drawn = false;

  std::mutex m_mutex;  // guards what the worker leaves
  int32_t m_position = 0;
  std::string m_info, m_info2;
  bool m_changed = false;
  bool m_closed = false;
};

class TTerminal : public IProgressOwner {
 public:
  TTerminal(TerminationSignals& signals, std::ostream& err)
      : m_signals(signals), m_err(err), m_terminal(IsTerminal(StandardStream::Error)) {}
  std::unique_ptr<IProgressWindow> CreateProgressWindow() override {
    return std::make_unique<TTerminalProgress>(m_signals, m_err, m_terminal);
  }

 private:
  TerminationSignals& m_signals;
  std::ostream& m_err;
  bool m_terminal;
};

// The tables as they come in, then the result: lines, or one JSON object.
class TPrinter {
 public:
  TPrinter(std::ostream& out, bool json) : m_out(out), m_json(json) {
    if (m_json) m_out << "{\"tables\":[";
  }

  // `note` says why a table shows no values.
  void Table(TTable& t, const std::string& note) {
    const TTableRec& r = t.Data;
    const bool withValues = note.empty();
    if (m_json) {
      m_out << (m_first ? "\n" : ",\n") << "{\"number\":" << r.Number
            << ",\"name\":" << JsonString(r.Name) << ",\"rows\":" << r.RowCount
            << ",\"fields\":" << r.FieldCount;
      if (!withValues) m_out << ",\"note\":" << JsonString(note);
      m_out << ",\"values\":[";
      for (int i = 0; withValues && i < t.Fields().Count(); ++i) {
        const TField& f = t.Fields().Items(i);
        const TFldRec& d = f.Data;
        m_out << (i ? ",\n" : "\n") << "{\"row\":" << d.Row << ",\"field\":" << d.Number
              << ",\"name\":" << JsonString(d.Name) << ",\"type\":" << JsonString(FieldTypeText(d))
              << ",\"min\":" << ShownMinValue(d) << ",\"max\":" << ShownMaxValue(d)
              << ",\"value\":" << (d.FieldType ? JsonString(f.Value()) : f.Value()) << '}';
      }
      m_out << "]}";
    } else {
      m_out << "table " << r.Number << ": " << r.Name << " (" << r.RowCount
            << (r.RowCount == 1 ? " row, " : " rows, ") << r.FieldCount
            << (r.FieldCount == 1 ? " field)\n" : " fields)\n");
      if (!withValues) m_out << "  " << note << '\n';
      for (int i = 0; withValues && i < t.Fields().Count(); ++i) {
        const TField& f = t.Fields().Items(i);
        const TFldRec& d = f.Data;
        m_out << "  " << d.Row << '.' << d.Number << "  " << d.Name << " (" << FieldTypeText(d)
              << ' ' << ShownMinValue(d) << ".." << ShownMaxValue(d)
              << "): " << (d.FieldType ? JsonString(f.Value()) : f.Value()) << '\n';
      }
    }
    m_out << std::flush;
    m_first = false;
  }

  void End(int32_t code, const std::string& text) {
    if (m_json)
      m_out << (m_first ? "]" : "\n]") << ",\"ResultCode\":" << code
            << ",\"ResultCodeDescription\":" << JsonString(text) << "}\n";
    else
      m_out << "ResultCode: " << code << "\nResultCodeDescription: " << text << '\n';
    m_out << std::flush;
  }

 private:
  std::ostream& m_out;
  bool m_json;
  bool m_first = true;
};

}  // namespace

int RunTablesCommand(std::span<const std::string> args, const std::function<DispatchPtr()>& create,
                     bool json, std::ostream& out, std::ostream& err) {
  bool refresh = false;
  for (const std::string& a : args) {
    if (a != "--refresh") throw EUsageError("tables takes only --refresh (\"" + a + "\" given)");
    refresh = true;
  }
  // Before any thread starts, so that every thread leaves the signals to us.
  TerminationSignals signals;
  DispatchPtr drv;
  try {
    drv = create();
  } catch (const std::exception& e) {
    err << "varn: " << e.what() << std::endl;
    return kExitFailed;
  }

  TTerminal terminal(signals, err);
  TPrinter printer(out, json);
  int32_t code = 0;
  std::string text = kNoErrors;
  try {
    TTables tables;
    tables.Key = ComputeFirmwareKey(*drv);
    if (signals.Wait(0ms)) throw EAbort();
    if (refresh)
      RefreshTables(terminal, tables);
    else
      LoadTables(terminal, tables);
    for (int i = 0; i < tables.Count(); ++i) {
      TTable& table = tables.Items(i);
      std::string note;
      try {
        OpenTable(terminal, table);
      } catch (const EDriverError&) {
        throw;
      } catch (const std::exception& e) {
        note = OneLine(e.what());  // no fields or no rows: nothing to read
      }
      printer.Table(table, note);
    }
  } catch (const EDriverError& e) {
    code = e.Code;
    text = e.what();
  } catch (const std::exception& e) {
    code = rc::kOSError;
    text = e.what();
  }
  signals.Wait(0ms);  // a stop after the last read has nothing left to stop
  printer.End(code, OneLine(text));
  if (code == 0) return kExitOk;
  err << "varn: tables: " << OneLine(text) << std::endl;
  if (const std::string hint = ReasonHint(*drv, code); !hint.empty()) err << hint << std::endl;
  return kExitFailed;
}

}  // namespace varn::tool
