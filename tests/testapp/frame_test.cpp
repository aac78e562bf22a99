// The test program's frame (main window, call frame, saved inputs) and its
// connection, parameters, state, fonts, printing, command and link-test
// pages, offscreen, on the real driver library (created by ProgID as the
// program does), VarnSrv and the emulator. With VARN_SCREENSHOTS set to a
// folder, the main window showing each page is saved there as
// VarnTest-<page>.png.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <memory>

#include "emulator/minimal_responder.h"
#include "platform/com_ports.h"
#include "platform/text.h"
#include "protocol/commands.h"
#include "testapp/command_text.h"
#include "testapp/main_window.h"
#include "testapp/page_controls.h"
#include "testapp/saved_inputs.h"
#include "tests/driver/core/driver_fixture.h"
#include "tests/support/qt_test.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace varn::test {
namespace {

using testapp::TfmMain;

std::string U8(const QString& s) {
  return s.toStdString();
}

void Screenshot(QWidget& w, const char* name) {
  test::Screenshot(w, "VarnTest", name);
}

[[maybe_unused]] auto* const g_qt = AddQtEnvironment("testapp_frame_test");

class FrameTest : public DriverTest {
 protected:
  std::unique_ptr<TfmMain> NewMain() {
    auto w = std::make_unique<TfmMain>();
    w->show();
    return w;
  }
  template <class W = QWidget>
  W* Find(QWidget& parent, const char* name) {
    W* w = parent.findChild<W*>(name);
    EXPECT_TRUE(w) << name;
    return w;
  }
  // Shows the page (as a click on its line does) and clicks one of its buttons.
  QWidget& Page(TfmMain& w, int index) {
    Find<QListWidget>(w, "ListBox")->setCurrentRow(index);
    EXPECT_EQ(w.PageIndex(), index);
    return *w.CurrentPage();
  }
  void Click(QWidget& page, const char* button) { Find<QPushButton>(page, button)->click(); }
  QString Field(TfmMain& w, const char* name) { return Find<QLineEdit>(w, name)->text(); }
  QStringList Memo(QWidget& page) {
    return Find<QPlainTextEdit>(page, "Memo")->toPlainText().split('\n');
  }
};

TEST_F(FrameTest, FirstRunSecondRunAndTheOutcomeOfACall) {
  StartDevice();
  {
    auto w = NewMain();
    EXPECT_EQ(w->windowTitle(), "Тест драйвера Варн " + testapp::TestVersion());
    // The window's 517 x 416 client area, wider only as far as the texts need; no
    // page's wish for more height leaves space under the others.
    EXPECT_GE(w->width(), testapp::kClientWidth);
    EXPECT_LE(w->width(), testapp::kClientWidth + 64);  // DejaVu Sans is the wider font
    EXPECT_GE(w->height(), testapp::kClientHeight);
    EXPECT_LE(w->height(), testapp::kClientHeight + 8);
    const QSize opened = w->size();
    EXPECT_LE(Find(*w, "pnlData")->height(), 305 + 8);
    // Every page has at least the room it needs (none squeezed).
    for (int i = 0; i < w->Pages().Count(); ++i) {
      QWidget* page = w->Pages().Item(i)->Page;
      EXPECT_GE(Find(*w, "pnlData")->width(), page->minimumSizeHint().width())
          << U8(page->objectName());
    }
    // The driver's control is hosted, never shown.
    EXPECT_FALSE(w->findChild<QWidget*>("TAxCtrl"));
    // First run: page 0, every list on its first entry (the speed list too).
    auto* list = Find<QListWidget>(*w, "ListBox");
    ASSERT_EQ(list->count(), 11);
    EXPECT_EQ(list->item(10)->text(), "Проверка связи");
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(w->PageIndex(), 0);
    EXPECT_EQ(w->CurrentPage()->objectName(), "fmConn");
    EXPECT_TRUE(w->CurrentPage()->isVisible());
    for (QComboBox* cb : w->findChildren<QComboBox*>())
      EXPECT_EQ(cb->currentIndex(), 0) << U8(cb->objectName());
    EXPECT_EQ(Find<QComboBox>(*w, "cbCOMNumber")->itemText(31), "COM 32");
    for (const char* name : {"edtTime", "edtResult", "edtInput", "edtOutput"}) {
      auto* e = Find<QLineEdit>(*w, name);
      EXPECT_TRUE(e->isReadOnly());
      EXPECT_EQ(e->focusPolicy(), Qt::NoFocus);
    }
    Screenshot(*w, "Main");

    // A successful call: the time, "(0) text", the frame sent, the exchange.
    QWidget& params = Page(*w, 1);
    Find<QComboBox>(params, "cbBaudRate")->setCurrentIndex(1);  // the emulator's 4800
    Click(params, "btnConnect");
    EXPECT_TRUE(Field(*w, "edtTime").endsWith(" мс.")) << U8(Field(*w, "edtTime"));
    EXPECT_EQ(Field(*w, "edtResult"), "(0) " + w->Driver().Text(u"ResultCodeDescription"));
    EXPECT_EQ(Field(*w, "edtResult"), "(0) Ошибок нет.");
    EXPECT_EQ(Field(*w, "edtInput"), w->Driver().Text(u"ECRInput"));
    EXPECT_TRUE(Field(*w, "edtInput").startsWith("02 05 11")) << U8(Field(*w, "edtInput"));
    EXPECT_FALSE(Field(*w, "edtOutput").isEmpty());
    // The device's own answer goes back into the fields.
    static_cast<testapp::TUpDownEdit*>(Find<QWidget>(params, "edtTimeout"))->SetText("1");
    Click(params, "btnGetExchangeParam");
    EXPECT_EQ(Field(*w, "edtResult"), "(0) Ошибок нет.");
    EXPECT_EQ(Find<QWidget>(params, "edtTimeout")->property("text").toString(),
              QString::number(w->Driver().Int(u"Timeout")));
    EXPECT_EQ(Find<QComboBox>(params, "cbBaudRate")->currentIndex(), 1);
    Screenshot(*w, "Params");

    // A number field that is not a number stops before the driver is called.
    static_cast<testapp::TUpDownEdit*>(Find<QWidget>(params, "edtTimeout"))->SetText("5x");
    const QString before = Field(*w, "edtInput");
    {
      OnModal box;
      Click(params, "btnSetExchangeParam");
      EXPECT_EQ(box.text, "'5x' не является целым числом.");
      EXPECT_EQ(box.caption, "Тест драйвера Варн");
    }
    EXPECT_EQ(Field(*w, "edtInput"), before);
    EXPECT_TRUE(Find<QPushButton>(params, "btnSetExchangeParam")->isEnabled());

    // Inputs to be restored: the printing page's, a list, a check box.
    QWidget& print = Page(*w, 4);
    auto* barcode = Find<QLineEdit>(print, "edtBarcode");
    EXPECT_EQ(barcode->text(), "1234567890123");  // the default keeps its 13 digits
    QTest::keyClicks(barcode, "4");
    EXPECT_EQ(barcode->text(), "1234567890123");  // typing does not add a 14th
    barcode->setText("12345");
    barcode->setFocus();
    barcode->end(false);
    QTest::keyClicks(barcode, "678901234");
    EXPECT_EQ(barcode->text(), "123456789012");  // typing stops at 12
    barcode->setText("4601234567893");
    Find<QLineEdit>(print, "edtStringForPrinting")->setText("Проверка сохранения");
    Click(print, "btnPrintString");
    EXPECT_EQ(Field(*w, "edtResult"), "(0) Ошибок нет.");
    Click(print, "btnPrintBarCode");  // 13 digits: more than the device's 5 bytes carry
    EXPECT_EQ(Field(*w, "edtResult"), "(-9) Параметр вне диапазона.");
    EXPECT_TRUE(Eventually([&] {
      return Paper().find("Проверка сохранения") != std::string::npos;
    })) << Paper();
    Find<QComboBox>(*w, "cbCOMNumber")->setCurrentIndex(4);
    Find<QCheckBox>(*w, "chbStopOnError")->setChecked(true);
    static_cast<testapp::TUpDownEdit*>(Find<QWidget>(print, "edtFontType"))->SetText("3");
    Screenshot(*w, "Print");
    EXPECT_EQ(w->size(), opened);  // the pages shown did not grow it
  }
  // Saved when the window went, under names joined by dots.
  EXPECT_EQ(
      registry.ReadString(testapp::kSavedInputsKey, "edtStringForPrinting.fmPrint.pnlData.fmMain"),
      "Проверка сохранения");
  EXPECT_EQ(registry.ReadDword(testapp::kSavedInputsKey, "cbCOMNumber.fmConn.pnlData.fmMain"), 4u);
  EXPECT_EQ(registry.ReadDword(testapp::kSavedInputsKey, "PageIndex"), 4u);
  EXPECT_FALSE(registry.ReadValue(testapp::kSavedInputsKey, "edtResult.fmMain"));  // read-only

  {
    // The second run: the same page and inputs.
    auto w = NewMain();
    EXPECT_EQ(w->PageIndex(), 4);
    EXPECT_EQ(Find<QListWidget>(*w, "ListBox")->currentRow(), 4);
    EXPECT_EQ(w->CurrentPage()->objectName(), "fmPrint");
    EXPECT_EQ(Field(*w, "edtStringForPrinting"), "Проверка сохранения");
    EXPECT_EQ(Field(*w, "edtBarcode"), "4601234567893");  // 13 again, restored whole
    EXPECT_EQ(Find<QWidget>(*w->CurrentPage(), "edtFontType")->property("text").toString(), "3");
    EXPECT_EQ(Find<QComboBox>(*w, "cbCOMNumber")->currentIndex(), 4);
    // The devices page has a list of that name too.
    EXPECT_EQ(Find<QComboBox>(*Find<QWidget>(*w, "fmParams"), "cbBaudRate")->currentIndex(), 1);
    EXPECT_TRUE(Find<QCheckBox>(*w, "chbStopOnError")->isChecked());
    EXPECT_THROW(w->ShowPage(11), std::out_of_range);
  }

  // A stored page index outside the list fails the start-up, in the box.
  registry.WriteDword(testapp::kSavedInputsKey, "PageIndex", 11);
  {
    OnModal box;
    auto w = NewMain();
    EXPECT_EQ(box.text, "Сохранённые поля ввода не восстановлены: Invalid page index");
    EXPECT_EQ(box.caption, "Тест драйвера Варн");
    EXPECT_EQ(w->PageIndex(), 0);
    EXPECT_EQ(Field(*w, "edtStringForPrinting"), "Проверка сохранения");
  }
}

TEST_F(FrameTest, AboutStateConnectionAndPrintingPages) {
  emu::EmulatorOptions options;
  options.drawerOpenTime = std::chrono::minutes(10);  // still open when the status is read
  StartDevice(options);
  auto w = NewMain();
  {
    QStringList lines;
    QString caption;
    bool icon = false, control = true;
    OnModal about([&](QWidget* box) {
      caption = box->windowTitle();
      for (QLabel* l : box->findChildren<QLabel*>()) lines << l->text();
      auto* image = box->findChild<QLabel*>("imgDriver");
      icon = image && !image->pixmap().isNull();
      control = box->findChild<QWidget*>("TAxCtrl") != nullptr;
      const char* dir = std::getenv("VARN_SCREENSHOTS");
      if (dir) box->grab().save(QString("%1/VarnTest-About.png").arg(dir));
    });
    Click(*w, "btnAbout");
    EXPECT_EQ(caption, "Тест драйвера Варн");
    EXPECT_TRUE(icon);
    EXPECT_FALSE(control);  // the driver's picture, not its control
    EXPECT_TRUE(lines.contains("Версия теста: " + testapp::TestVersion())) << U8(lines.join('|'));
    EXPECT_TRUE(lines.contains("Версия драйвера: " + testapp::TestVersion()));
    EXPECT_TRUE(lines.contains("Версия сервера: " + testapp::TestVersion()));
  }

  // "Настройка свойств" opens the driver's own settings.
  QString properties;
  {
    OnModal dialog([&](QWidget* d) { properties = d->windowTitle(); });
    Click(*w, "btnProperties");
  }
  EXPECT_FALSE(properties.isEmpty());

  QWidget& conn = Page(*w, 0);
  EXPECT_FALSE(Find<QLineEdit>(conn, "edtComputerName")->text().isEmpty());
  Click(conn, "btnServerConnect");
  EXPECT_TRUE(Field(*w, "edtResult").startsWith("(0) ")) << U8(Field(*w, "edtResult"));
  EXPECT_TRUE(w->Driver().Bool(u"ServerConnected"));
  Click(conn, "btnLockPort");
  EXPECT_TRUE(Field(*w, "edtResult").startsWith("(0) ")) << U8(Field(*w, "edtResult"));
  EXPECT_TRUE(w->Driver().Bool(u"PortLocked"));
  Click(conn, "btnUnlockPort");
  EXPECT_TRUE(Field(*w, "edtResult").startsWith("(0) ")) << U8(Field(*w, "edtResult"));
  EXPECT_FALSE(w->Driver().Bool(u"PortLocked"));
  Screenshot(*w, "Connection");

  QWidget& state = Page(*w, 2);
  Click(state, "btnGetDeviceMetrics");
  EXPECT_EQ(Field(*w, "edtResult"), "(0) Ошибок нет.");
  QStringList memo = Memo(state);
  ASSERT_EQ(memo.size(), 7) << U8(memo.join('|'));
  EXPECT_EQ(memo[0], "Кодовая Страница: " + QString::number(w->Driver().Int(u"UCodePage")));
  EXPECT_EQ(memo[6], "Модель устройства: 6");
  Click(state, "btnGetShortECRStatus");
  memo = Memo(state);
  ASSERT_EQ(memo.size(), 6) << U8(memo.join('|'));
  const int flags = w->Driver().Int(u"ECRFlags");
  EXPECT_EQ(memo[0], QString::asprintf("Флаги принтера: %04X (%d)", flags, flags));
  EXPECT_EQ(memo[3], "Денежный ящик: закрыт");
  EXPECT_TRUE(memo[5].startsWith("Напряжение источника питания: ")) << U8(memo[5]);
  Find<QLineEdit>(state, "edtDrawer")->setText("0");
  Click(state, "btnOpenDrawer");
  EXPECT_EQ(Field(*w, "edtResult"), "(0) Ошибок нет.");
  EXPECT_TRUE(Memo(state).join("").isEmpty());
  Click(state, "btnGetECRStatus");
  memo = Memo(state);
  ASSERT_EQ(memo.size(), 9) << U8(memo.join('|'));
  EXPECT_EQ(memo[0], "Версия ПО: " + w->Driver().Text(u"ECRSoftVersion"));
  EXPECT_TRUE(QRegularExpression("^Дата ПО: \\d\\d\\.\\d\\d\\.\\d{4}$").match(memo[2]).hasMatch())
      << U8(memo[2]);
  EXPECT_EQ(memo[8], "Денежный ящик открыт");  // no colon in these three
  EXPECT_TRUE(memo[6].startsWith("Оптический датчик чековой ленты ")) << U8(memo[6]);
  Screenshot(*w, "State");

  QWidget& font = Page(*w, 3);
  Click(font, "btnGetFontsMetrics");
  memo = Memo(font);
  ASSERT_GE(memo.size(), 6) << U8(memo.join('|'));
  EXPECT_EQ(memo[0], "Количество шрифтов: 3");
  EXPECT_EQ(memo[1], "Шрифт 1");
  EXPECT_EQ(memo.size(), 1 + 3 * 5);
  Screenshot(*w, "Font");

  QWidget& print = Page(*w, 4);
  Find<QLineEdit>(print, "edtStringForPrinting")->setText("Жирная строка");
  Click(print, "btnPrintWideString");
  Find<QLineEdit>(print, "edtStringForPrinting")->setText("Строка шрифтом");
  Click(print, "btnPrintStringWithFont");
  Click(print, "btnFeedDocument");
  EXPECT_EQ(Field(*w, "edtResult"), "(0) Ошибок нет.");
  EXPECT_TRUE(Eventually([&] {
    const std::string p = Paper();
    return p.find("[bold] Жирная строка") != std::string::npos &&
           p.find("[font 1] Строка шрифтом") != std::string::npos;
  })) << Paper();
  Click(print, "btnInterruptTest");  // no test run under way: the device's error
  EXPECT_TRUE(Field(*w, "edtResult").startsWith("(")) << U8(Field(*w, "edtResult"));
  EXPECT_NE(Field(*w, "edtResult"), "(0) Ошибок нет.");
}

TEST_F(FrameTest, CommandText) {
  // One blank between tokens; two blanks or three digits are refused.
  EXPECT_EQ(testapp::ParseCommandText("  02 fC  "), Bytes({0x02, 0xFC}));
  EXPECT_EQ(testapp::ParseCommandText("2 A"), Bytes({0x02, 0x0A}));
  EXPECT_EQ(MessageOf<std::invalid_argument>([] { testapp::ParseCommandText("02  FC"); }),
            "Недопустимый символ в строке");
  EXPECT_EQ(MessageOf<std::invalid_argument>([] { testapp::ParseCommandText("02 FCD"); }),
            "Недопустимый символ в строке");
  EXPECT_EQ(MessageOf<std::invalid_argument>([] { testapp::ParseCommandText(""); }),
            "Недопустимый символ в строке");
  EXPECT_EQ(MessageOf<std::invalid_argument>([] { testapp::ParseCommandText("02 G1"); }),
            "'G1' не является шестнадцатеричным числом.");

  // The sample: the beep with the operator password (7319 = 0x1C97), its check byte.
  StartDevice();
  auto w = NewMain();
  QWidget& page = Page(*w, 9);
  auto* command = Find<QLineEdit>(page, "edtCommand");
  EXPECT_EQ(command->text(), "02 05 13 97 1C 00 00 9D");
  Click(page, "btnExecute");
  EXPECT_EQ(Field(*w, "edtResult"), "(0) Ошибок нет.");
  EXPECT_EQ(Field(*w, "edtInput"), "02 05 13 97 1C 00 00 9D");
  Screenshot(*w, "Command");
  command->setText("02 05  13");
  {
    OnModal box;
    Click(page, "btnExecute");
    EXPECT_EQ(box.text, "Недопустимый символ в строке");
  }
  EXPECT_EQ(Field(*w, "edtInput"), "02 05 13 97 1C 00 00 9D");  // nothing was sent
}

TEST_F(FrameTest, ConnectionTestCountsFailuresAndStops) {
  // COM7 leads to no device: every Connect fails at once (-2).
  registry.WriteString(kPortsKey, "COM7", env.Path("no-such-device"));
  auto w = NewMain();
  w->Driver().Set(u"ComNumber", 7);
  QWidget& page = Page(*w, 10);
  auto* start = Find<QPushButton>(page, "btnStart");
  auto* stop = Find<QPushButton>(page, "btnStop");
  auto* count = Find<QLabel>(page, "lblCountValue");
  EXPECT_FALSE(stop->isEnabled());

  // Not stopping at errors: it runs on until "Прервать".
  QTimer pressStop;
  bool stopWasEnabled = false;
  QObject::connect(&pressStop, &QTimer::timeout, [&] {
    if (count->text().toInt() < 5) return;
    stopWasEnabled = stop->isEnabled() && !start->isEnabled();
    stop->click();
  });
  pressStop.start(5);
  start->click();  // returns when the loop ends
  pressStop.stop();
  EXPECT_TRUE(stopWasEnabled);
  const int calls = count->text().toInt();
  EXPECT_GE(calls, 5);
  EXPECT_EQ(Find<QLabel>(page, "lblErrorsValue")->text().toInt(), calls);
  EXPECT_EQ(Find<QLabel>(page, "lblErrorRateValue")->text(), "100.00");
  EXPECT_TRUE(Field(*w, "edtResult").startsWith("(-2) ")) << U8(Field(*w, "edtResult"));
  EXPECT_TRUE(start->isEnabled());
  EXPECT_FALSE(stop->isEnabled());

  // Stopping at errors: it ends by itself at the first failure it shows.
  Find<QCheckBox>(page, "chbStopOnError")->setChecked(true);
  start->click();
  EXPECT_GE(count->text().toInt(), 1);
  EXPECT_EQ(Find<QLabel>(page, "lblErrorsValue")->text(), count->text());
  EXPECT_TRUE(start->isEnabled());

  // Closing the window stops it too; against the emulator nothing fails.
  StartDevice();
  w->Driver().Set(u"ComNumber", 1);
  Find<QCheckBox>(page, "chbStopOnError")->setChecked(false);
  QTimer closeWindow;
  QObject::connect(&closeWindow, &QTimer::timeout, [&] {
    if (count->text().toInt() >= 20) w->close();
  });
  closeWindow.start(5);
  start->click();
  closeWindow.stop();
  EXPECT_GE(count->text().toInt(), 20);
  EXPECT_EQ(Find<QLabel>(page, "lblErrorsValue")->text(), "0");
  EXPECT_GT(Find<QLabel>(page, "lblSpeedValue")->text().toInt(), 0);
  EXPECT_EQ(Field(*w, "edtResult"), "(0) Ошибок нет.");
  w->show();
  Screenshot(*w, "LinkTest");
}

TEST_F(FrameTest, FontsLoopStopsAtTheFirstRefusedFont) {
  // A device with four fonts that reports font 2 with no character width
  // and refuses font 3 (the emulator knows every font it counts).
  emu::MinimalResponder device([](std::string_view p) {
    std::string answer{p[0], 0};
    if (static_cast<uint8_t>(p[0]) != protocol::cmd::GetFontMetrics) return answer;
    const int font = static_cast<uint8_t>(p[5]);
    if (font < 1 || font >= 3) return std::string{p[0], 51};
    answer += Bytes({0x40, 0x01, font == 1 ? 10 : 0, 24, 4});
    return answer;
  });
  registry.WriteString(kPortsKey, "COM2", device.Path());
  auto w = NewMain();
  w->Driver().Set(u"ComNumber", 2);
  QWidget& page = Page(*w, 3);
  Click(page, "btnGetFontsMetrics");
  const QStringList memo = Memo(page);
  EXPECT_EQ(memo, QStringList({"Количество шрифтов: 4", "Шрифт 1", "Ширина печати в точках: 320",
                               "Ширина символа в точках: 10", "Высота символа в точках: 24",
                               "Количество символов в строке: 32", "Шрифт 2",
                               "Ширина печати в точках: 320", "Ширина символа в точках: 0",
                               "Высота символа в точках: 24", "Количество символов в строке: 0"}))
      << U8(memo.join('|'));
  // The outcome is that of the refused font.
  EXPECT_TRUE(Field(*w, "edtResult").startsWith("(51) ")) << U8(Field(*w, "edtResult"));

  // One font with no character width: 0 characters per line.
  static_cast<testapp::TUpDownEdit*>(Find<QWidget>(page, "edtFontType"))->SetText("2");
  Click(page, "btnGetFontMetrics");
  EXPECT_EQ(Memo(page).last(), "Количество символов в строке: 0");
  EXPECT_EQ(Memo(page).size(), 5);
}

}  // namespace
}  // namespace varn::test
