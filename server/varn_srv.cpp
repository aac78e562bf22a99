#include "server/varn_srv.h"

#include <cstdio>

#include "platform/automation/classes.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "server/context.h"
#include "server/varn_srv_dispids.h"

#ifndef VARN_VERSION_MAJOR
#error "the build passes the project's version (VARN_VERSION_MAJOR...)"
#endif

namespace varn {
namespace {

std::u16string FileVersionText() {
  return Utf8ToUtf16(VarnSrvFileVersion());
}

}  // namespace

std::string VarnSrvFileVersion() {
  char text[64];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", VARN_VERSION_MAJOR, VARN_VERSION_MINOR,
                VARN_VERSION_PATCH, VARN_VERSION_TWEAK);
  return text;
}

const MemberTable<TVarnSrv>& TVarnSrv::Members() {
  using S = TVarnSrv;
  static const MemberTable<S> table{
      {
          Method<S>(dispid::kOpenPort, "OpenPort",
                    {{"PortNumber", VT_I4}, {"BaudRate", VT_I4}, {"Timeout", VT_I4}}, VT_I4,
                    "Открыть COM порт",
                    [](S& s, Args a) {
                      return Variant(s.OpenPort(a[0].ToInt32(), a[1].ToInt32(), a[2].ToInt32()));
                    }),
          Method<S>(dispid::kClosePort, "ClosePort", {}, VT_I4, "Закрыть COM порт",
                    [](S& s, Args) { return Variant(s.ClosePort()); }),
          Method<S>(dispid::kLockPort, "LockPort", {{"PortNumber", VT_I4}}, VT_I4,
                    "Блокировка порта",
                    [](S& s, Args a) { return Variant(s.LockPort(a[0].ToInt32())); }),
          Method<S>(dispid::kUnlockPort, "UnlockPort", {}, VT_I4, "Разблокировка порта",
                    [](S& s, Args) { return Variant(s.UnlockPort()); }),
          // Byte strings cross one character per byte through cp1251.
          Method<S>(
              dispid::kSendData, "SendData", {{"TxData", VT_BSTR}}, VT_I4, "Передать данные",
              [](S& s, Args a) { return Variant(s.SendData(Utf16ToCp1251(a[0].RawString()))); }),
          Get<S>(dispid::kRxData, "RxData", VT_BSTR, "Принятые данные",
                 [](S& s, Args) { return Variant(Cp1251ToUtf16(s.m_rxData)); }),
          Get<S>(dispid::kFileVersion, "FileVersion", VT_BSTR, "Версия файла",
                 [](S&, Args) { return Variant(FileVersionText()); }),
          Get<S>(dispid::kResultDescription, "ResultDescription", VT_BSTR, "Описание кода ошибки",
                 [](S& s, Args) { return Variant(Utf8ToUtf16(s.m_resultDescription)); }),
          Get<S>(dispid::kPortOpened, "PortOpened", VT_BOOL, "COM порт открыт",
                 [](S& s, Args) { return Variant(s.PortOpened()); }),
          Get<S>(dispid::kPortLocked, "PortLocked", VT_BOOL, "Порт блокирован",
                 [](S& s, Args) { return Variant(s.PortLocked()); }),
          Method<S>(dispid::kAdminUnlockPort, "AdminUnlockPort", {{"PortNumber", VT_I4}}, VT_I4,
                    "Разблокировка порта администратором",
                    [](S& s, Args a) { return Variant(s.AdminUnlockPort(a[0].ToInt32())); }),
          Method<S>(dispid::kAdminUnlockPorts, "AdminUnlockPorts", {}, VT_I4,
                    "Разблокировка портов администратором",
                    [](S& s, Args) { return Variant(s.AdminUnlockPorts()); }),
          Method<S>(dispid::kConnect, "Connect",
                    {{"AAppPID", VT_I4}, {"AAppName", VT_BSTR}, {"ACompName", VT_BSTR}}, VT_I4, "",
                    [](S& s, Args a) {
                      return Variant(s.Connect(a[0].ToInt32(), Utf16ToUtf8(a[1].RawString()),
                                               Utf16ToUtf8(a[2].RawString())));
                    }),
          Get<S>(dispid::kInput, "Input", VT_BSTR, "",
                 [](S& s, Args) { return Variant(s.PortText(true)); }),
          Get<S>(dispid::kOutput, "Output", VT_BSTR, "",
                 [](S& s, Args) { return Variant(s.PortText(false)); }),
      },
      {"IVarnSrv", kVarnSrvDoc, "VarnSrv", kVarnSrvDoc}};
  return table;
}

