#include "platform/com_ports.h"

#include "platform/registry.h"

namespace varn {

std::string ComPortPath(int32_t number, const Registry& registry) {
  if (number < 1) return {};
  if (auto path = registry.ReadString(kPortsKey, "COM" + std::to_string(number))) return *path;
  return "/dev/ttyS" + std::to_string(number - 1);
}

}  // namespace varn
