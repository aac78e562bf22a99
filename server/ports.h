// TPorts: the server's list of shared ports, one TPort per COM number any
// client has named, its state lock and the writer of the one exchange log
// all ports share. One per server, in its TServerContext (server/context.h).
//
// The state lock is short and not re-entrant: it guards the list, every
// port's lock state and auto-unlock timer, and is never held across I/O. A
// port's device and its exchanges go under that port's own exchange lock,
// so different ports exchange in parallel and no exchange holds up a lock
// operation, another port or the main loop. A port, once listed, stays
// until the list goes, so a port found under the state lock may be used
// after it is let go. Lock order: docs/architecture.md.
//
//   TPorts& ports = context.Ports();
//   TPort* port;
//   {
//     std::lock_guard state(ports.StateLock());
//     port = &ports.FindOrCreate(3);
//   }
//   {
//     std::lock_guard exchange(port->ExchangeLock());
//     port->Exchange(frame);
//   }
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "server/link/port.h"
#include "server/notify.h"
#include "server/settings.h"

namespace varn {

class TPorts {
 public:
  // Ports are never removed one by one, so a client that names ever new
  // numbers could grow the list without end; past this many, creating a
  // port fails as an unavailable port would.
  static constexpr int kMaxPorts = 256;

  // The ports' auto-unlock timers run on `timers`, their devices open
  // through `lines` (empty: the system's); both must outlive the list.
  TPorts(std::shared_ptr<TServerSettings> settings, TTimers& timers, TLineFactory lines = {});
  ~TPorts();
  TPorts(const TPorts&) = delete;
  TPorts& operator=(const TPorts&) = delete;

  std::mutex& StateLock() { return m_stateLock; }

  // The rest under StateLock().
  TPort* Find(int32_t number) const;
  // EDriverError -2 "СOM порт не доступен" past kMaxPorts ports.
  TPort& FindOrCreate(int32_t number);
  int Count() const { return static_cast<int>(m_items.size()); }
  TPort& Items(int index) const { return *m_items.at(static_cast<size_t>(index)); }
  // Raised when a port is added or removed.
  void SetOnChange(TNotifyEvent handler) { m_onChange = std::move(handler); }

  // These take the lock themselves.
  void UnlockAll();
  // Closes every open device, each under its exchange lock (an exchange in
  // progress ends first).
  void CloseAll();
  void UpdateTimers();  // after AutoUnlock or PortTimeout changed
  // For a server that is ending: every exchange under way, and every one
  // to come, ends at once with its error (the device is closed), so that
  // no silent device holds up the end. For good; any thread.
  void AbortExchanges();

 private:
  void Changed() {
    if (m_onChange) m_onChange();
  }

  std::shared_ptr<TServerSettings> m_settings;
  TTimers& m_timers;
  TLineFactory m_lines;
  std::shared_ptr<TExchangeLogWriter> m_logWriter;
  std::shared_ptr<SerialAbort> m_abort;         // every port's lines watch it
  std::vector<std::unique_ptr<TPort>> m_items;  // in order of creation
  std::mutex m_stateLock;
  TNotifyEvent m_onChange;
};

}  // namespace varn
