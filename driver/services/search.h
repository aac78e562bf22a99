// Device search: on which serial port and at which baud rate a device
// answers. A worker thread with a driver object of its own locks COM1 to
// COM32 in turn and, on each port it could lock, tries the rates from 2400
// up until the device answers; what it finds goes to a list interface that
// the search window and `varn search` implement. The caller's driver is
// used only on the caller's thread, and only through its automation
// interface (late-bound, by name), so nothing here links the driver.
//
//   TDeviceSearch search(*drv, list);  // reads BaudRate and ComNumber
//   search.Start();                    // list.LineAdded/LineChanged on the worker
//   ...                                // list.Finished("") at the end
//   search.Choose(1);                  // the line of COM2, say
//   search.Close();                    // writes BaudRate and ComNumber back
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/automation/dispatch.h"

namespace varn {

class DriverClient;

inline constexpr int kSearchFirstPort = 1;
inline constexpr int kSearchLastPort = 32;
inline constexpr int kSearchBaudCodes = 7;  // 2400 .. 115200
// What the search driver waits for a byte, in milliseconds: short, since
// a silent port costs seven exchanges.
inline constexpr int32_t kSearchTimeout = 100;

// "2400" .. "115200" for the codes 0 to 6; "" for any other.
std::u16string BaudRateText(int code);

// A line's tag: bits 0 to 7 the port, bits 8 to 15 the baud-rate code
// reached, bit 16 set when a device answered there (with an error code, too).
inline constexpr uint32_t kTagFound = 0x10000;
inline uint32_t MakeTag(int port, int baudCode, bool found) {
  return (static_cast<uint32_t>(port) & 0xFF) | (static_cast<uint32_t>(baudCode) & 0xFF) << 8 |
         (found ? kTagFound : 0);
}
inline int TagPort(uint32_t tag) {
  return static_cast<int>(tag & 0xFF);
}
inline int TagBaudCode(uint32_t tag) {
  return static_cast<int>((tag >> 8) & 0xFF);
}
inline bool TagFound(uint32_t tag) {
  return (tag & kTagFound) != 0;
}

// One line of the list: one port and what was found on it.
struct TSearchLine {
  std::u16string port;   // "СOM2" (the first letter is the Cyrillic С, as always shown)
  std::u16string speed;  // the rate being or last probed; "" when none applies
  std::u16string name;   // "идет поиск...", the device's description, or why there is none
  uint32_t tag = 0;
  bool operator==(const TSearchLine&) const = default;
};

// What shows the search. LineAdded, LineChanged and Finished come on the
// search's worker thread, in order: a window hands them to its own thread.
// Cleared comes on the thread that calls Start, once the previous worker has
// ended; a window that queues the worker's calls queues this one as well, so
// it comes after whatever the previous search left in the queue.
class ISearchList {
 public:
  virtual void Cleared() = 0;
  virtual void LineAdded(size_t index, const TSearchLine& line) = 0;
  virtual void LineChanged(size_t index, const TSearchLine& line) = 0;
  // The search ended after the last port, when stopped, or on an error;
  // `error` (UTF-8) is then its text for a message box captioned
  // "Драйвер Варн", else "".
  virtual void Finished(const std::string& error) = 0;

 protected:
  virtual ~ISearchList() = default;
};

// The search with its saved settings: what the search window holds. Its
// members are called from the caller's (the window's) thread.
class TDeviceSearch {
 public:
  // Reads the driver's BaudRate and ComNumber (SavedBaudRate,
  // SavedComNumber); EDispatchError when they cannot be read. `driver` and
  // `list` must outlive this object.
  TDeviceSearch(IDispatch& driver, ISearchList& list);
  // Stops a running search and waits for it; writes nothing back.
  ~TDeviceSearch();
  TDeviceSearch(const TDeviceSearch&) = delete;
  TDeviceSearch& operator=(const TDeviceSearch&) = delete;

  // Stops any previous search, clears the list and starts a new worker.
  void Start();
  // Sets Stopped and waits for the worker: the exchange under way finishes
  // first, and the port being probed is unlocked. Called from the list's
  // own calls it only sets Stopped.
  void Stop();
  // True from Start until the worker has ended (right before Finished).
  bool Running() const { return m_running; }

  // Chooses the line at `index`: when a device answered there, its port
  // and rate become the saved ones (true); otherwise nothing changes.
  bool Choose(size_t index);
  // The window closes: stops the search and, when one was ever started,
  // writes SavedBaudRate and SavedComNumber to the driver (which saves its
  // settings), so the settings the search driver stored on its way are
  // replaced by the caller's or the chosen ones. Automation failures of
  // the write raise EDispatchError.
  void Close();

  std::vector<TSearchLine> Lines() const;
  int32_t SavedBaudRate() const { return m_savedBaudRate; }
  int32_t SavedComNumber() const { return m_savedComNumber; }
  bool Searched() const { return m_searched; }

 private:
  void Search();  // the worker
  void Probe(DriverClient& drv, int port, size_t index);
  size_t AddLine(TSearchLine line);
  void ChangeLine(size_t index, const TSearchLine& line);

  IDispatch& m_driver;
  ISearchList& m_list;
  int32_t m_savedBaudRate = 0;
  int32_t m_savedComNumber = 0;
  std::atomic<bool> m_stopped{false};
  std::atomic<bool> m_searched{false};
  std::atomic<bool> m_running{false};
  std::thread m_thread;
  mutable std::mutex m_linesLock;  // the worker writes, the caller reads
  std::vector<TSearchLine> m_lines;
};

}  // namespace varn
