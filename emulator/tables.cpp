#include "emulator/tables.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/text.h"
#include "protocol/answers.h"

namespace varn::emu {
namespace {

FieldDef Int(std::string name, uint8_t size, uint32_t min, uint32_t max, uint32_t (*def)(int row)) {
  FieldDef f;
  f.name = std::move(name);
  f.size = size;
  f.min = min;
  f.max = max;
  f.defaultInt = def;
  return f;
}

FieldDef Text(std::string name, uint8_t size, std::string (*def)(int row)) {
  FieldDef f;
  f.name = std::move(name);
  f.isString = true;
  f.size = size;
  f.defaultText = def;
  return f;
}

std::string Pick(int row, std::initializer_list<const char*> texts) {
  return row >= 1 && static_cast<size_t>(row) <= texts.size() ? texts.begin()[row - 1] : "";
}

[[noreturn]] void Refuse(const std::string& path, int line, const std::string& what) {
  throw EDriverError(rc::kOSError,
                     "state file " + path + ", line " + std::to_string(line) + ": " + what);
}

// Escapes what would break the line or is not text; the rest stays readable.
std::string Quote(const std::string& cp1251) {
  std::string out = "\"";
  for (unsigned char b : cp1251) {
    if (b == '"' || b == '\\') {
      out += '\\';
      out += static_cast<char>(b);
    } else if (b < 0x20 || b == 0x7F || b == 0x98) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    } else {
      out += Cp1251ToUtf8(std::string(1, static_cast<char>(b)));
    }
  }
  return out + "\"";
}

}  // namespace

const std::vector<TableDef>& StandardTables() {
  static const std::vector<TableDef> tables = {
      {"ТИП И РЕЖИМ КАССЫ",
       1,
       {
           Int("НОМЕР КАССЫ В МАГАЗИНЕ", 1, 1, 99, [](int) { return 1u; }),
           Int("АВТОМАТИЧЕСКАЯ ОТРЕЗКА ЧЕКА", 1, 0, 1, [](int) { return 1u; }),
           Int("ПРОТЯЖКА ПОСЛЕ ЧЕКА, СТРОК", 1, 0, 20, [](int) { return 4u; }),
           Int("ЯРКОСТЬ ПЕЧАТИ", 1, 1, 15, [](int) { return 8u; }),
           Int("ИМПУЛЬС ДЕНЕЖНОГО ЯЩИКА, МС", 2, 10, 1000, [](int) { return 200u; }),
           Int("ЗВУКОВОЙ СИГНАЛ", 1, 0, 1, [](int) { return 1u; }),
           Int("АВТООТКЛЮЧЕНИЕ, С", 3, 0, 86400, [](int) { return 3600u; }),
       }},
      {"КАССИРЫ И АДМИНИСТРАТОРЫ",
       30,
       {
           Text("ИМЯ", 21,
                [](int row) {
                  return row == 30 ? std::string("АДМИНИСТРАТОР") : "КАССИР " + std::to_string(row);
                }),
           Int("ТАБЕЛЬНЫЙ НОМЕР", 4, 0, 99999999,
               [](int row) { return static_cast<uint32_t>(row); }),
       }},
      {"НАЗВАНИЯ ТИПОВ ОПЛАТЫ",
       4,
       {
           Text("НАЗВАНИЕ", 16,
                [](int row) {
                  return Pick(row, {"НАЛИЧНЫМИ", "КРЕДИТОМ", "ТАРОЙ", "ПЛАТ. КАРТОЙ"});
                }),
       }},
      {"НАЛОГОВЫЕ СТАВКИ",
       4,
       {
           Int("СТАВКА, 0.01%", 2, 0, 9999,
               [](int row) { return row == 1   ? 2000u
                                    : row == 2 ? 1000u
                                               : 0u; }),
           Text("НАЗВАНИЕ НАЛОГА", 12,
                [](int row) {
                  return Pick(row, {"НДС 20%", "НДС 10%", "НДС 0%", "БЕЗ НДС"});
                }),
       }},
      {"НАИМЕНОВАНИЯ ОТДЕЛОВ",
       16,
       {
           Text("НАЗВАНИЕ ОТДЕЛА", 20, [](int row) { return "ОТДЕЛ " + std::to_string(row); }),
       }},
      {"ТЕКСТ В ЧЕКЕ",
       4,
       {
           Text("СТРОКА", 40,
                [](int row) {
                  return Pick(row, {"ДОБРО ПОЖАЛОВАТЬ!", "СПАСИБО ЗА ПОКУПКУ"});
                }),
       }},
      {"ПАРАМЕТРЫ ПЕЧАТИ",
       1,
       {
           Int("МЕЖСТРОЧНЫЙ ИНТЕРВАЛ", 1, 0, 255, [](int) { return 2u; }),
           Int("ШРИФТ ПО УМОЛЧАНИЮ", 1, 1, 3, [](int) { return 1u; }),
           Int("ПЕЧАТЬ ЧИСЛА ПОД ШТРИХ-КОДОМ", 1, 0, 1, [](int) { return 1u; }),
       }},
  };
  return tables;
}

