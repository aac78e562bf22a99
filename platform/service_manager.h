// Telling the service manager how the program is doing (its notification
// protocol for Type=notify services): one datagram per state change on the
// Unix socket named by NOTIFY_SOCKET (a path, or "@name" for an abstract
// one). Started by anything else, nothing is sent.
//
//   ServiceNotifier notifier = ServiceNotifier::FromEnvironment();
//   notifier.Notify("READY=1\nSTATUS=Ready");   // false when it failed
//   ...
//   notifier.Notify("STOPPING=1");
#pragma once

#include <string>

namespace varn {

class ServiceNotifier {
 public:
  // Reads NOTIFY_SOCKET and removes it, so that children (a program the
  // server starts) do not speak for this service.
  static ServiceNotifier FromEnvironment();

  // Whether a manager asked to be told.
  bool Enabled() const { return !m_address.empty(); }
  const std::string& Address() const { return m_address; }
  // Sends `state` (lines "NAME=value") as one datagram. False, with the
  // reason in `*error`, when it could not be sent; never raises. A notifier
  // that is not enabled sends nothing and returns true.
  bool Notify(const std::string& state, std::string* error = nullptr) const;

 private:
  std::string m_address;
};

}  // namespace varn
