// The command engine: frames, the exchange through the port server, answer
// checks and decoding, result codes and the command block of the log.
#include <cmath>
#include <cstdio>
#include <optional>

#include "driver/core/errors.h"
#include "driver/core/server_link.h"
#include "driver/core/varn_drv.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "protocol/commands.h"
#include "protocol/frame.h"

namespace varn {
namespace {

constexpr const char* kNoErrors = "Ошибок нет.";
constexpr const char* kRangeError = "Параметр вне диапазона.";
constexpr const char* kWrongLength = "Неверная длина ответа.";
constexpr const char* kConnectionError = "Ошибка подключения.";

void CheckAnswerLength(std::string_view data, size_t n) {
  if (data.size() < n) throw EDriverError(rc::kWrongLength, kWrongLength);
}

uint8_t Byte(std::string_view data, size_t i) {
  return static_cast<uint8_t>(data[i]);
}

uint32_t LittleEndian(std::string_view data, size_t offset, size_t count) {
  uint32_t v = 0;
  for (size_t i = 0; i < count && i < 4; ++i) v |= uint32_t{Byte(data, offset + i)} << (8 * i);
  return v;
}

std::u16string TrimmedText(std::string_view bytes) {
  size_t end = bytes.size();
  while (end > 0 && bytes[end - 1] == ' ') --end;
  return Cp1251ToUtf16(bytes.substr(0, end));
}

// What the result rule needs to know of a failure.
struct TFailure {
  std::string message;
  std::optional<int32_t> driverCode;  // an EDriverError's
  // The error code an automation failure carries (an HRESULT such as
  // 80040154, a class not registered). A system error number is not shown:
  // its text is in the message already, and "(d)" for EACCES tells nobody
  // anything.
  std::optional<uint32_t> systemCode;
  bool unreachable = false;  // raised while reaching the server
};

TFailure Describe(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const EServerUnreachable& e) {
    TFailure reason = Describe(e.Reason);
    // The activation's own code (a class not registered) is the system's.
    if (reason.driverCode) reason.systemCode = static_cast<uint32_t>(*reason.driverCode);
    reason.driverCode.reset();
    reason.unreachable = true;
    return reason;
  } catch (const EDriverError& e) {
    return {e.what(), e.Code, std::nullopt};
  } catch (const EDispatchError& e) {
    return {e.what(), std::nullopt, static_cast<uint32_t>(e.Code)};
  } catch (const std::exception& e) {
    return {e.what(), std::nullopt, std::nullopt};
  } catch (...) {
    return {"Unknown failure", std::nullopt, std::nullopt};
  }
}

}  // namespace

int32_t TVarnDrv::SetResult(int32_t code, std::string text) {
  m_resultCode = code;
  m_resultText = std::move(text);
  return code;
}

int32_t TVarnDrv::ClearResult() {
  return SetResult(rc::kOk, kNoErrors);
}
int32_t TVarnDrv::RangeError() {
  return SetResult(rc::kRangeError, kRangeError);
}
int32_t TVarnDrv::RangeError(std::string text) {
  return SetResult(rc::kRangeError, std::move(text));
}

// The one rule by which a failure becomes a result.
std::pair<int32_t, std::string> TVarnDrv::ResultOf(std::exception_ptr failure) const {
  const TFailure f = Describe(failure);
  if (f.driverCode) return {*f.driverCode, f.message};
  if (f.unreachable || !m_server) {
    std::string text = std::string(kConnectionError) + " " + f.message;
    if (f.systemCode) {
      char hex[16];
      std::snprintf(hex, sizeof hex, " (%x)", *f.systemCode);
      text += hex;
    }
    return {rc::kConnectionError, text};
  }
  return {rc::kOSError, f.message};
}

int32_t TVarnDrv::HandleError(std::exception_ptr failure) {
  auto [code, text] = ResultOf(std::move(failure));
  return SetResult(code, std::move(text));
}

Variant TVarnDrv::Logged(const std::string& name, const std::function<Variant()>& work) {
  m_log.BeginCall(name);
  Variant value;
  try {
    value = work();
  } catch (const std::exception& e) {
    // A failure that leaves the member still ends its line, so the names
    // of the calls around it stay right.
    m_log.EndCall(Variant(Utf8ToUtf16(e.what())));
    throw;
  }
  m_log.EndCall(value);
  return value;
}

