// TServerApp: the running port server without its window. It holds the
// port and client lists for the whole run, loads the settings, listens for
// the drivers of this computer on the local socket and, when TCPEnabled is
// set, for those of other computers on TCPPort, and runs the main loop
// (timers included) until it is closed.
//
//   TServerApp app(TStartMode::StandAlone);
//   app.Start();      // raises when the server cannot run (socket taken, ...)
//   app.Run();        // until Close() from any thread (a signal, a close request)
//   app.Shutdown();   // listeners closed, every object released, ports closed
//
// In automation mode it also closes when its last VarnSrv object is
// released, or when no client created one within NoClientLimit, once no
// client is connected: it stops listening before it looks, so a client
// either reaches it and is served to its end or finds nothing and starts
// the next server (see EndWhenIdle). The window (server/window) gives it
// Qt's loop, calls StartTCP/StopTCP when its settings are applied and puts
// its question behind ConfirmClose.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/event_loop.h"
#include "platform/timers.h"
#include "remote/dispatcher.h"
#include "server/app/options.h"
#include "server/settings.h"

namespace varn {

class TPorts;
class TClients;

class TServerApp {
 public:
  // `loop`: the main loop to run on (the window's); none: a TEventLoop of
  // its own. A loop given must outlive the server.
  explicit TServerApp(TStartMode mode, IEventLoop* loop = nullptr);
  ~TServerApp();  // Shutdown()
  TServerApp(const TServerApp&) = delete;
  TServerApp& operator=(const TServerApp&) = delete;

  // Set before Start.
  std::string SocketPath;                  // default: LocalServerSocketPath()
  std::chrono::milliseconds IdleLimit{0};  // per connection, both listeners; 0: none
  std::chrono::milliseconds NoClientLimit{std::chrono::seconds(60)};  // automation mode
  // A problem the server runs on with (a TCP listener that could not start).
  std::function<void(const std::string&)> OnWarning;
  // The warning question before dropping connected clients; none: yes.
  std::function<bool()> ConfirmClose;

  void Start();
  void Run();
  void Close();  // any thread
  void Shutdown();

  // Per the settings: StartTCP reports a failure through OnWarning, sets
  // TCPEnabled false in memory and returns false. StopTCP returns false when
  // the question was answered No (the listener keeps running).
  bool StartTCP();
  bool StopTCP();
  bool TcpListening() const { return m_tcp && m_tcp->Listening(); }
  uint16_t TcpPort() const { return m_tcp ? m_tcp->BoundPort() : 0; }

  IEventLoop& Loop() { return m_loop; }
  TStartMode Mode() const { return m_mode; }
  TServerSettings& Settings() { return *m_settings; }

 private:
  void Warn(const std::string& text);
  // Automation mode, on the loop's thread: ends the run when an end is
  // wanted and nothing holds the server.
  void EndWhenIdle();
  bool Busy();  // an object exists or a connection is open
  void Watch(remote::TkxSocketDispatcher& listener);

  const TStartMode m_mode;
  std::shared_ptr<TServerSettings> m_settings;
  std::unique_ptr<TEventLoop> m_ownLoop;  // when none was given
  IEventLoop& m_loop;
  TTimers m_timers{m_loop};
  TPorts* m_ports = nullptr;  // acquired for the run (from Start to Shutdown)
  TClients* m_clients = nullptr;
  remote::TkxSocketDispatcher m_local;
  std::unique_ptr<remote::TkxSocketDispatcher> m_tcp;
  // Automation mode: the last object went, or nobody came in time. Stays
  // set: the run ends at the first moment nothing holds the server.
  bool m_endWanted = false;  // loop thread only
};

}  // namespace varn
