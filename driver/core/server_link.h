// The driver's late-bound reference to the port server object. Members are
// called by name as the server publishes them, but each name is resolved
// once per connection and its DISPID reused, so a command costs only the
// round trips of its calls (SendData, RxData or ResultDescription, Output).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "platform/automation/dispatch.h"

namespace varn {

class TServerLink {
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

  explicit TServerLink(DispatchPtr server);

  // Raises EDispatchError (with the server's text) when the call fails.
  int32_t CallInt(Name name, std::vector<Variant> inputs = {});
  Variant Get(Name name);
  std::u16string GetText(Name name) { return Get(name).ToString(); }

 private:
  DISPID Id(Name name);

  DispatchPtr m_server;
  std::array<DISPID, kNameCount> m_ids;
};

}  // namespace varn
