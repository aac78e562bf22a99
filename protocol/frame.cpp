#include "protocol/frame.h"

#include <stdexcept>

namespace varn::protocol {

uint8_t CheckByte(std::string_view payload) {
  auto check = static_cast<uint8_t>(payload.size());
  for (unsigned char c : payload) check ^= c;
  return check;
}

std::string Frame(std::string_view payload) {
  if (payload.size() > kMaxPayload)
    throw std::length_error("a frame carries at most 255 payload bytes, not " +
                            std::to_string(payload.size()));
  std::string f;
  f.reserve(payload.size() + 3);
  f += STX;
  f += static_cast<char>(payload.size());
  f += payload;
  f += static_cast<char>(CheckByte(payload));
  return f;
}

}  // namespace varn::protocol
