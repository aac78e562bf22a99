// The command engine: frames, the exchange through the port server, answer
// checks and decoding, result codes and the command block of the log.
#include <cmath>
#include <cstdio>
#include <optional>

#include "driver/core/server_link.h"
#include "driver/core/varn_drv.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "protocol/answers.h"
#include "protocol/commands.h"
#include "protocol/exchange.h"
#include "protocol/frame.h"

namespace varn {
namespace {

constexpr const char* kNoErrors = msg::kDriverNoError;
constexpr const char* kRangeError = msg::kRangeError;
constexpr const char* kWrongLength = msg::kWrongLength;
constexpr const char* kConnectionError = msg::kConnectionError;

// The decoded answer, or the driver's error for one too short to hold it.
template <typename T>
T Need(std::optional<T> decoded) {
  if (!decoded) throw EDriverError(rc::kWrongLength, kWrongLength);
  return *std::move(decoded);
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
  const protocol::AnswerHead head = Need(protocol::SplitAnswer(answer));
  if (head.error != 0) throw EDriverError(head.error, protocol::DeviceErrorText(head.error));
  const std::string_view data = head.data;
  switch (head.code) {
    case protocol::cmd::GetShortECRStatus: {
      const protocol::ShortStatus s = Need(protocol::DecodeShortStatus(data));
      m_ecrFlags = s.flags;
      m_ecrMode = s.mode;
      m_voltageByte = s.voltage;
      break;
    }
    case protocol::cmd::GetECRStatus: {
      const protocol::Status s = Need(protocol::DecodeStatus(data));
      m_softMajor = static_cast<uint8_t>(s.versionMajor);
      m_softMinor = static_cast<uint8_t>(s.versionMinor);
      m_ecrBuild = s.build;
      m_softDay = s.day;
      m_softMonth = s.month;
      m_softYear = s.year;
      m_logicalNumber = s.logicalNumber;
      m_ecrFlags = s.flags;
      m_ecrMode = s.mode;
      m_portNumber = s.portNumber;
      break;
    }
    case protocol::cmd::GetExchangeParam: {
      const protocol::ExchangeParam p = Need(protocol::DecodeExchangeParam(data));
      m_settings.BaudRate = p.baudCode;
      m_settings.Timeout = protocol::DecodeTimeout(p.timeoutCode);
      break;
    }
    case protocol::cmd::ReadTable: {
      const std::string_view value = Need(protocol::DecodeFieldValue(data, m_fieldSize));
      if (m_fieldType) {
        m_valueOfFieldString = Cp1251ToUtf16(protocol::FieldText(value));
      } else {
        // A wider integer than the property holds is refused, not cut.
        if (m_fieldSize > 4) throw EDriverError(rc::kRangeError, kRangeError);
        m_valueOfFieldInteger = static_cast<int32_t>(protocol::FieldInteger(value));
      }
      break;
    }
    case protocol::cmd::GetTableStruct: {
      const protocol::TableStruct t = Need(protocol::DecodeTableStruct(data));
      m_tableName = Cp1251ToUtf16(t.name);
      m_rowNumber =
          static_cast<int32_t>((static_cast<uint32_t>(m_rowNumber) & 0xFFFF0000u) | t.rows);
      m_fieldNumber = t.fields;
      break;
    }
    case protocol::cmd::GetFieldStruct: {
      const protocol::FieldStruct f = Need(protocol::DecodeFieldStruct(data));
      m_fieldName = Cp1251ToUtf16(f.name);
      m_fieldType = f.isString;
      m_fieldSize = f.size;
      if (!f.isString) {
        m_minValueOfField = static_cast<int32_t>(f.min);
        m_maxValueOfField = static_cast<int32_t>(f.max);
      }
      break;
    }
    case protocol::cmd::GetFontMetrics: {
      const protocol::FontMetrics f = Need(protocol::DecodeFontMetrics(data));
      m_printWidth = f.printWidth;
      m_charWidth = f.charWidth;
      m_charHeight = f.charHeight;
      m_fontCount = f.fontCount;
      break;
    }
    case protocol::cmd::GetDeviceMetrics: {
      const protocol::DeviceMetrics d = Need(protocol::DecodeDeviceMetrics(data));
      m_uMajorType = d.majorType;
      m_uMinorType = d.minorType;
      m_uMajorProtocolVersion = d.majorProtocolVersion;
      m_uMinorProtocolVersion = d.minorProtocolVersion;
      m_uModel = d.model;
      m_uCodePage = d.codePage;
      m_uDescription = Cp1251ToUtf16(d.description);
      break;
    }
    // Their answers carry the operator's number too, but the driver has
    // always taken them without it.
    case protocol::cmd::DrawEx:
    case protocol::cmd::LoadLineDataEx:
      break;
    default:
      if (protocol::ConfirmsWithOperator(head.code)) Need(protocol::DecodeOperator(data));
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
    const int digit = HexDigitValue(c);
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
