// The tables model and its cache in a real registry file, without a device:
// what a save writes and a load rebuilds, the cache entries a load skips or
// refuses, the firmware key as a key name, names and value checks.
#include "driver/services/tables.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "tests/support/test_env.h"

namespace varn {
namespace {

using ::testing::ElementsAre;

const std::string kKey = "A.112";
const std::string kPath = std::string(kTableDefsKey) + "\\" + kKey;

TFldRec Field(int32_t number, const std::string& name, bool isString, int32_t size, int32_t min = 0,
              int32_t max = 0) {
  TFldRec f;
  f.Name = name;
  f.Number = number;
  f.FieldType = isString;
  f.Size = size;
  f.MinValue = min;
  f.MaxValue = max;
  f.Row = 1;
  return f;
}

// Table 4 with two rows of two fields; table 2 with one field and one row.
void Fill(TTables& tables) {
  TTable& t4 = tables.Add({"Налоговые ставки", 4, 2, 2});
  for (int row = 1; row <= 2; ++row) {
    TFldRec a = Field(1, "Ставка, 0.01%", false, 2, 0, 9999), b = Field(2, "Название", true, 12);
    a.Table = b.Table = 4;
    a.Row = b.Row = row;
    t4.Fields().Add(a);
    t4.Fields().Add(b);
  }
  TTable& t2 = tables.Add({"Отделы", 2, 1, 1});
  TFldRec c = Field(1, "Название отдела", true, 20);
  c.Table = 2;
  t2.Fields().Add(c);
}

// Row, field number and name of every cell, in list order.
std::vector<std::string> Cells(const TTable& t) {
  std::vector<std::string> out;
  for (int i = 0; i < t.Fields().Count(); ++i) {
    const TFldRec& f = t.Fields().Items(i).Data;
    EXPECT_EQ(t.Fields().Items(i).Index(), i);
    EXPECT_EQ(f.Table, t.Data.Number);
    out.push_back(std::to_string(f.Row) + "." + std::to_string(f.Number) + " " + f.Name);
  }
  return out;
}

std::string MessageOfLength(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::length_error& e) {
    return e.what();
  }
  return "no error";
}

class TablesCacheTest : public ::testing::Test {
 protected:
  // A cached field description with all six values.
  void PutField(const std::string& tablePath, const std::string& sub, int32_t number,
                const std::string& name) {
    const std::string p = tablePath + "\\FIELDDEFS\\" + sub;
    reg.WriteString(p, "Name", name);
    reg.WriteDword(p, "Size", 1);
    reg.WriteDword(p, "Number", static_cast<uint32_t>(number));
    reg.WriteDword(p, "Type", 0);
    reg.WriteDword(p, "MinValue", 0);
    reg.WriteDword(p, "MaxValue", 9);
  }
  void PutTable(const std::string& sub, int32_t number, int32_t rows, int32_t fields) {
    const std::string p = kPath + "\\" + sub;
    reg.WriteDword(p, "RowCount", static_cast<uint32_t>(rows));
    reg.WriteDword(p, "FieldCount", static_cast<uint32_t>(fields));
    reg.WriteString(p, "TableName", "Таблица " + std::to_string(number));
    reg.WriteDword(p, "TableNumber", static_cast<uint32_t>(number));
  }
  bool Load(TTables& tables) {
    tables.Key = kKey;
    return tables.LoadFromRegistry();
  }

