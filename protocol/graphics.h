// The device's graphics line: what LoadLineData and LoadLineDataEx carry.
//
//   std::string line(protocol::kLineBytes, '\0');
//   protocol::SetDot(line, 0);        // the leftmost dot: bit 0 of byte 0
//   protocol::HasDot(line, 9);        // bit 1 of byte 1
//
// A line is kLineDots dots, 8 to a byte, dot 8k + i in bit i of byte k, so
// the least significant bit is the leftmost dot of its eight. A set bit
// prints. Line memory counts from 0; the print range of Draw and DrawEx
// counts from 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace varn::protocol {

inline constexpr int kLineDots = 320;
inline constexpr size_t kLineBytes = kLineDots / 8;
// Lines of the device's memory (LoadLineDataEx reaches them all), and the
// part the driver fills with LoadLineData.
inline constexpr int kGraphicsLines = 1200;
inline constexpr int kLoadLineDataLines = 200;

inline constexpr size_t DotByte(int x) {
  return static_cast<size_t>(x) / 8;
}
inline constexpr uint8_t DotMask(int x) {
  return static_cast<uint8_t>(1u << (x % 8));
}
// Dot x of `line` (0 <= x); a dot past the line's bytes is clear.
inline bool HasDot(std::string_view line, int x) {
  return DotByte(x) < line.size() && (static_cast<uint8_t>(line[DotByte(x)]) & DotMask(x)) != 0;
}
// Sets dot x of `line`, which holds byte DotByte(x).
inline void SetDot(std::string& line, int x) {
  line[DotByte(x)] = static_cast<char>(static_cast<uint8_t>(line[DotByte(x)]) | DotMask(x));
}

}  // namespace varn::protocol
