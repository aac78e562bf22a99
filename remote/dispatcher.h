// The serving side: a listener that gives each accepted client a thread of
// its own with one transport and one interpreter.
//
//   TkxSocketDispatcher tcp;                 // the port server's TCP listener
//   tcp.Port = settings.TCPPort;             // 0: any free port (BoundPort())
//   tcp.Open();                              // ESocketError says why not
//   TkxSocketDispatcher local;               // always on, for this computer
//   local.OpenLocal(LocalServerSocketPath(server));  // the TLocalServer it is
//   ...
//   tcp.Close();                             // or let it go out of scope
//
// Objects are created by CreateObject (default: ClassTable::Instance().Create,
// which also turns "{CLSID}" into its registered ProgID). An object created
// for a client lives until that client's connection ends: the client closes
// or drops, its idle time runs out, a block breaks the stream, or the
// dispatcher closes. Bad blocks only ever end their own connection.
//
// Close() stops listening, wakes every connection thread (shutting its
// socket down) and joins them all; every object lent to a client has been
// released when it returns. StopListening() only stops taking new clients:
// every client that has connected, even one not yet accepted, is served to
// its end; Listen() takes new ones again at the same place. One dispatcher
// listens at one place: the TCP listener and the Unix one are two
// dispatchers.
//
// A connection must deliver its first whole block within BlockLimit of
// being accepted, and every later block within BlockLimit of its first
// bytes; after the first block only the idle limit applies between blocks.
// So a peer that connects and sends nothing, or half a block, holds its
// thread and descriptor only briefly. Beyond MaxConnections at once (or, on
// TCP, MaxConnectionsPerPeer from one address) the oldest idle connection
// makes room, those that never completed a block first; a newcomer is
// turned away only when every connection is inside a call. Each address is
// reported once through the diagnostics the first time it meets a limit.
//
// Connection threads run the served calls, the callbacks and the release of
// a client's objects (their destructors). None of these may call Close() on
// the same thread, which would wait for itself: post it to the main loop.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "platform/socket.h"
#include "remote/interpreter.h"
#include "remote/transport.h"

namespace varn::remote {

class TkxSocketDispatcher;

// One accepted client: ClientExecute on a thread of its own. Owned by the
// dispatcher (no reference counting governs its lifetime).
class TkxSocketDispatcherThread final : public ISendDataBlock {
 public:
  TkxSocketDispatcherThread(TkxSocketDispatcher& owner, StreamSocket socket,
                            std::chrono::milliseconds idleLimit,
                            std::chrono::milliseconds blockLimit);
  ~TkxSocketDispatcherThread();  // joins

  void Start();
  // From the dispatcher: leave the loop soon (wakes a blocked wait or read).
  void RequestStop();
  // Closed: its objects are released and its socket is closed (the
  // disconnect notification may still run).
  bool Closed() const { return m_closed; }
  bool Finished() const { return m_finished; }
  // Asked to stop (by the dispatcher, or it is closing).
  bool Stopping() const { return m_stop; }
  // Waiting for a block: neither reading one nor serving it.
  bool Idle() const { return !m_busy; }
  bool CompletedABlock() const { return m_completedBlock; }
  // Accepted, or when it last finished serving a block (steady clock).
  std::chrono::steady_clock::time_point LastActivity() const {
    return std::chrono::steady_clock::time_point(
        std::chrono::steady_clock::duration(m_lastActivityTicks.load()));
  }
  const std::string& Peer() const { return m_peer; }
  // The peer's address without its port ("local" on a Unix socket).
  const std::string& PeerAddress() const { return m_peerAddress; }

  std::optional<TDataBlock> Send(TDataBlock& block, bool waitForResult) override;

 private:
  void ClientExecute();
  void Notify(const std::function<void(const std::string&)>& callback);

  TkxSocketDispatcher& m_owner;
  std::unique_ptr<TSocketTransport> m_transport;  // guarded by the owner's lock once running
  std::unique_ptr<TkxDataBlockInterpreter> m_interpreter;
  std::chrono::milliseconds m_idleLimit;   // 0: none
  std::chrono::milliseconds m_blockLimit;  // 0: none
  std::chrono::steady_clock::time_point m_accepted;
  std::atomic<std::chrono::steady_clock::rep> m_lastActivityTicks;
  std::string m_peer;
  std::string m_peerAddress;
  std::atomic<bool> m_busy{false};
  std::atomic<bool> m_completedBlock{false};
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_closed{false};
  std::atomic<bool> m_finished{false};
  bool m_socketClosed = false;  // under the owner's lock
  std::thread m_thread;
};

class TkxSocketDispatcher {
 public:
  TkxSocketDispatcher();
  ~TkxSocketDispatcher();  // Close()
  TkxSocketDispatcher(const TkxSocketDispatcher&) = delete;
  TkxSocketDispatcher& operator=(const TkxSocketDispatcher&) = delete;

