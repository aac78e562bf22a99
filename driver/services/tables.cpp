#include "driver/services/tables.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <stdexcept>

#include "driver/client/driver_client.h"
#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace varn {
namespace {

// The device's table answer 93: "Таблица не определена".
constexpr int32_t kNoSuchTable = 93;

// What the device can report: table and field numbers and field sizes are
// bytes, row counts 16 bits. A cache that claims more was not written by us.
constexpr int32_t kMaxByte = 255;
constexpr int32_t kMaxRows = 65535;

class ECacheError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Case mapping of the letters of code page 1251 (ASCII, Cyrillic with
// Ё, Ђ..Џ and Ґ); everything else stays.
char16_t Lower(char16_t c) {
  return c == u'Ґ' ? u'ґ' : FoldCase(c);
}

char16_t Upper(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  if (c >= 0x0430 && c <= 0x044F) return static_cast<char16_t>(c - 32);  // а..я
  if (c >= 0x0450 && c <= 0x045F) return static_cast<char16_t>(c - 80);  // ё, ђ..џ
  return c == u'ґ' ? u'Ґ' : c;
}

// --- the cache -----------------------------------------------------------------

// A key name made from device text: a backslash would name another key and
// a line break would break the registry file.
std::string KeyName(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c == '\\' || (static_cast<unsigned char>(c) < 0x20) || c == 0x7F) c = '_';
  return out;
}

int32_t Int(const RegValue& v, int32_t low, int32_t high) {
  if (v.type != RegValue::Type::Dword) throw ECacheError("integer expected");
  const auto n = static_cast<int32_t>(v.dword);
  if (n < low || n > high) throw ECacheError("value out of range");
  return n;
}

int32_t Int(const RegValue& v) {
  return Int(v, INT32_MIN, INT32_MAX);
}

std::string Text(const RegValue& v) {
  if (v.type != RegValue::Type::String) throw ECacheError("text expected");
  return v.text;
}

RegValue Dword(int32_t n) {
  return RegValue{RegValue::Type::Dword, {}, static_cast<uint32_t>(n)};
}

RegValue String(const std::string& text) {
  return RegValue{RegValue::Type::String, text, 0};
}

// The values `names` of key `path`, all of them or none; the key is looked
// up once.
template <size_t N>
bool AllValues(const RegistryData& data, const std::string& path, const char* const (&names)[N],
               const RegValue* (&out)[N]) {
  const RegistryData::Key* key = data.Find(path);
  if (!key) return false;
  for (size_t i = 0; i < N; ++i)
    if (!(out[i] = key->Value(names[i]))) return false;
  return true;
}

std::string FieldDefsPath(const TTable& table) {
  return table.Owner()->KeyPath() + "\\" + std::to_string(table.Data.Number) + "\\FIELDDEFS";
}

void LoadFieldDefsFrom(TTable& table, const RegistryData& data) {
  TFields& fields = table.Fields();
  fields.Clear();
  const std::string path = FieldDefsPath(table);
  // A table too large to hold keeps no cells; opening it says why.
  if (!IsPlausibleTable(table.Data) || !data.Exists(path)) return;
  static constexpr const char* kNames[] = {"Name",   "Size",     "Type",
                                           "Number", "MinValue", "MaxValue"};
  std::vector<bool> numberSeen(static_cast<size_t>(table.Data.FieldCount) + 1);
  bool consistent = true;
  for (const std::string& sub : data.SubKeys(path)) {
    const RegValue* v[6];
    if (!AllValues(data, path + "\\" + sub, kNames, v)) continue;
    TFldRec rec;
    rec.Name = Text(*v[0]);
    rec.Size = Int(*v[1], 0, kMaxByte);
    rec.FieldType = Int(*v[2]) != 0;
    rec.Number = Int(*v[3], 1, kMaxByte);
    rec.MinValue = Int(*v[4]);
    rec.MaxValue = Int(*v[5]);
    rec.Table = table.Data.Number;
    rec.Row = 1;
    // The device numbers a table's fields 1..FieldCount: another number, or
    // one twice, is no description the device gave.
    if (rec.Number > table.Data.FieldCount || numberSeen[static_cast<size_t>(rec.Number)])
      consistent = false;
    else
      numberSeen[static_cast<size_t>(rec.Number)] = true;
    fields.Add(rec);
  }
  // Row 1 must be whole for the other rows to be copies of it; anything
  // else is read from the device again.
  if (!consistent || fields.Count() != table.Data.FieldCount) {
    fields.Clear();
    return;
  }
  fields.SortByNumber();
  ExpandRows(table);
}

void SaveFieldDefsTo(const TTable& table, RegistryData& data) {
  const int32_t count = table.Data.FieldCount;
  if (count < 1 || table.Fields().Count() < count) return;
  const std::string path = FieldDefsPath(table);
  for (int32_t i = 0; i < count; ++i) {
    const std::string sub = path + "\\" + std::to_string(i);
    const TFldRec& f = table.Fields().Items(i).Data;
    data.SetValue(sub, "Name", String(f.Name));
    data.SetValue(sub, "Size", Dword(f.Size));
    data.SetValue(sub, "Number", Dword(f.Number));
    data.SetValue(sub, "Type", Dword(f.FieldType ? 1 : 0));
    data.SetValue(sub, "MinValue", Dword(f.MinValue));
    data.SetValue(sub, "MaxValue", Dword(f.MaxValue));
  }
}

}  // namespace

