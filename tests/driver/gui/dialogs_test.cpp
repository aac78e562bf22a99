// The dialogs the property page opens, offscreen, on the real driver
// library, VarnSrv and the emulator: the tables list and editor with the
// progress window of their background reads, the picture loader and the
// device search.
#include <QComboBox>
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
#include "emulator/paper.h"
#include "platform/com_ports.h"
#include "tests/driver/base/bmp_writer.h"
#include "tests/driver/gui/gui_test.h"
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

// A 330 x 250 picture: shown whole, written as 200 lines of its left 320
// dots with the bar running, and printed as lines 1 to 200.
TEST_F(DialogsTest, APictureIsShownWrittenWithProgressAndTestPrinted) {
  emu::EmulatorOptions o;
  o.paperPngPath = env.Path("paper.png");
  StartDevice(o);
  const TestPicture picture = MakePicture(330, 250, {kWhite, kBlack}, [](int x, int y) {
    return x >= 316 || (x / 10 + y / 10) % 2 == 0;
  });
  const std::string file = env.Path("logo.bmp");
  std::ofstream(file, std::ios::binary) << EncodeBmp(picture, {24});

  Driver drv;
  gui::TfmPicture dialog(nullptr, drv.Object());
  dialog.show();
  auto* download = Find<QPushButton>(dialog, "btnDownload");
  auto* print = Find<QPushButton>(dialog, "btnTestPrint");
  EXPECT_FALSE(download->isEnabled());
  EXPECT_FALSE(print->isEnabled());
  dialog.OpenFile(QString::fromStdString(file));
  const QPixmap shown = Find<QLabel>(dialog, "Image")->pixmap();
  EXPECT_EQ(shown.size(), QSize(330, 250));
  const QImage image = shown.toImage();
  EXPECT_EQ(image.pixelColor(5, 5), Qt::black);
  EXPECT_EQ(image.pixelColor(15, 5), Qt::white);
  EXPECT_EQ(image.pixelColor(325, 249), Qt::black);
  EXPECT_TRUE(download->isEnabled());
  Screenshot(&dialog, "TfmPicture");

  std::vector<int> positions;
  bool busyButtons = false;
  auto* bar = Find<QProgressBar>(dialog, "ProgressBar");
  QObject::connect(bar, &QProgressBar::valueChanged, [&](int value) {
    positions.push_back(value);
    busyButtons = busyButtons || download->isEnabled() || print->isEnabled();
  });
  OnModal errors;
  QTest::mouseClick(download, Qt::LeftButton);
  EXPECT_EQ(errors.text, "");
  // Up by rows to 100 (y * 100 / 199 moves on every other row), then back to 0.
  ASSERT_EQ(positions.size(), 101u);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end() - 1));
  EXPECT_EQ(positions[0], 1);
  EXPECT_EQ(positions[99], 100);
  EXPECT_EQ(positions[100], 0);
  EXPECT_FALSE(busyButtons);
  EXPECT_TRUE(download->isEnabled());
  // Rows to lines 0..199 of the device's memory: the last one to 199.
  EXPECT_THAT(drv.Text(u"ECRInput"), ::testing::StartsWith("02 2E C0 97 1C 00 00 C7 "));

  QTest::mouseClick(print, Qt::LeftButton);
  EXPECT_EQ(errors.text, "");
  EXPECT_THAT(Paper(), HasSubstr("[graphics] 1..200\n"));
  // Both actions unlocked on their way out; with the port held by another
  // client the next one fails with its lock's text and takes nothing.
  Driver other;
  ASSERT_EQ(other.Call(u"ServerConnect"), 0);
  ASSERT_EQ(other.Call(u"LockPort"), 0);
  QTest::mouseClick(print, Qt::LeftButton);
  EXPECT_TRUE(errors.text.startsWith("Порт заблокирован")) << gui::U8(errors.text);
  EXPECT_EQ(other.Call(u"UnlockPort"), 0);
  EXPECT_EQ(drv.Call(u"LockPort"), 0);
  EXPECT_EQ(drv.Call(u"UnlockPort"), 0);
  const PaperPng paper = ReadPaperPng(env.Path("paper.png"));
  ASSERT_EQ(paper.height, 200);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 320; ++x)
      ASSERT_EQ(paper.Ink(emu::TPaper::kMargin + x, y), picture.Dark(x, y)) << x << ", " << y;
}

