#include "driver/services/search.h"

#include <cstdio>

#include "driver/client/driver_client.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "protocol/exchange.h"

namespace varn {
namespace {

const char16_t* const kSearching = u"идет поиск...";
const char16_t* const kNotFound = u"не найдено";
constexpr int32_t kNoLink = rc::kNoLink;  // nothing answered at this rate

namespace dd = drv_dispid;

std::u16string ResultText(DriverClient& drv) {
  return drv.Text16(dd::kResultCodeDescription);
}

// Trailing blanks and control characters go, as the device pads its texts.
std::u16string TrimRight(std::u16string s) {
  while (!s.empty() && s.back() <= u' ') s.pop_back();
  return s;
}

std::u16string PortCaption(int port) {
  char text[16];
  std::snprintf(text, sizeof text, "СOM%d", port);
  return Utf8ToUtf16(text);
}

std::u16string CodeAndText(int32_t code, const std::u16string& text) {
  return Utf8ToUtf16(std::to_string(code) + ": ") + text;
}

}  // namespace

std::u16string BaudRateText(int code) {
  static_assert(kSearchBaudCodes == protocol::kBaudCodeCount);
  return code >= 0 && code < kSearchBaudCodes
             ? Utf8ToUtf16(std::to_string(protocol::kBaudRates[code]))
             : u"";
}

TDeviceSearch::TDeviceSearch(IDispatch& driver, ISearchList& list)
    : m_driver(driver), m_list(list) {
  DriverClient d(m_driver);
  m_savedBaudRate = d.Int(dd::kBaudRate);
  m_savedComNumber = d.Int(dd::kComNumber);
}

TDeviceSearch::~TDeviceSearch() {
  Stop();
}

void TDeviceSearch::Start() {
  Stop();
  {
    std::lock_guard lock(m_linesLock);
    m_lines.clear();
  }
  m_list.Cleared();
  // Reset here, not on the worker: a Stop that comes before the worker
  // reaches its loop must not be forgotten.
  m_stopped = false;
  m_running = true;
  m_thread = std::thread([this] { Search(); });
}

void TDeviceSearch::Stop() {
  m_stopped = true;
  // From the list's own calls (on the worker) it can only ask.
  if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}

bool TDeviceSearch::Choose(size_t index) {
  std::lock_guard lock(m_linesLock);
  if (index >= m_lines.size() || !TagFound(m_lines[index].tag)) return false;
  m_savedComNumber = TagPort(m_lines[index].tag);
  m_savedBaudRate = TagBaudCode(m_lines[index].tag);
  return true;
}

void TDeviceSearch::Close() {
  Stop();
  if (!m_searched) return;
  DriverClient d(m_driver);
  d.Set(dd::kBaudRate, m_savedBaudRate);
  d.Set(dd::kComNumber, m_savedComNumber);
}

std::vector<TSearchLine> TDeviceSearch::Lines() const {
  std::lock_guard lock(m_linesLock);
  return m_lines;
}

size_t TDeviceSearch::AddLine(TSearchLine line) {
  size_t index;
  {
    std::lock_guard lock(m_linesLock);
    index = m_lines.size();
    m_lines.push_back(line);
  }
  m_list.LineAdded(index, line);
  return index;
}

void TDeviceSearch::ChangeLine(size_t index, const TSearchLine& line) {
  {
    std::lock_guard lock(m_linesLock);
    m_lines[index] = line;
  }
  m_list.LineChanged(index, line);
}

void TDeviceSearch::Search() {
  std::string error;
  try {
    // The worker's own driver, from the stored settings; freed before the
    // end is reported, so its server connection is gone by then.
    DriverClient drv;
    drv.Check(dd::kServerConnect);
    drv.Set(dd::kTimeout, kSearchTimeout);
    m_searched = true;
    for (int port = kSearchFirstPort; port <= kSearchLastPort && !m_stopped; ++port) {
      drv.Set(dd::kComNumber, port);
      TSearchLine line{PortCaption(port), u"", u"", MakeTag(port, 0, false)};
      const size_t index = AddLine(line);
      // The port is unlocked after its probe, also when the lock was refused.
      DriverSession lock(
          drv, {.serverConnect = false, .connect = false, .checked = false, .closeAll = true});
      if (!lock.Opened()) {
        // Held by another client, for example: its description says so.
        line.name = ResultText(drv);
        ChangeLine(index, line);
      } else {
        line.name = kSearching;
        ChangeLine(index, line);
        Probe(drv, port, index);
      }
      lock.Close();
    }
  } catch (const EDispatchError& e) {
    error = e.what();
  } catch (const std::exception& e) {
    error = e.what();
  }
  m_running = false;
  m_list.Finished(error);
}

void TDeviceSearch::Probe(DriverClient& drv, int port, size_t index) {
  TSearchLine line = Lines()[index];
  for (int code = 0; !m_stopped;) {
    drv.Set(dd::kBaudRate, code);
    line.speed = BaudRateText(code);
    line.name = kSearching;
    ChangeLine(index, line);

    int32_t r = drv.Call(dd::kConnect);
    if (r == 0) r = drv.Call(dd::kGetDeviceMetrics);
    bool done = true;
    if (r == 0) {
      line.name = TrimRight(drv.Text16(dd::kUDescription));
    } else if (r == kNoLink) {
      line.name = kNotFound;
      done = code == kSearchBaudCodes - 1;
    } else {
      line.name = CodeAndText(r, ResultText(drv));
      if (r < 0) line.speed.clear();  // the port failed, not a rate
    }
    // A device that answers with an error code is found all the same.
    line.tag = MakeTag(port, code, r >= 0);
    ChangeLine(index, line);
    if (done) return;
    ++code;
  }
}

}  // namespace varn
