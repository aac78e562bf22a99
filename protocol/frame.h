// Stand-in until the shared wire-protocol component lands.
#pragma once
#include <cstdint>
#include <string>
namespace varn::protocol {
inline constexpr uint8_t kSTX = 0x02;
inline constexpr uint32_t kOperatorPassword = 7319;
enum : uint8_t {
  kGetShortECRStatus = 0x10,
  kGetECRStatus = 0x11,
  kPrintWideString = 0x12,
  kBeep = 0x13,
  kSetExchangeParam = 0x14,
  kGetExchangeParam = 0x15,
  kPrintString = 0x17,
  kTest = 0x19,
  kWriteTable = 0x1E,
  kReadTable = 0x1F,
  kInitTable = 0x24,
  kGetFontMetrics = 0x26,
  kOpenDrawer = 0x28,
  kFeedDocument = 0x29,
  kInterruptTest = 0x2B,
  kGetTableStruct = 0x2D,
  kGetFieldStruct = 0x2E,
  kPrintStringWithFont = 0x2F,
  kLoadLineData = 0xC0,
  kDraw = 0xC1,
  kPrintBarCode = 0xC2,
  kDrawEx = 0xC3,
  kLoadLineDataEx = 0xC4,
  kGetDeviceMetrics = 0xFC,
};
inline std::string BuildFrame(const std::string& payload) {
  std::string f;
  f.push_back(static_cast<char>(kSTX));
  f.push_back(static_cast<char>(payload.size()));
  uint8_t x = static_cast<uint8_t>(payload.size());
  for (char c : payload) x ^= static_cast<uint8_t>(c);
  f += payload;
  f.push_back(static_cast<char>(x));
  return f;
}
}  // namespace varn::protocol
