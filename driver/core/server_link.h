// The driver's way to the port server, behind two small interfaces so the
// engine can run against a scripted server:
//
//   IServerConnector  opens a connection as the connection settings say;
//   IServerConnection holds it open (and tells when it drops);
//   IServerLink       the server object on it, its members called by name.
//
// TServerLink is the real link: the members are called by name as the
// server publishes them, but each name is resolved once per connection and
// its DISPID reused, so a command costs only the round trips of its calls
// (SendData, RxData or ResultDescription, Output).
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/base/devices.h"
#include "platform/automation/dispatch.h"

namespace varn {

// A failure to reach the port server at all (no server to start, host
// unreachable, connection refused), whatever raised it; its text is the
// reason's.
class EServerUnreachable : public std::runtime_error {
 public:
  explicit EServerUnreachable(std::exception_ptr reason)
      : std::runtime_error(MessageOf(reason)), Reason(std::move(reason)) {}
  std::exception_ptr Reason;

 private:
  static std::string MessageOf(const std::exception_ptr& reason);
};

class IServerLink {
 public:
  enum Name {
    OpenPort,
    ClosePort,
    LockPort,
    UnlockPort,
    SendData,
    RxData,
    ResultDescription,
    Output,
    PortLocked,
    AdminUnlockPort,
    AdminUnlockPorts,
    Connect,
    FileVersion,
    kNameCount
  };

  virtual ~IServerLink() = default;
  // Raise when the call fails (EDispatchError with the server's text, or the
  // transport's own error).
  virtual int32_t CallInt(Name name, std::vector<Variant> inputs) = 0;
  virtual Variant Get(Name name) = 0;

  int32_t CallInt(Name name) { return CallInt(name, {}); }
  std::u16string GetText(Name name) { return Get(name).ToString(); }
};

class IServerConnection {
 public:
  virtual ~IServerConnection() = default;
  virtual std::shared_ptr<IServerLink> Server() = 0;
};

class IServerConnector {
 public:
  virtual ~IServerConnector() = default;
  // A connection to the port server by `settings`. `closing` runs before
  // the connection goes: when it drops by itself and when it is destroyed.
  // Raises when the server cannot be reached.
  virtual std::unique_ptr<IServerConnection> Open(const TConnectionSettings& settings,
                                                  std::function<void()> closing) = 0;
};

// The port server by the connection types: 0 (and 2 naming this computer)
// the local server over the Unix socket, started on demand; otherwise over
// TCP to the computer by name (or by address with 1 and UseIPAddress).
std::unique_ptr<IServerConnector> MakeRemoteServerConnector();

class TServerLink : public IServerLink {
 public:
  explicit TServerLink(DispatchPtr server);

  using IServerLink::CallInt;
  int32_t CallInt(Name name, std::vector<Variant> inputs) override;
  Variant Get(Name name) override;

 private:
  DISPID Id(Name name);

  DispatchPtr m_server;
  std::array<DISPID, kNameCount> m_ids;
};

}  // namespace varn
