// How the device's answers are laid out: the two bytes every answer
// payload starts with, and the data of the answers the driver decodes.
// The emulator writes these layouts and the driver reads them.
//
//   const std::string& a = answerPayload;
//   if (static_cast<uint8_t>(a[answer::kError]) == 0 &&
//       a.size() - answer::kData >= short_status::kMinData)
//     mode = a[answer::kData + short_status::kMode];
//
// Offsets below `answer` are data offsets: data byte 0 is payload byte
// answer::kData. Multi-byte numbers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varn::protocol {

namespace answer {
inline constexpr size_t kCode = 0;   // the command code of the request
inline constexpr size_t kError = 1;  // the device's error code; 0 is success
inline constexpr size_t kData = 2;   // the first data byte
}  // namespace answer

// The device's modes (status and short status).
namespace mode {
inline constexpr uint8_t kWorking = 0;
inline constexpr uint8_t kTestRun = 10;
}  // namespace mode

// Bits of the 16-bit flags word (status and short status).
namespace flag {
inline constexpr uint16_t kReceiptPaper = 1 << 7;  // the optical sensor sees paper
inline constexpr uint16_t kLeverDown = 1 << 9;     // the receipt ribbon lever is closed
inline constexpr uint16_t kDrawerOpen = 1 << 11;
}  // namespace flag

// GetShortECRStatus (0x10).
namespace short_status {
inline constexpr size_t kMinData = 7;
inline constexpr size_t kFlags = 1;  // 2 bytes
inline constexpr size_t kMode = 3;
inline constexpr size_t kVoltage = 7;  // power source, 24/216 V per unit; absent in 7 bytes
}  // namespace short_status

// GetECRStatus (0x11).
namespace status {
inline constexpr size_t kMinData = 16;
inline constexpr size_t kVersionMajor = 1;  // a character
inline constexpr size_t kVersionMinor = 2;  // a character
inline constexpr size_t kBuild = 3;         // 2 bytes
inline constexpr size_t kDay = 5;
inline constexpr size_t kMonth = 6;
inline constexpr size_t kYear = 7;  // since 2000
inline constexpr size_t kLogicalNumber = 8;
inline constexpr size_t kFlags = 11;  // 2 bytes
inline constexpr size_t kMode = 13;
inline constexpr size_t kPortNumber = 15;
}  // namespace status

// GetExchangeParam (0x15).
namespace exchange_param {
inline constexpr size_t kMinData = 2;
inline constexpr size_t kBaudRate = 0;  // the baud-rate code 0..6
inline constexpr size_t kTimeout = 1;   // the encoded time-out
}  // namespace exchange_param

// GetTableStruct (0x2D).
namespace table_struct {
inline constexpr size_t kMinData = 43;
inline constexpr size_t kName = 0;  // kNameSize bytes, blank-padded
inline constexpr size_t kNameSize = 40;
inline constexpr size_t kRows = 40;  // 2 bytes
inline constexpr size_t kFields = 42;
}  // namespace table_struct

// GetFieldStruct (0x2E).
namespace field_struct {
inline constexpr size_t kMinData = 42;
inline constexpr size_t kName = 0;  // kNameSize bytes, blank-padded
inline constexpr size_t kNameSize = 40;
inline constexpr size_t kType = 40;  // non-zero: a string field
inline constexpr size_t kSize = 41;  // bytes of the field's value
inline constexpr size_t kMin = 42;   // integer fields: minimum, then maximum, kSize bytes each
}  // namespace field_struct

// GetDeviceMetrics (0xFC).
namespace device_metrics {
inline constexpr size_t kMinData = 6;
inline constexpr size_t kMajorType = 0;
inline constexpr size_t kMinorType = 1;
inline constexpr size_t kMajorProtocolVersion = 2;
inline constexpr size_t kMinorProtocolVersion = 3;
inline constexpr size_t kModel = 4;
inline constexpr size_t kCodePage = 5;
inline constexpr size_t kDescription = 6;  // to the end, at most 255 bytes
}  // namespace device_metrics

}  // namespace varn::protocol