  test::TempEnv env;
  Registry reg = Registry::Default();
};

TEST_F(TablesCacheTest, SaveWritesTheDesignedKeysAndLoadRebuildsTheTablesSorted) {
  TTables saved;
  saved.Key = kKey;
  Fill(saved);
  reg.WriteDword(kPath + "\\9", "Stale", 1);  // replaced, not merged
  saved.SaveToRegistry();

  EXPECT_THAT(reg.SubKeys(kPath), ElementsAre("4", "2"));
  EXPECT_EQ(reg.ValueNames(kPath + "\\4"),
            (std::vector<std::string>{"RowCount", "FieldCount", "TableName", "TableNumber"}));
  EXPECT_EQ(reg.ReadString(kPath + "\\4", "TableName"), "Налоговые ставки");
  // Row 1 only, by position, values in the designed order.
  EXPECT_THAT(reg.SubKeys(kPath + "\\4\\FIELDDEFS"), ElementsAre("0", "1"));
  EXPECT_EQ(reg.ValueNames(kPath + "\\4\\FIELDDEFS\\1"),
            (std::vector<std::string>{"Name", "Size", "Number", "Type", "MinValue", "MaxValue"}));
  EXPECT_EQ(reg.ReadDword(kPath + "\\4\\FIELDDEFS\\1", "Type"), 1u);
  EXPECT_EQ(reg.ReadDword(kPath + "\\4\\FIELDDEFS\\0", "MaxValue"), 9999u);

  TTables loaded;
  std::vector<int32_t> added;
  loaded.OnTableAdded = [&](TTable& t) { added.push_back(t.Data.Number); };
  ASSERT_TRUE(Load(loaded));
  EXPECT_THAT(added, ElementsAre(4, 2));  // in the registry's order, then sorted
  ASSERT_EQ(loaded.Count(), 2);
  EXPECT_EQ(loaded.Items(0).Data.Number, 2);
  EXPECT_EQ(loaded.Items(1).Data.Name, "Налоговые ставки");
  EXPECT_EQ(loaded.Items(1).Owner(), &loaded);
  EXPECT_EQ(loaded.FindByNumber(4), &loaded.Items(1));
  EXPECT_EQ(loaded.FindByNumber(3), nullptr);
  EXPECT_EQ(Cells(loaded.Items(1)), Cells(saved.Items(0)));
  EXPECT_EQ(Cells(*loaded.FindByNumber(2)), (std::vector<std::string>{"1.1 Название отдела"}));
  const TFldRec& rate = loaded.Items(1).Fields().Items(2).Data;  // row 2, field 1
  EXPECT_FALSE(rate.FieldType);
  EXPECT_EQ(rate.Size, 2);
  EXPECT_EQ(rate.MaxValue, 9999);

  // Another firmware has a cache of its own.
  TTables other;
  other.Key = "A.113";
  EXPECT_FALSE(other.LoadFromRegistry());
}

TEST_F(TablesCacheTest, SaveFieldDefsNeedsRowOneWholeAndTheKeyStaysOneKeyName) {
  TTables tables;
  tables.Key = kKey;
  Fill(tables);
  tables.SaveToRegistry();
  PutField(kPath + "\\4", "7", 8, "Лишнее");
  TTable& t4 = *tables.FindByNumber(4);
  t4.Fields().Clear();
  t4.Fields().Add(Field(1, "Одно", false, 1));
  t4.SaveFieldDefs();  // 1 of 2 fields: nothing written
  EXPECT_EQ(reg.ReadString(kPath + "\\4\\FIELDDEFS\\0", "Name"), "Ставка, 0.01%");
  t4.Fields().Add(Field(2, "Два", false, 1));
  t4.SaveFieldDefs();
  EXPECT_EQ(reg.ReadString(kPath + "\\4\\FIELDDEFS\\0", "Name"), "Одно");
  EXPECT_EQ(reg.ReadString(kPath + "\\4\\FIELDDEFS\\7", "Name"), "Лишнее");

  // Whatever the device's version text holds, the cache stays one key below
  // TableDefs; without a key nothing is read, written or deleted.
  tables.Key = "1\\..\n2";
  tables.SaveToRegistry();
  EXPECT_THAT(reg.SubKeys(kTableDefsKey), ElementsAre(kKey, "1_.._2"));
  EXPECT_TRUE(tables.LoadFromRegistry());
  EXPECT_EQ(tables.Count(), 2);
  tables.Key.clear();
  tables.SaveToRegistry();
  EXPECT_FALSE(tables.LoadFromRegistry());
  EXPECT_THAT(reg.SubKeys(kTableDefsKey), ElementsAre(kKey, "1_.._2"));
}

TEST_F(TablesCacheTest, IncompleteEntriesAreSkippedAndUnusableCachesReadFromTheDevice) {
  TTables tables;
  EXPECT_FALSE(Load(tables));  // no key at all

  // Subkeys, none of them complete: true and no tables.
  reg.WriteDword(kPath + "\\1", "RowCount", 1);
  reg.WriteDword(kPath + "\\junk", "TableNumber", 1);
  EXPECT_TRUE(Load(tables));
  EXPECT_EQ(tables.Count(), 0);

  // Table 3: one of its three field entries lacks a value, so row 1 is not
  // whole; the table loads without fields (read from the device on opening).
  PutTable("3", 3, 2, 2);
  PutField(kPath + "\\3", "0", 2, "Второе");
  PutField(kPath + "\\3", "1", 1, "Первое");
  reg.DeleteValue(kPath + "\\3\\FIELDDEFS\\1", "MaxValue");
  // Table 5: FIELDDEFS with no complete entry while it has two rows.
  PutTable("5", 5, 2, 1);
  reg.WriteDword(kPath + "\\5\\FIELDDEFS\\0", "Number", 1);
  // Table 6: complete, its entries out of order.
  PutTable("6", 6, 2, 2);
  PutField(kPath + "\\6", "0", 2, "Второе");
  PutField(kPath + "\\6", "1", 1, "Первое");
  // Table 7: more complete entries than fields.
  PutTable("7", 7, 1, 1);
  PutField(kPath + "\\7", "0", 1, "Первое");
  PutField(kPath + "\\7", "1", 2, "Второе");

  ASSERT_TRUE(Load(tables));
  ASSERT_EQ(tables.Count(), 4);
  EXPECT_EQ(tables.FindByNumber(3)->Fields().Count(), 0);
  EXPECT_EQ(tables.FindByNumber(5)->Fields().Count(), 0);
  EXPECT_EQ(tables.FindByNumber(7)->Fields().Count(), 0);
  EXPECT_EQ(Cells(*tables.FindByNumber(6)),
            (std::vector<std::string>{"1.1 Первое", "1.2 Второе", "2.1 Первое", "2.2 Второе"}));

  // Values a device never gives, or of the wrong kind, make the whole cache
  // unusable: the tables are read from the device again.
  reg.WriteDword(kPath + "\\6", "RowCount", 0xFFFFFFFF);
  EXPECT_FALSE(Load(tables));
  EXPECT_EQ(tables.Count(), 0);
  reg.WriteDword(kPath + "\\6", "RowCount", 2);
  reg.WriteString(kPath + "\\6\\FIELDDEFS\\0", "Size", "1");
  EXPECT_FALSE(Load(tables));
  reg.WriteDword(kPath + "\\6\\FIELDDEFS\\0", "Size", 1);
  EXPECT_TRUE(Load(tables));
  EXPECT_EQ(tables.Count(), 4);

  // A registry file that cannot be read: no cache, and nothing overwritten.
  const std::string broken = "Windows Registry Editor Version 5.00\r\n\r\nnot a key\r\n";
  ReplaceFileAtomically(env.RegistryFile(), broken);
  EXPECT_FALSE(Load(tables));
  tables.Add({"Новая", 1, 1, 0});
  tables.SaveToRegistry();  // swallowed
  EXPECT_EQ(test::ReadFileOrEmpty(env.RegistryFile()), broken);
}

TEST_F(TablesCacheTest, ImplausibleEntriesAreNotBuiltAndNoKeyReadsNothing) {
  // One table claiming 65535 rows of 255 fields with row 1 whole: 16.7 M
  // cells if built. Such an entry is no cache of ours: read from the device.
  reg.Update([](RegistryData& d) {
    const std::string table = kPath + "\\9";
    d.SetValue(table, "RowCount", {RegValue::Type::Dword, {}, 65535});
    d.SetValue(table, "FieldCount", {RegValue::Type::Dword, {}, 255});
    d.SetValue(table, "TableName", {RegValue::Type::String, "Огромная", 0});
    d.SetValue(table, "TableNumber", {RegValue::Type::Dword, {}, 9});
    for (uint32_t i = 0; i < 255; ++i) {
      const std::string f = table + "\\FIELDDEFS\\" + std::to_string(i);
      d.SetValue(f, "Name", {RegValue::Type::String, "Поле", 0});
      for (const char* n : {"Size", "Type", "MinValue", "MaxValue"})
        d.SetValue(f, n, {RegValue::Type::Dword, {}, 1});
      d.SetValue(f, "Number", {RegValue::Type::Dword, {}, i + 1});
    }
  });
  TTables tables;
  EXPECT_FALSE(Load(tables));
  EXPECT_EQ(tables.Count(), 0);
  // The same table as a device answer: no cells, and a clear refusal.
  TTable& huge = tables.Add({"Огромная", 9, 65535, 255});
  huge.LoadFieldDefs();
  EXPECT_EQ(huge.Fields().Count(), 0);
  EXPECT_FALSE(IsPlausibleTable(huge.Data));
  EXPECT_TRUE(IsPlausibleTable({"", 1, 256, 256}));  // the limit itself
  EXPECT_FALSE(IsPlausibleTable({"", 1, 257, 256}));
  EXPECT_EQ(MessageOfLength([&] { ExpandRows(huge); }),
            "Таблица слишком велика: 65535 рядов по 255 полей (допускается не более 65536 "
            "ячеек).");

  // A field number the table cannot have (255 of 2 fields), or one number
  // twice: that table's descriptions are read from the device again.
  reg.DeleteKey(kPath);
  PutTable("4", 4, 3, 2);
  PutField(kPath + "\\4", "0", 1, "Первое");
  PutField(kPath + "\\4", "1", 255, "Второе");
  PutTable("5", 5, 1, 2);
  PutField(kPath + "\\5", "0", 1, "Первое");
  PutField(kPath + "\\5", "1", 1, "Снова первое");
  ASSERT_TRUE(Load(tables));
  EXPECT_EQ(tables.FindByNumber(4)->Fields().Count(), 0);
  EXPECT_EQ(tables.FindByNumber(5)->Fields().Count(), 0);
  reg.WriteDword(kPath + "\\4\\FIELDDEFS\\1", "Number", 2);
  ASSERT_TRUE(Load(tables));
  EXPECT_EQ(tables.FindByNumber(4)->Fields().Count(), 6);

  // Without a firmware key nothing is read: not the keys at the root.
  PutField("4", "0", 1, "Первое");
  PutField("4", "1", 2, "Второе");
  tables.Key.clear();
  TTable& rootless = tables.Add({"Без ключа", 4, 1, 2});
  rootless.Fields().Add(Field(1, "Старое", false, 1));
  rootless.LoadFieldDefs();
  EXPECT_EQ(rootless.Fields().Count(), 0);
}

TEST(TablesModel, NamesValuesAndWhatTheDialogsShow) {
  EXPECT_EQ(NormalizeName("ЗАГОЛОВОК"), "Заголовок");
  EXPECT_EQ(NormalizeName("заголовок"), "Заголовок");
  EXPECT_EQ(NormalizeName("ЁЛКА И ҐАНОК, FONT 2"), "Ёлка и ґанок, font 2");
  EXPECT_EQ(NormalizeName("ёж"), "Ёж");
  EXPECT_EQ(NormalizeName("1-Я СТРОКА"), "1-я строка");
  EXPECT_EQ(NormalizeName(""), "");

  TFldRec number = Field(3, "Яркость", false, 1, 0, 3);
  EXPECT_EQ(ValidateFieldValue(number, "0"), 0);
  EXPECT_EQ(ValidateFieldValue(number, "+3"), 3);
  try {
    ValidateFieldValue(number, "5");
    ADD_FAILURE() << "5 is out of 0..3";
  } catch (const std::range_error& e) {
    EXPECT_STREQ(e.what(),
                 "Неверное значение поля (5).\r\nЗначение поля должно лежать в диапазоне 0..3");
  }
  EXPECT_THROW(ValidateFieldValue(number, "-1"), std::range_error);
  for (const char* bad : {"", "abc", "1.5", "3 ", "99999999999", "+-1", "0x1"})
    EXPECT_THROW(ValidateFieldValue(number, bad), std::invalid_argument) << bad;

  TFldRec text = Field(1, "Имя", true, 21, 7, 8);
  EXPECT_EQ(FieldTypeText(text), "строка");
  EXPECT_EQ(FieldTypeText(number), "число");
  EXPECT_EQ(ShownMinValue(text), 0);
  EXPECT_EQ(ShownMaxValue(text), 21);
  EXPECT_EQ(ShownMinValue(number), 0);
  EXPECT_EQ(ShownMaxValue(number), 3);

  TFields fields;
  TField& f = fields.Add(text);
  std::vector<std::string> changes;
  f.OnChange = [&](TField& changed) { changes.push_back(changed.Value()); };
  f.SetValue("Кассир");
  f.SetValue("Кассир");
  f.SetValue("кассир");
  EXPECT_THAT(changes, ElementsAre("Кассир", "кассир"));
}

}  // namespace
}  // namespace varn