int32_t TVarnDrv::RunMethod(const char* name, const std::function<int32_t()>& work) {
  auto run = [&] {
    try {
      return work();
    } catch (...) {
      return HandleError(std::current_exception());
    }
  };
  if (!name) return run();
  return Logged(name, [&] { return Variant(run()); }).ToInt32();
}

int32_t TVarnDrv::RunMethod(const char* name, int32_t (TVarnDrv::*method)()) {
  return RunMethod(name, [&] { return (this->*method)(); });
}

void TVarnDrv::RunSetter(const std::function<void()>& work) {
  try {
    work();
  } catch (const EDriverError&) {
    HandleError(std::current_exception());
  }
}

int32_t TVarnDrv::SendCommand(const std::string& payload) {
  return Exchange(&payload, {});
}

int32_t TVarnDrv::ExecuteFrame(const std::string& frame) {
  return Exchange(nullptr, frame);
}

int32_t TVarnDrv::Exchange(const std::string* payload, std::string frame) {
  m_ecrInput.clear();
  m_ecrOutput.clear();
  // A payload that never became a frame is named by its own code.
  auto commandCode = [&]() -> std::optional<uint8_t> {
    if (frame.size() >= 3) return static_cast<uint8_t>(frame[2]);
    if (payload && !payload->empty()) return static_cast<uint8_t>((*payload)[0]);
    return std::nullopt;
  };
  int32_t result = 0;
  try {
    // Built here, so that a payload no LEN byte can announce fails as a
    // range error with its log block, before anything is sent.
    if (payload) {
      if (payload->size() > protocol::kMaxPayload) throw EDriverError(rc::kRangeError, kRangeError);
      frame = protocol::Frame(*payload);
    }
    if (!m_serverPortOpen) OpenServerPort();
    m_ecrInput = HexDump(frame);
    // Held for the whole exchange: a dropped connection empties Server meanwhile.
    const std::shared_ptr<IServerLink> server = GetServer();
    const int32_t code = server->CallInt(IServerLink::SendData, {Variant(Cp1251ToUtf16(frame))});
    std::string answer;
    if (code != 0)
      m_resultText = Utf16ToUtf8(server->GetText(IServerLink::ResultDescription));
    else
      answer = Utf16ToCp1251(server->GetText(IServerLink::RxData));
    // Asked after every exchange that reached the server, a refused answer too.
    m_ecrOutput = Utf16ToUtf8(server->GetText(IServerLink::Output));
    result = code != 0 ? code : ParseAnswer(answer);
    m_resultCode = result;
  } catch (...) {
    // The block shows the failure's result; the method's wrapper sets the
    // same result, decided here once.
    auto [failed, text] = ResultOf(std::current_exception());
    LogCommand(failed, commandCode(), frame, m_ecrOutput, text);
    throw EDriverError(failed, text);
  }
  LogCommand(result, commandCode(), frame, m_ecrOutput, m_resultText);
  return result;
}