// The emulator at 9600 on COM2, every other port missing: the search from
// the page finds it, and a double-click makes it the page's and the
// driver's port and rate.
TEST_F(DialogsTest, ASearchFromThePageFindsTheDeviceAndTheChoiceComesBack) {
  for (int n = 1; n <= 32; ++n)
    registry.WriteString(kPortsKey, "COM" + std::to_string(n), env.Path("no-such-port"));
  emu::EmulatorOptions o;
  o.baudCode = 2;
  StartDevice(o, 2);
  Driver drv;
  gui::TfmPage page;
  page.SetObjects({&drv.Object()});
  page.Activate(nullptr);

  QStringList found;
  bool started = false;
  Modals search([&](QWidget* w) {
    if (w->objectName() != "TfmFind") return false;
    auto* list = Find<QTreeWidget>(*w, "ListView");
    auto* start = Find<QPushButton>(*w, "btnStart");
    if (!started) {
      EXPECT_FALSE(Find<QPushButton>(*w, "btnStop")->isEnabled());
      QTest::mouseClick(start, Qt::LeftButton);
      started = true;
      EXPECT_TRUE(Find(*w, "Animate")->isVisible());
      return false;
    }
    if (!start->isEnabled()) return false;  // still searching
    EXPECT_FALSE(Find(*w, "Animate")->isVisible());
    EXPECT_EQ(list->topLevelItemCount(), 32);
    QTreeWidgetItem* com2 = list->topLevelItem(1);
    for (int c = 0; c < 3; ++c) found << com2->text(c);
    EXPECT_EQ(list->topLevelItem(5)->text(2), "-2: СOM порт не доступен");
    list->setCurrentItem(com2);
    Screenshot(w, "TfmFind");
    DoubleClick(list->viewport(), list->visualItemRect(com2).center());
    return true;
  });
  QTest::mouseClick(Find<QPushButton>(page, "btnFind"), Qt::LeftButton);
  EXPECT_EQ(found.join("|"), "СOM2|9600|ФР Варн");
  EXPECT_EQ(Find<QComboBox>(page, "cbComNumber")->currentIndex(), 1);
  EXPECT_EQ(Find<QComboBox>(page, "cbBaudRate")->currentIndex(), 2);
  EXPECT_EQ(drv.Int(u"ComNumber"), 2);
  EXPECT_EQ(drv.Int(u"BaudRate"), 2);
  QTest::mouseClick(Find<QPushButton>(page, "btnCheck"), Qt::LeftButton);
  EXPECT_EQ(Find<QLineEdit>(page, "edtResult")->text(), "0: Ошибок нет.");
  // The check let go of everything: another client locks the port at once,
  // and the page's driver has no server connection left.
  EXPECT_FALSE(drv.Get(u"ServerConnected").ToBool());
  Driver other;
  other.Set(u"ComNumber", 2);
  ASSERT_EQ(other.Call(u"ServerConnect"), 0);
  ASSERT_EQ(other.Call(u"LockPort"), 0);
  // Refused the lock, the check stops there and still closes everything.
  QTest::mouseClick(Find<QPushButton>(page, "btnCheck"), Qt::LeftButton);
  EXPECT_TRUE(Find<QLineEdit>(page, "edtResult")->text().startsWith("-18: Порт заблокирован"))
      << gui::U8(Find<QLineEdit>(page, "edtResult")->text());
  EXPECT_FALSE(drv.Get(u"ServerConnected").ToBool());
  EXPECT_EQ(other.Call(u"UnlockPort"), 0);
  page.Deactivate();
}

}  // namespace
}  // namespace varn::test
