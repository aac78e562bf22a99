// The device command set: range checks, payloads, the text fitting.
#include <cmath>
#include <cstdio>

#include "driver/core/varn_drv.h"
#include "platform/text.h"
#include "protocol/commands.h"
#include "protocol/frame.h"

namespace varn {
namespace {

// Command code and operator password: the start of every payload but one.
std::string Payload(uint8_t code) {
  return protocol::Request(code);
}

void PutByte(std::string& p, uint32_t v) {
  p.push_back(static_cast<char>(v & 0xFF));
}
void PutWord(std::string& p, uint32_t v) {
  PutByte(p, v);
  PutByte(p, v >> 8);
}

bool InByte(int32_t v) {
  return static_cast<uint32_t>(v) <= 255;
}
bool InWord(int32_t v) {
  return v >= 0 && v <= 65535;
}

std::string Format(const char* format, int32_t a, int32_t b = 0, int32_t c = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

}  // namespace

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

std::string FitBytes(std::string bytes, size_t n) {
  bytes.resize(n, '\0');
  return bytes;
}

std::string TVarnDrv::FitString(int width, int header) {
  const std::string text = Utf16ToCp1251(m_stringForPrinting);
  if (text.size() < static_cast<size_t>(width)) return FitBytes(text, width);
  if (!m_deviceConnected) RunMethod("Connect", &TVarnDrv::Connect);
  // Models from 7 on print a line as long as a frame can carry.
  if (m_deviceConnected && m_uModel >= 7) return text.substr(0, 253 - header);
  return text.substr(0, width);
}

int32_t TVarnDrv::GetShortECRStatus() {
  return SendCommand(Payload(protocol::cmd::GetShortECRStatus));
}
int32_t TVarnDrv::GetECRStatus() {
  return SendCommand(Payload(protocol::cmd::GetECRStatus));
}
int32_t TVarnDrv::Beep() {
  return SendCommand(Payload(protocol::cmd::Beep));
}
int32_t TVarnDrv::InitTable() {
  return SendCommand(Payload(protocol::cmd::InitTable));
}
int32_t TVarnDrv::InterruptTest() {
  return SendCommand(Payload(protocol::cmd::InterruptTest));
}

int32_t TVarnDrv::PrintWideString() {
  std::string p = Payload(protocol::cmd::PrintWideString);
  PutByte(p, 0x02);
  p += FitString(20, 6);
  return SendCommand(p);
}

int32_t TVarnDrv::PrintString() {
  std::string p = Payload(protocol::cmd::PrintString);
  PutByte(p, 0x02);
  p += FitString(40, 6);
  return SendCommand(p);
}

int32_t TVarnDrv::PrintStringWithFont() {
  if (!InByte(m_fontType)) return RangeError();
  std::string p = Payload(protocol::cmd::PrintStringWithFont);
  PutByte(p, 0x02);
  PutByte(p, static_cast<uint32_t>(m_fontType));
  p += FitString(40, 7);
  return SendCommand(p);
}

int32_t TVarnDrv::SetExchangeParam() {
  const uint8_t code = EncodeTimeout(static_cast<uint32_t>(m_settings.Timeout));
  // The property shows what the device will really use.
  m_settings.Timeout = DecodeTimeout(code);
  std::string p = Payload(protocol::cmd::SetExchangeParam);
  PutByte(p, m_portNumber);
  PutByte(p, static_cast<uint32_t>(m_settings.BaudRate));
  PutByte(p, code);
  return SendCommand(p);
}

int32_t TVarnDrv::GetExchangeParam() {
  if (m_portNumber > 32) return RangeError();
  std::string p = Payload(protocol::cmd::GetExchangeParam);
  PutByte(p, m_portNumber);
  return SendCommand(p);
}

int32_t TVarnDrv::Test() {
  if (!InByte(m_runningPeriod)) return RangeError();
  std::string p = Payload(protocol::cmd::Test);
  PutByte(p, static_cast<uint32_t>(m_runningPeriod));
  return SendCommand(p);
}

bool TVarnDrv::CheckTableRanges() {
  return InByte(m_tableNumber) && InWord(m_rowNumber) && InByte(m_fieldNumber);
}

int32_t TVarnDrv::WriteTable() {
  return WriteTableValue(true);
}
int32_t TVarnDrv::WriteTable2() {
  return WriteTableValue(false);
}
int32_t TVarnDrv::ReadTable() {
  return ReadTableValue(true);
}
int32_t TVarnDrv::ReadTable2() {
  return ReadTableValue(false);
}

int32_t TVarnDrv::WriteTableValue(bool withStruct) {
  if (!CheckTableRanges()) return RangeError();
  if (withStruct) {
    const int32_t r = RunMethod("GetFieldStruct", &TVarnDrv::GetFieldStruct);
    if (r != 0) return r;
  }
  std::string value;
  if (m_fieldType) {
    value = Utf16ToCp1251(m_valueOfFieldString);
    if (value.empty()) value.assign(1, ' ');
    value = FitBytes(value, m_fieldSize);
  } else {
    // The integer properties hold 4 bytes; a wider field is refused, not cut.
    if (m_fieldSize > 4) return RangeError();
    if (m_valueOfFieldInteger < m_minValueOfField || m_valueOfFieldInteger > m_maxValueOfField)
      return RangeError(Format("Неверное значение поля (%d). Допустимые значения: %d..%d",
                               m_valueOfFieldInteger, m_minValueOfField, m_maxValueOfField));
    for (int i = 0; i < m_fieldSize; ++i)
      PutByte(value, static_cast<uint32_t>(m_valueOfFieldInteger) >> (8 * i));
  }
  std::string p = Payload(protocol::cmd::WriteTable);
  PutByte(p, static_cast<uint32_t>(m_tableNumber));
  PutWord(p, static_cast<uint32_t>(m_rowNumber));
  PutByte(p, static_cast<uint32_t>(m_fieldNumber));
  p += value;
  return SendCommand(p);
}

int32_t TVarnDrv::ReadTableValue(bool withStruct) {
  if (!CheckTableRanges()) return RangeError();
  if (withStruct) {
    const int32_t r = RunMethod("GetFieldStruct", &TVarnDrv::GetFieldStruct);
    if (r != 0) return r;
  }
  if (!m_fieldType && m_fieldSize > 4) return RangeError();
  std::string p = Payload(protocol::cmd::ReadTable);
  PutByte(p, static_cast<uint32_t>(m_tableNumber));
  PutWord(p, static_cast<uint32_t>(m_rowNumber));
  PutByte(p, static_cast<uint32_t>(m_fieldNumber));
  return SendCommand(p);
}

int32_t TVarnDrv::GetFontMetrics() {
  if (!InByte(m_fontType))
    return RangeError(Format("Неверное значение параметра FontType (%d).", m_fontType));
  std::string p = Payload(protocol::cmd::GetFontMetrics);
  PutByte(p, static_cast<uint32_t>(m_fontType));
  return SendCommand(p);
}

int32_t TVarnDrv::OpenDrawer() {
  if (!InByte(m_drawerNumber)) return RangeError();
  std::string p = Payload(protocol::cmd::OpenDrawer);
  PutByte(p, static_cast<uint32_t>(m_drawerNumber));
  return SendCommand(p);
}

int32_t TVarnDrv::FeedDocument() {
  if (!InByte(m_stringQuantity)) return RangeError();
  std::string p = Payload(protocol::cmd::FeedDocument);
  PutByte(p, 0x02);
  PutByte(p, static_cast<uint32_t>(m_stringQuantity));
  return SendCommand(p);
}

int32_t TVarnDrv::GetTableStruct() {
  if (!InByte(m_tableNumber)) return RangeError();
  std::string p = Payload(protocol::cmd::GetTableStruct);
  PutByte(p, static_cast<uint32_t>(m_tableNumber));
  return SendCommand(p);
}

int32_t TVarnDrv::GetFieldStruct() {
  if (!InByte(m_tableNumber) || !InByte(m_fieldNumber)) return RangeError();
  std::string p = Payload(protocol::cmd::GetFieldStruct);
  PutByte(p, static_cast<uint32_t>(m_tableNumber));
  PutByte(p, static_cast<uint32_t>(m_fieldNumber));
  return SendCommand(p);
}

int32_t TVarnDrv::LoadLineData() {
  if (!InWord(m_lineNumber)) return RangeError();
  std::string p = Payload(protocol::cmd::LoadLineData);
  PutByte(p, static_cast<uint32_t>(m_lineNumber));
  p += FitBytes(m_lineData, 40);
  return SendCommand(p);
}

int32_t TVarnDrv::LoadLineDataEx() {
  if (!InWord(m_lineNumber)) return RangeError();
  std::string p = Payload(protocol::cmd::LoadLineDataEx);
  PutWord(p, static_cast<uint32_t>(m_lineNumber));
  p += FitBytes(m_lineData, 40);
  return SendCommand(p);
}

int32_t TVarnDrv::WideLoadLineData() {
  const std::string data = m_lineData;
  const int32_t number = m_lineNumber;
  int32_t result = 0;
  // length div 40 + 1 parts: a multiple of 40 (or nothing) ends with an empty part.
  for (size_t i = 0; i <= data.size() / 40; ++i) {
    m_lineNumber = number + static_cast<int32_t>(i);
    m_lineData = i * 40 < data.size() ? data.substr(i * 40, 40) : std::string();
    result = RunMethod("LoadLineDataEx", &TVarnDrv::LoadLineDataEx);
    if (result != 0) break;
  }
  m_lineData = data;
  m_lineNumber = number;
  return result;
}

int32_t TVarnDrv::Draw() {
  if (!InByte(m_firstLineNumber) || !InByte(m_lastLineNumber)) return RangeError();
  std::string p = Payload(protocol::cmd::Draw);
  PutByte(p, static_cast<uint32_t>(m_firstLineNumber));
  PutByte(p, static_cast<uint32_t>(m_lastLineNumber));
  return SendCommand(p);
}

int32_t TVarnDrv::DrawEx() {
  if (!InWord(m_firstLineNumber) || !InWord(m_lastLineNumber)) return RangeError();
  std::string p = Payload(protocol::cmd::DrawEx);
  PutWord(p, static_cast<uint32_t>(m_firstLineNumber));
  PutWord(p, static_cast<uint32_t>(m_lastLineNumber));
  return SendCommand(p);
}

int32_t TVarnDrv::PrintBarCode() {
  const std::string text = Utf16ToUtf8(m_barCode);
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i == text.size()) return RangeError();
  uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return RangeError();
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    if (magnitude > (limit - digit) / 10) return RangeError();
    magnitude = magnitude * 10 + digit;
  }
  // The device takes 5 bytes: a number it cannot carry whole is refused
  // rather than cut to another number.
  constexpr uint64_t kLargest = (uint64_t{1} << 40) - 1;
  if ((negative && magnitude != 0) || magnitude > kLargest) return RangeError();
  const uint64_t value = magnitude;
  std::string p = Payload(protocol::cmd::PrintBarCode);
  for (int b = 0; b < 5; ++b) PutByte(p, static_cast<uint32_t>(value >> (8 * b)));
  return SendCommand(p);
}

int32_t TVarnDrv::GetDeviceMetrics() {
  return SendCommand(std::string(1, static_cast<char>(protocol::cmd::GetDeviceMetrics)));
}

int32_t TVarnDrv::ExchangeBytes() {
  return ExecuteFrame(m_transferBytes);
}

}  // namespace varn
