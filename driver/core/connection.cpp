// How the driver reaches the port server: the connection types, the
// introduction (Connect), opening the port, and the connection methods.
#include "remote/connection.h"
#include "driver/core/errors.h"
#include "driver/core/server_link.h"
#include "driver/core/varn_drv.h"
#include "platform/errors.h"
#include "platform/process.h"
#include "platform/process_info.h"
#include "platform/text.h"
#include "protocol/exchange.h"
#include "remote/local_server.h"

namespace varn {
namespace {

std::u16string Text(const std::string& utf8) {
  return Utf8ToUtf16(utf8);
}

// The port server the driver talks to: its class, socket and program. A
// driver unpacked alone (the 1C add-in) has only the registration that
// every server start writes: without it the server was never installed or
// never ran as this user.
constexpr remote::TLocalServer kPortServer{
    "{51FABCFE-95AD-4BC9-BABA-97F9D279F37E}", "VarnSrv.sock", "VarnSrv",
    "Сервер Варн не установлен или ещё ни разу не запускался: нет его регистрации "
    "(LocalServer32), рядом с драйвером и в PATH его тоже нет"};

}  // namespace

bool IsThisComputer(const std::string& name, const std::string& hostName) {
  // Both the name cut as the computer introduces itself and the whole one:
  // a long host name typed in full is still this computer.
  return name.empty() || EqualNoCase(name, ShortComputerName(hostName)) ||
         EqualNoCase(name, hostName) || EqualNoCase(name, "localhost") || name == "127.0.0.1" ||
         name == "::1";
}

int32_t BaudRateValue(int32_t code) {
  return code >= 0 && code < protocol::kBaudCodeCount ? protocol::kBaudRates[code]
                                                      : protocol::kBaudRates[0];
}

bool TVarnDrv::IsServerConnected() {
  return Logged("IsServerConnected", [&] { return Variant(m_server != nullptr); }).ToBool();
}

namespace {

class TRemoteServerConnection : public IServerConnection {
 public:
  explicit TRemoteServerConnection(std::unique_ptr<remote::TkxStreamedConnection> connection)
      : m_connection(std::move(connection)),
        m_server(std::make_shared<TServerLink>(m_connection->ServerObject())) {}
  std::shared_ptr<IServerLink> Server() override { return m_server; }

