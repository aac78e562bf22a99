// The device's settings tables: their structure, current values, defaults,
// and the state file that keeps the values across restarts.
//
// Tables, rows and fields are numbered from 1. Every value is held as the
// bytes the device sends for it: an integer field as `size` little-endian
// bytes, a string field as `size` cp1251 bytes (zero-padded).
//
//   TTables tables("/tmp/state.txt");          // "" keeps values in memory only
//   const TableDef* t = tables.Table(2);       // nullptr past the last table
//   tables.Write(2, 1, 1, bytes);              // saved at once
//
// State file: UTF-8 text, one value that differs from its default per line,
// `table.row.field = 1234` or `table.row.field = "text"` ("\"", "\\" and
// "\xHH" escapes), '#' comments. A file that cannot be read as such is
// refused with its line number and never overwritten.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varn::emu {

struct FieldDef {
  std::string name;  // UTF-8, upper case
  bool isString = false;
  uint8_t size = 1;  // bytes; 1..4 for integers
  uint32_t min = 0;  // integer range, inclusive
  uint32_t max = 0;
  // The default of row r (from 1): a number, or UTF-8 text for strings.
  uint32_t (*defaultInt)(int row) = nullptr;
  std::string (*defaultText)(int row) = nullptr;
};

struct TableDef {
  std::string name;  // UTF-8, upper case
  int rows = 1;
  std::vector<FieldDef> fields;
};

// The set of tables this device has.
const std::vector<TableDef>& StandardTables();

class TTables {
 public:
  // Loads the state file, or makes it when there is none. EDriverError -8
  // when it cannot be read or made, or holds something this device would
  // not accept.
  explicit TTables(std::string statePath);

  int Count() const { return static_cast<int>(m_defs.size()); }
  const TableDef* Table(int table) const;
  const FieldDef* Field(int table, int field) const;

  // Arguments must exist (checked by the caller through Table/Field/rows).
  const std::string& Value(int table, int row, int field) const;
  // `bytes` has the field's size and is in range. The file is written
  // before it returns; when that fails the old value stays and it throws.
  void Write(int table, int row, int field, const std::string& bytes);
  // Every value back to its default (and the file with it).
  void Reset();

  // Integer value of `size` little-endian bytes.
  static uint32_t ToInt(const std::string& bytes);
  static std::string FromInt(uint32_t value, int size);
  static std::string DefaultValue(const FieldDef& field, int row);

 private:
  std::string& Slot(int table, int row, int field);
  void Load(const std::string& text);
  void Save() const;

  std::string m_statePath;
  const std::vector<TableDef>& m_defs;
  std::vector<std::vector<std::string>> m_values;  // [table-1][(row-1)*fields + field-1]
};

}  // namespace varn::emu
