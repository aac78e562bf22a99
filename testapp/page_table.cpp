// Таблицы: the device's settings tables, their structure, and reading and
// writing one field of one row.
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <limits>

#include "testapp/page_controls.h"
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

// The integer a value text starts with: blanks, a sign and the digits as
// far as they fit in 32 bits; 0 when it starts with no number.
int32_t LeadingInteger(const QString& text) {
  qsizetype i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int64_t next = value * 10 + (text[i].unicode() - '0');
    if (next > std::numeric_limits<int32_t>::max()) break;
    value = next;
  }
  return static_cast<int32_t>(negative ? -value : value);
}

class TfmTable : public TCallPage {
 public:
  TfmTable(QWidget* owner, TDriver& driver) : TCallPage(owner, driver) {
    setObjectName("fmTable");
    m_table = new TUpDownEdit("edtTableNumber", "1", 0, 255);
    m_field = new TUpDownEdit("edtFieldNumber", "1", 0, 255);
    m_row = new TUpDownEdit("edtRowNumber", "1", 0, 255);
    m_value = new QLineEdit("0123456789012345678901234567890123456789");
    m_value->setObjectName("edtValue");
    m_memo = new QPlainTextEdit;
    m_memo->setObjectName("Memo");
    m_memo->setReadOnly(true);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->addWidget(NewLabel("lblTableNumber", "Номер таблицы:", m_table), 0, 0);
    grid->addWidget(m_table, 0, 1);
    grid->addWidget(NewLabel("lblFieldNumber", "Номер поля:", m_field), 1, 0);
    grid->addWidget(m_field, 1, 1);
    grid->addWidget(NewLabel("lblRowNumber", "Номер ряда:", m_row), 2, 0);
    grid->addWidget(m_row, 2, 1);
    int row = 0;
    const auto add = [&](const char* name, const QString& text, std::function<void()> onClick) {
      grid->addWidget(AddButton(name, text, std::move(onClick)), row++, 2);
    };
    add("btnGetTableStruct", "Получить структуру таблицы", [this] { GetTableStruct(); });
    add("btnGetFieldStruct", "Получить структуру поля", [this] { GetFieldStruct(); });
    add("btnReadTable", "Прочитать таблицу", [this] { ReadTable(); });
    add("btnWriteTable", "Записать таблицу", [this] { WriteTable(); });
    add("btnInitTable", "Инициализировать таблицы", [this] { InitTable(); });
    grid->addWidget(NewLabel("lblValue", "Значение:", m_value), row, 0);
    grid->addWidget(m_value, row++, 1, 1, 2);
    grid->addWidget(m_memo, row, 0, 1, 3);
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(1, 1);
  }
  static QString PageTitle() { return "Таблицы"; }

 private:
  void GetTableStruct() {
    Run([&] {
      Driver().Set(drv_dispid::kTableNumber, ToInt(m_table->text()));
      if (Call(drv_dispid::kGetTableStruct) != 0) return;
      Line(Driver().Text(drv_dispid::kTableName));
      Line("Количество рядов: " + Number(drv_dispid::kRowNumber));
      Line("Количество полей: " + Number(drv_dispid::kFieldNumber));
    });
  }

  void GetFieldStruct() {
    Run([&] {
      Driver().Set(drv_dispid::kTableNumber, ToInt(m_table->text()));
      Driver().Set(drv_dispid::kFieldNumber, ToInt(m_field->text()));
      if (Call(drv_dispid::kGetFieldStruct) != 0) return;
      Line(Driver().Text(drv_dispid::kFieldName));
      const bool isString = Driver().Bool(drv_dispid::kFieldType);
      Line(isString ? "    Тип поля: строка" : "Тип поля: число");
      Line("Размер поля: " + Number(drv_dispid::kFieldSize));
      if (!isString) {
        Line("Мин. значение: " + Number(drv_dispid::kMINValueOfField));
        Line("Макс. значение: " + Number(drv_dispid::kMAXValueOfField));
      }
    });
  }

  void ReadTable() {
    Run([&] {
      SetPlace();
      if (Call(drv_dispid::kReadTable) == 0) ShowField();
    });
  }

  void WriteTable() {
    Run([&] {
      SetPlace();
      Driver().Set(drv_dispid::kValueOfFieldString, m_value->text());
      Driver().Set(drv_dispid::kValueOfFieldInteger, LeadingInteger(m_value->text()));
      if (Call(drv_dispid::kWriteTable) != 0) return;
      Line("Структура поля:");
      ShowField();
    });
  }

  void InitTable() {
    Run([&] { Call(drv_dispid::kInitTable); });
  }

  void SetPlace() {
    Driver().Set(drv_dispid::kTableNumber, ToInt(m_table->text()));
    Driver().Set(drv_dispid::kFieldNumber, ToInt(m_field->text()));
    Driver().Set(drv_dispid::kRowNumber, ToInt(m_row->text()));
  }

  // The field as ReadTable left it; its value goes into the value field.
  void ShowField() {
    Line(Driver().Text(drv_dispid::kFieldName));
    const bool isString = Driver().Bool(drv_dispid::kFieldType);
    Line(isString ? "Тип поля: строка" : "Тип поля: число");
    Line("Размер поля: " + Number(drv_dispid::kFieldSize));
    if (isString) {
      m_value->setText(Driver().Text(drv_dispid::kValueOfFieldString));
    } else {
      Line("Минимальное значение: " + Number(drv_dispid::kMINValueOfField));
      Line("Максимальное значение: " + Number(drv_dispid::kMAXValueOfField));
      m_value->setText(Number(drv_dispid::kValueOfFieldInteger));
    }
  }

  // Every button starts with an empty memo.
  void Run(const std::function<void()>& body) {
    m_memo->clear();
    body();
  }

  int32_t Call(DISPID method) { return CallDriver(method); }

  QString Number(DISPID property) { return Num(Driver().Int(property)); }
  void Line(const QString& text) { m_memo->appendPlainText(text); }

  TUpDownEdit* m_table;
  TUpDownEdit* m_field;
  TUpDownEdit* m_row;
  QLineEdit* m_value;
  QPlainTextEdit* m_memo;
};

}  // namespace

TPageClass TablePage() {
  return PageClassOf<TfmTable>();
}

}  // namespace varn::testapp
