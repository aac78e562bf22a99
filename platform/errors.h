// Error types shared by every subsystem.
//
// EDriverError carries a result code and its text; it is raised inside the
// programs and turned into a result code at the automation boundary, never
// thrown across it. EOSError is a failure of an operating-system call (its
// message is the system's text); the server reports it as -8. Any other
// std::exception is a plain error and is reported the same way.
//
//   throw EDriverError(-4, "Нет связи");
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace varn {

// Texts are UTF-8 inside the programs; the automation boundary converts.
class EDriverError : public std::runtime_error {
 public:
  EDriverError(int32_t code, const std::string& message)
      : std::runtime_error(message), Code(code) {}
  int32_t Code;
};

// A port device that could not be opened: the design's -2 or -3 with its
// text, and the system's own reason (errno text, path, a hint) for the
// server's diagnostics, which the client never sees.
class EPortOpenError : public EDriverError {
 public:
  EPortOpenError(int32_t code, const std::string& message, std::string reason)
      : EDriverError(code, message), Reason(std::move(reason)) {}
  std::string Reason;  // "Permission denied: /dev/ttyUSB0 — is the user in the dialout group?"
};

class EOSError : public std::runtime_error {
 public:
  EOSError(int err, const std::string& message) : std::runtime_error(message), Errno(err) {}
  int Errno;  // the system's error number, 0 when unknown
};

// Result codes of the link and the port server. Callers may retry -4 (the
// device did not answer in time); the others need a change first.
namespace rc {
inline constexpr int32_t kOk = 0;
inline constexpr int32_t kPortUnavailable = -2;  // no such device or no permission
inline constexpr int32_t kPortBusy = -3;         // held by another program
inline constexpr int32_t kNoLink = -4;           // retry limits exhausted
inline constexpr int32_t kOSError = -8;          // any other failure, with its message
inline constexpr int32_t kPortNotOpen = -17;
inline constexpr int32_t kPortLocked = -18;
}  // namespace rc

namespace msg {
// The first letter of both port texts is the Cyrillic capital Es (U+0421).
inline constexpr const char* kPortUnavailable = "СOM порт не доступен";
inline constexpr const char* kPortBusy = "СOM порт занят другим приложением";
inline constexpr const char* kNoLink = "Нет связи";
inline constexpr const char* kPortNotOpen = "Порт не открыт";
inline constexpr const char* kShortWrite = "Ошибка записи данных в COM порт.";
}  // namespace msg

}  // namespace varn
