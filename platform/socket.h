// Stream sockets for the remote-call transport: TCP with host name
// resolution and Unix-domain sockets at a path, behind a small interface so
// that nothing above platform/ touches the socket API.
//
//   ListeningSocket listener = ListeningSocket::ListenTcp(0);  // any free port
//   StreamSocket client = StreamSocket::ConnectTcp("localhost", listener.Port());
//   std::optional<StreamSocket> served = listener.Accept();
//   client.SendAll(bytes);
//   if (served->WaitReadable(std::chrono::seconds(3))) n = served->Receive(buf, sizeof buf);
//
// Every failure of the system raises ESocketError with the system's text.
// Shutdown() may be called from another thread to wake a thread blocked in
// Accept, WaitReadable or Receive; the owner still calls Close (or lets the
// object go) afterwards, never concurrently with Shutdown.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/ip_address.h"

namespace varn {

// How a TCP connection finds out that its peer is gone without a word (a
// register that lost power): keepalive probes after `idle` without traffic,
// every `interval`, given up after `count` unanswered; and `userTimeout`
// for data sent and never acknowledged. A live peer answers the probes
// itself, however slow its program, and is never cut.
struct TcpKeepAlive {
  std::chrono::seconds idle{30};
  std::chrono::seconds interval{10};
  int count = 3;
  std::chrono::milliseconds userTimeout{60000};
  bool operator==(const TcpKeepAlive&) const = default;
};

class ESocketError : public EOSError {
 public:
  ESocketError(int err, const std::string& message, bool nothingListens = false)
      : EOSError(err, message), m_nothingListens(nothingListens) {}
  // True when a connect found no listener (refused, or no socket file at the
  // path): the caller may start a local server and try again.
  bool NothingListens() const { return m_nothingListens; }

 private:
  bool m_nothingListens;
};

// A connected stream socket (client end or accepted connection). Move-only;
// the destructor closes it.
class StreamSocket {
 public:
  StreamSocket() = default;
  ~StreamSocket();
  StreamSocket(StreamSocket&& o) noexcept;
  StreamSocket& operator=(StreamSocket&& o) noexcept;
  StreamSocket(const StreamSocket&) = delete;
  StreamSocket& operator=(const StreamSocket&) = delete;

  // Resolves `host` (a name or a numeric address, IPv4 or IPv6) and connects
  // to the first address that accepts. Nagle's delay is switched off: every
  // block goes out in one send and waits for its answer.
  // `fromAddress` (a numeric address) binds the client's end first, so a
  // test can come from 127.0.0.2.
  static StreamSocket ConnectTcp(const std::string& host, uint16_t port,
                                 const std::string& fromAddress = {});
  static StreamSocket ConnectUnix(const std::string& path);

  bool IsOpen() const { return m_fd >= 0; }
  // Sends every byte, completing partial sends; ESocketError when the peer
  // is gone. Never raises SIGPIPE.
  void SendAll(std::span<const uint8_t> bytes);
  // True when data, the peer's close or an error can be read without
  // blocking; false when `limit` passed first. nullopt waits without limit.
  bool WaitReadable(std::optional<std::chrono::microseconds> limit);
  // Blocks until some bytes arrive; returns their count, 0 when the peer
  // closed (or Shutdown was called).
  size_t Receive(void* buffer, size_t size);
  // The same, waiting at most `limit` (nullopt: no limit) for the first
  // byte: nullopt when none came. Bytes already there are taken at once.
  std::optional<size_t> ReceiveWithin(void* buffer, size_t size,
                                      std::optional<std::chrono::microseconds> limit);
  // Ends both directions; wakes a blocked WaitReadable or Receive.
  void Shutdown();
  void Close();
  // "127.0.0.1:40512", "[::1]:40512" or "local" for a Unix socket.
  std::string PeerName() const;
  // The peer's IP address (an IPv4 client of a dual-stack listener as the
  // mapped IPv6 address the system gives); nullopt on a Unix socket or when
  // the peer is already gone.
  std::optional<IpAddress> PeerAddress() const;
  // TCP only; ESocketError when the system refuses an option.
  void SetKeepAlive(const TcpKeepAlive& k);
  // What the socket has now (nullopt: keepalive off).
  std::optional<TcpKeepAlive> KeepAlive() const;
  // The process id the peer of a Unix socket had when it connected or
  // listened (SO_PEERCRED); ESocketError on another kind of socket.
  int64_t PeerProcessId() const;

 private:
  explicit StreamSocket(int fd) : m_fd(fd) {}
  friend class ListeningSocket;
  int m_fd = -1;
};

// A listening socket. Move-only; the destructor closes it (and removes the
// socket file of a Unix listener).
class ListeningSocket {
 public:
  ListeningSocket() = default;
  ~ListeningSocket();
  ListeningSocket(ListeningSocket&& o) noexcept;
  ListeningSocket& operator=(ListeningSocket&& o) noexcept;
  ListeningSocket(const ListeningSocket&) = delete;
  ListeningSocket& operator=(const ListeningSocket&) = delete;

  // Listens on every interface (IPv6 and IPv4 where the system has both) or
  // on `bindAddress`. Port 0 takes any free port (see Port()). A port in use
  // or one below 1024 without the privilege gives an ESocketError that says so.
  static ListeningSocket ListenTcp(uint16_t port, const std::string& bindAddress = {});
  // Listens at `path` (its folder is created with mode 0700). Only one
  // process may listen at a path: "<path>.lock" is held while listening, so
  // a second listener fails (EADDRINUSE) and a socket file left by a process
  // that died is replaced.
  static ListeningSocket ListenUnix(const std::string& path);
  // The listening socket a service manager handed this process (socket
  // activation: LISTEN_PID is this process and LISTEN_FDS at least 1, the
  // socket is descriptor 3); nullopt when none was handed. ESocketError when
  // descriptor 3 is not a listening Unix stream socket. The variables are
  // removed so that children do not take the socket for theirs. Its socket
  // file belongs to the manager and stays when this one closes; while it is
  // open, "<path>.lock" is held as ListenUnix holds it, so a server started
  // by hand cannot take the path over.
  static std::optional<ListeningSocket> Inherited();

  bool IsOpen() const { return m_fd >= 0; }
  uint16_t Port() const;  // TCP only
  // The path a Unix listener is bound at ("" for TCP or an unnamed socket).
  std::string UnixPath() const;
  bool IsInherited() const { return m_inherited; }
  // Blocks until a client connects; nullopt once Shutdown was called.
  std::optional<StreamSocket> Accept();
  // Wakes a blocked Accept; later calls return nullopt at once.
  void Shutdown();
  void Close();
  // Closes without dropping a client that has connected: the connections
  // waiting to be accepted are returned for serving. A Unix listener first
  // refuses every connect still on its way (the caller sees nothing
  // listening), so none can slip in between; a TCP listener cannot refuse
  // without resetting its queue, so a handshake that completes in the
  // instant between the last accept and the close is reset. Not while
  // another thread is in Accept.
  std::vector<StreamSocket> CloseKeepingQueued();

 private:
  int m_fd = -1;
  int m_wakeRead = -1;  // a pipe whose write end Shutdown writes to
  int m_wakeWrite = -1;
  int m_lockFd = -1;  // Unix listeners: the flock on "<path>.lock"
  std::string m_path;
  bool m_inherited = false;  // from the service manager: its file is not ours to remove
};

}  // namespace varn
