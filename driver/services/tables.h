// The device's settings tables as the table editor sees them: the list of
// tables of one firmware (`TTables`), a table (`TTable`) with its value
// cells (`TFields`, `TField`), the definition cache in the registry under
// `TableDefs`, and the device steps that read and write on a driver object
// through the driver client (this library never links the driver).
//
//   TTables tables;
//   tables.Key = ComputeFirmwareKey(*drv);     // "A.112": cache per firmware
//   if (!tables.LoadFromRegistry()) { /* read from the device (operations.h) */ }
//   TTable* t = tables.FindByNumber(2);
//   WriteFieldValue(*drv, t->Fields().Items(0), "7");
//
// Texts are UTF-8. Nothing here locks: the long reads fill the model on a
// worker thread while the caller waits (operations.h), and the notifications
// run on the thread that made the change.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/automation/dispatch.h"

namespace varn {

inline constexpr const char* kTableDefsKey = "SOFTWARE\\Kvelta\\Варн\\Драйвер\\TableDefs";

struct TTableRec {
  std::string Name;  // normalised (NormalizeName)
  int32_t Number = 0;
  int32_t RowCount = 0;
  int32_t FieldCount = 0;  // fields in each row
};

struct TFldRec {
  std::string Name;  // normalised
  int32_t Size = 0;  // bytes; for a string field its longest text
  int32_t Table = 0;
  int32_t Row = 0;  // from 1
  int32_t Number = 0;
  bool FieldType = false;  // true: string ("строка"), false: number ("число")
  int32_t MinValue = 0;
  int32_t MaxValue = 0;
};

class TFields;

// One value cell: the field of one row.
class TField {
 public:
  TField(TFields& owner, const TFldRec& data) : Data(data), m_owner(&owner) {}

  TFldRec Data;
  // Raised with the field after Value changed.
  std::function<void(TField&)> OnChange;

  const std::string& Value() const { return m_value; }
  // Stores the text and raises OnChange when it differs (case-sensitive).
  void SetValue(const std::string& text);
  int Index() const { return m_index; }  // position in the owner's list
  TFields& Owner() const { return *m_owner; }

 private:
  friend class TFields;
  std::string m_value;  // a number field holds the decimal text
  TFields* m_owner;
  int m_index = 0;
};

// The cells of one table, row-major once loaded: row 1 by ascending field
// Number, then row 2 in the same order, and so on.
class TFields {
 public:
  TFields() = default;
  TFields(const TFields&) = delete;  // the cells point back at their list
  TFields& operator=(const TFields&) = delete;

  TField& Add(const TFldRec& data);
  void Clear() { m_items.clear(); }
  int Count() const { return static_cast<int>(m_items.size()); }
  TField& Items(int index) { return *m_items.at(static_cast<size_t>(index)); }
  const TField& Items(int index) const { return *m_items.at(static_cast<size_t>(index)); }
  void SortByNumber();  // stable

 private:
  std::vector<std::unique_ptr<TField>> m_items;
};

class TTables;

class TTable {
 public:
  // A table of no list: LoadFieldDefs and SaveFieldDefs do nothing. Tables
  // of a list are made by TTables::Add.
  explicit TTable(const TTableRec& data) : Data(data) {}

  TTableRec Data;

  TTables* Owner() const { return m_owner; }
  TFields& Fields() { return m_fields; }
  const TFields& Fields() const { return m_fields; }
  // Fills Fields from the cache: row 1 from FIELDDEFS, the other rows as
  // copies. A cache that does not hold exactly FieldCount complete field
  // descriptions numbered 1..FieldCount, that cannot be read, or of a table
  // over kMaxTableCells leaves Fields empty, so that the descriptions are
  // read from the device. Without a firmware key (Key empty) nothing is read.
  void LoadFieldDefs();
  // Writes the row-1 descriptions to the cache when Fields holds at least
  // FieldCount entries; failures are swallowed (the cache is only a cache).
  void SaveFieldDefs();

