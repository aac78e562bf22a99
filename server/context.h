// TServerContext: what one port server shares among its client objects:
// the settings, the port list (TPorts), the client list and its numbering
// (TClients), the timer service the ports' auto-unlock timers run on, and
// the count of VarnSrv objects alive. The program makes one for its run and
// hands it to the class factory (RegisterVarnSrvClass); every object it
// makes holds it, so the lists live while the program or any object does.
// A test makes its own, on its own loop, clock and lines.
//
//   TEventLoop loop;
//   TTimers timers(loop);
//   auto context = std::make_shared<TServerContext>(timers);
//   RegisterVarnSrvClass(context);
//   DispatchPtr srv = ClassTable::Instance().Create(u"VarnSrv.VarnSrv");
//   std::lock_guard state(context->Ports().StateLock());
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/timers.h"
#include "server/clients.h"
#include "server/link/comm.h"
#include "server/ports.h"
#include "server/settings.h"

namespace varn {

class TServerContext {
 public:
  // `timers` (and its loop) must outlive the context. `settings` none: a
  // record of defaults; `lines` empty: the system's serial devices.
  explicit TServerContext(TTimers& timers, std::shared_ptr<TServerSettings> settings = nullptr,
                          TLineFactory lines = {});
  TServerContext(const TServerContext&) = delete;
  TServerContext& operator=(const TServerContext&) = delete;

  TServerSettings& Settings() const { return *m_settings; }
  const std::shared_ptr<TServerSettings>& SharedSettings() const { return m_settings; }
  TPorts& Ports() { return m_ports; }
  TClients& Clients() { return m_clients; }
  TTimers& Timers() { return m_timers; }

  // The VarnSrv objects alive on this context. A server started for its
  // clients ends when the last one goes: `handler` runs, on the thread that
  // released it, each time the count falls to zero (so it should only post).
  int32_t ObjectCount() const { return m_objects; }
  void SetOnLastObjectReleased(std::function<void()> handler);

  // Kept by every VarnSrv object from its construction to its destruction.
  void ObjectCreated() { ++m_objects; }
  void ObjectReleased();

 private:
  TTimers& m_timers;
  std::shared_ptr<TServerSettings> m_settings;
  TClients m_clients;
  TPorts m_ports;  // after the clients: the objects' ports go first
  std::atomic<int32_t> m_objects{0};
  std::mutex m_lastReleasedLock;  // m_onLastReleased
  std::function<void()> m_onLastReleased;
};

}  // namespace varn
