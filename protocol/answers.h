// How the device's answers are laid out: the two bytes every answer
// payload starts with, and the data of the answers with something to tell.
// The device side writes them with the Encode functions and the host side
// reads them with the Decode functions, both from the layouts below.
//
//   std::optional<AnswerHead> head = SplitAnswer(payload);  // code, error, data
//   if (head && head->error == 0)
//     if (std::optional<ShortStatus> s = DecodeShortStatus(head->data)) mode = s->mode;
//   std::string answer = Answer(cmd::GetShortECRStatus, err::kOk, EncodeShortStatus(s));
//
// A decoder takes the answer's data (after the two bytes) and gives nullopt
// for data shorter than its layout; bytes past it are ignored, but for the
// optional ends of two layouts (the short status's voltage, the device's
// description).
// Offsets below `answer` are data offsets: data byte 0 is payload byte
// answer::kData. Multi-byte numbers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

// The device's name of a mode (UTF-8).
std::string_view ModeText(uint8_t mode);

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

// GetFontMetrics (0x26).
namespace font_metrics {
inline constexpr size_t kMinData = 5;
inline constexpr size_t kPrintWidth = 0;  // dots, 2 bytes
inline constexpr size_t kCharWidth = 2;
inline constexpr size_t kCharHeight = 3;
inline constexpr size_t kFontCount = 4;
}  // namespace font_metrics

// --- the answers as values -------------------------------------------------------

struct AnswerHead {
  uint8_t code = 0;   // the command answered
  uint8_t error = 0;  // 0: success
  std::string_view data;
};
// nullopt for a payload without its two bytes.
std::optional<AnswerHead> SplitAnswer(std::string_view payload);
// Code, error, data.
std::string Answer(uint8_t code, uint8_t error, std::string_view data = {});

// The commands whose answer data is the operator's number.
bool ConfirmsWithOperator(uint8_t code);
std::optional<uint8_t> DecodeOperator(std::string_view data);

struct ShortStatus {
  uint8_t operatorNumber = 0;
  uint16_t flags = 0;
  uint8_t mode = 0;
  uint8_t battery = 0;  // data byte 6
  uint8_t voltage = 0;  // 0 when the answer has no such byte
  bool operator==(const ShortStatus&) const = default;
};
std::optional<ShortStatus> DecodeShortStatus(std::string_view data);
std::string EncodeShortStatus(const ShortStatus& s);  // with the voltage byte

struct Status {
  uint8_t operatorNumber = 0;
  char versionMajor = 0;
  char versionMinor = 0;
  uint16_t build = 0;
  uint8_t day = 0;
  uint8_t month = 0;
  uint8_t year = 0;
  uint8_t logicalNumber = 0;
  uint16_t flags = 0;
  uint8_t mode = 0;
  uint8_t portNumber = 0;
  bool operator==(const Status&) const = default;
};
std::optional<Status> DecodeStatus(std::string_view data);
std::string EncodeStatus(const Status& s);

struct ExchangeParam {
  uint8_t baudCode = 0;
  uint8_t timeoutCode = 0;  // exchange.h decodes it
  bool operator==(const ExchangeParam&) const = default;
};
std::optional<ExchangeParam> DecodeExchangeParam(std::string_view data);
std::string EncodeExchangeParam(const ExchangeParam& p);

struct TableStruct {
  std::string name;  // cp1251, without the padding blanks
  uint16_t rows = 0;
  uint8_t fields = 0;
  bool operator==(const TableStruct&) const = default;
};
std::optional<TableStruct> DecodeTableStruct(std::string_view data);
std::string EncodeTableStruct(const TableStruct& t);  // a longer name is cut

struct FieldStruct {
  std::string name;  // cp1251, without the padding blanks
  bool isString = false;
  uint8_t size = 0;
  // Integer fields: the low 4 bytes of each limit (a string field has none).
  uint32_t min = 0;
  uint32_t max = 0;
  bool operator==(const FieldStruct&) const = default;
};
// An integer field's answer must hold both limits.
std::optional<FieldStruct> DecodeFieldStruct(std::string_view data);
// The limits written `size` bytes wide (at most the 4 they hold, then zeros).
std::string EncodeFieldStruct(const FieldStruct& f);

// ReadTable (0x1F): the value of a field of `size` bytes, as the data's
// first `size` bytes.
std::optional<std::string_view> DecodeFieldValue(std::string_view data, size_t size);
// A string field's text: its bytes up to the first zero.
std::string_view FieldText(std::string_view value);
// An integer field's number: its bytes little-endian, at most the low 4.
uint32_t FieldInteger(std::string_view value);
// `value` in `size` bytes, little-endian.
std::string FieldBytes(uint64_t value, size_t size);

struct FontMetrics {
  uint16_t printWidth = 0;
  uint8_t charWidth = 0;
  uint8_t charHeight = 0;
  uint8_t fontCount = 0;
  bool operator==(const FontMetrics&) const = default;
};
std::optional<FontMetrics> DecodeFontMetrics(std::string_view data);
std::string EncodeFontMetrics(const FontMetrics& f);

struct DeviceMetrics {
  uint8_t majorType = 0;
  uint8_t minorType = 0;
  uint8_t majorProtocolVersion = 0;
  uint8_t minorProtocolVersion = 0;
  uint8_t model = 0;
  uint8_t codePage = 0;
  std::string description;  // cp1251, at most 255 bytes
  bool operator==(const DeviceMetrics&) const = default;
};
std::optional<DeviceMetrics> DecodeDeviceMetrics(std::string_view data);
std::string EncodeDeviceMetrics(const DeviceMetrics& d);

}  // namespace varn::protocol
