// The calling side: a connection that creates one object on the serving
// end and hands back its proxy.
//
//   TkxSocketConnection conn;                // TCP
//   conn.SetHost("kassa-2");  conn.Port = 211;
//   conn.ServerGUID = "{51FABCFE-95AD-4BC9-BABA-97F9D279F37E}";
//   conn.OnClosing = [&] { server = {}; };   // before ServerObject goes
//   conn.Open();                             // raises with the server's text
//   server = conn.ServerObject();
//   CallMethod(*server, u"Connect", {...});
//
// TkxLocalSocketConnection is the same over the local Unix socket (Path);
// local activation (starting the server) is in local_server.h.
//
// One lock (the interpreter's) covers connect, disconnect and the whole of
// every call, so one call is in flight per connection. A call waits at most
// AnswerLimit for the start of its answer: 3 s over TCP, as the transport
// was designed; over the local socket as long as the server process lives
// (an exchange with a slow device, or behind another client's, may take
// minutes), up to a safety limit far above the link protocol's worst case.
// When no answer comes, or the stream breaks, the connection is closed
// (OnClosing, ServerObject dropped):
// blocks carry no call number, so a late answer must never be taken for the
// next call's. The next call through the old proxy fails; the owner opens a
// new connection. OnClosing runs on the calling thread with the lock held
// and must not destroy the connection.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "remote/interpreter.h"
#include "remote/transport.h"

namespace varn::remote {

class TkxStreamedConnection : public ISendDataBlock {
 public:
  TkxStreamedConnection();
  virtual ~TkxStreamedConnection();
  TkxStreamedConnection(const TkxStreamedConnection&) = delete;
  TkxStreamedConnection& operator=(const TkxStreamedConnection&) = delete;

  std::string Name;        // named in the "Cannot connect" text; empty for drivers
  std::string ServerGUID;  // the class to create, "{...}"; wins over ServerName
  std::string ServerName;  // or its ProgID
  std::function<void()> OnClosing;
  // How long a call waits for its answer to begin (its peer alive).
  std::chrono::microseconds AnswerLimit{std::chrono::seconds(3)};

  // Connects and creates the object. Raises the socket layer's error, the
  // server's error text, or "Cannot connect, ..."; stays closed on failure.
  void Open();
  // Raises OnClosing, drops ServerObject and closes the socket.
  void Close();
  bool Connected() const;
  DispatchPtr ServerObject() const;
  // The server's list of servers (always Null here); connects for the
  // question when not connected.
  Variant ServerList();
  TkxDataBlockInterpreter& Interpreter() { return *m_interpreter; }

  std::optional<TDataBlock> Send(TDataBlock& block, bool waitForResult) override;

 protected:
  // A transport set up with this connection's address, not yet connected.
  virtual std::unique_ptr<TSocketTransport> MakeTransport() const = 0;
  // Asked about once a second while a call waits for its answer; false
  // ends the wait at once.
  virtual bool PeerAlive(const TSocketTransport&) const { return true; }

 private:
  void Disconnect(bool raiseClosing);

  std::unique_ptr<TkxDataBlockInterpreter> m_interpreter;  // FInterpreter
  std::unique_ptr<TSocketTransport> m_transport;           // FTransport
  DispatchPtr m_serverObject;
};

// Over TCP. Setting Address clears Host and the reverse.
class TkxSocketConnection : public TkxStreamedConnection {
 public:
  const std::string& Address() const { return m_address; }
  const std::string& Host() const { return m_host; }
  void SetAddress(const std::string& address);
  void SetHost(const std::string& host);
  int32_t Port = 211;

 protected:
  std::unique_ptr<TSocketTransport> MakeTransport() const override;

 private:
  std::string m_address;
  std::string m_host;
};

// Over the local Unix socket at Path. A call waits for its answer while
// the server process lives, at most kLocalAnswerLimit.
class TkxLocalSocketConnection : public TkxStreamedConnection {
 public:
  // Well above the longest exchange the link protocol allows, with a few
  // clients queued on the same port; only a hung server ever reaches it.
  static constexpr std::chrono::minutes kLocalAnswerLimit{30};

  TkxLocalSocketConnection() { AnswerLimit = kLocalAnswerLimit; }
  std::string Path;

 protected:
  std::unique_ptr<TSocketTransport> MakeTransport() const override;
  bool PeerAlive(const TSocketTransport& transport) const override;
};

}  // namespace varn::remote
