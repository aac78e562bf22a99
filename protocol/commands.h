// The device's commands: their codes, their names as the device documents
// them, the texts of its error codes, the operator password, and the
// request payload of each command the driver sends.
//
//   std::string p = protocol::PrintStringRequest(cmd::PrintString, kReceiptRibbon, text);
//   std::string f = protocol::Frame(p);                             // frame.h
//   protocol::CommandName(cmd::GetECRStatus);                       // "Запрос состояния"
//   protocol::DeviceErrorText(0x5D);                                // "Таблица не определена"
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

// Error codes of the answer that the device side gives itself.
namespace err {
inline constexpr uint8_t kOk = 0;
inline constexpr uint8_t kBadLength = 9;  // "Некорректная длина команды"
inline constexpr uint8_t kBadParameter = 51;  // "Некорректные параметры в команде"
inline constexpr uint8_t kUnknownCommand = 55;
inline constexpr uint8_t kInternal = 57;  // "Внутренняя ошибка ПО устройства"
inline constexpr uint8_t kBadPassword = 79;  // "Неверный пароль"
inline constexpr uint8_t kNoTable = 93;      // "Таблица не определена"
inline constexpr uint8_t kWrongMode = 115;  // "Команда не поддерживается в данном режиме"
}  // namespace err

// The ribbons byte of the printing and feed commands.
inline constexpr uint8_t kJournalRibbon = 0x01;
inline constexpr uint8_t kReceiptRibbon = 0x02;

// Code, password, parameters.
std::string Request(uint8_t code, std::string_view params = {});

// The requests with parameters, by command. Numbers are written as the
// device reads them (little-endian); the caller has checked their ranges.
// `code` of PrintStringRequest: PrintString or PrintWideString.
std::string PrintStringRequest(uint8_t code, uint8_t ribbons, std::string_view text);
std::string PrintStringWithFontRequest(uint8_t ribbons, uint8_t font, std::string_view text);
std::string SetExchangeParamRequest(uint8_t port, uint8_t baudCode, uint8_t timeoutCode);
std::string GetExchangeParamRequest(uint8_t port);
std::string TestRequest(uint8_t period);
std::string ReadTableRequest(uint8_t table, uint16_t row, uint8_t field);
// `value`: the field's bytes as the field's size has them.
std::string WriteTableRequest(uint8_t table, uint16_t row, uint8_t field, std::string_view value);
std::string GetFontMetricsRequest(uint8_t font);
std::string OpenDrawerRequest(uint8_t drawer);
std::string FeedDocumentRequest(uint8_t ribbons, uint8_t lines);
std::string GetTableStructRequest(uint8_t table);
std::string GetFieldStructRequest(uint8_t table, uint8_t field);
// `line` padded with zero bytes or cut to a graphics line (graphics.h).
std::string LoadLineDataRequest(uint8_t number, std::string_view line);
std::string LoadLineDataExRequest(uint16_t number, std::string_view line);
std::string DrawRequest(uint8_t first, uint8_t last);
std::string DrawExRequest(uint16_t first, uint16_t last);
// The low 5 bytes of `number`.
std::string PrintBarCodeRequest(uint64_t number);
// The code alone: no password.
std::string GetDeviceMetricsRequest();

// The device's name of command `code` (UTF-8); empty for a code it does
// not document.
std::string_view CommandName(uint8_t code);

// The device's text of error code `code` (UTF-8). Codes without a text of
// their own give "Неизвестный код ошибки устройства (<code>)."
std::string DeviceErrorText(uint8_t code);

}  // namespace varn::protocol
