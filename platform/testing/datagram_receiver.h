// A Unix datagram socket that a test binds where a program is told to send
// its service notifications (NOTIFY_SOCKET), to read what it sends.
//
//   DatagramReceiver manager(dir + "/notify.sock");    // or "@name": abstract
//   setenv("NOTIFY_SOCKET", manager.Address().c_str(), 1);
//   std::optional<std::string> message = manager.Receive(std::chrono::seconds(20));
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace varn {

class DatagramReceiver {
 public:
  // Binds at `address` (a path, replaced if a file is there, or "@name");
  // EOSError when it cannot.
  explicit DatagramReceiver(const std::string& address);
  ~DatagramReceiver();
  DatagramReceiver(const DatagramReceiver&) = delete;
  DatagramReceiver& operator=(const DatagramReceiver&) = delete;

  const std::string& Address() const { return m_address; }
  // The next datagram, waiting at most `limit`; nullopt when none came.
  std::optional<std::string> Receive(std::chrono::milliseconds limit);

 private:
  std::string m_address;
  int m_fd = -1;
};

}  // namespace varn
