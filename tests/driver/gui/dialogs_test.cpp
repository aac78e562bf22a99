// The dialogs the property page opens, offscreen, on the real driver
// library, VarnSrv and the emulator: the tables list and editor with the
// progress window of their background reads, the picture loader and the
// device search.
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>
#include <fstream>

#include "driver/gui/dialogs.h"
#include "driver/gui/page.h"
#include "driver/gui/picture.h"
#include "driver/gui/tables.h"
#include "driver/services/operations.h"
#include "platform/com_ports.h"
#include "tests/driver/gui/gui_test.h"
#include "tests/driver/services/bmp_writer.h"
#include "tests/support/paper_png.h"

namespace varn::test {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

constexpr int kValue = 6;  // the grid's "Значение" column

class DialogsTest : public GuiTest {
 protected:
  static QStringList Column(QTableWidget* grid, int column) {
    QStringList texts;
    for (int r = 0; r < grid->rowCount(); ++r) texts << grid->item(r, column)->text();
    return texts;
  }
  static QLineEdit* Value(QTableWidget* grid, int row) {
    return static_cast<QLineEdit*>(grid->cellWidget(row, kValue));
  }
  // The columns fit their texts (with two blanks) and fill the grid.
  static void CheckColumnWidths(QTableWidget* grid) {
    const QFontMetrics metrics(grid->font());
    int total = 0;
    for (int c = 0; c < grid->columnCount(); ++c) {
      int widest = metrics.horizontalAdvance(grid->horizontalHeaderItem(c)->text());
      for (int r = 0; r < grid->rowCount(); ++r)
        widest =
            std::max(widest, metrics.horizontalAdvance(c == kValue ? Value(grid, r)->text()
                                                                   : grid->item(r, c)->text()));
      EXPECT_GE(grid->columnWidth(c), widest + metrics.horizontalAdvance("  ")) << c;
      total += grid->columnWidth(c);
    }
    EXPECT_GE(total, grid->viewport()->width());
  }
  // The value of a table cell as a second driver object reads it.
  int32_t DeviceValue(Driver& drv, int table, int row, int field) {
    drv.Set(u"TableNumber", Variant(table));
    drv.Set(u"RowNumber", Variant(row));
    drv.Set(u"FieldNumber", Variant(field));
    EXPECT_EQ(drv.Call(u"ReadTable"), 0);
    return drv.Int(u"ValueOfFieldInteger");
  }
  std::string DeviceText(Driver& drv, int table, int row, int field) {
    drv.Set(u"TableNumber", Variant(table));
    drv.Set(u"RowNumber", Variant(row));
    drv.Set(u"FieldNumber", Variant(field));
    EXPECT_EQ(drv.Call(u"ReadTable"), 0);
    return drv.Text(u"ValueOfFieldString");
  }
};

TEST_F(DialogsTest, TheEditorShowsEveryCellOfATableOfThreeRowsAndFourFields) {
  Driver drv;
  TTable table({"Тестовая таблица", 9, 3, 4});
  for (int row = 1; row <= 3; ++row)
    for (int number = 1; number <= 4; ++number) {
      TFldRec f{"Поле " + std::to_string(number),
                number == 4 ? 10 : 2,
                9,
                row,
                number,
                number == 4,
                0,
                1000};
      table.Fields().Add(f).SetValue(number == 4 ? "Текст" : std::to_string(row * 10 + number));
    }
  gui::TfmTable editor(nullptr, drv.Object(), table);
  editor.show();
  auto* grid = Find<QTableWidget>(editor, "Grid");
  ASSERT_EQ(grid->rowCount(), 12);
  EXPECT_EQ(Column(grid, 0).join(","), "1,1,1,1,2,2,2,2,3,3,3,3");
  EXPECT_EQ(Column(grid, 1).join(","), "1,2,3,4,1,2,3,4,1,2,3,4");
  EXPECT_EQ(Column(grid, 3).join(","), QString("число,число,число,строка,").repeated(3).chopped(1));
  EXPECT_EQ(grid->item(7, 5)->text(), "10");  // a string's maximum is its size
  EXPECT_EQ(Value(grid, 5)->text(), "22");
  EXPECT_EQ(grid->currentRow(), 0);
  EXPECT_EQ(grid->currentColumn(), kValue);
  CheckColumnWidths(grid);
  editor.resize(editor.width() + 200, editor.height());
  QApplication::processEvents();
  CheckColumnWidths(grid);
}

// The tables read with a slow device: stopping the progress window in the
// middle is silent (-30), leaves the port free and caches nothing; a full
// read then shows the list, and the editor writes a value on Enter.
TEST_F(DialogsTest, StoppingATablesReadThenEditingATable) {
  emu::EmulatorOptions slow;
  slow.faults.answerDelay = 150ms;
  StartDevice(slow);
  Driver drv;
  Driver other;
  ASSERT_EQ(other.Call(u"ServerConnect"), 0);

  QString progressText;
  {
    Modals stop([&](QWidget* w) {
      if (w->objectName() != "TfmProgress") return false;
      progressText = Find<QLabel>(*w, "lblInfo")->text();
      if (progressText != "Прочитано таблиц: 2") return false;
      EXPECT_EQ(w->windowTitle(), "Чтение описаний таблиц...");
      Screenshot(w, "TfmProgress");
      QTest::mouseClick(Find<QPushButton>(*w, "btnCancel"), Qt::LeftButton);
      return true;
    });
    try {
      gui::ShowTablesDialog(nullptr, drv.Object());
      ADD_FAILURE() << "the read was not stopped";
    } catch (const EDriverError& e) {
      EXPECT_EQ(e.Code, -30);
      EXPECT_STREQ(e.what(), "Прервано пользователем.");
    }
  }
  EXPECT_EQ(progressText, "Прочитано таблиц: 2");
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  // The worker has unlocked: another client takes the port at once.
  EXPECT_EQ(other.Call(u"LockPort"), 0);
  EXPECT_EQ(other.Call(u"UnlockPort"), 0);

  // At full speed: the list, table 4 opened, a value written on Enter.
  devices.back()->SetFaults({});
  int tableLines = 0;
  QStringList rows, fields;
  QString title, refused, refusedCaption, keptText, filtered, clipped;
  std::string leftText;
  int32_t written = 0;
  Modals flow([&](QWidget* w) {
    if (w->objectName() == "TfmTables") {
      auto* list = Find<QTreeWidget>(*w, "ListView");
      tableLines = list->topLevelItemCount();
      EXPECT_EQ(list->currentItem(), list->topLevelItem(0));
      Screenshot(w, "TfmTables");
      list->setCurrentItem(list->topLevelItem(3));
      QTimer::singleShot(0, Find<QPushButton>(*w, "btnOpen"), &QPushButton::click);
      return true;
    }
    if (w->objectName() == "TfmTable") {
      title = w->windowTitle();
      auto* grid = Find<QTableWidget>(*w, "Grid");
      rows = Column(grid, 0);
      fields = Column(grid, 1);
      CheckColumnWidths(grid);
      Screenshot(w, "TfmTable");
      // Row 2's rate (a number of 0..9999): letters dropped, then written.
      QLineEdit* rate = Value(grid, 2);
      rate->clear();
      Type(rate, "-1a5б0");
      filtered = rate->text();
      rate->clear();
      QTest::keyClicks(rate, "1500");
      QTest::keyClick(rate, Qt::Key_Return);
      written = DeviceValue(other, 4, 2, 1);
      // A string cell takes at most its size (12); leaving a changed cell writes it.
      grid->setCurrentCell(3, kValue);
      QLineEdit* name = Value(grid, 3);
      name->clear();
      Type(name, "Очень длинное имя");
      clipped = name->text();
      name->setText("НДС 12%");
      grid->setCurrentCell(4, kValue);
      leftText = DeviceText(other, 4, 2, 2);
      // A refused value: the error box (a modal loop: posted), the cell keeps
      // the text, the device its value.
      QTimer::singleShot(0, w, [&, w, grid] {
        QLineEdit* first = Value(grid, 0);
        first->setText("20000");
        static_cast<gui::TfmTable*>(w)->WriteRow(0, true);
        keptText = first->text();
        static_cast<QDialog*>(w)->reject();
        QTimer::singleShot(0, w->parentWidget(),
                           [p = w->parentWidget()] { static_cast<QDialog*>(p)->reject(); });
      });
      return true;
    }
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      refused = box->text();
      refusedCaption = box->windowTitle();
      box->reject();
    }
    return true;  // the progress windows close by themselves
  });
  gui::ShowTablesDialog(nullptr, drv.Object());
  EXPECT_EQ(tableLines, 7);
  EXPECT_EQ(title, "Налоговые ставки");
  EXPECT_EQ(rows.join(","), "1,1,2,2,3,3,4,4");
  EXPECT_EQ(fields.join(","), "1,2,1,2,1,2,1,2");
  EXPECT_EQ(filtered, "-150");
  EXPECT_EQ(written, 1500);
  EXPECT_EQ(clipped, "Очень длинно");
  EXPECT_EQ(leftText, "НДС 12%");
  EXPECT_EQ(refused,
            "Неверное значение поля (20000).\r\nЗначение поля должно лежать в диапазоне 0..9999");
  EXPECT_EQ(refusedCaption, "Драйвер Варн");
  EXPECT_EQ(keptText, "20000");
  EXPECT_EQ(DeviceValue(other, 4, 1, 1), 2000);
}

}  // namespace
}  // namespace varn::test