  int32_t Port = 211;       // TCP port for Open(); 0 takes any free port
  std::string BindAddress;  // empty: every interface
  // Idle limit in minutes (0: none); read when a client connects.
  void SetTimeout(int32_t minutes);
  int32_t Timeout() const { return m_timeoutMinutes; }
  // The same limit at a finer grain (0: none).
  void SetIdleLimit(std::chrono::milliseconds limit);
  std::chrono::milliseconds IdleLimit() const;
  // Connections at once, in all and (TCP only) from one address; beyond
  // them the oldest idle connection is closed (see above).
  size_t MaxConnections = 256;
  size_t MaxConnectionsPerPeer = 64;
  // The time a block may take to arrive whole (the first one: from the
  // connection's accept); read when a client connects. 0: none.
  std::chrono::milliseconds BlockLimit{5000};

  // Asked of every accepted connection before a thread is made for it or a
  // byte is read from it; false (or a throw) closes it at once. Runs on the
  // accept thread, or in StopListening for the connections still queued,
  // never with the dispatcher's lock held. Set before Open.
  std::function<bool(const StreamSocket& socket)> AcceptFilter;
  // TCP only: set on every accepted connection (none: the system's default,
  // keepalive off). Set before Open.
  std::optional<TcpKeepAlive> KeepAlive;

  std::function<DispatchPtr(const std::u16string&)> CreateObject;
  std::function<void(const std::string& peer)> OnClientConnected;
  std::function<void(const std::string& peer)> OnClientDisconnected;

  // Start listening; ESocketError when the port or path cannot be had
  // (the text says why: in use, below 1024 without the privilege, ...).
  void Open();                              // TCP on Port
  void OpenLocal(const std::string& path);  // the Unix socket at path
  // Serves on a listener made elsewhere (ListeningSocket::Inherited, the
  // service manager's). Once StopListening closed it, Listen cannot get it
  // back and raises.
  void OpenInherited(ListeningSocket listener);
  void Close();
  // Only from the thread that opens and closes the dispatcher.
  void StopListening();
  // Listens again where it listened before (TCP: on the port it had); the
  // ESocketError of Open when that place was taken meanwhile.
  void Listen();
  bool Active() const { return m_active; }  // from Open until Close
  bool Listening() const { return m_listening; }
  uint16_t BoundPort() const { return m_boundPort; }
  // The connections not yet closed: an accepted client counts until its
  // objects are released and its socket is closed, before
  // OnClientDisconnected runs for it.
  size_t ConnectionCount();

 private:
  friend class TkxSocketDispatcherThread;
  void Start(ListeningSocket listener);
  void StopAccepting();  // the accept thread ends
  void AcceptLoop();
  // The accept filter and the keepalive; false: the socket is to close.
  // Without m_lock.
  bool Admit(StreamSocket& socket);
  void Adopt(StreamSocket socket);  // with m_lock held
  void ReapFinished();              // with m_lock held
  // Asks the oldest idle connection (from `address` when not empty) to
  // end; false when none is idle. With m_lock held.
  bool CloseOldestIdle(const std::string& address);
  // The first time only, per address. With m_lock held.
  void ReportOnce(const std::string& address, const std::string& text);

  std::mutex m_lock;  // the thread list and every connection's socket lifetime
  std::list<std::unique_ptr<TkxSocketDispatcherThread>> m_threads;
  static constexpr size_t kReportedAddresses = 4096;
  std::set<std::string> m_reported;  // addresses told of a limit
  ListeningSocket m_listener;
  std::thread m_acceptThread;
  std::condition_variable m_stopped;
  bool m_stopping = false;  // the accept thread is to end
  bool m_active = false;
  bool m_listening = false;
  std::string m_localPath;   // the Unix socket's path; empty for TCP
  bool m_inherited = false;  // OpenInherited: no place of ours to listen at again
  uint16_t m_boundPort = 0;
  int32_t m_timeoutMinutes = 0;
  std::atomic<int64_t> m_idleLimitMs{0};
};

}  // namespace varn::remote
