// TClients: the server's list of connected client objects (TVarnSrv), not
// owned, and the client counter that numbers them. One per server, in its
// TServerContext (server/context.h).
//
// A client object is in the list from its first Connect until it is
// destroyed, at most once.
//
//   TClients& clients = context.Clients();
//   int32_t number = clients.NextClientNumber();
//   clients.Add(this);        // raises OnChange
//   ...
//   clients.Remove(this);
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "server/notify.h"

namespace varn {

class TVarnSrv;

class TClients {
 public:
  TClients() = default;
  TClients(const TClients&) = delete;
  TClients& operator=(const TClients&) = delete;

  // The next ClientNumber: 1 for the first client, never reused in a run.
  int32_t NextClientNumber() { return ++m_lastClientNumber; }

  void Add(TVarnSrv* client);     // a client already present: nothing happens
  void Remove(TVarnSrv* client);  // raises OnChange when it was there
  int Count() const;
  // A client stays valid only while the list lock is held (it removes itself
  // under that lock when destroyed): hold ListLock() around Items and its use.
  TVarnSrv* Items(int index) const;
  std::recursive_mutex& ListLock() const { return m_lock; }
  void SetOnChange(TNotifyEvent handler);

 private:
  std::atomic<int32_t> m_lastClientNumber{0};
  mutable std::recursive_mutex m_lock;  // the client list lock
  std::vector<TVarnSrv*> m_items;
  TNotifyEvent m_onChange;
};

}  // namespace varn
