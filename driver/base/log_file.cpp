#include "driver/base/log_file.h"

#include <cerrno>
#include <cstdio>

#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "protocol/commands.h"

namespace varn {
namespace {

constexpr size_t kBytesPerLine = 20;
// A call that fails past the driver's own handling leaves its name on the
// stack; bound what such leftovers can cost a long-running host.
constexpr size_t kMaxNames = 1024;

std::string Format(const char* format, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

// Currency is a count of ten-thousandths: exact, without a detour via double.
std::string CurrencyText(int64_t scaled) {
  const bool negative = scaled < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(scaled) : scaled;
  std::string text = (negative ? "-" : "") + std::to_string(magnitude / 10000);
  if (uint64_t fraction = magnitude % 10000) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04u", static_cast<unsigned>(fraction));
    std::string f = digits;
    while (f.back() == '0') f.pop_back();
    text += '.' + f;
  }
  return text;
}

std::string DateText(double date) {
  // Outside the years automation dates cover, the number itself.
  const std::optional<DateParts> d = SplitDate(date);
  if (!d) return Format("%.15g", date);
  char buf[48];
  int n = std::snprintf(buf, sizeof buf, "%.2u.%.2u.%.4d", d->day, d->month, d->year);
  if (d->HasTime())
    std::snprintf(buf + n, sizeof buf - n, " %.2d:%.2d:%.2d", d->hours, d->minutes, d->seconds);
  return buf;
}

}  // namespace

std::string LogValueText(const Variant& value) {
  const Variant& v = value.Deref();
  switch (v.Type()) {
    case VT_BOOL:
      return v.RawInt() ? "1" : "0";
    case VT_I2:
    case VT_I4:
    case VT_UI1:
    case VT_ERROR:
      return std::to_string(v.RawInt());
    case VT_R4:
      return Format("%.7g", v.RawReal());
    case VT_R8:
      return Format("%.15g", v.RawReal());
    case VT_CY:
      return CurrencyText(v.RawInt());
    case VT_DATE:
      return DateText(v.RawReal());
    case VT_BSTR:
      return Utf16ToUtf8(v.RawString());
    default:  // empty, null, objects and arrays have no text of their own
      return {};
  }
}

TLogFile::TLogFile() : m_path(DefaultFileName()) {}

TLogFile::~TLogFile() = default;

std::string TLogFile::DefaultFileName() {
  return LogDirectory() + "/VarnDrv.log";
}

void TLogFile::SetEnabled(bool enabled) {
  if (enabled == m_enabled) return;
  m_enabled = enabled;
  Close();
}

void TLogFile::SetFileName(const std::string& path) {
  if (path == m_path) return;
  Close();
  m_path = path;
}

bool TLogFile::Open() {
  if (m_file) return true;
  try {
    try {
      m_file = std::make_unique<AppendOnlyFile>(m_path);
    } catch (const EOSError& e) {
      // A fresh install has no log folder yet.
      const std::string dir = ParentDirectory(m_path);
      if (e.Errno != ENOENT || dir.empty()) throw;
      MakeDirectories(dir, 0700);
      m_file = std::make_unique<AppendOnlyFile>(m_path);
    }
  } catch (const std::exception&) {
    // Held by another writer, or not openable: this line is lost, the next tries again.
    return false;
  }
  return true;
}

void TLogFile::WriteLine(std::string_view text) {
  if (!m_enabled) return;
  try {
    std::string line = LogTimeStamp();
    line += ' ';
    line += text;
    line += "\r\n";
    if (!Open()) return;
    m_file->Write(line);
  } catch (const std::exception&) {
    // A failed write (a full disk) loses the line; reopening at the next one
    // starts it again on a whole line.
    Close();
  }
}

void TLogFile::WriteSeparator() {
  WriteLine(std::string(60, '-'));
}

void TLogFile::WriteCommand(uint8_t code) {
  if (!m_enabled) return;
  char hex[4];
  std::snprintf(hex, sizeof hex, "%.2X", code);
  WriteLine("Команда " + std::string(hex) + " " + std::string(protocol::CommandName(code)));
}

void TLogFile::WriteSent(std::string_view bytes) {
  WriteBytes("-> ", bytes);
}

void TLogFile::WriteReceived(std::string_view bytes) {
  if (!bytes.empty()) WriteBytes("<- ", bytes);
}

void TLogFile::WriteBytes(std::string_view prefix, std::string_view bytes) {
  if (!m_enabled) return;
  size_t pos = 0;
  do {
    const std::string_view run = bytes.substr(pos, kBytesPerLine);
    WriteLine(std::string(prefix) + HexDump(run));
    pos += kBytesPerLine;
  } while (pos < bytes.size());
}

void TLogFile::WriteError(int32_t code, std::string_view description) {
  if (!m_enabled || code == 0) return;
  char head[48];
  if (code > 0)
    std::snprintf(head, sizeof head, "Ошибка: (%d, %.2Xh) ", static_cast<int>(code),
                  static_cast<unsigned>(code));
  else
    std::snprintf(head, sizeof head, "Ошибка: (%d) ", static_cast<int>(code));
  WriteLine(head + std::string(description));
}

void TLogFile::BeginCall(std::string_view name) {
  if (!m_enabled) return;
  if (m_names.size() >= kMaxNames) m_names.erase(m_names.begin());
  m_names.emplace_back(name);
  WriteLine(name);
}

void TLogFile::EndCall(const Variant& value) {
  if (!m_enabled) return;
  std::string name;
  if (!m_names.empty()) {
    name = std::move(m_names.back());
    m_names.pop_back();
  }
  WriteLine(name + ": " + LogValueText(value));
}

}  // namespace varn