 private:
  std::unique_ptr<remote::TkxStreamedConnection> m_connection;
  std::shared_ptr<IServerLink> m_server;
};

class TRemoteServerConnector : public IServerConnector {
 public:
  std::unique_ptr<IServerConnection> Open(const TConnectionSettings& settings,
                                          std::function<void()> closing) override {
    const std::string computer =
        settings.ComputerName.empty() ? LocalComputerName() : Utf16ToUtf8(settings.ComputerName);
    std::unique_ptr<remote::TkxStreamedConnection> connection;
    if (settings.ConnectionType == 0 ||
        (settings.ConnectionType != 1 && IsThisComputer(computer, HostName()))) {
      auto conn = std::make_unique<remote::TkxLocalSocketConnection>();
      conn->ServerGUID = kPortServer.Clsid;
      conn->OnClosing = closing;
      remote::TLocalServerConnector connector(kPortServer);
      connector.Open(*conn);
      connection = std::move(conn);
    } else {
      auto conn = std::make_unique<remote::TkxSocketConnection>();
      if (settings.ConnectionType == 1 && settings.UseIPAddress)
        conn->SetAddress(Utf16ToUtf8(settings.IPAddress));
      else
        conn->SetHost(computer);
      conn->Port = settings.TCPPort;
      conn->ServerGUID = kPortServer.Clsid;
      conn->OnClosing = closing;
      conn->Open();
      connection = std::move(conn);
    }
    return std::make_unique<TRemoteServerConnection>(std::move(connection));
  }
};

}  // namespace

std::unique_ptr<IServerConnector> MakeRemoteServerConnector() {
  return std::make_unique<TRemoteServerConnector>();
}

std::shared_ptr<IServerLink> TVarnDrv::CreateServer() {
  m_connection.reset();
  // Before the connection goes: Server is emptied so the next call
  // reconnects. A connection lost without the caller's ServerDisconnect
  // also loses the server's open port, so the next command opens it again.
  auto closing = [this] {
    m_server.reset();
    if (!m_droppingOnPurpose) m_serverPortOpen = false;
  };
  try {
    m_connection = m_connector->Open(m_settings, closing);
    return m_connection->Server();
  } catch (...) {
    throw EServerUnreachable(std::current_exception());
  }
}

std::shared_ptr<IServerLink> TVarnDrv::GetServer() {
  if (!IsServerConnected()) {
    m_server.reset();
    m_server = CreateServer();
    const std::shared_ptr<IServerLink> server = m_server;
    const int32_t code = server->CallInt(
        IServerLink::Connect, {Variant(static_cast<int32_t>(CurrentProcessId())),
                               Variant(Text(ProgramName())), Variant(Text(LocalComputerName()))});
    m_resultCode = code;
    if (code != 0) {
      RunMethod("Disconnect", &TVarnDrv::Disconnect);
      const std::string text = Utf16ToUtf8(server->GetText(IServerLink::ResultDescription));
      m_resultText = text;
      throw EDriverError(code, text);
    }
    return server;
  }
  return m_server;
}

void TVarnDrv::CheckServerResult(IServerLink& server, int32_t code) {
  if (code != 0)
    throw EDriverError(code, Utf16ToUtf8(server.GetText(IServerLink::ResultDescription)));
}

int32_t TVarnDrv::SetServerResult(IServerLink& server, int32_t code) {
  return SetResult(code, Utf16ToUtf8(server.GetText(IServerLink::ResultDescription)));
}

void TVarnDrv::OpenServerPort() {
  const std::shared_ptr<IServerLink> server = GetServer();
  const int32_t code =
      server->CallInt(IServerLink::OpenPort,
                      {Variant(m_settings.ComNumber), Variant(BaudRateValue(m_settings.BaudRate)),
                       Variant(m_settings.Timeout)});
  CheckServerResult(*server, code);
  m_serverPortOpen = true;
}

void TVarnDrv::DropServer() {
  m_droppingOnPurpose = true;
  m_server.reset();
  m_connection.reset();
  m_droppingOnPurpose = false;
}

int32_t TVarnDrv::Connect() {
  try {
    OpenServerPort();
  } catch (...) {
    m_deviceConnected = false;
    throw;
  }
  const int32_t result = RunMethod("GetECRStatus", &TVarnDrv::GetECRStatus);
  m_deviceConnected = true;
  return result;
}

int32_t TVarnDrv::Disconnect() {
  ClearResult();
  if (const std::shared_ptr<IServerLink> server = m_server) {
    try {
      server->CallInt(IServerLink::ClosePort);
    } catch (const std::exception&) {
      // The port is given up either way; a lost server has closed it already.
    }
  }
  m_serverPortOpen = false;
  m_deviceConnected = false;
  return 0;
}

int32_t TVarnDrv::ServerConnect() {
  ServerDisconnect();
  try {
    GetServer();
    return ClearResult();
  } catch (...) {
    // Then the failure is judged with no server: a connection error.
    ServerDisconnect();
    throw;
  }
}

int32_t TVarnDrv::ServerDisconnect() {
  DropServer();
  m_deviceConnected = false;
  return ClearResult();
}

std::u16string TVarnDrv::ServerVersion() {
  return GetServer()->GetText(IServerLink::FileVersion);
}

int32_t TVarnDrv::LockPort() {
  const std::shared_ptr<IServerLink> server = GetServer();
  return SetServerResult(*server,
                         server->CallInt(IServerLink::LockPort, {Variant(m_settings.ComNumber)}));
}

int32_t TVarnDrv::UnlockPort() {
  if (IsServerConnected()) {
    // Recorded as LockPort's is: ResultCode never shows an older call's.
    const std::shared_ptr<IServerLink> server = m_server;
    return SetServerResult(*server, server->CallInt(IServerLink::UnlockPort));
  }
  return ClearResult();
}

bool TVarnDrv::PortLocked() {
  if (!IsServerConnected())
    throw EDriverError(rc::kConnectionError,
                       std::string(msg::kConnectionError) + " Нет связи с сервером.");
  const std::shared_ptr<IServerLink> server = m_server;
  return server->Get(IServerLink::PortLocked).ToBool();
}

int32_t TVarnDrv::AdminUnlockPort() {
  const std::shared_ptr<IServerLink> server = GetServer();
  return SetServerResult(
      *server, server->CallInt(IServerLink::AdminUnlockPort, {Variant(m_settings.ComNumber)}));
}

int32_t TVarnDrv::AdminUnlockPorts() {
  const std::shared_ptr<IServerLink> server = GetServer();
  return SetServerResult(*server, server->CallInt(IServerLink::AdminUnlockPorts));
}

}  // namespace varn
