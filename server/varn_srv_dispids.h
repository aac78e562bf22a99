// The dispatch identifiers of IVarnSrv's members: what the server object's
// member table declares, and what callers that bind by id (tests, the
// benchmarks, the remote protocol's peers) use. Drivers bind by name.
//
//   InvokeById(*srv, dispid::kOpenPort, DISPATCH_METHOD, {1, 4800, 100});
#pragma once

#include "platform/automation/hresult.h"

namespace varn::dispid {

enum : DISPID {
  kOpenPort = 1,
  kClosePort = 2,
  kLockPort = 3,
  kUnlockPort = 4,
  kSendData = 5,
  kRxData = 6,
  kFileVersion = 7,
  kResultDescription = 8,
  kPortOpened = 9,
  kPortLocked = 10,
  kAdminUnlockPort = 11,
  kAdminUnlockPorts = 12,
  kConnect = 15,
  kInput = 19,
  kOutput = 20,
};

}  // namespace varn::dispid
