#include "protocol/answers.h"

#include "protocol/commands.h"

namespace varn::protocol {
namespace {

uint8_t Byte(std::string_view data, size_t i) {
  return static_cast<uint8_t>(data[i]);
}

// `count` bytes from `offset`, little-endian, at most the low 4.
uint32_t LittleEndian(std::string_view data, size_t offset, size_t count) {
  uint32_t v = 0;
  for (size_t i = 0; i < count && i < 4; ++i) v |= uint32_t{Byte(data, offset + i)} << (8 * i);
  return v;
}

uint16_t Word(std::string_view data, size_t offset) {
  return static_cast<uint16_t>(LittleEndian(data, offset, 2));
}

void PutAt(std::string& data, size_t at, uint8_t v) {
  data[at] = static_cast<char>(v);
}
void PutWordAt(std::string& data, size_t at, uint16_t v) {
  data[at] = static_cast<char>(v & 0xFF);
  data[at + 1] = static_cast<char>(v >> 8);
}

// A name field of the table answers: blank-padded.
std::string TrimmedName(std::string_view bytes) {
  size_t end = bytes.size();
  while (end > 0 && bytes[end - 1] == ' ') --end;
  return std::string(bytes.substr(0, end));
}
std::string PaddedName(std::string_view name, size_t size) {
  std::string padded(name.substr(0, size));
  padded.resize(size, ' ');
  return padded;
}

}  // namespace

std::string_view ModeText(uint8_t m) {
  switch (m) {
    case mode::kWorking:
      return "Рабочий режим";
    case mode::kTestRun:
      return "Тестовый прогон";
    default:
      return "Неизвестный режим устройства";
  }
}

std::optional<AnswerHead> SplitAnswer(std::string_view payload) {
  if (payload.size() < answer::kData) return std::nullopt;
  return AnswerHead{Byte(payload, answer::kCode), Byte(payload, answer::kError),
                    payload.substr(answer::kData)};
}

std::string Answer(uint8_t code, uint8_t error, std::string_view data) {
  std::string a{static_cast<char>(code), static_cast<char>(error)};
  return a.append(data);
}

bool ConfirmsWithOperator(uint8_t code) {
  switch (code) {
    case cmd::PrintWideString:
    case cmd::Beep:
    case cmd::PrintString:
    case cmd::Test:
    case cmd::OpenDrawer:
    case cmd::FeedDocument:
    case cmd::InterruptTest:
    case cmd::PrintStringWithFont:
    case cmd::LoadLineData:
    case cmd::Draw:
    case cmd::PrintBarCode:
    case cmd::DrawEx:
    case cmd::LoadLineDataEx:
      return true;
    default:
      return false;
  }
}

std::optional<uint8_t> DecodeOperator(std::string_view data) {
  if (data.empty()) return std::nullopt;
  return Byte(data, 0);
}

std::optional<ShortStatus> DecodeShortStatus(std::string_view data) {
  namespace ss = short_status;
  if (data.size() < ss::kMinData) return std::nullopt;
  ShortStatus s;
  s.operatorNumber = Byte(data, 0);
  s.flags = Word(data, ss::kFlags);
  s.mode = Byte(data, ss::kMode);
  s.battery = Byte(data, 6);
  s.voltage = data.size() > ss::kVoltage ? Byte(data, ss::kVoltage) : 0;
  return s;
}

std::string EncodeShortStatus(const ShortStatus& s) {
  namespace ss = short_status;
  // Bytes 4 and 5 (submode, operations in the open document) stay 0.
  std::string data(ss::kVoltage + 1, '\0');
  PutAt(data, 0, s.operatorNumber);
  PutWordAt(data, ss::kFlags, s.flags);
  PutAt(data, ss::kMode, s.mode);
  PutAt(data, 6, s.battery);
  PutAt(data, ss::kVoltage, s.voltage);
  return data;
}

std::optional<Status> DecodeStatus(std::string_view data) {
  namespace st = status;
  if (data.size() < st::kMinData) return std::nullopt;
  Status s;
  s.operatorNumber = Byte(data, 0);
  s.versionMajor = data[st::kVersionMajor];
  s.versionMinor = data[st::kVersionMinor];
  s.build = Word(data, st::kBuild);
  s.day = Byte(data, st::kDay);
  s.month = Byte(data, st::kMonth);
  s.year = Byte(data, st::kYear);
  s.logicalNumber = Byte(data, st::kLogicalNumber);
  s.flags = Word(data, st::kFlags);
  s.mode = Byte(data, st::kMode);
  s.portNumber = Byte(data, st::kPortNumber);
  return s;
}

std::string EncodeStatus(const Status& s) {
  namespace st = status;
  // Bytes 9-10 (document number) and 14 (submode) stay 0.
  std::string data(st::kMinData, '\0');
  PutAt(data, 0, s.operatorNumber);
  data[st::kVersionMajor] = s.versionMajor;
  data[st::kVersionMinor] = s.versionMinor;
  PutWordAt(data, st::kBuild, s.build);
  PutAt(data, st::kDay, s.day);
  PutAt(data, st::kMonth, s.month);
  PutAt(data, st::kYear, s.year);
  PutAt(data, st::kLogicalNumber, s.logicalNumber);
  PutWordAt(data, st::kFlags, s.flags);
  PutAt(data, st::kMode, s.mode);
  PutAt(data, st::kPortNumber, s.portNumber);
  return data;
}

std::optional<ExchangeParam> DecodeExchangeParam(std::string_view data) {
  namespace ep = exchange_param;
  if (data.size() < ep::kMinData) return std::nullopt;
  return ExchangeParam{Byte(data, ep::kBaudRate), Byte(data, ep::kTimeout)};
}

std::string EncodeExchangeParam(const ExchangeParam& p) {
  namespace ep = exchange_param;
  std::string data(ep::kMinData, '\0');
  PutAt(data, ep::kBaudRate, p.baudCode);
  PutAt(data, ep::kTimeout, p.timeoutCode);
  return data;
}

std::optional<TableStruct> DecodeTableStruct(std::string_view data) {
  namespace ts = table_struct;
  if (data.size() < ts::kMinData) return std::nullopt;
  return TableStruct{TrimmedName(data.substr(ts::kName, ts::kNameSize)), Word(data, ts::kRows),
                     Byte(data, ts::kFields)};
}

std::string EncodeTableStruct(const TableStruct& t) {
  namespace ts = table_struct;
  std::string data(ts::kMinData, '\0');
  data.replace(ts::kName, ts::kNameSize, PaddedName(t.name, ts::kNameSize));
  PutWordAt(data, ts::kRows, t.rows);
  PutAt(data, ts::kFields, t.fields);
  return data;
}

std::optional<FieldStruct> DecodeFieldStruct(std::string_view data) {
  namespace fs = field_struct;
  if (data.size() < fs::kMinData) return std::nullopt;
  FieldStruct f;
  f.isString = Byte(data, fs::kType) != 0;
  f.size = Byte(data, fs::kSize);
  // The limits follow the name only for integer fields; never read past the answer.
  if (!f.isString) {
    if (data.size() < fs::kMin + 2 * size_t{f.size}) return std::nullopt;
    f.min = LittleEndian(data, fs::kMin, f.size);
    f.max = LittleEndian(data, fs::kMin + f.size, f.size);
  }
  f.name = TrimmedName(data.substr(fs::kName, fs::kNameSize));
  return f;
}

std::string EncodeFieldStruct(const FieldStruct& f) {
  namespace fs = field_struct;
  std::string data(fs::kMinData, '\0');
  data.replace(fs::kName, fs::kNameSize, PaddedName(f.name, fs::kNameSize));
  PutAt(data, fs::kType, f.isString ? 1 : 0);
  PutAt(data, fs::kSize, f.size);
  static_assert(fs::kMin == fs::kMinData, "the range follows the fixed part");
  if (!f.isString) data += FieldBytes(f.min, f.size) + FieldBytes(f.max, f.size);
  return data;
}

std::optional<std::string_view> DecodeFieldValue(std::string_view data, size_t size) {
  if (data.size() < size) return std::nullopt;
  return data.substr(0, size);
}

std::string_view FieldText(std::string_view value) {
  return value.substr(0, value.find('\0'));
}

uint32_t FieldInteger(std::string_view value) {
  return LittleEndian(value, 0, value.size());
}

std::string FieldBytes(uint64_t value, size_t size) {
  std::string out(size, '\0');
  for (size_t i = 0; i < size && i < 8; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

std::optional<FontMetrics> DecodeFontMetrics(std::string_view data) {
  namespace fm = font_metrics;
  if (data.size() < fm::kMinData) return std::nullopt;
  return FontMetrics{Word(data, fm::kPrintWidth), Byte(data, fm::kCharWidth),
                     Byte(data, fm::kCharHeight), Byte(data, fm::kFontCount)};
}

std::string EncodeFontMetrics(const FontMetrics& f) {
  namespace fm = font_metrics;
  std::string data(fm::kMinData, '\0');
  PutWordAt(data, fm::kPrintWidth, f.printWidth);
  PutAt(data, fm::kCharWidth, f.charWidth);
  PutAt(data, fm::kCharHeight, f.charHeight);
  PutAt(data, fm::kFontCount, f.fontCount);
  return data;
}

std::optional<DeviceMetrics> DecodeDeviceMetrics(std::string_view data) {
  namespace dm = device_metrics;
  if (data.size() < dm::kMinData) return std::nullopt;
  DeviceMetrics d;
  d.majorType = Byte(data, dm::kMajorType);
  d.minorType = Byte(data, dm::kMinorType);
  d.majorProtocolVersion = Byte(data, dm::kMajorProtocolVersion);
  d.minorProtocolVersion = Byte(data, dm::kMinorProtocolVersion);
  d.model = Byte(data, dm::kModel);
  d.codePage = Byte(data, dm::kCodePage);
  d.description = std::string(data.substr(dm::kDescription, 255));
  return d;
}

std::string EncodeDeviceMetrics(const DeviceMetrics& d) {
  namespace dm = device_metrics;
  std::string data(dm::kDescription, '\0');
  PutAt(data, dm::kMajorType, d.majorType);
  PutAt(data, dm::kMinorType, d.minorType);
  PutAt(data, dm::kMajorProtocolVersion, d.majorProtocolVersion);
  PutAt(data, dm::kMinorProtocolVersion, d.minorProtocolVersion);
  PutAt(data, dm::kModel, d.model);
  PutAt(data, dm::kCodePage, d.codePage);
  return data.append(d.description.substr(0, 255));
}

}  // namespace varn::protocol
