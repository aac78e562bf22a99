// Where COM N is: the device path of each port number, kept in the registry
// under the port server's key. The server opens ports by it; the emulator
// registers its pseudo-terminal in it.
//
//   reg.WriteString(kPortsKey, "COM3", "/dev/ttyUSB0");
//   ComPortPath(3, reg);   // "/dev/ttyUSB0"
//   ComPortPath(2, reg);   // "/dev/ttyS1": the system's own numbering
#pragma once

#include <cstdint>
#include <string>

namespace varn {

class Registry;

// Where the registry keeps port paths, below HKEY_CURRENT_USER.
inline constexpr const char* kPortsKey = "SOFTWARE\\Kvelta\\Варн\\Сервер\\Ports";

// The `COM<N>` value under kPortsKey, else /dev/ttyS<N-1>; empty for
// numbers below 1.
std::string ComPortPath(int32_t number, const Registry& registry);

}  // namespace varn
