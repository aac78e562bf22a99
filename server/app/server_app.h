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
// Qt's loop, hands what its controls hold to ApplySettings, unlocks ports
// through UnlockPort and puts its question behind ConfirmClose.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/event_loop.h"
#include "platform/socket.h"
#include "platform/timers.h"
#include "remote/dispatcher.h"
#include "remote/local_server.h"
#include "server/app/options.h"
#include "server/settings.h"
#include "server/varn_srv.h"

namespace varn {

// The port server as the remote layer's local activation knows it.
inline constexpr remote::TLocalServer kVarnSrvLocalServer{kVarnSrvClsid, kVarnSrvSocketName,
                                                          kVarnSrvProgram};

class TServerContext;

// The eight settings as a window's controls hold them, to be applied at once.
struct TSettingsValues {
  bool Warning = true;
  bool LogOn = false;
  int32_t PortTimeout = 10;
  bool AutoUnlock = false;
  bool TCPEnabled = false;
  int32_t TCPPort = 211;
  std::string TCPAddress;
  std::string TCPAllow;
};

// A connection the TCP listener turns away (its peer is outside TCPAllow)
// is told once per address; so many addresses are remembered at most.
inline constexpr size_t kRefusedAddressesTold = 1024;

class TServerApp {
 public:
  // `loop`: the main loop to run on (the window's); none: a TEventLoop of
  // its own. A loop given must outlive the server.
  explicit TServerApp(TStartMode mode, IEventLoop* loop = nullptr);
  ~TServerApp();  // Shutdown()
  TServerApp(const TServerApp&) = delete;
  TServerApp& operator=(const TServerApp&) = delete;

  // Set before Start.
  std::string SocketPath;                  // default: the port server's socket
  std::chrono::milliseconds IdleLimit{0};  // per connection, both listeners; 0: none
  std::chrono::milliseconds NoClientLimit{std::chrono::seconds(60)};  // automation mode
  // On every accepted TCP connection, so that a client that vanished
  // (powered off mid-call) is dropped and its port lock freed; none: off.
  std::optional<TcpKeepAlive> KeepAlive = TcpKeepAlive{};
  // A problem the server runs on with (a TCP listener that could not start).
  std::function<void(const std::string&)> OnWarning;
  // The warning question before dropping connected clients; none: yes.
  std::function<bool()> ConfirmClose;
  // The local listener a service manager handed over (ListeningSocket::
  // Inherited): served instead of listening at SocketPath.
  std::optional<ListeningSocket> InheritedSocket;
  // --tcp: TCP on for this run whatever TCPEnabled says, at this port (0:
  // TCPPort); a listener that cannot start then fails Start.
  std::optional<int32_t> TcpForRun;

  void Start();
  void Run();
  void Close();  // any thread
  void Shutdown();

  // Per the settings: StartTCP reports a failure through OnWarning, sets
  // TCPEnabled false in memory and returns false. A TCPAddress or TCPAllow
  // that cannot be read is such a failure: nothing listens rather than a
  // listener open to more than was meant. A connection from outside
  // TCPAllow is closed before anything is read from it, and told once per
  // address through the diagnostics. StopTCP returns false when
  // the question was answered No (the listener keeps running).
  bool StartTCP();
  bool StopTCP();
  bool TcpListening() const { return m_tcp && m_tcp->Listening(); }
  uint16_t TcpPort() const { return m_tcp ? m_tcp->BoundPort() : 0; }

  // Applying the settings: when TCPEnabled, TCPPort, TCPAddress or
  // TCPAllow change, StopTCP first (a No to its question ends the apply
  // with false and nothing changed); then the eight values, the listener started or stopped as they
  // say, the ports' timers following AutoUnlock and PortTimeout, and the registry.
  bool ApplySettings(const TSettingsValues& values);
  // Releases the lock of port `number`, whoever holds it (none: nothing).
  void UnlockPort(int32_t number);
  // Closing asks first: Warning is set and a client is connected or an
  // object is alive.
  bool CloseNeedsQuestion() const;

  IEventLoop& Loop() { return m_loop; }
  TStartMode Mode() const { return m_mode; }
  TServerSettings& Settings() { return *m_settings; }
  // The lists, the settings and the timers the server's objects share.
  TServerContext& Context() { return *m_context; }
  const std::shared_ptr<TServerContext>& SharedContext() { return m_context; }

 private:
  void Warn(const std::string& text);
  // Automation mode, on the loop's thread: ends the run when an end is
  // wanted and nothing holds the server.
  void EndWhenIdle();
  bool Busy();  // an object exists or a connection is open
  void Watch(remote::TkxSocketDispatcher& listener);
  void OpenLocalListener();

  const TStartMode m_mode;
  std::shared_ptr<TServerSettings> m_settings;
  std::unique_ptr<TEventLoop> m_ownLoop;  // when none was given
  IEventLoop& m_loop;
  TTimers m_timers{m_loop};
  // For the run: made with the server, let go by Shutdown (the lists go with
  // the last object that still holds them).
  std::shared_ptr<TServerContext> m_context;
  remote::TkxSocketDispatcher m_local;
  std::unique_ptr<remote::TkxSocketDispatcher> m_tcp;
  // Automation mode: the last object went, or nobody came in time. Stays
  // set: the run ends at the first moment nothing holds the server.
  bool m_endWanted = false;  // loop thread only
};

}  // namespace varn