// --- the model ---------------------------------------------------------------------

void TField::SetValue(const std::string& text) {
  if (text == m_value) return;
  m_value = text;
  if (OnChange) OnChange(*this);
}

TField& TFields::Add(const TFldRec& data) {
  m_items.push_back(std::make_unique<TField>(*this, data));
  m_items.back()->m_index = Count() - 1;
  return *m_items.back();
}

void TFields::SortByNumber() {
  std::stable_sort(m_items.begin(), m_items.end(),
                   [](const auto& a, const auto& b) { return a->Data.Number < b->Data.Number; });
  for (int i = 0; i < Count(); ++i) m_items[static_cast<size_t>(i)]->m_index = i;
}

void TTable::LoadFieldDefs() {
  // Without a firmware key the path would fall to the registry's root.
  if (!m_owner || m_owner->KeyPath().empty()) {
    m_fields.Clear();
    return;
  }
  try {
    LoadFieldDefsFrom(*this, Registry::Default().Load());
  } catch (const std::exception&) {
    m_fields.Clear();
  }
}

void TTable::SaveFieldDefs() {
  if (!m_owner || m_owner->KeyPath().empty()) return;
  try {
    Registry::Default().Update([&](RegistryData& data) { SaveFieldDefsTo(*this, data); });
  } catch (const std::exception&) {
  }
}

TTable& TTables::Add(const TTableRec& data) {
  m_items.push_back(std::make_unique<TTable>(data));
  TTable& table = *m_items.back();
  table.m_owner = this;
  if (OnTableAdded) OnTableAdded(table);
  return table;
}

TTable* TTables::FindByNumber(int32_t number) {
  for (auto& t : m_items)
    if (t->Data.Number == number) return t.get();
  return nullptr;
}

void TTables::SortByNumber() {
  std::stable_sort(m_items.begin(), m_items.end(),
                   [](const auto& a, const auto& b) { return a->Data.Number < b->Data.Number; });
}

std::string TTables::KeyPath() const {
  return Key.empty() ? std::string() : std::string(kTableDefsKey) + "\\" + KeyName(Key);
}

bool TTables::LoadFromRegistry() {
  Clear();
  const std::string path = KeyPath();
  if (path.empty()) return false;
  try {
    const RegistryData data = Registry::Default().Load();
    if (!data.Exists(path)) return false;
    const std::vector<std::string> subKeys = data.SubKeys(path);
    static constexpr const char* kNames[] = {"RowCount", "TableName", "FieldCount", "TableNumber"};
    for (const std::string& sub : subKeys) {
      const RegValue* v[4];
      if (!AllValues(data, path + "\\" + sub, kNames, v)) continue;
      TTableRec rec;
      rec.RowCount = Int(*v[0], 0, kMaxRows);
      rec.Name = Text(*v[1]);
      rec.FieldCount = Int(*v[2], 0, kMaxByte);
      rec.Number = Int(*v[3], 0, kMaxByte);
      // More cells than any device table has: this entry is not ours.
      if (!IsPlausibleTable(rec)) throw ECacheError("implausible table size");
      LoadFieldDefsFrom(Add(rec), data);
    }
    SortByNumber();
    return !subKeys.empty();
  } catch (const std::exception&) {
    Clear();
    return false;
  }
}

void TTables::SaveToRegistry() {
  const std::string path = KeyPath();
  if (path.empty()) return;
  try {
    Registry::Default().Update([&](RegistryData& data) {
      data.DeleteTree(path);
      for (const auto& t : m_items) {
        const std::string sub = path + "\\" + std::to_string(t->Data.Number);
        data.SetValue(sub, "RowCount", Dword(t->Data.RowCount));
        data.SetValue(sub, "FieldCount", Dword(t->Data.FieldCount));
        data.SetValue(sub, "TableName", String(t->Data.Name));
        data.SetValue(sub, "TableNumber", Dword(t->Data.Number));
        SaveFieldDefsTo(*t, data);
      }
    });
  } catch (const std::exception&) {
  }
}

bool IsPlausibleTable(const TTableRec& table) {
  return table.RowCount >= 0 && table.FieldCount >= 0 &&
         int64_t{table.RowCount} * table.FieldCount <= kMaxTableCells;
}

