#include "driver/core/errors.h"

#include "platform/process_info.h"

namespace varn {

std::string LocalComputerName() {
  return ShortComputerName(HostName());
}

std::string ShortComputerName(const std::string& host) {
  // Characters, not bytes: never cut a UTF-8 sequence in two.
  size_t end = 0;
  for (int chars = 0; end < host.size() && chars < 15; ++chars) {
    ++end;
    while (end < host.size() && (static_cast<unsigned char>(host[end]) & 0xC0) == 0x80) ++end;
  }
  return host.substr(0, end);
}

}  // namespace varn
