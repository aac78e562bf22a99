// The device's exchange parameters: the baud rate by its code, and the
// one-byte code of the byte time-out.
//
//   protocol::kBaudRates[2]          // 9600
//   protocol::EncodeTimeout(1000)    // 156: 150 ms steps above 150 ms
//   protocol::DecodeTimeout(156)     // 1050, what the device really waits
//
// Both the host (its settings, pages and the device search) and the device
// side (its line speed) take the rates from here.
#pragma once

#include <cstdint>
#include <iterator>

namespace varn::protocol {

// The baud rate of each code 0..6 of the exchange parameters.
inline constexpr int32_t kBaudRates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};
inline constexpr int kBaudCodeCount = static_cast<int>(std::size(kBaudRates));

// Byte time-out codes: 0..150 are milliseconds, 151..249 steps of 150 ms
// from 300 ms, 250..255 steps of 15 s from 30 s.
inline constexpr int32_t kMaxTimeout = 105000;  // ms, the most a code expresses
// The nearest code; a time-out past kMaxTimeout keeps its low byte only.
uint8_t EncodeTimeout(uint32_t ms);
// The milliseconds a code stands for.
int32_t DecodeTimeout(uint8_t code);

}  // namespace varn::protocol