int32_t TVarnDrv::ParseAnswer(const std::string& answer) {
  CheckAnswerLength(answer, 2);
  const uint8_t cmd = Byte(answer, 0);
  const uint8_t err = Byte(answer, 1);
  if (err != 0) throw EDriverError(err, DeviceErrorText(err));
  const std::string_view data = std::string_view(answer).substr(2);
  switch (cmd) {
    case protocol::cmd::GetShortECRStatus:
      CheckAnswerLength(data, 7);
      m_ecrFlags = static_cast<uint16_t>(LittleEndian(data, 1, 2));
      m_ecrMode = Byte(data, 3);
      m_voltageByte = data.size() > 7 ? Byte(data, 7) : 0;
      break;
    case protocol::cmd::GetECRStatus:
      CheckAnswerLength(data, 16);
      m_softMajor = Byte(data, 1);
      m_softMinor = Byte(data, 2);
      m_ecrBuild = static_cast<uint16_t>(LittleEndian(data, 3, 2));
      m_softDay = Byte(data, 5);
      m_softMonth = Byte(data, 6);
      m_softYear = Byte(data, 7);
      m_logicalNumber = Byte(data, 8);
      m_ecrFlags = static_cast<uint16_t>(LittleEndian(data, 11, 2));
      m_ecrMode = Byte(data, 13);
      m_portNumber = Byte(data, 15);
      break;
    case protocol::cmd::GetExchangeParam:
      CheckAnswerLength(data, 2);
      m_settings.BaudRate = Byte(data, 0);
      m_settings.Timeout = DecodeTimeout(Byte(data, 1));
      break;
    case protocol::cmd::ReadTable:
      CheckAnswerLength(data, m_fieldSize);
      if (m_fieldType) {
        const std::string_view value = data.substr(0, m_fieldSize);
        m_valueOfFieldString = Cp1251ToUtf16(value.substr(0, value.find('\0')));
      } else {
        // A wider integer than the property holds is refused, not cut.
        if (m_fieldSize > 4) throw EDriverError(rc::kRangeError, kRangeError);
        m_valueOfFieldInteger = static_cast<int32_t>(LittleEndian(data, 0, m_fieldSize));
      }
      break;
    case protocol::cmd::GetTableStruct:
      CheckAnswerLength(data, 43);
      m_tableName = TrimmedText(data.substr(0, 40));
      m_rowNumber = static_cast<int32_t>((static_cast<uint32_t>(m_rowNumber) & 0xFFFF0000u) |
                                         LittleEndian(data, 40, 2));
      m_fieldNumber = Byte(data, 42);
      break;
    case protocol::cmd::GetFieldStruct: {
      CheckAnswerLength(data, 42);
      const bool isString = Byte(data, 40) != 0;
      const uint8_t size = Byte(data, 41);
      // The limits follow the name only for integer fields; never read past the answer.
      if (!isString) CheckAnswerLength(data, 42 + 2 * size_t{size});
      m_fieldName = TrimmedText(data.substr(0, 40));
      m_fieldType = isString;
      m_fieldSize = size;
      if (!isString) {
        m_minValueOfField = static_cast<int32_t>(LittleEndian(data, 42, size));
        m_maxValueOfField = static_cast<int32_t>(LittleEndian(data, 42 + size, size));
      }
      break;
    }
    case protocol::cmd::GetFontMetrics:
      CheckAnswerLength(data, 5);
      m_printWidth = static_cast<uint16_t>(LittleEndian(data, 0, 2));
      m_charWidth = Byte(data, 2);
      m_charHeight = Byte(data, 3);
      m_fontCount = Byte(data, 4);
      break;
    case protocol::cmd::GetDeviceMetrics:
      CheckAnswerLength(data, 6);
      m_uMajorType = Byte(data, 0);
      m_uMinorType = Byte(data, 1);
      m_uMajorProtocolVersion = Byte(data, 2);
      m_uMinorProtocolVersion = Byte(data, 3);
      m_uModel = Byte(data, 4);
      m_uCodePage = Byte(data, 5);
      m_uDescription = Cp1251ToUtf16(data.substr(6, 255));
      break;
    case protocol::cmd::PrintWideString:
    case protocol::cmd::Beep:
    case protocol::cmd::PrintString:
    case protocol::cmd::Test:
    case protocol::cmd::OpenDrawer:
    case protocol::cmd::FeedDocument:
    case protocol::cmd::InterruptTest:
    case protocol::cmd::PrintStringWithFont:
    case protocol::cmd::LoadLineData:
    case protocol::cmd::Draw:
    case protocol::cmd::PrintBarCode:
      CheckAnswerLength(data, 1);
      break;
    default:
      break;
  }
  return ClearResult();
}

void TVarnDrv::LogCommand(int32_t result, std::optional<uint8_t> code, const std::string& frame,
                          const std::string& output, const std::string& resultText) {
  if (!m_log.Enabled()) return;
  m_log.WriteSeparator();
  // A frame of the caller's (ExchangeBytes) may be too short to hold a code:
  // its line then shows "--" and no name, and nothing past the bytes is read.
  if (code)
    m_log.WriteCommand(*code);
  else
    m_log.WriteLine("Команда -- ");
  m_log.WriteSent(frame);
  // The answer bytes the server's summary lists, not the summary's characters.
  if (!output.empty()) m_log.WriteReceived(SummaryBytes(output));
  if (result != 0) m_log.WriteError(result, resultText);
}

std::string SummaryBytes(const std::string& summary) {
  std::string bytes;
  int nibbles = 0;
  unsigned value = 0;
  for (char c : summary) {
    int digit = -1;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    if (digit < 0) {
      nibbles = 0;
      continue;
    }
    value = (value << 4) | static_cast<unsigned>(digit);
    if (++nibbles == 2) {
      bytes.push_back(static_cast<char>(value & 0xFF));
      nibbles = 0;
      value = 0;
    }
  }
  return bytes;
}

}  // namespace varn