void ExpandRows(TTable& table) {
  const TTableRec& t = table.Data;
  TFields& fields = table.Fields();
  if (!IsPlausibleTable(t)) throw std::length_error(TooLargeText(t));
  if (fields.Count() < t.FieldCount) throw std::logic_error("row 1 is not whole");
  for (int32_t row = 2; row <= t.RowCount; ++row) {
    for (int32_t j = 0; j < t.FieldCount; ++j) {
      TFldRec rec = fields.Items(j).Data;
      rec.Row = row;
      fields.Add(rec);
    }
  }
}

std::string TooLargeText(const TTableRec& table) {
  char text[200];
  std::snprintf(text, sizeof text,
                "Таблица слишком велика: %d рядов по %d полей (допускается не более %d ячеек).",
                table.RowCount, table.FieldCount, kMaxTableCells);
  return text;
}

// --- names, values, display ------------------------------------------------------

std::string NormalizeName(const std::string& name) {
  std::u16string text = Utf8ToUtf16(name);
  for (char16_t& c : text) c = Lower(c);
  if (!text.empty()) text[0] = Upper(text[0]);
  return Utf16ToUtf8(text);
}

int32_t ValidateFieldValue(const TFldRec& field, const std::string& text) {
  std::string_view digits = text;
  if (digits.size() > 1 && digits[0] == '+' && digits[1] != '-') digits.remove_prefix(1);
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size())
    throw std::invalid_argument("\"" + text + "\" не является целым числом");
  if (value < field.MinValue || value > field.MaxValue) {
    char message[160];
    std::snprintf(message, sizeof message,
                  "Неверное значение поля (%d).\r\nЗначение поля должно лежать в диапазоне %d..%d",
                  value, field.MinValue, field.MaxValue);
    throw std::range_error(message);
  }
  return value;
}

std::string FieldTypeText(const TFldRec& field) {
  return field.FieldType ? "строка" : "число";
}

int32_t ShownMinValue(const TFldRec& field) {
  return field.FieldType ? 0 : field.MinValue;
}

int32_t ShownMaxValue(const TFldRec& field) {
  return field.FieldType ? field.Size : field.MaxValue;
}

// --- device steps ------------------------------------------------------------------

namespace dd = drv_dispid;

bool ReadTableStruct(IDispatch& drv, TTableRec& rec) {
  DriverClient d(drv);
  d.Set(dd::kTableNumber, rec.Number);
  const int32_t code = d.Call(dd::kGetTableStruct);
  if (code == kNoSuchTable) return false;
  if (code != 0) throw EDriverError(code, d.Text(dd::kResultCodeDescription));
  rec.Name = NormalizeName(d.Text(dd::kTableName));
  rec.RowCount = d.Int(dd::kRowNumber);
  rec.FieldCount = d.Int(dd::kFieldNumber);
  return true;
}

void ReadFieldStruct(IDispatch& drv, TFldRec& rec) {
  DriverClient d(drv);
  d.Set(dd::kTableNumber, rec.Table);
  d.Set(dd::kFieldNumber, rec.Number);
  d.Check(dd::kGetFieldStruct);
  rec.Name = NormalizeName(d.Text(dd::kFieldName));
  rec.Size = d.Int(dd::kFieldSize);
  rec.FieldType = d.Bool(dd::kFieldType);
  rec.MinValue = d.Int(dd::kMINValueOfField);
  rec.MaxValue = d.Int(dd::kMAXValueOfField);
}

void ReadFieldValue(IDispatch& drv, TField& field) {
  DriverClient d(drv);
  const TFldRec& f = field.Data;
  d.Set(dd::kRowNumber, f.Row);
  d.Set(dd::kTableNumber, f.Table);
  d.Set(dd::kFieldNumber, f.Number);
  d.Set(dd::kFieldSize, f.Size);
  d.Set(dd::kFieldType, f.FieldType);
  // The size and type come from the model, so the driver need not ask the
  // device for the field's structure again before every value.
  d.Check(dd::kReadTable2);
  field.SetValue(f.FieldType ? d.Text(dd::kValueOfFieldString)
                             : std::to_string(d.Int(dd::kValueOfFieldInteger)));
}

void WriteFieldValue(IDispatch& drv, TField& field, const std::string& text) {
  DriverClient d(drv);
  const TFldRec& f = field.Data;
  d.Set(dd::kRowNumber, f.Row);
  d.Set(dd::kTableNumber, f.Table);
  d.Set(dd::kFieldNumber, f.Number);
  if (f.FieldType)
    d.SetText(dd::kValueOfFieldString, text);
  else
    d.Set(dd::kValueOfFieldInteger, ValidateFieldValue(f, text));
  d.Check(dd::kWriteTable);
  field.SetValue(text);
}

std::string ComputeFirmwareKey(IDispatch& drv) {
  DriverClient d(drv);
  // The device connection stays open: no Disconnect, and the server
  // connection is the caller's.
  DriverSession session(d, {.disconnect = false});
  d.Check(dd::kGetECRStatus);
  const int32_t build = d.Int(dd::kECRBuild);
  std::string key = d.Text(dd::kECRSoftVersion) + std::to_string(build);
  session.Close();
  return key;
}

}  // namespace varn