 private:
  friend class TTables;
  TTables* m_owner = nullptr;
  TFields m_fields;
};

// The tables of one device firmware.
class TTables {
 public:
  TTables() = default;
  TTables(const TTables&) = delete;  // the tables point back at their list
  TTables& operator=(const TTables&) = delete;

  std::string Key;  // the firmware key: names the cache subkey
  // Raised with each table added (TTables::Add).
  std::function<void(TTable&)> OnTableAdded;

  // A new table owned by the list, appended; raises OnTableAdded.
  TTable& Add(const TTableRec& data);
  void Clear() { m_items.clear(); }
  int Count() const { return static_cast<int>(m_items.size()); }
  TTable& Items(int index) { return *m_items.at(static_cast<size_t>(index)); }
  const TTable& Items(int index) const { return *m_items.at(static_cast<size_t>(index)); }
  TTable* FindByNumber(int32_t number);  // first match, nullptr when none
  void SortByNumber();                   // stable

  // Rebuilds the list from the cache under Key. False (and an empty list)
  // when nothing is cached or the cache cannot be used (a table entry over
  // kMaxTableCells included); true when the key
  // has any subkey, even if none of them describes a table completely.
  bool LoadFromRegistry();
  // Replaces the cache under Key with the list, in one write of the
  // registry; failures are swallowed.
  void SaveToRegistry();

  // The registry path of the cache of this firmware ("" when Key is empty).
  std::string KeyPath() const;

 private:
  std::vector<std::unique_ptr<TTable>> m_items;
};

// The most cells (rows x fields) a table may have: far above what a device
// holds, far below what 16-bit rows of 255 fields could claim (16.7 M cells,
// gigabytes). A cache entry claiming more is treated as missing; a device
// answer claiming more gets its table refused when it is opened.
inline constexpr int32_t kMaxTableCells = 65536;
bool IsPlausibleTable(const TTableRec& table);
// Appends rows 2..RowCount as copies of row 1 (the first FieldCount
// entries). std::length_error with TooLargeText for a table over the limit.
void ExpandRows(TTable& table);
// "Таблица слишком велика: R рядов по F полей (допускается не более N ячеек)."
std::string TooLargeText(const TTableRec& table);

// Table and field names as the device gives them (upper case) turned into
// what the user sees: all lower case, then the first letter upper case, by
// the letters of code page 1251. "ЗАГОЛОВОК" -> "Заголовок".
std::string NormalizeName(const std::string& name);

// The integer a number field's text stands for. std::invalid_argument for a
// text that is not a decimal 32-bit integer; std::range_error with the
// message "Неверное значение поля (%d).\r\nЗначение поля должно лежать в
// диапазоне %d..%d" outside MinValue..MaxValue (inclusive).
int32_t ValidateFieldValue(const TFldRec& field, const std::string& text);

// How the dialogs show a field: "строка" or "число"; the minimum (0 for a
// string) and the maximum (Size for a string).
std::string FieldTypeText(const TFldRec& field);
int32_t ShownMinValue(const TFldRec& field);
int32_t ShownMaxValue(const TFldRec& field);

// --- device steps, through the driver client ---------------------------------
// A driver method that returns non-zero raises EDriverError with that code
// and the driver's ResultCodeDescription.

// Reads the description of table rec.Number; false when the device answers
// 93 ("Таблица не определена"): the end of the list.
bool ReadTableStruct(IDispatch& drv, TTableRec& rec);
// Reads the description of field rec.Number of table rec.Table.
void ReadFieldStruct(IDispatch& drv, TFldRec& rec);
// Reads the field's value into field.Value (SetValue).
void ReadFieldValue(IDispatch& drv, TField& field);
// Writes `text` (validated for a number field) and, only when the device
// took it, stores it as the field's Value.
void WriteFieldValue(IDispatch& drv, TField& field, const std::string& text);
// The cache key of the connected device's firmware: ECRSoftVersion followed
// by ECRBuild ("A.1" and 12 give "A.112"). Locks the port for the time of
// the status request; the device connection stays open.
std::string ComputeFirmwareKey(IDispatch& drv);

}  // namespace varn
