#include "emulator/device_model.h"

#include <algorithm>

#include "emulator/font.h"
#include "platform/text.h"
#include "protocol/answers.h"
#include "protocol/commands.h"

namespace varn::emu {
namespace {

namespace cmd = protocol::cmd;
namespace flag = protocol::flag;
namespace mode = protocol::mode;
using protocol::Answer;
using protocol::ConfirmsWithOperator;
using protocol::kJournalRibbon;
using protocol::kOperatorPassword;
using protocol::kReceiptRibbon;

// What the device reports about itself.
constexpr char kSoftMajor = '1', kSoftMinor = '2';  // sent as characters
constexpr uint16_t kSoftBuild = 2047;
constexpr uint8_t kSoftDay = 14, kSoftMonth = 6, kSoftYear = 23;
constexpr uint8_t kOperator = 1;
constexpr uint8_t kBatteryByte = 200;
constexpr uint8_t kVoltageByte = 216;     // 24 V at 24/216 V per unit
constexpr uint8_t kDefaultTimeout = 100;  // ms, in the host's encoding
constexpr const char* kDescription = "ФР Варн";
constexpr uint8_t kLongLinesModel = 7;  // this model and later take up to 253 - header chars
constexpr size_t kMaxPayload = 253;
constexpr int kDrawers = 2;

struct CommandRule {
  uint8_t code;
  size_t minLength;  // whole payload, command code included
  size_t maxLength;  // 0: same as minLength
  bool password;
  bool duringTestRun;  // allowed while a test run goes on
};

constexpr CommandRule kCommands[] = {
    {cmd::GetShortECRStatus, 5, 0, true, true},  // short status
    {cmd::GetECRStatus, 5, 0, true, true},       // status
    {cmd::PrintWideString, 26, 0, true, false},  // bold line: flags, 20 characters
    {cmd::Beep, 5, 0, true, true},               // beep
    {cmd::SetExchangeParam, 8, 0, true, false},  // set exchange parameters
    {cmd::GetExchangeParam, 6, 0, true, true},   // get exchange parameters
    {cmd::PrintString, 46, 0, true, false},      // line: flags, 40 characters
    {cmd::Test, 6, 0, true, false},              // test run
    {cmd::WriteTable, 10, 255, true, false},
    {cmd::ReadTable, 9, 0, true, true},
    {cmd::InitTable, 5, 0, true, false},      // tables to defaults
    {cmd::GetFontMetrics, 6, 0, true, true},  // font metrics
    {cmd::OpenDrawer, 6, 0, true, false},     // drawer
    {cmd::FeedDocument, 7, 0, true, false},   // feed
    {cmd::InterruptTest, 5, 0, true, true},   // interrupt the test run
    {cmd::GetTableStruct, 6, 0, true, true},
    {cmd::GetFieldStruct, 7, 0, true, true},
    {cmd::PrintStringWithFont, 47, 0, true, false},  // line in a font: flags, font, 40 characters
    {cmd::LoadLineData, 46, 0, true, true},          // graphics line, 1-byte number
    {cmd::Draw, 7, 0, true, false},
    {cmd::PrintBarCode, 10, 0, true, false},  // bar code, 5 bytes
    {cmd::DrawEx, 9, 0, true, false},
    {cmd::LoadLineDataEx, 47, 0, true, true},    // graphics line, 2-byte number
    {cmd::GetDeviceMetrics, 1, 0, false, true},  // device type, no password
};

const CommandRule* FindCommand(uint8_t code) {
  for (const auto& c : kCommands)
    if (c.code == code) return &c;
  return nullptr;
}

bool IsTextCommand(uint8_t code) {
  return code == cmd::PrintWideString || code == cmd::PrintString ||
         code == cmd::PrintStringWithFont;
}

}  // namespace

// Reads the payload after the command code; lengths are checked before.
class TDeviceModel::Reader {
 public:
  explicit Reader(std::string_view data) : m_data(data) {}
  uint8_t U8() { return m_pos < m_data.size() ? static_cast<uint8_t>(m_data[m_pos++]) : 0; }
  uint16_t U16() {
    const uint16_t lo = U8();
    return static_cast<uint16_t>(lo | (U8() << 8));
  }
  uint32_t U32() {
    const uint32_t lo = U16();
    return lo | (static_cast<uint32_t>(U16()) << 16);
  }
  uint64_t U40() {
    const uint64_t lo = U32();
    return lo | (static_cast<uint64_t>(U8()) << 32);
  }
  std::string Rest() {
    std::string r(m_data.substr(std::min(m_pos, m_data.size())));
    m_pos = m_data.size();
    return r;
  }