TVarnSrv::TVarnSrv(std::shared_ptr<TServerContext> context)
    : m_context(std::move(context)),
      m_ports(m_context->Ports()),
      m_clients(m_context->Clients()),
      m_clientNumber(m_clients.NextClientNumber()) {
  m_context->ObjectCreated();
}

TVarnSrv::~TVarnSrv() {
  // Nothing may escape a destructor; each step stands on its own.
  try {
    UnlockCurrentPort();
  } catch (const EDriverError&) {
    // Held by another client: that lock stays.
  } catch (const std::exception&) {
  }
  try {
    CloseCurrentPort();
  } catch (const std::exception&) {
  }
  {
    std::lock_guard state(m_ports.StateLock());
    TakePort(nullptr, 0);
  }
  m_clients.Remove(this);
  m_context->ObjectReleased();
}

TVarnSrv::Identity TVarnSrv::ClientIdentity() const {
  std::lock_guard lock(m_identityLock);
  return {m_appPID, m_appName, m_compName};
}

int32_t TVarnSrv::Outcome(Catch what, const std::function<void()>& body) {
  try {
    body();
    return Succeed();
  } catch (const EDriverError& e) {
    m_resultDescription = e.what();
    return e.Code;
  } catch (const std::exception& e) {
    if (what != Catch::AllErrors) throw;
    m_resultDescription = e.what();
    return rc::kOSError;
  }
}

int32_t TVarnSrv::Succeed() {
  m_resultDescription = msg::kNoError;
  return rc::kOk;
}

TPort* TVarnSrv::FindPort(int32_t portNumber) {
  std::lock_guard state(m_ports.StateLock());
  return m_ports.Find(portNumber);
}

void TVarnSrv::CloseCurrentPort() {
  TPort* port = FindPort(m_portNumber);
  if (!port) return;
  // Waits for an exchange in progress on that port, never for another's.
  std::lock_guard exchange(port->ExchangeLock());
  if (port->Opened()) port->Close();
}

void TVarnSrv::ThrowLockedBy(const TPort& port) const {
  char who[64];
  std::snprintf(who, sizeof who, ".%d.'", port.LockPID());
  throw EDriverError(rc::kPortLocked, std::string(msg::kPortLocked) + " " + port.LockCompName() +
                                          who + port.LockAppName() + "'");
}

TPort* TVarnSrv::TakePort(TPort* port, int32_t portNumber) {
  TPort* left = m_current;
  m_portNumber = portNumber;
  if (left == port) return nullptr;
  if (left) left->RemoveUser();
  if (port) port->AddUser();
  m_current = port;
  return left;
}

void TVarnSrv::CloseIfUnused(TPort* port) {
  if (!port) return;
  std::lock_guard exchange(port->ExchangeLock());
  {
    std::lock_guard state(m_ports.StateLock());
    if (port->Users() > 0) return;
  }
  if (port->Opened()) port->Close();
}

void TVarnSrv::UnlockCurrentPort() {
  std::lock_guard state(m_ports.StateLock());
  TPort* port = m_ports.Find(m_portNumber);
  if (!port) return;
  if (port->Locked() && port->Locker() != m_clientNumber) ThrowLockedBy(*port);
  port->Unlock();
}

