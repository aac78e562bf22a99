// The device's commands: their codes, their names as the device documents
// them, the operator password, and how a request payload is laid out.
//
//   std::string p = protocol::Request(cmd::PrintString, params);  // code, password, params
//   std::string f = protocol::Frame(p);                             // frame.h
//   protocol::CommandName(cmd::GetECRStatus);                       // "Запрос состояния"
//
// A request payload is the command code (1 byte), the operator password
// (4 bytes, little-endian; GetDeviceMetrics has none) and the command's
// parameters, multi-byte numbers little-endian. The answer is laid out in
// answers.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace varn::protocol {

// The password every command but GetDeviceMetrics carries.
inline constexpr uint32_t kOperatorPassword = 7319;

// The codes of the commands the driver sends, by the driver's method names.
namespace cmd {
inline constexpr uint8_t GetShortECRStatus = 0x10;
inline constexpr uint8_t GetECRStatus = 0x11;
inline constexpr uint8_t PrintWideString = 0x12;
inline constexpr uint8_t Beep = 0x13;
inline constexpr uint8_t SetExchangeParam = 0x14;
inline constexpr uint8_t GetExchangeParam = 0x15;
inline constexpr uint8_t PrintString = 0x17;
inline constexpr uint8_t Test = 0x19;  // the test run
inline constexpr uint8_t WriteTable = 0x1E;
inline constexpr uint8_t ReadTable = 0x1F;
inline constexpr uint8_t InitTable = 0x24;
inline constexpr uint8_t GetFontMetrics = 0x26;
inline constexpr uint8_t OpenDrawer = 0x28;
inline constexpr uint8_t FeedDocument = 0x29;
inline constexpr uint8_t InterruptTest = 0x2B;
inline constexpr uint8_t GetTableStruct = 0x2D;
inline constexpr uint8_t GetFieldStruct = 0x2E;
inline constexpr uint8_t PrintStringWithFont = 0x2F;
inline constexpr uint8_t LoadLineData = 0xC0;  // graphics line, 1-byte number
inline constexpr uint8_t Draw = 0xC1;          // print graphics lines, 1-byte numbers
inline constexpr uint8_t PrintBarCode = 0xC2;
// The device's name table calls 0xC3 "load" and 0xC4 "print"; the driver
// prints with 0xC3 and loads with 0xC4, and the device does what it is sent.
inline constexpr uint8_t DrawEx = 0xC3;            // print graphics lines, 2-byte numbers
inline constexpr uint8_t LoadLineDataEx = 0xC4;    // graphics line, 2-byte number
inline constexpr uint8_t GetDeviceMetrics = 0xFC;  // no password
}  // namespace cmd

// Code, password, parameters.
std::string Request(uint8_t code, std::string_view params = {});

// The device's name of command `code` (UTF-8); empty for a code it does
// not document.
std::string_view CommandName(uint8_t code);

}  // namespace varn::protocol
