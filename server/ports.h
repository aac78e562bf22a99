// TPorts: the process-wide list of shared ports, one TPort per COM number
// any client has named, and the port list lock.
//
// The instance lives while it has holders (every client object, the server
// window): Acquire creates it on the first, Release destroys it on the last.
// The port list lock is re-entrant and serialises everything about ports:
// the list, every port's lock state, every port's device and its exchanges.
// So the whole server runs one port request at a time.
//
//   TPorts& ports = TPorts::Acquire();
//   {
//     std::lock_guard lock(ports.ListLock());
//     TPort& port = ports.FindOrCreate(3);
//     port.Exchange(frame);
//   }
//   TPorts::Release();
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

  static TPorts& Acquire();
  static void Release();

  std::recursive_mutex& ListLock() { return m_listLock; }

  // The rest under ListLock().
  TPort* Find(int32_t number) const;
  // EDriverError -2 "СOM порт не доступен" past kMaxPorts ports.
  TPort& FindOrCreate(int32_t number);
  int Count() const { return static_cast<int>(m_items.size()); }
  TPort& Items(int index) const { return *m_items.at(static_cast<size_t>(index)); }
  // Raised when a port is added or removed.
  void SetOnChange(TNotifyEvent handler) { m_onChange = std::move(handler); }

  // These take the lock themselves.
  void UnlockAll();
  void UpdateTimers();  // after AutoUnlock or PortTimeout changed

 private:
  explicit TPorts(std::shared_ptr<TServerSettings> settings);
  ~TPorts();
  void Changed() {
    if (m_onChange) m_onChange();
  }

  std::shared_ptr<TServerSettings> m_settings;
  std::vector<std::unique_ptr<TPort>> m_items;  // in order of creation
  std::recursive_mutex m_listLock;
  TNotifyEvent m_onChange;
};

}  // namespace varn