int32_t TVarnSrv::OpenPort(int32_t portNumber, int32_t baudRate, int32_t timeout) {
  return Outcome(Catch::AllErrors, [&] {
    TPort* left = nullptr;  // the port this client moves away from
    try {
      // T bounds every byte of every read and holds the port's exchange lock
      // as long: no more than the device itself can be told (a negative one
      // would be read as some 49 days).
      if (timeout < 0 || timeout > link::kMaxTimeout)
        throw EDriverError(rc::kOSError, "Недопустимый тайм-аут: " + std::to_string(timeout) +
                                             " (0.." + std::to_string(link::kMaxTimeout) + " мс)");
      TPort* port = nullptr;
      {
        std::lock_guard state(m_ports.StateLock());
        port = &m_ports.FindOrCreate(portNumber);  // stays listed whatever follows
      }
      std::lock_guard exchange(port->ExchangeLock());
      bool openedHere = false;
      int32_t oldBaudRate = 0;
      try {
        if (!port->Opened()) {
          openedHere = true;
          port->OpenDevice();
        }
        port->SetTimeout(timeout);
        oldBaudRate = port->BaudRate();
        port->SetBaudRate(baudRate);
      } catch (...) {
        // A rate the line refused is not kept: every later open of the port
        // (by any client) would fail on it.
        if (oldBaudRate != 0 && port->BaudRate() != oldBaudRate) {
          try {
            port->SetBaudRate(oldBaudRate);
          } catch (const std::exception&) {
            port->Close();  // the next open applies the stored rate again
          }
        }
        // A device this call opened is not left open half-configured.
        if (openedHere && port->Opened()) port->Close();
        throw;
      }
      // Counted while the device is held, so that a client leaving it
      // meanwhile does not close it under us.
      {
        std::lock_guard state(m_ports.StateLock());
        left = TakePort(port, portNumber);
      }
    } catch (...) {
      // The client's previous port is closed as by ClosePort (after this
      // port's exchange lock is let go: one exchange lock at a time).
      CloseCurrentPort();
      throw;
    }
    // After this port's exchange lock is let go, as above.
    CloseIfUnused(left);
  });
}

int32_t TVarnSrv::ClosePort() {
  CloseCurrentPort();
  return Succeed();
}

int32_t TVarnSrv::LockPort(int32_t portNumber) {
  Succeed();
  return Outcome(Catch::DriverErrors, [&] {
    TPort* left = nullptr;
    {
      std::lock_guard state(m_ports.StateLock());
      TPort& port = m_ports.FindOrCreate(portNumber);
      if (port.Locked() && port.Locker() != m_clientNumber) ThrowLockedBy(port);
      Identity me = ClientIdentity();
      port.Lock(m_clientNumber, me.appPID, std::move(me.appName), std::move(me.compName));
      left = TakePort(&port, portNumber);
    }
    CloseIfUnused(left);
  });
}

int32_t TVarnSrv::UnlockPort() {
  Succeed();
  return Outcome(Catch::DriverErrors, [&] { UnlockCurrentPort(); });
}

int32_t TVarnSrv::SendData(const std::string& txData) {
  return Outcome(Catch::AllErrors, [&] {
    TPort* port = FindPort(m_portNumber);
    if (!port) throw EDriverError(rc::kPortNotOpen, msg::kPortNotOpen);
    // The lock is advisory: any client may exchange on any port. One
    // exchange at a time on this port; other ports are not held up.
    std::lock_guard exchange(port->ExchangeLock());
    m_rxData = port->Exchange(txData);
  });
}

bool TVarnSrv::PortOpened() {
  const TPort* port = FindPort(m_portNumber);
  return port && port->Opened();
}

bool TVarnSrv::PortLocked() {
  std::lock_guard state(m_ports.StateLock());
  TPort* port = m_ports.Find(m_portNumber);
  return port && port->Locker() == m_clientNumber;
}

int32_t TVarnSrv::AdminUnlockPort(int32_t portNumber) {
  {
    std::lock_guard state(m_ports.StateLock());
    if (TPort* port = m_ports.Find(portNumber)) port->Unlock();
  }
  return Succeed();
}

int32_t TVarnSrv::AdminUnlockPorts() {
  m_ports.UnlockAll();
  return Succeed();
}

int32_t TVarnSrv::Connect(int32_t appPID, std::string appName, std::string compName) {
  {
    std::lock_guard lock(m_identityLock);
    m_appPID = appPID;
    m_appName = std::move(appName);
    m_compName = std::move(compName);
  }
  m_clients.Add(this);
  return Succeed();
}

std::u16string TVarnSrv::PortText(bool input) {
  try {
    const TPort* port = FindPort(m_portNumber);
    if (!port) return {};
    return Utf8ToUtf16(input ? port->Input() : port->Output());
  } catch (const std::exception& e) {
    m_resultDescription = e.what();
    return {};
  }
}

void RegisterVarnSrvClass(const std::shared_ptr<TServerContext>& context) {
  std::weak_ptr<TServerContext> weak = context;
  ClassTable::Instance().Add({kVarnSrvClsid, kVarnSrvProgId, [weak] {
                                std::shared_ptr<TServerContext> held = weak.lock();
                                if (!held)
                                  throw EDriverError(CLASS_E_CLASSNOTAVAILABLE,
                                                     "Сервер Варн завершает работу");
                                return MakeObject<TVarnSrv>(std::move(held));
                              }});
}

}  // namespace varn
