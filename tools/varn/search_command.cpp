#include "tools/varn/search_command.h"

#include <mutex>
#include <optional>

#include "driver/contract/varn_drv_dispids.h"
#include "driver/services/search.h"
#include "platform/files.h"
#include "platform/signals.h"
#include "platform/text.h"
#include "tools/varn/output.h"
#include "tools/varn/steps.h"

namespace varn::tool {
namespace {

// How often the main thread looks at the search while waiting for a signal.
constexpr std::chrono::milliseconds kSignalPoll{100};

std::string Padded(const std::u16string& text, size_t width) {
  return Utf16ToUtf8(text) + std::string(text.size() < width ? width - text.size() : 1, ' ');
}

// The search list on a terminal: one row per port, the current one
// rewritten in place; nothing at all when standard error is no terminal.
class TTerminalRows : public ISearchList {
 public:
  TTerminalRows(std::ostream& err, bool live) : m_err(err), m_live(live) {}

  void Cleared() override {}
  void LineAdded(size_t index, const TSearchLine& line) override {
    std::lock_guard lock(m_lock);
    if (!m_live) return;
    if (index > 0) m_err << '\n';
    Show(line);
  }
  void LineChanged(size_t, const TSearchLine& line) override {
    std::lock_guard lock(m_lock);
    if (m_live) Show(line);
  }
  void Finished(const std::string& error) override {
    std::lock_guard lock(m_lock);
    m_error = error;
    if (m_live && m_shown) m_err << std::endl;
  }
  std::string Error() {
    std::lock_guard lock(m_lock);
    return m_error;
  }

 private:
  void Show(const TSearchLine& line) {
    m_err << "\r\33[K" << Padded(line.port, 7) << Padded(line.speed, 8) << Utf16ToUtf8(line.name)
          << std::flush;
    m_shown = true;
  }

  std::mutex m_lock;
  std::ostream& m_err;
  const bool m_live;
  bool m_shown = false;
  std::string m_error;
};

void PrintFound(const std::vector<TSearchLine>& found, bool json, std::ostream& out) {
  if (json) {
    out << '[';
    bool first = true;
    for (const TSearchLine& l : found) {
      out << (first ? "\n" : ",\n") << '{' << JsonString(MemberName(drv_dispid::kComNumber)) << ':'
          << TagPort(l.tag) << ',' << JsonString(MemberName(drv_dispid::kBaudRate)) << ':'
          << TagBaudCode(l.tag) << R"(,"speed":)" << JsonString(Utf16ToUtf8(l.speed))
          << R"(,"name":)" << JsonString(Utf16ToUtf8(l.name)) << '}';
      first = false;
    }
    out << (first ? "]\n" : "\n]\n");
  } else {
    for (const TSearchLine& l : found)
      out << Utf16ToUtf8(l.port) << '\t' << Utf16ToUtf8(l.speed) << '\t' << Utf16ToUtf8(l.name)
          << '\n';
  }
  out.flush();
}

}  // namespace

int RunSearch(std::span<const std::string> words, const std::function<DispatchPtr()>& create,
              bool json, std::ostream& out, std::ostream& err) {
  bool use = false;
  for (const std::string& w : words) {
    if (w != "--use") throw EUsageError("search: unknown word \"" + w + "\" (search [--use])");
    use = true;
  }
  // Before any thread starts, so that every thread leaves the signals to us.
  TerminationSignals signals;
  const auto fail = [&](const std::string& text) {
    err << "varn: " << text << std::endl;
    return kExitFailed;
  };

  DispatchPtr drv;
  std::optional<TDeviceSearch> search;
  TTerminalRows rows(err, StandardErrorIsTerminal());
  try {
    drv = create();
    search.emplace(*drv, rows);
  } catch (const std::exception& e) {
    return fail(e.what());
  }
  search->Start();
  bool interrupted = false;
  while (search->Running()) {
    if (signals.Wait(kSignalPoll)) {
      interrupted = true;
      search->Stop();
    }
  }
  search->Stop();  // the worker has ended; this reaps it

  const std::vector<TSearchLine> lines = search->Lines();
  std::vector<TSearchLine> found;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!TagFound(lines[i].tag)) continue;
    if (use && found.empty()) search->Choose(i);
    found.push_back(lines[i]);
  }
  try {
    search->Close();
  } catch (const std::exception& e) {
    PrintFound(found, json, out);
    return fail(std::string("the driver's settings could not be written back: ") + e.what());
  }
  if (signals.Wait(std::chrono::milliseconds(0))) interrupted = true;  // one that came late
  PrintFound(found, json, out);

  if (const std::string error = rows.Error(); !error.empty()) return fail(error);
  if (interrupted) return fail("search stopped");
  if (found.empty()) return fail("no device found");
  return kExitOk;
}

}  // namespace varn::tool
