#include "remote/connection.h"

#include <algorithm>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"

namespace varn::remote {

TkxStreamedConnection::TkxStreamedConnection()
    : m_interpreter(std::make_unique<TkxDataBlockInterpreter>(*this)) {}

TkxStreamedConnection::~TkxStreamedConnection() {
  Close();
  // Detaches the proxies still held by the owner and releases what was lent.
  m_interpreter.reset();
}

void TkxStreamedConnection::Open() {
  std::lock_guard lock(m_interpreter->Lock());
  if (m_transport) return;
  try {
    m_transport = MakeTransport();
    m_transport->SetConnected(true);
    const std::string& name = !ServerGUID.empty() ? ServerGUID : ServerName;
    if (name.empty())
      throw std::runtime_error("Cannot connect, " + Name +
                               " must contain a valid ServerName or ServerGUID");
    DispatchPtr created = m_interpreter->SendCreateObject(Utf8ToUtf16(name));
    if (!m_transport) throw ESocketConnectionError("Соединение закрылось во время подключения");
    m_serverObject = std::move(created);
  } catch (...) {
    m_transport.reset();
    throw;
  }
}

void TkxStreamedConnection::Close() {
  Disconnect(true);
}

void TkxStreamedConnection::Disconnect(bool raiseClosing) {
  std::lock_guard lock(m_interpreter->Lock());
  if (!m_transport && !m_serverObject) return;
  if (raiseClosing && OnClosing) OnClosing();
  m_serverObject = {};
  m_transport.reset();
}

bool TkxStreamedConnection::Connected() const {
  std::lock_guard lock(m_interpreter->Lock());
  return m_transport && m_transport->Connected();
}

DispatchPtr TkxStreamedConnection::ServerObject() const {
  std::lock_guard lock(m_interpreter->Lock());
  return m_serverObject;
}

Variant TkxStreamedConnection::ServerList() {
  std::lock_guard lock(m_interpreter->Lock());
  const bool temporary = !m_transport;
  if (temporary) {
    m_transport = MakeTransport();
    try {
      m_transport->SetConnected(true);
    } catch (...) {
      m_transport.reset();
      throw;
    }
  }
  try {
    Variant list = m_interpreter->SendGetServers();
    if (temporary) m_transport.reset();
    return list;
  } catch (...) {
    if (temporary) m_transport.reset();
    throw;
  }
}

std::optional<TDataBlock> TkxStreamedConnection::Send(TDataBlock& block, bool waitForResult) {
  std::lock_guard lock(m_interpreter->Lock());
  if (!m_transport) throw ESocketConnectionError("Соединение с сервером закрыто");
  try {
    m_transport->Send(block);
    if (!waitForResult) return std::nullopt;
    using Clock = std::chrono::steady_clock;
    constexpr std::chrono::microseconds kAliveCheck = std::chrono::seconds(1);
    auto deadline = Clock::now() + AnswerLimit;
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
      std::optional<TDataBlock> got =
          m_transport->Receive(std::max(std::chrono::microseconds(0), std::min(left, kAliveCheck)));
      if (!got) {
        if (Clock::now() >= deadline) throw ESocketConnectionError(text::kNoAnswerInTime);
        if (!PeerAlive(*m_transport))
          throw ESocketConnectionError("Сервер завершился, не ответив; соединение закрыто");
        continue;
      }
      if (got->IsAnswer()) return got;
      // The server calls an object we lent it: serve it, then wait on
      // (the wait for our answer starts again).
      m_interpreter->InterpretData(*got);
      deadline = Clock::now() + AnswerLimit;
    }
  } catch (...) {
    // A late answer or the rest of a broken block would be read as the
    // next call's answer: nothing more is read from this stream.
    Disconnect(true);
    throw;
  }
}

void TkxSocketConnection::SetAddress(const std::string& address) {
  m_address = address;
  if (!address.empty()) m_host.clear();
}

void TkxSocketConnection::SetHost(const std::string& host) {
  m_host = host;
  if (!host.empty()) m_address.clear();
}

std::unique_ptr<TSocketTransport> TkxSocketConnection::MakeTransport() const {
  auto t = std::make_unique<TSocketTransport>();
  t->Address = m_address;
  t->Host = m_host;
  t->Port = Port;
  return t;
}

std::unique_ptr<TSocketTransport> TkxLocalSocketConnection::MakeTransport() const {
  // Another user's folder or socket could receive every frame we send.
  CheckPrivateFolder(ParentDirectory(Path), "the runtime folder");
  CheckOwnFile(Path, "the server's socket");
  auto t = std::make_unique<TSocketTransport>();
  t->Path = Path;
  return t;
}

bool TkxLocalSocketConnection::PeerAlive(const TSocketTransport& transport) const {
  // The listener's process (SO_PEERCRED); its end closes the socket as well,
  // unless a child of it inherited the descriptor.
  return ProcessIsRunning(transport.PeerProcessId());
}

}  // namespace varn::remote
