#include "server/app/server_app.h"

#include <cerrno>
#include <mutex>
#include <optional>
#include <set>

#include "platform/diagnostics.h"
#include "platform/files.h"
#include "platform/ip_address.h"
#include "platform/socket.h"
#include "remote/errors.h"
#include "remote/local_server.h"
#include "server/context.h"
#include "server/varn_srv.h"

namespace varn {
namespace {

// A loop timer id of our own: TTimer ids count up from 1.
constexpr int32_t kNoClientTimer = -1;

// A listener's failure as the server's user reads it: a Russian lead-in,
// then the system's own reason.
std::string ListenFailure(const std::string& where, const std::exception& e) {
  const auto* socket = dynamic_cast<const ESocketError*>(&e);
  if (!socket) return e.what();
  std::string reason = remote::SystemPart(e.what());
  const size_t note = reason.find(" (ports below 1024");
  if (note != std::string::npos)
    reason = reason.substr(0, note) +
             " (порты ниже 1024 доступны только root или с возможностью CAP_NET_BIND_SERVICE)";
  else if (socket->Errno == EADDRINUSE && reason.find("another process") != std::string::npos)
    reason = "там уже слушает другой процесс";
  return "не удалось слушать " + where + ": " + reason;
}

std::string TcpWhere(int32_t port, const std::string& address = {}) {
  return "TCP-порт " + std::to_string(port) + (address.empty() ? "" : " на " + address);
}

const char* const kWithoutTcp = "; сервер работает дальше без TCP-подключений";

// TCPAddress as the listener takes it: empty (every interface), a literal
// in its plain form, or "localhost" as IPv4's loopback (where the drivers'
// "localhost" also arrives). Names are not looked up: what a name resolves
// to may change, and a listener must not quietly move. Raises with the
// user's text.
std::string ListenAddress(const std::string& setting) {
  std::string text = setting;
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.erase(0, 1);
  if (text.empty()) return text;
  std::string lower;
  for (char c : text) lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  if (lower == "localhost") return "127.0.0.1";
  std::string literal = text;
  if (literal.size() > 2 && literal.front() == '[' && literal.back() == ']')
    literal = literal.substr(1, literal.size() - 2);
  if (const std::optional<IpAddress> a = ParseIpAddress(literal)) return a->ToString();
  throw std::runtime_error("неверный адрес TCPAddress \"" + setting +
                           "\": нужен IPv4- или IPv6-адрес либо localhost (имена компьютеров "
                           "не допускаются)");
}

// Lets in the peers of the list; tells of each other address once, up to
// a bound, then of none (a flood from ever new addresses fills no log).
class TAllowFilter {
 public:
  explicit TAllowFilter(NetworkList allow) : m_allow(std::move(allow)) {}

  bool operator()(const StreamSocket& socket) {
    const std::optional<IpAddress> peer = socket.PeerAddress();
    if (!peer) return false;  // gone already, or nothing to judge by
    if (m_allow.Contains(*peer)) return true;
    const std::string address = peer->Unmapped().ToString();
    std::string line;
    {
      std::lock_guard lock(m_lock);
      if (m_told.size() < kRefusedAddressesTold) {
        if (m_told.insert(address).second)
          line = "TCP: соединение с " + address + " отклонено: адреса нет в TCPAllow";
      } else if (!m_full) {
        m_full = true;
        line = "TCP: отклонены соединения с " + std::to_string(kRefusedAddressesTold) +
               " адресов не из TCPAllow; о следующих отказах не сообщается";
      }
    }
    if (!line.empty()) Diagnose(line);
    return false;
  }

