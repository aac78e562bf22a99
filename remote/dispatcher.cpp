#include "remote/dispatcher.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "platform/automation/classes.h"
#include "platform/diagnostics.h"
#include "platform/files.h"

namespace varn::remote {

// --- one client -------------------------------------------------------------------

namespace {

// "127.0.0.1:5000" -> "127.0.0.1", "[::1]:5000" -> "::1"; an IPv4 client
// of the dual-stack listener is shown as IPv4.
std::string AddressOf(const std::string& peer) {
  std::string a = peer;
  const size_t colon = a.rfind(':');
  if (colon != std::string::npos && a.find(':') != colon) {
    if (a.front() == '[' && colon > 0 && a[colon - 1] == ']') a = a.substr(1, colon - 2);
  } else if (colon != std::string::npos) {
    a = a.substr(0, colon);
  }
  const std::string mapped = "::ffff:";
  if (a.rfind(mapped, 0) == 0 && a.find('.') != std::string::npos) a = a.substr(mapped.size());
  return a;
}

std::string Seconds(std::chrono::milliseconds ms) {
  const auto n = ms.count();
  return n % 1000 == 0 ? std::to_string(n / 1000) + " с" : std::to_string(n) + " мс";
}

}  // namespace

TkxSocketDispatcherThread::TkxSocketDispatcherThread(TkxSocketDispatcher& owner,
                                                     StreamSocket socket,
                                                     std::chrono::milliseconds idleLimit,
                                                     std::chrono::milliseconds blockLimit)
    : m_owner(owner),
      m_transport(std::make_unique<TSocketTransport>(std::move(socket))),
      m_idleLimit(idleLimit),
      m_blockLimit(blockLimit),
      m_accepted(std::chrono::steady_clock::now()),
      m_lastActivityTicks(m_accepted.time_since_epoch().count()),
      m_peer(m_transport->PeerName()),
      m_peerAddress(AddressOf(m_peer)) {}

TkxSocketDispatcherThread::~TkxSocketDispatcherThread() {
  if (m_thread.joinable()) m_thread.join();
}

void TkxSocketDispatcherThread::Start() {
  m_thread = std::thread([this] { ClientExecute(); });
}

void TkxSocketDispatcherThread::RequestStop() {
  // Called with the owner's lock held, so the socket cannot be closed under us.
  m_stop = true;
  if (!m_socketClosed) m_transport->Shutdown();
}

std::optional<TDataBlock> TkxSocketDispatcherThread::Send(TDataBlock& block, bool waitForResult) {
  m_transport->Send(block);
  if (!waitForResult) return std::nullopt;
  // Only when a served call calls back an object the client lent us.
  for (;;) {
    std::optional<TDataBlock> got = m_transport->Receive(std::nullopt);
    if (!got || got->IsAnswer()) return got;
    m_interpreter->InterpretData(*got);
  }
}

void TkxSocketDispatcherThread::Notify(const std::function<void(const std::string&)>& callback) {
  if (!callback) return;
  try {
    callback(m_peer);
  } catch (...) {
    // A failing observer must not end the connection thread abnormally.
  }
}

void TkxSocketDispatcherThread::ClientExecute() {
  using Clock = std::chrono::steady_clock;
  using std::chrono::microseconds;
  m_interpreter = std::make_unique<TkxDataBlockInterpreter>(*this);
  if (m_owner.CreateObject) m_interpreter->CreateObject = m_owner.CreateObject;
  Notify(m_owner.OnClientConnected);
  const bool blockLimited = m_blockLimit.count() > 0;
  const Clock::time_point firstBy = m_accepted + m_blockLimit;
  bool silent = false;  // no first block in time
  // Until the first block the thread wakes when its time is up; after it,
  // without an idle limit, it sleeps until the client sends or goes; with
  // one it wakes at most once a second to look at the clock.
  while (!m_stop && m_transport->Connected()) {
    const bool first = !m_completedBlock;
    std::optional<microseconds> wait;
    if (first && blockLimited)
      wait = std::max(microseconds(0),
                      std::chrono::duration_cast<microseconds>(firstBy - Clock::now()));
    else if (m_idleLimit.count() > 0)
      wait = std::min<microseconds>(m_idleLimit, std::chrono::seconds(1));
    try {
      if (m_transport->WaitReadable(wait)) {
        std::lock_guard lock(m_interpreter->Lock());
        std::optional<Clock::time_point> completeBy;
        if (blockLimited) completeBy = first ? firstBy : Clock::now() + m_blockLimit;
        std::optional<TDataBlock> block =
            m_transport->Receive(std::chrono::microseconds(0), completeBy);
        if (block) {
          // Reading a block is not a call: a connection stuck in one may
          // still make room for others.
          m_busy = true;
          m_interpreter->InterpretData(*block);
          m_completedBlock = true;
          m_lastActivityTicks = Clock::now().time_since_epoch().count();
        }
        m_busy = false;
      } else if (first && blockLimited) {
        if (Clock::now() >= firstBy) {
          silent = true;
          break;
        }
      } else if (m_idleLimit.count() > 0 && Clock::now() - LastActivity() > m_idleLimit) {
        break;
      }
    } catch (...) {
      // The stream is broken or the client misbehaved: end this connection only.
      if (first && blockLimited && Clock::now() >= firstBy) silent = true;
      break;
    }
  }
  m_busy = false;
  if (silent && !m_stop) {
    std::lock_guard lock(m_owner.m_lock);
    m_owner.ReportOnce(m_peerAddress, "соединение с " + m_peerAddress + " закрыто: за " +
                                          Seconds(m_blockLimit) + " не пришёл ни один блок");
  }
  // Releases every object lent to this client, its server object among them.
  m_interpreter.reset();
  {
    std::lock_guard lock(m_owner.m_lock);
    m_transport->SetConnected(false);
    m_socketClosed = true;
  }
  m_closed = true;
  Notify(m_owner.OnClientDisconnected);
  m_finished = true;
}

// --- the listener ---------------------------------------------------------------

TkxSocketDispatcher::TkxSocketDispatcher()
    : CreateObject([](const std::u16string& name) { return ClassTable::Instance().Create(name); }) {
}

TkxSocketDispatcher::~TkxSocketDispatcher() {
  Close();
}

void TkxSocketDispatcher::SetTimeout(int32_t minutes) {
  m_timeoutMinutes = minutes;
  SetIdleLimit(std::chrono::minutes(minutes > 0 ? minutes : 0));
}

void TkxSocketDispatcher::SetIdleLimit(std::chrono::milliseconds limit) {
  m_idleLimitMs = limit.count() > 0 ? limit.count() : 0;
}

std::chrono::milliseconds TkxSocketDispatcher::IdleLimit() const {
  return std::chrono::milliseconds(m_idleLimitMs.load());
}

void TkxSocketDispatcher::Open() {
  if (m_active) throw std::logic_error("The dispatcher is already listening");
  if (Port < 0 || Port > 65535)
    throw ESocketError(EINVAL, "TCP port " + std::to_string(Port) + " is out of range 0..65535");
  ListeningSocket l = ListeningSocket::ListenTcp(static_cast<uint16_t>(Port), BindAddress);
  m_boundPort = l.Port();
  m_localPath.clear();
  Start(std::move(l));
}

namespace {

ListeningSocket ListenLocal(const std::string& path) {
  // A folder another user made or can reach would hand him every client.
  const std::string folder = ParentDirectory(path);
  if (!folder.empty()) {
    MakeDirectories(folder, 0700);
    CheckPrivateFolder(folder, "the runtime folder");
  }
  return ListeningSocket::ListenUnix(path);
}

}  // namespace

void TkxSocketDispatcher::OpenLocal(const std::string& path) {
  if (m_active) throw std::logic_error("The dispatcher is already listening");
  ListeningSocket l = ListenLocal(path);
  m_boundPort = 0;
  m_localPath = path;
  m_inherited = false;
  Start(std::move(l));
}

void TkxSocketDispatcher::OpenInherited(ListeningSocket listener) {
  if (m_active) throw std::logic_error("The dispatcher is already listening");
  m_boundPort = 0;
  m_localPath = listener.UnixPath();
  m_inherited = true;
  Start(std::move(listener));
}

void TkxSocketDispatcher::Listen() {
  if (!m_active) throw std::logic_error("The dispatcher was not opened");
  if (m_listening) return;
  if (m_inherited)
    throw ESocketError(EBADF, "listen again: the socket was handed over by the service manager");
  Start(m_localPath.empty() ? ListeningSocket::ListenTcp(m_boundPort, BindAddress)
                            : ListenLocal(m_localPath));
}

void TkxSocketDispatcher::Start(ListeningSocket listener) {
  m_listener = std::move(listener);
  m_stopping = false;
  m_active = true;
  m_listening = true;
  m_acceptThread = std::thread([this] { AcceptLoop(); });
}

void TkxSocketDispatcher::StopAccepting() {
  {
    std::lock_guard lock(m_lock);
    m_stopping = true;
  }
  m_stopped.notify_all();
  m_listener.Shutdown();
  if (m_acceptThread.joinable()) m_acceptThread.join();
}

void TkxSocketDispatcher::StopListening() {
  if (!m_listening) return;
  StopAccepting();
  // A client whose connect succeeded is one we serve: cutting it now would
  // break its first call.
  std::vector<StreamSocket> queued = m_listener.CloseKeepingQueued();
  m_listening = false;
  std::erase_if(queued, [this](StreamSocket& socket) { return !Admit(socket); });
  std::lock_guard lock(m_lock);
  for (StreamSocket& socket : queued) Adopt(std::move(socket));
}

bool TkxSocketDispatcher::Admit(StreamSocket& socket) {
  if (AcceptFilter) {
    try {
      if (!AcceptFilter(socket)) return false;
    } catch (...) {
      return false;  // a filter that cannot decide lets nobody in
    }
  }
  if (KeepAlive && m_localPath.empty()) {
    try {
      socket.SetKeepAlive(*KeepAlive);
    } catch (const ESocketError&) {
      // Refused only for a peer already gone: its thread finds it closed.
    }
  }
  return true;
}

void TkxSocketDispatcher::AcceptLoop() {
  for (;;) {
    std::optional<StreamSocket> socket;
    try {
      socket = m_listener.Accept();
    } catch (const ESocketError&) {
      // Out of descriptors or the like: let some connections end, then go on.
      std::unique_lock lock(m_lock);
      if (m_stopped.wait_for(lock, std::chrono::milliseconds(100), [&] { return m_stopping; }))
        return;
      continue;
    }
    if (!socket) return;            // StopAccepting() woke us
    if (!Admit(*socket)) continue;  // closed here, nothing read
    // Even while stopping: Close() stops it with the rest, StopListening()
    // serves it.
    std::lock_guard lock(m_lock);
    Adopt(std::move(*socket));
  }
}

void TkxSocketDispatcher::Adopt(StreamSocket socket) {
  ReapFinished();
  const std::string address = AddressOf(socket.PeerName());
  const bool tcp = m_localPath.empty();
  size_t live = 0, fromPeer = 0;
  for (const auto& t : m_threads) {
    if (t->Stopping() || t->Closed()) continue;
    ++live;
    if (t->PeerAddress() == address) ++fromPeer;
  }
  if (tcp && MaxConnectionsPerPeer > 0 && fromPeer >= MaxConnectionsPerPeer) {
    if (!CloseOldestIdle(address)) {
      ReportOnce(address, "соединение с " + address + " отклонено: с этого адреса уже " +
                              std::to_string(fromPeer) + " соединений, и все заняты");
      return;  // the socket closes here
    }
    ReportOnce(address, "с адреса " + address + " больше " + std::to_string(MaxConnectionsPerPeer) +
                            " соединений: закрываются самые старые из ожидающих");
    --live;
  }
  if (live >= MaxConnections) {
    if (!CloseOldestIdle("")) {
      ReportOnce(address, "соединение с " + address + " отклонено: уже " + std::to_string(live) +
                              " соединений, и все заняты");
      return;
    }
    ReportOnce(address, "больше " + std::to_string(MaxConnections) +
                            " соединений: закрываются самые старые из ожидающих");
  }
  auto thread = std::make_unique<TkxSocketDispatcherThread>(*this, std::move(socket), IdleLimit(),
                                                            BlockLimit);
  try {
    thread->Start();
  } catch (const std::system_error&) {
    return;  // no thread to be had: this client is turned away
  }
  m_threads.push_back(std::move(thread));
}

bool TkxSocketDispatcher::CloseOldestIdle(const std::string& address) {
  // Those that never completed a block are the likeliest to be no client at
  // all; among the rest, the one unused the longest.
  TkxSocketDispatcherThread* oldest = nullptr;
  auto before = [](const TkxSocketDispatcherThread& a, const TkxSocketDispatcherThread& b) {
    if (a.CompletedABlock() != b.CompletedABlock()) return !a.CompletedABlock();
    return a.LastActivity() < b.LastActivity();
  };
  for (const auto& t : m_threads) {
    if (t->Stopping() || t->Closed() || !t->Idle()) continue;
    if (!address.empty() && t->PeerAddress() != address) continue;
    if (!oldest || before(*t, *oldest)) oldest = t.get();
  }
  if (!oldest) return false;
  oldest->RequestStop();
  return true;
}

void TkxSocketDispatcher::ReportOnce(const std::string& address, const std::string& text) {
  // Peers from ever new addresses must not grow the list without end: past
  // a bound it starts afresh, at the price of telling some again.
  if (m_reported.size() >= kReportedAddresses) m_reported.clear();
  if (m_reported.insert(address).second) Diagnose((m_localPath.empty() ? "TCP: " : "") + text);
}

void TkxSocketDispatcher::ReapFinished() {
  // Joining a finished thread is immediate.
  m_threads.remove_if([](const auto& t) { return t->Finished(); });
}

size_t TkxSocketDispatcher::ConnectionCount() {
  std::lock_guard lock(m_lock);
  ReapFinished();
  return std::count_if(m_threads.begin(), m_threads.end(),
                       [](const auto& t) { return !t->Closed(); });
}

void TkxSocketDispatcher::Close() {
  if (!m_active) return;
  if (m_listening) {
    StopAccepting();
    m_listener.Close();
    m_listening = false;
  }
  std::list<std::unique_ptr<TkxSocketDispatcherThread>> threads;
  {
    std::lock_guard lock(m_lock);
    for (auto& t : m_threads) t->RequestStop();
    threads.swap(m_threads);
  }
  threads.clear();  // joins each; their objects are released by then
  m_active = false;
}

}  // namespace varn::remote