 private:
  std::string_view m_data;
  size_t m_pos = 0;
};

TDeviceModel::TDeviceModel(const EmulatorOptions& options)
    : m_options(options),
      m_tables(options.statePath),
      m_paper(options.paperPath, options.paperPngPath),
      m_ports{{1, kDefaultTimeout}, {options.baudCode, kDefaultTimeout}},
      m_graphics(kGraphicsLines, std::string(protocol::kLineBytes, '\0')) {}

void TDeviceModel::Diagnose(const std::string& text) const {
  if (m_options.onDiagnostic) m_options.onDiagnostic(text);
}

uint16_t TDeviceModel::Flags() const {
  uint16_t flags = flag::kReceiptPaper | flag::kLeverDown;
  if (m_options.clock->Now() < m_drawerCloses) flags |= flag::kDrawerOpen;
  return flags;
}

uint8_t TDeviceModel::Mode() {
  // A test run ends by itself when its period is over.
  if (m_mode == mode::kTestRun && m_options.clock->Now() >= m_testRunEnds) m_mode = mode::kWorking;
  return m_mode;
}

std::string TDeviceModel::Execute(std::string_view request) {
  if (request.empty()) return Answer(0, err::kBadLength);
  const auto code = static_cast<uint8_t>(request[0]);
  const CommandRule* rule = FindCommand(code);
  if (!rule) return Answer(code, err::kUnknownCommand);
  size_t maxLength = rule->maxLength ? rule->maxLength : rule->minLength;
  if (IsTextCommand(code) && m_options.model >= kLongLinesModel) maxLength = kMaxPayload;
  if (request.size() < rule->minLength || request.size() > maxLength)
    return Answer(code, err::kBadLength);
  Reader in(request.substr(1));
  if (rule->password && in.U32() != kOperatorPassword) return Answer(code, err::kBadPassword);
  if (Mode() == mode::kTestRun && !rule->duringTestRun) return Answer(code, err::kWrongMode);
  try {
    std::string answer = Run(code, in);
    // The device confirms these commands with the operator's number.
    if (answer.size() == 2 && answer[1] == err::kOk && ConfirmsWithOperator(code))
      answer += static_cast<char>(kOperator);
    return answer;
  } catch (const std::exception& e) {
    // Only the emulator's own files fail here; the host sees a device fault.
    Diagnose(e.what());
    return Answer(code, err::kInternal);
  }
}

std::string TDeviceModel::Run(uint8_t code, Reader& in) {
  const MonoTime now = m_options.clock->Now();
  switch (code) {
    case cmd::GetShortECRStatus: {
      protocol::ShortStatus s;
      s.operatorNumber = kOperator;
      s.flags = Flags();
      s.mode = m_mode;
      s.battery = kBatteryByte;
      s.voltage = kVoltageByte;
      return Answer(code, err::kOk, protocol::EncodeShortStatus(s));
    }
    case cmd::GetECRStatus: {
      protocol::Status s;
      s.operatorNumber = kOperator;
      s.versionMajor = kSoftMajor;
      s.versionMinor = kSoftMinor;
      s.build = kSoftBuild;
      s.day = kSoftDay;
      s.month = kSoftMonth;
      s.year = kSoftYear;
      // The number of the register in the shop, from table 1.
      s.logicalNumber = static_cast<uint8_t>(m_tables.Value(1, 1, 1)[0]);
      s.flags = Flags();
      s.mode = m_mode;
      s.portNumber = kLinePort;
      return Answer(code, err::kOk, protocol::EncodeStatus(s));
    }
    case cmd::PrintWideString:
    case cmd::PrintString:
    case cmd::PrintStringWithFont: {
      const uint8_t ribbons = in.U8();
      const int font = code == cmd::PrintStringWithFont ? in.U8()
                       : code == cmd::PrintWideString   ? 2
                                                        : 1;
      if (!(ribbons & (kReceiptRibbon | kJournalRibbon)) || !FindFont(font))
        return Answer(code, err::kBadParameter);
      if (ribbons & kReceiptRibbon) {
        const std::string tag = code == cmd::PrintWideString ? "[bold]"
                                : code == cmd::PrintStringWithFont
                                    ? "[font " + std::to_string(font) + "]"
                                    : "";
        m_paper.PrintText(in.Rest(), font, code == cmd::PrintWideString, tag);
      }
      return Answer(code, err::kOk);
    }
    case cmd::Beep:
      return Answer(code, err::kOk);
    case cmd::SetExchangeParam: {
      const uint8_t port = in.U8(), baud = in.U8(), timeout = in.U8();
      if (port > kLinePort || baud >= kBaudCodeCount) return Answer(code, err::kBadParameter);
      m_ports[port] = {baud, timeout};
      return Answer(code, err::kOk);
    }
    case cmd::GetExchangeParam: {
      const uint8_t port = in.U8();
      if (port > kLinePort) return Answer(code, err::kBadParameter);
      return Answer(code, err::kOk,
                    protocol::EncodeExchangeParam(
                        {static_cast<uint8_t>(m_ports[port].baudCode), m_ports[port].timeout}));
    }
    case cmd::Test: {
      const uint8_t period = in.U8();
      if (period < 1 || period > 99) return Answer(code, err::kBadParameter);
      m_mode = mode::kTestRun;
      m_testRunEnds = now + m_options.testRunUnit * period;
      return Answer(code, err::kOk);
    }
    case cmd::WriteTable:
    case cmd::ReadTable: {
      const int table = in.U8(), row = in.U16(), field = in.U8();
      const TableDef* t = m_tables.Table(table);
      if (!t) return Answer(code, err::kNoTable);
      const FieldDef* f = m_tables.Field(table, field);
      if (row < 1 || row > t->rows || !f) return Answer(code, err::kBadParameter);
      if (code == cmd::ReadTable) return Answer(code, err::kOk, m_tables.Value(table, row, field));
      const std::string value = in.Rest();
      if (value.size() != f->size) return Answer(code, err::kBadLength);
      if (!f->isString) {
        const uint32_t v = TTables::ToInt(value);
        if (v < f->min || v > f->max) return Answer(code, err::kBadParameter);
      }
      m_tables.Write(table, row, field, value);
      return Answer(code, err::kOk);
    }
    case cmd::InitTable:
      m_tables.Reset();
      return Answer(code, err::kOk);
    case cmd::GetFontMetrics: {
      const FontMetrics* f = FindFont(in.U8());
      if (!f) return Answer(code, err::kBadParameter);
      return Answer(
          code, err::kOk,
          protocol::EncodeFontMetrics({kPrintWidth, f->charWidth, f->charHeight, kFontCount}));
    }
    case cmd::OpenDrawer:
      if (in.U8() >= kDrawers) return Answer(code, err::kBadParameter);
      m_drawerCloses = now + m_options.drawerOpenTime;
      return Answer(code, err::kOk);
    case cmd::FeedDocument: {
      const uint8_t ribbons = in.U8(), lines = in.U8();
      if (!(ribbons & (kReceiptRibbon | kJournalRibbon))) return Answer(code, err::kBadParameter);
      if (ribbons & kReceiptRibbon) m_paper.Feed(lines);
      return Answer(code, err::kOk);
    }
    case cmd::InterruptTest:
      if (m_mode != mode::kTestRun) return Answer(code, err::kWrongMode);
      m_mode = mode::kWorking;
      return Answer(code, err::kOk);
    case cmd::GetTableStruct: {
      const TableDef* t = m_tables.Table(in.U8());
      if (!t) return Answer(code, err::kNoTable);
      return Answer(
          code, err::kOk,
          protocol::EncodeTableStruct({Utf8ToCp1251(t->name), static_cast<uint16_t>(t->rows),
                                       static_cast<uint8_t>(t->fields.size())}));
    }
    case cmd::GetFieldStruct: {
      const int table = in.U8(), field = in.U8();
      if (!m_tables.Table(table)) return Answer(code, err::kNoTable);
      const FieldDef* f = m_tables.Field(table, field);
      if (!f) return Answer(code, err::kBadParameter);
      return Answer(code, err::kOk,
                    protocol::EncodeFieldStruct(
                        {Utf8ToCp1251(f->name), f->isString, f->size, f->min, f->max}));
    }
    case cmd::LoadLineData:
    case cmd::LoadLineDataEx: {
      const int line = code == cmd::LoadLineData ? in.U8() : in.U16();
      if (line >= kGraphicsLines) return Answer(code, err::kBadParameter);
      m_graphics[static_cast<size_t>(line)] = in.Rest();
      return Answer(code, err::kOk);
    }
    case cmd::Draw:
    case cmd::DrawEx: {
      const int first = code == cmd::Draw ? in.U8() : in.U16();
      const int last = code == cmd::Draw ? in.U8() : in.U16();
      // The print range counts lines from 1; line memory is indexed from 0.
      if (first < 1 || first > last || last > kGraphicsLines)
        return Answer(code, err::kBadParameter);
      m_paper.PrintGraphics(m_graphics, first, last);
      return Answer(code, err::kOk);
    }
    case cmd::PrintBarCode:
      m_paper.PrintBarCode(in.U40());
      return Answer(code, err::kOk);
    case cmd::GetDeviceMetrics: {
      protocol::DeviceMetrics d;   // type and subtype 0: a cash register
      d.majorProtocolVersion = 1;  // protocol 1.0
      d.model = m_options.model;
      d.codePage = 1;  // Russian
      d.description = Utf8ToCp1251(kDescription);
      return Answer(code, err::kOk, protocol::EncodeDeviceMetrics(d));
    }
  }
  return Answer(code, err::kUnknownCommand);
}

}  // namespace varn::emu
