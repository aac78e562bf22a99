#include "remote/dispatcher.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "platform/automation/classes.h"
#include "platform/files.h"

namespace varn::remote {

// --- one client -------------------------------------------------------------------

TkxSocketDispatcherThread::TkxSocketDispatcherThread(TkxSocketDispatcher& owner,
                                                     StreamSocket socket,
                                                     std::chrono::milliseconds idleLimit)
    : m_owner(owner),
      m_transport(std::make_unique<TSocketTransport>(std::move(socket))),
      m_idleLimit(idleLimit),
      m_lastActivity(std::chrono::steady_clock::now()),
      m_peer(m_transport->PeerName()) {}

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
  m_interpreter = std::make_unique<TkxDataBlockInterpreter>(*this);
  if (m_owner.CreateObject) m_interpreter->CreateObject = m_owner.CreateObject;
  Notify(m_owner.OnClientConnected);
  // Without an idle limit the thread sleeps until the client sends or goes;
  // with one it wakes at most once a second to look at the clock.
  std::optional<std::chrono::microseconds> wait;
  if (m_idleLimit.count() > 0)
    wait = std::min<std::chrono::microseconds>(m_idleLimit, std::chrono::seconds(1));
  while (!m_stop && m_transport->Connected()) {
    try {
      if (m_transport->WaitReadable(wait)) {
        std::lock_guard lock(m_interpreter->Lock());
        std::optional<TDataBlock> block = m_transport->Receive(std::chrono::microseconds(0));
        if (block) {
          m_lastActivity = Clock::now();
          m_interpreter->InterpretData(*block);
          m_lastActivity = Clock::now();
        }
      } else if (m_idleLimit.count() > 0 && Clock::now() - m_lastActivity > m_idleLimit) {
        break;
      }
    } catch (...) {
      // The stream is broken or the client misbehaved: end this connection only.
      break;
    }
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
  Start(std::move(l));
}

void TkxSocketDispatcher::Listen() {
  if (!m_active) throw std::logic_error("The dispatcher was not opened");
  if (m_listening) return;
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
  std::lock_guard lock(m_lock);
  for (StreamSocket& socket : queued) Adopt(std::move(socket));
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
    if (!socket) return;  // StopAccepting() woke us
    // Even while stopping: Close() stops it with the rest, StopListening()
    // serves it.
    std::lock_guard lock(m_lock);
    Adopt(std::move(*socket));
  }
}

void TkxSocketDispatcher::Adopt(StreamSocket socket) {
  ReapFinished();
  if (m_threads.size() >= MaxConnections) return;  // the socket closes here
  auto thread = std::make_unique<TkxSocketDispatcherThread>(*this, std::move(socket), IdleLimit());
  try {
    thread->Start();
  } catch (const std::system_error&) {
    return;  // no thread to be had: this client is turned away
  }
  m_threads.push_back(std::move(thread));
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