 private:
  const NetworkList m_allow;
  std::mutex m_lock;
  std::set<std::string> m_told;
  bool m_full = false;
};

}  // namespace

TServerApp::TServerApp(TStartMode mode, IEventLoop* loop)
    : SocketPath(remote::LocalServerSocketPath(kVarnSrvLocalServer)),
      m_mode(mode),
      m_settings(std::make_shared<TServerSettings>()),
      m_ownLoop(loop ? nullptr : std::make_unique<TEventLoop>()),
      m_loop(loop ? *loop : *m_ownLoop),
      m_context(std::make_shared<TServerContext>(m_timers, m_settings)) {}

TServerApp::~TServerApp() {
  Shutdown();
}

void TServerApp::Start() {
  // The context is held for the whole run, so ports keep their locks and
  // settings while no client is connected.
  if (!m_context) throw std::logic_error("TServerApp: started again after its end");
  m_settings->LoadSettings();
  m_context->Ports().UpdateTimers();
  RegisterVarnSrvClass(m_context);
  if (m_mode == TStartMode::Automation) {
    auto wantEnd = [this] {
      m_endWanted = true;
      EndWhenIdle();
    };
    m_context->SetOnLastObjectReleased([this, wantEnd] { m_loop.Post(wantEnd); });
    // Whoever started us may have gone before it connected.
    m_loop.Post([this, wantEnd] {
      m_loop.StartTimer(kNoClientTimer, NoClientLimit, [this, wantEnd] {
        m_loop.StopTimer(kNoClientTimer);
        wantEnd();
      });
    });
    Watch(m_local);
  }
  // The local socket first: it is what makes this the one server of the
  // user, and a second start fails here without touching the TCP port.
  m_local.SetTimeout(0);
  m_local.SetIdleLimit(IdleLimit);
  OpenLocalListener();
  if (TcpForRun) {
    // For this run only: the registry keeps its values unless the window's
    // settings are applied.
    m_settings->TCPEnabled = true;
    if (*TcpForRun > 0) m_settings->TCPPort = *TcpForRun;
  }
  if (m_settings->TCPEnabled) {
    // Asked for on the command line (a service serving other computers), a
    // server without TCP is of no use: better a failed start than a silent one.
    if (!StartTCP() && TcpForRun)
      throw std::runtime_error(TcpWhere(m_settings->TCPPort) + " не удалось открыть (--tcp)");
  } else {
    StopTCP();
  }
}

void TServerApp::OpenLocalListener() {
  if (InheritedSocket) {
    const std::string path = InheritedSocket->UnixPath();
    if (path != SocketPath)
      Warn("сокет от менеджера служб (" + (path.empty() ? std::string("без имени") : path) +
           ") не там, где его ищут клиенты (" + SocketPath + ")");
    m_local.OpenInherited(std::move(*InheritedSocket));
    InheritedSocket.reset();
    return;
  }
  try {
    m_local.OpenLocal(SocketPath);
  } catch (const ESocketError& e) {
    throw std::runtime_error(ListenFailure(SocketPath, e));
  }
}

void TServerApp::Watch(remote::TkxSocketDispatcher& listener) {
  // A client that leaves may be the last thing the server waited for.
  listener.OnClientDisconnected = [this](const std::string&) {
    m_loop.Post([this] { EndWhenIdle(); });
  };
}

bool TServerApp::Busy() {
  return m_context->ObjectCount() > 0 || m_local.ConnectionCount() > 0 ||
         (m_tcp && m_tcp->ConnectionCount() > 0);
}

void TServerApp::EndWhenIdle() {
  // Looking first and closing the listener afterwards would let a client in
  // between, only to cut it off. So the listeners stop first (a client that
  // connected is kept and served), under the start lock, and then we look:
  // a client arriving meanwhile finds nothing listening and waits on the
  // lock. Still idle: the run ends, and that client starts the next server.
  // Someone got in: listen again and serve on; no other server can have
  // started, as that takes the lock. So no client needs to retry: one that
  // reached us is served, one that did not finds nothing listening, which
  // already makes it start a server.
  if (!m_context || !m_endWanted || Busy()) return;
  std::optional<FileLock> starting;
  try {
    starting.emplace(remote::LocalServerStartLockPath(SocketPath));
  } catch (const std::exception&) {
    // No lock file to be had: no connector can start a server there either.
  }
  m_local.StopListening();
  if (m_tcp) m_tcp->StopListening();
  if (!Busy()) {
    // A port a client left open (it moved on to another) is let go while
    // the start lock is held: the next server, which starts only after it,
    // can open it at once instead of finding it taken by this ending one.
    m_context->Ports().CloseAll();
    m_loop.Quit();
    return;
  }
  for (remote::TkxSocketDispatcher* listener : {&m_local, m_tcp.get()}) {
    if (!listener) continue;
    try {
      listener->Listen();
    } catch (const std::exception& e) {
      // Taken meanwhile (by a server the user started): the clients we
      // have are served, and the run ends after them.
      const std::string where =
          listener == &m_local ? SocketPath : TcpWhere(m_settings->TCPPort, m_tcp->BindAddress);
      Warn(ListenFailure(where, e) + "; сервер завершит работу после подключённых клиентов");
    }
  }
}

void TServerApp::Run() {
  m_loop.Run();
}

void TServerApp::Close() {
  m_loop.Quit();
}

void TServerApp::Shutdown() {
  if (!m_context) return;
  m_context->SetOnLastObjectReleased(nullptr);
  // A connection ends only after its call: an exchange waiting on a silent
  // device ends now, with its error, instead of holding up the end.
  m_context->Ports().AbortExchanges();
  // Closing a listener ends its connections and releases their objects,
  // which unlocks and closes the ports those clients used.
  if (m_tcp) {
    m_tcp->Close();
    m_tcp.reset();
  }
  m_local.Close();  // removes the socket file
  // The last holder: every port is closed and freed.
  m_context.reset();
}

bool TServerApp::StartTCP() {
  const int32_t port = m_settings->TCPPort;
  std::string address;
  try {
    if (port < 1 || port > 65535)
      throw std::runtime_error(TcpWhere(port) + " вне диапазона 1..65535");
    address = ListenAddress(m_settings->TCPAddress.load());
    auto listener = std::make_unique<remote::TkxSocketDispatcher>();
    if (m_mode == TStartMode::Automation) Watch(*listener);
    NetworkList allow;
    try {
      allow = ParseNetworkList(m_settings->TCPAllow.load());
    } catch (const ENetworkListError& e) {
      // Fail closed: a typo must not let every computer print and open the
      // drawer.
      throw std::runtime_error(std::string("неверный список сетей TCPAllow: ") + e.what() +
                               "; TCP-порт не открыт, чтобы ошибка в списке не открыла доступ "
                               "всем");
    }
    if (!allow.Empty())
      listener->AcceptFilter = [filter = std::make_shared<TAllowFilter>(std::move(allow))](
                                   const StreamSocket& socket) { return (*filter)(socket); };
    listener->KeepAlive = KeepAlive;
    listener->Port = port;
    listener->BindAddress = address;
    listener->SetTimeout(0);
    listener->SetIdleLimit(IdleLimit);
    m_tcp.reset();
    listener->Open();
    m_tcp = std::move(listener);
    return true;
  } catch (const std::exception& e) {
    m_settings->TCPEnabled = false;  // the registry keeps its value
    Warn(ListenFailure(TcpWhere(port, address), e) + kWithoutTcp);
    return false;
  }
}

bool TServerApp::StopTCP() {
  if (!m_tcp) return true;
  // Asked whatever Warning says: remote clients are cut off either way.
  if (m_context->Clients().Count() > 0 && ConfirmClose && !ConfirmClose()) return false;
  m_tcp->Close();
  m_tcp.reset();
  return true;
}

bool TServerApp::ApplySettings(const TSettingsValues& v) {
  TServerSettings& s = *m_settings;
  const bool tcpChanged = v.TCPEnabled != s.TCPEnabled || v.TCPPort != s.TCPPort ||
                          v.TCPAddress != s.TCPAddress.load() || v.TCPAllow != s.TCPAllow.load();
  if (tcpChanged && !StopTCP()) return false;
  s.Warning = v.Warning;
  s.LogOn = v.LogOn;
  s.PortTimeout = v.PortTimeout;
  s.AutoUnlock = v.AutoUnlock;
  s.TCPEnabled = v.TCPEnabled;
  s.TCPPort = v.TCPPort;
  s.TCPAddress = v.TCPAddress;
  s.TCPAllow = v.TCPAllow;
  if (tcpChanged) {
    if (s.TCPEnabled)
      StartTCP();  // a failure goes to OnWarning and clears TCPEnabled
    else
      StopTCP();
  }
  m_context->Ports().UpdateTimers();
  s.SaveSettings();
  return true;
}

void TServerApp::UnlockPort(int32_t number) {
  TPorts& ports = m_context->Ports();
  std::lock_guard state(ports.StateLock());
  if (TPort* port = ports.Find(number)) port->Unlock();
}

bool TServerApp::CloseNeedsQuestion() const {
  return m_settings->Warning && (m_context->Clients().Count() > 0 || m_context->ObjectCount() > 0);
}

void TServerApp::Warn(const std::string& text) {
  if (OnWarning) OnWarning(text);
}

}  // namespace varn
