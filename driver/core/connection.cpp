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
#include "remote/local_server.h"

namespace varn {
namespace {

std::u16string Text(const std::string& utf8) {
  return Utf8ToUtf16(utf8);
}

// The port server the driver talks to: its class, socket and program.
constexpr remote::TLocalServer kPortServer{"{51FABCFE-95AD-4BC9-BABA-97F9D279F37E}", "VarnSrv.sock",
                                           "VarnSrv"};

}  // namespace

bool IsThisComputer(const std::string& name, const std::string& hostName) {
  // Both the name cut as the computer introduces itself and the whole one:
  // a long host name typed in full is still this computer.
  return name.empty() || EqualNoCase(name, ShortComputerName(hostName)) ||
         EqualNoCase(name, hostName) || EqualNoCase(name, "localhost") || name == "127.0.0.1" ||
         name == "::1";
}

int32_t BaudRateValue(int32_t code) {
  static constexpr int32_t kRates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};
  return code >= 0 && code < 7 ? kRates[code] : 2400;
}

bool TVarnDrv::IsServerConnected() {
  return Logged("IsServerConnected", [&] { return Variant(m_server != nullptr); }).ToBool();
}

std::shared_ptr<TServerLink> TVarnDrv::CreateServer() {
  m_connection.reset();
  const std::string computer =
      m_computerName.empty() ? LocalComputerName() : Utf16ToUtf8(m_computerName);
  // Before the connection goes: Server is emptied so the next call
  // reconnects. A connection lost without the caller's ServerDisconnect
  // also loses the server's open port, so the next command opens it again.
  auto closing = [this] {
    m_server.reset();
    if (!m_droppingOnPurpose) m_serverPortOpen = false;
  };
  try {
    if (m_connectionType == 0 || (m_connectionType != 1 && IsThisComputer(computer, HostName()))) {
      auto conn = std::make_unique<remote::TkxLocalSocketConnection>();
      conn->ServerGUID = kPortServer.Clsid;
      conn->OnClosing = closing;
      remote::TLocalServerConnector connector(kPortServer);
      connector.Open(*conn);
      m_connection = std::move(conn);
    } else {
      auto conn = std::make_unique<remote::TkxSocketConnection>();
      if (m_connectionType == 1 && m_useIPAddress)
        conn->SetAddress(Utf16ToUtf8(m_ipAddress));
      else
        conn->SetHost(computer);
      conn->Port = m_tcpPort;
      conn->ServerGUID = kPortServer.Clsid;
      conn->OnClosing = closing;
      conn->Open();
      m_connection = std::move(conn);
    }
  } catch (const EDriverError& e) {
    // Activation failures are the component system's, not the device's.
    throw EDispatchError(e.Code, e.what());
  }
  return std::make_shared<TServerLink>(m_connection->ServerObject());
}

std::shared_ptr<TServerLink> TVarnDrv::GetServer() {
  if (!IsServerConnected()) {
    m_server.reset();
    m_server = CreateServer();
    const std::shared_ptr<TServerLink> server = m_server;
    const int32_t code = server->CallInt(
        TServerLink::Connect, {Variant(static_cast<int32_t>(CurrentProcessId())),
                               Variant(Text(ProgramName())), Variant(Text(LocalComputerName()))});
    m_resultCode = code;
    if (code != 0) {
      RunMethod("Disconnect", &TVarnDrv::Disconnect);
      const std::string text = Utf16ToUtf8(server->GetText(TServerLink::ResultDescription));
      m_resultText = text;
      throw EDriverError(code, text);
    }
    return server;
  }
  return m_server;
}

void TVarnDrv::CheckServerResult(TServerLink& server, int32_t code) {
  if (code != 0)
    throw EDriverError(code, Utf16ToUtf8(server.GetText(TServerLink::ResultDescription)));
}

int32_t TVarnDrv::SetServerResult(TServerLink& server, int32_t code) {
  return SetResult(code, Utf16ToUtf8(server.GetText(TServerLink::ResultDescription)));
}

void TVarnDrv::OpenServerPort() {
  const std::shared_ptr<TServerLink> server = GetServer();
  const int32_t code = server->CallInt(
      TServerLink::OpenPort,
      {Variant(m_comNumber), Variant(BaudRateValue(m_baudRate)), Variant(m_timeout)});
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
    return HandleError(std::current_exception());
  }
  const int32_t result = RunMethod("GetECRStatus", &TVarnDrv::GetECRStatus);
  m_deviceConnected = true;
  return result;
}

int32_t TVarnDrv::Disconnect() {
  ClearResult();
  if (const std::shared_ptr<TServerLink> server = m_server) {
    try {
      server->CallInt(TServerLink::ClosePort);
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
    const std::exception_ptr failure = std::current_exception();
    ServerDisconnect();
    return HandleError(failure);
  }
}

int32_t TVarnDrv::ServerDisconnect() {
  DropServer();
  m_deviceConnected = false;
  return ClearResult();
}

std::u16string TVarnDrv::ServerVersion() {
  return GetServer()->GetText(TServerLink::FileVersion);
}

int32_t TVarnDrv::LockPort() {
  try {
    const std::shared_ptr<TServerLink> server = GetServer();
    return SetServerResult(*server, server->CallInt(TServerLink::LockPort, {Variant(m_comNumber)}));
  } catch (...) {
    return HandleError(std::current_exception());
  }
}

int32_t TVarnDrv::UnlockPort() {
  try {
    if (IsServerConnected()) {
      // Recorded as LockPort's is: ResultCode never shows an older call's.
      const std::shared_ptr<TServerLink> server = m_server;
      return SetServerResult(*server, server->CallInt(TServerLink::UnlockPort));
    }
    return ClearResult();
  } catch (...) {
    return HandleError(std::current_exception());
  }
}

bool TVarnDrv::PortLocked() {
  if (!IsServerConnected()) throw EDriverError(-16, "Ошибка подключения. Нет связи с сервером.");
  const std::shared_ptr<TServerLink> server = m_server;
  return server->Get(TServerLink::PortLocked).ToBool();
}

int32_t TVarnDrv::AdminUnlockPort() {
  try {
    const std::shared_ptr<TServerLink> server = GetServer();
    return SetServerResult(*server,
                           server->CallInt(TServerLink::AdminUnlockPort, {Variant(m_comNumber)}));
  } catch (...) {
    return HandleError(std::current_exception());
  }
}

int32_t TVarnDrv::AdminUnlockPorts() {
  try {
    const std::shared_ptr<TServerLink> server = GetServer();
    return SetServerResult(*server, server->CallInt(TServerLink::AdminUnlockPorts));
  } catch (...) {
    return HandleError(std::current_exception());
  }
}

}  // namespace varn