TTables::TTables(std::string statePath)
    : m_statePath(std::move(statePath)), m_defs(StandardTables()) {
  for (size_t t = 0; t < m_defs.size(); ++t) {
    const TableDef& def = m_defs[t];
    std::vector<std::string> values;
    for (int r = 1; r <= def.rows; ++r)
      for (const FieldDef& f : def.fields) values.push_back(DefaultValue(f, r));
    m_values.push_back(std::move(values));
  }
  if (m_statePath.empty()) return;
  std::optional<std::string> text;
  try {
    text = ReadWholeFile(m_statePath);
  } catch (const std::exception& e) {
    throw EDriverError(rc::kOSError, "state file " + m_statePath + ": " + e.what());
  }
  if (text) {
    Load(*text);
    return;
  }
  // Made now, so that a path that cannot be written is refused at start
  // rather than at the first write from the line.
  try {
    Save();
  } catch (const std::exception& e) {
    throw EDriverError(rc::kOSError, "state file " + m_statePath + ": " + e.what());
  }
}

const TableDef* TTables::Table(int table) const {
  return table >= 1 && table <= Count() ? &m_defs[static_cast<size_t>(table - 1)] : nullptr;
}

const FieldDef* TTables::Field(int table, int field) const {
  const TableDef* t = Table(table);
  if (!t || field < 1 || field > static_cast<int>(t->fields.size())) return nullptr;
  return &t->fields[static_cast<size_t>(field - 1)];
}

std::string& TTables::Slot(int table, int row, int field) {
  const TableDef& t = *Table(table);
  const size_t index =
      static_cast<size_t>(row - 1) * t.fields.size() + static_cast<size_t>(field - 1);
  return m_values[static_cast<size_t>(table - 1)][index];
}

const std::string& TTables::Value(int table, int row, int field) const {
  return const_cast<TTables*>(this)->Slot(table, row, field);
}

void TTables::Write(int table, int row, int field, const std::string& bytes) {
  std::string& slot = Slot(table, row, field);
  std::string old = slot;
  slot = bytes;
  try {
    Save();
  } catch (...) {
    slot = std::move(old);
    throw;
  }
}

void TTables::Reset() {
  auto old = m_values;
  for (size_t t = 0; t < m_defs.size(); ++t) {
    const TableDef& def = m_defs[t];
    size_t i = 0;
    for (int r = 1; r <= def.rows; ++r)
      for (const FieldDef& f : def.fields) m_values[t][i++] = DefaultValue(f, r);
  }
  try {
    Save();
  } catch (...) {
    m_values = std::move(old);
    throw;
  }
}

uint32_t TTables::ToInt(const std::string& bytes) {
  return protocol::FieldInteger(bytes);
}

std::string TTables::FromInt(uint32_t value, int size) {
  return protocol::FieldBytes(value, static_cast<size_t>(std::max(size, 0)));
}

std::string TTables::DefaultValue(const FieldDef& field, int row) {
  if (!field.isString)
    return FromInt(field.defaultInt ? field.defaultInt(row) : field.min, field.size);
  std::string text = field.defaultText ? Utf8ToCp1251(field.defaultText(row)) : "";
  text.resize(field.size, '\0');
  return text;
}

