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

#include "platform/result_codes.h"

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

// Result codes and their texts, all taken from the one table
// (result_codes.h). Callers may retry -4 (the device did not answer in
// time); the others need a change first. The device's own are 1..255.
namespace rc {
inline constexpr int32_t kOk = ResultCodeNamed("kOk").Code;
inline constexpr int32_t kPortUnavailable = ResultCodeNamed("kPortUnavailable").Code;
inline constexpr int32_t kPortBusy = ResultCodeNamed("kPortBusy").Code;
inline constexpr int32_t kNoLink = ResultCodeNamed("kNoLink").Code;
inline constexpr int32_t kWrongLength = ResultCodeNamed("kWrongLength").Code;
inline constexpr int32_t kOSError = ResultCodeNamed("kOSError").Code;
inline constexpr int32_t kRangeError = ResultCodeNamed("kRangeError").Code;
inline constexpr int32_t kConnectionError = ResultCodeNamed("kConnectionError").Code;
inline constexpr int32_t kPortNotOpen = ResultCodeNamed("kPortNotOpen").Code;
inline constexpr int32_t kPortLocked = ResultCodeNamed("kPortLocked").Code;
}  // namespace rc

namespace msg {
inline constexpr const char* kDriverNoError = ResultCodeNamed("kOk").Text;  // "Ошибок нет."
inline constexpr const char* kNoError = ResultCodeNamed("kOk").ServerText;  // "Ошибок нет"
inline constexpr const char* kPortUnavailable = ResultCodeNamed("kPortUnavailable").Text;
inline constexpr const char* kPortBusy = ResultCodeNamed("kPortBusy").Text;
inline constexpr const char* kNoLink = ResultCodeNamed("kNoLink").Text;
inline constexpr const char* kWrongLength = ResultCodeNamed("kWrongLength").Text;
inline constexpr const char* kRangeError = ResultCodeNamed("kRangeError").Text;
// Followed by " " and the failure's message.
inline constexpr const char* kConnectionError = ResultCodeNamed("kConnectionError").Text;
inline constexpr const char* kPortNotOpen = ResultCodeNamed("kPortNotOpen").Text;
// Followed by " %s.%d.'%s'": the holder's computer, process and application.
inline constexpr const char* kPortLocked = ResultCodeNamed("kPortLocked").Text;
// Not a result code: a short write, which the exchange retries.
inline constexpr const char* kShortWrite = "Ошибка записи данных в COM порт.";
}  // namespace msg

}  // namespace varn
