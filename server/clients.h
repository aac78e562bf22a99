// TClients: the process-wide list of connected client objects (TVarnSrv),
// not owned, and the client counter that numbers them.
//
// A client object is in the list from its first Connect until it is
// destroyed, at most once. The instance lives while it has holders (every
// client object, the server window), like TPorts.
//
//   TClients& clients = TClients::Acquire();
//   clients.Add(this);        // raises OnChange
//   ...
//   clients.Remove(this);
//   TClients::Release();
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "server/notify.h"

namespace varn {

class TVarnSrv;

// The next ClientNumber: 1 for the first client, never reused in a run.
int32_t NextClientNumber();

class TClients {
 public:
  static TClients& Acquire();
  static void Release();

  void Add(TVarnSrv* client);     // a client already present: nothing happens
  void Remove(TVarnSrv* client);  // raises OnChange when it was there
  int Count() const;
  // A client stays valid only while the list lock is held (it removes itself
  // under that lock when destroyed): hold ListLock() around Items and its use.
  TVarnSrv* Items(int index) const;
  std::recursive_mutex& ListLock() const { return m_lock; }
  void SetOnChange(TNotifyEvent handler);

 private:
  TClients() = default;
  ~TClients() = default;

  mutable std::recursive_mutex m_lock;  // the client list lock
  std::vector<TVarnSrv*> m_items;
  TNotifyEvent m_onChange;
};

}  // namespace varn
