// The device's link protocol on the serial line: its control bytes and its
// frame, the same in both directions. The host (server/link) and the
// device (the emulator) both build and check frames here.
//
//   std::string f = protocol::Frame(payload);   // STX, LEN, payload, check byte
//   bool good = protocol::CheckByte(payload) == static_cast<uint8_t>(f.back());
//
// The host asks with ENQ; the device answers NAK (ready to receive a
// frame) or ACK (it holds an answer, which follows as a frame). A frame is
// acknowledged with ACK, or rejected with NAK when its check byte is wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace varn::protocol {

inline constexpr char ENQ = 0x05;
inline constexpr char ACK = 0x06;
inline constexpr char NAK = 0x15;
inline constexpr char STX = 0x02;

// A LEN byte holds at most this many payload bytes.
inline constexpr size_t kMaxPayload = 255;

// XOR of the LEN byte and every payload byte (STX is not included).
uint8_t CheckByte(std::string_view payload);

// STX, LEN, the payload, the check byte. std::length_error for a payload
// longer than kMaxPayload, which no LEN byte can announce.
std::string Frame(std::string_view payload);

}  // namespace varn::protocol
