#include "protocol/exchange.h"

namespace varn::protocol {

uint8_t EncodeTimeout(uint32_t ms) {
  auto nearest = [](double x) { return static_cast<uint32_t>(x + 0.5); };
  if (ms <= 150) return static_cast<uint8_t>(ms);
  if (ms <= 15000) return static_cast<uint8_t>((nearest(ms / 150.0) + 149) % 256);
  if (ms <= 105000) return static_cast<uint8_t>((nearest(ms / 15000.0) + 248) % 256);
  return static_cast<uint8_t>(ms & 0xFF);
}

int32_t DecodeTimeout(uint8_t code) {
  if (code <= 150) return code;
  if (code <= 249) return (code - 149) * 150;
  return (code - 248) * 15000;
}

}  // namespace varn::protocol