void TTables::Load(const std::string& text) {
  int lineNo = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + pos, end - pos);
    pos = end + 1;
    ++lineNo;
    size_t i = 0;
    auto skip = [&] {
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    };
    auto number = [&](uint64_t& v) {
      const auto [p, ec] = std::from_chars(line.data() + i, line.data() + line.size(), v);
      if (ec != std::errc() || p == line.data() + i) return false;
      i = static_cast<size_t>(p - line.data());
      return true;
    };
    skip();
    if (i == line.size() || line[i] == '#') continue;
    uint64_t t = 0, r = 0, f = 0;
    if (!number(t) || i >= line.size() || line[i++] != '.' || !number(r) || i >= line.size() ||
        line[i++] != '.' || !number(f))
      Refuse(m_statePath, lineNo, "expected table.row.field");
    const FieldDef* field =
        t <= 255 && f <= 255 ? Field(static_cast<int>(t), static_cast<int>(f)) : nullptr;
    if (!field || r < 1 || r > static_cast<uint64_t>(Table(static_cast<int>(t))->rows))
      Refuse(m_statePath, lineNo, "no such table, row or field");
    skip();
    if (i >= line.size() || line[i++] != '=') Refuse(m_statePath, lineNo, "expected '='");
    skip();
    std::string value;
    if (field->isString) {
      if (i >= line.size() || line[i++] != '"')
        Refuse(m_statePath, lineNo, "expected a quoted text");
      std::string run;  // UTF-8 since the last escape
      bool closed = false;
      while (i < line.size()) {
        const char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c != '\\') {
          run += c;
          continue;
        }
        value += Utf8ToCp1251(run);
        run.clear();
        if (i < line.size() && (line[i] == '"' || line[i] == '\\')) {
          value += line[i++];
        } else if (i + 2 < line.size() && line[i] == 'x' && HexDigitValue(line[i + 1]) >= 0 &&
                   HexDigitValue(line[i + 2]) >= 0) {
          value += static_cast<char>(HexDigitValue(line[i + 1]) * 16 + HexDigitValue(line[i + 2]));
          i += 3;
        } else {
          Refuse(m_statePath, lineNo, "unknown escape in the text");
        }
      }
      value += Utf8ToCp1251(run);
      if (!closed) Refuse(m_statePath, lineNo, "the text has no closing quote");
      if (value.size() > field->size)
        Refuse(m_statePath, lineNo,
               "the text is longer than the field (" + std::to_string(field->size) + " bytes)");
      value.resize(field->size, '\0');
    } else {
      uint64_t v = 0;
      if (!number(v)) Refuse(m_statePath, lineNo, "expected a number");
      if (v < field->min || v > field->max)
        Refuse(m_statePath, lineNo,
               "the value is out of the field's range " + std::to_string(field->min) + ".." +
                   std::to_string(field->max));
      value = FromInt(static_cast<uint32_t>(v), field->size);
    }
    skip();
    if (i < line.size() && line[i] != '#')
      Refuse(m_statePath, lineNo, "unexpected text after the value");
    Slot(static_cast<int>(t), static_cast<int>(r), static_cast<int>(f)) = value;
  }
}

void TTables::Save() const {
  if (m_statePath.empty()) return;
  std::string out = "# varn-emu tables: the values that differ from the defaults\n";
  for (int t = 1; t <= Count(); ++t) {
    const TableDef& def = *Table(t);
    for (int r = 1; r <= def.rows; ++r)
      for (int f = 1; f <= static_cast<int>(def.fields.size()); ++f) {
        const FieldDef& field = def.fields[static_cast<size_t>(f - 1)];
        const std::string& v = Value(t, r, f);
        if (v == DefaultValue(field, r)) continue;
        out += std::to_string(t) + "." + std::to_string(r) + "." + std::to_string(f) + " = ";
        if (field.isString) {
          const size_t end = v.find_last_not_of('\0');
          out += Quote(end == std::string::npos ? "" : v.substr(0, end + 1));
        } else {
          out += std::to_string(ToInt(v));
        }
        out += '\n';
      }
  }
  ReplaceFileAtomically(m_statePath, out);
}

}  // namespace varn::emu
