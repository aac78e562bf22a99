// The driver's vocabulary for the device: the texts of the error codes that
// the device answers with, the names of its commands (shown on the log's
// command lines), the driver's way of raising a failure, and small texts the
// connection and the setup page need.
//
//   DeviceErrorText(0x5D)   // "Таблица не определена"
//   RaiseDriverError(-9, "Параметр вне диапазона.");
//
// The hex dump of bytes is platform's HexDump (platform/text.h); deleting a
// registry key with its subkeys is Registry::DeleteKey (platform/registry.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/errors.h"

namespace varn {

// The message for an error byte of a device answer (UTF-8). Codes without a
// text of their own give "Неизвестный код ошибки устройства (<code>)."
std::string DeviceErrorText(uint8_t code);

// Throws EDriverError; the automation boundary turns it into ResultCode and
// ResultCodeDescription.
[[noreturn]] void RaiseDriverError(int32_t code, const std::string& text);

// The name this computer gives itself to the port server: the first 15
// characters of the host name (the length the server side shows), empty when
// the system cannot tell.
std::string LocalComputerName();
// The first 15 characters of `hostName`, as LocalComputerName cuts it.
std::string ShortComputerName(const std::string& hostName);
// Whether `name` (a server computer's name as the user gave it) is this
// computer, whose host name is `hostName`: empty, either form of the host
// name (in any case), localhost or a loopback address.
bool IsThisComputer(const std::string& name, const std::string& hostName);

// One entry of the port list the setup page offers.
struct TComPortName {
  std::string Name;  // "COM 1"
  int Number = 0;    // 1
  bool operator==(const TComPortName&) const = default;
};
inline constexpr int kComPortCount = 32;
// "COM 1" to "COM 32", in order, each with its number.
std::vector<TComPortName> ComPortNames();

}  // namespace varn
