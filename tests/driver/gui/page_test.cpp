// The property page, the frame, the logical-devices and parameters dialogs
// and the control, offscreen, on the real driver library and VarnSrv.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "driver/core/varn_drv.h"
#include "driver/gui/ax_ctrl.h"
#include "driver/gui/dialogs.h"
#include "driver/gui/gui_common.h"
#include "driver/gui/page.h"
#include "driver/gui/params.h"
#include "driver/gui/property_frame.h"
#include "tests/driver/gui/gui_test.h"

namespace varn::test {
namespace {

using gui::TfmPage;

class PageTest : public GuiTest {};

// A page whose Activate/Apply are reachable (they are the frame's calls).
class TestPage : public TfmPage {
 public:
  using TfmPage::TfmPage;
};

TEST_F(PageTest, EnablingDirtyRulesImmediateUpdatesAndApply) {
  Driver drv;
  TestPage page;
  page.SetObjects({&drv.Object()});
  page.Activate(nullptr);
  Screenshot(&page, "TfmPage");
  auto* type = Find<QComboBox>(page, "cbConnectionType");
  auto* computer = Find<QLineEdit>(page, "edtComputerName");
  auto* ip = Find<QLineEdit>(page, "edtIPAddress");
  auto* rbIP = Find<QRadioButton>(page, "rbIPAddress");
  EXPECT_EQ(type->currentIndex(), 0);
  EXPECT_FALSE(computer->isEnabled());
  EXPECT_FALSE(rbIP->isEnabled());
  EXPECT_FALSE(page.IsPageDirty());

  // The port, the rate and the time-out reach the driver, not the dirty flag.
  Find<QComboBox>(page, "cbComNumber")->setCurrentIndex(4);
  Find<QComboBox>(page, "cbBaudRate")->setCurrentIndex(6);
  auto* timeout = Find<QLineEdit>(page, "edtTimeout");
  timeout->clear();
  QTest::keyClicks(timeout, "2x5");  // the letter is refused
  EXPECT_EQ(timeout->text(), "25");
  EXPECT_FALSE(page.IsPageDirty());
  EXPECT_EQ(drv.Int(u"ComNumber"), 5);
  EXPECT_EQ(drv.Int(u"Timeout"), 25);
  EXPECT_EQ(drv.Int(u"BaudRate"), 1);  // only the logical device's rate
  drv.Call(u"GetParamLD");
  EXPECT_EQ(drv.Int(u"LDComNumber"), 5);
  EXPECT_EQ(drv.Int(u"LDBaudrate"), 6);
  EXPECT_EQ(drv.Int(u"LDTimeout"), 25);

  // TCP with the computer's name, then with an address: dirty each time.
  type->setCurrentIndex(1);
  EXPECT_TRUE(page.IsPageDirty());
  EXPECT_EQ(drv.Int(u"ConnectionType"), 1);
  EXPECT_TRUE(computer->isEnabled());
  EXPECT_FALSE(ip->isEnabled());
  rbIP->setChecked(true);
  EXPECT_TRUE(ip->isEnabled());
  EXPECT_FALSE(computer->isEnabled());
  EXPECT_NE(computer->palette().color(QPalette::Base), ip->palette().color(QPalette::Base));
  EXPECT_TRUE(drv.Get(u"UseIPAddress").ToBool());
  QTest::keyClicks(ip, "127.0.0.1");
  auto* tcp = Find<QLineEdit>(page, "edtTCPPort");
  tcp->clear();
  QTest::keyClicks(tcp, "1");  // nothing listens there
  drv.Call(u"GetParamLD");
  EXPECT_EQ(drv.Text(u"LDIPAddress"), "127.0.0.1");
  EXPECT_EQ(drv.Int(u"LDTCPPort"), 1);

  // No server there: the server connection's error, no status request.
  QTest::mouseClick(Find<QPushButton>(page, "btnCheck"), Qt::LeftButton);
  const QString result = Find<QLineEdit>(page, "edtResult")->text();
  EXPECT_TRUE(result.startsWith("-16: Ошибка подключения.")) << gui::U8(result);
  EXPECT_TRUE(result.contains("127.0.0.1:1")) << gui::U8(result);

  // A pasted time-out that is not a number fails the apply, in a box.
  timeout->setText("12x");
  {
    OnModal box;
    EXPECT_THROW(page.Apply(), EDriverError);
    EXPECT_EQ(box.text, "Неверное значение поля 'Таймаут'.\r\n'12x' не является целым числом.");
    EXPECT_EQ(box.caption, "Драйвер Варн");
  }
  EXPECT_TRUE(page.IsPageDirty());
  timeout->setText("300");
  page.Apply();
  EXPECT_FALSE(page.IsPageDirty());
  EXPECT_EQ(drv.Int(u"Timeout"), 300);
  EXPECT_EQ(drv.Int(u"BaudRate"), 6);
  page.Deactivate();
}

TEST_F(PageTest, OkSavesWhatDoesNotMakeThePageDirtyAndTheTCPPortIsChecked) {
  Driver drv;
  drv.Set(u"ConnectionType", Variant(2));  // DCOM: the computer's name can be typed
  {
    // Only the time-out and the computer: not dirty, yet OK applies and
    // saves them (the port is left alone: setting it saves everything).
    gui::TPropertyFrame frame(nullptr, &drv.Object());
    frame.show();
    TfmPage& page = frame.Page();
    auto* timeout = Find<QLineEdit>(page, "edtTimeout");
    timeout->clear();
    QTest::keyClicks(timeout, "250");
    auto* computer = Find<QLineEdit>(page, "edtComputerName");
    computer->clear();
    QTest::keyClicks(computer, "kassa2");
    EXPECT_FALSE(page.IsPageDirty());
    EXPECT_FALSE(Find<QPushButton>(frame, "btnApply")->isEnabled());
    Find<QPushButton>(frame, "btnOK")->click();
    EXPECT_EQ(frame.result(), QDialog::Accepted);
  }
  EXPECT_EQ(registry.ReadDword(kDriverParamKey, "Timeout"), 250u);
  EXPECT_EQ(registry.ReadString(kDriverParamKey, "ComputerName"), "kassa2");
  {
    Driver next;  // as after a restart
    EXPECT_EQ(next.Int(u"Timeout"), 250);
    EXPECT_EQ(next.Text(u"ComputerName"), "kassa2");
  }
  {
    // Cancel applies nothing of its own.
    gui::TPropertyFrame frame(nullptr, &drv.Object());
    frame.show();
    Find<QPushButton>(frame, "btnCancel")->click();
    EXPECT_EQ(frame.result(), QDialog::Rejected);
  }

  // The TCP port: letters refused as typed; a pasted text that is not a
  // number fails the apply with its own message and is not replaced.
  TestPage page;
  page.SetObjects({&drv.Object()});
  page.Activate(nullptr);
  Find<QComboBox>(page, "cbConnectionType")->setCurrentIndex(1);
  auto* tcp = Find<QLineEdit>(page, "edtTCPPort");
  tcp->clear();
  QTest::keyClicks(tcp, "2x1");
  EXPECT_EQ(tcp->text(), "21");
  EXPECT_EQ(drv.Int(u"TCPPort"), 21);
  tcp->setText("21x");
  {
    OnModal box;
    EXPECT_THROW(page.Apply(), EDriverError);
    EXPECT_EQ(box.text, "Неверное значение поля 'TCP порт'.\r\n'21x' не является целым числом.");
    EXPECT_EQ(box.caption, "Драйвер Варн");
  }
  EXPECT_TRUE(page.IsPageDirty());
  tcp->setText("4211");
  page.Apply();
  EXPECT_EQ(drv.Int(u"TCPPort"), 4211);
  EXPECT_EQ(registry.ReadDword(kDriverParamKey, "TCPPort"), 4211u);
  page.Deactivate();
}

TEST_F(PageTest, LogFileDialogNamesANewFileAndShowsEveryFile) {
  Driver drv;
  const std::string dir = env.Path("logs");
  std::filesystem::create_directories(dir);
  gui::TfmParams params(nullptr, drv.Object());
  params.findChild<QCheckBox*>("chbLogEnabled")->setChecked(true);
  auto* file = params.findChild<QLineEdit*>("edtFileName");
  ASSERT_TRUE(file);
  file->setText(QString::fromStdString(dir + "/VarnDrv.log"));
  const QString chosen = QString::fromStdString(dir + "/новый.log");  // not there yet
  std::ofstream(dir + "/VarnDrv") << "a log without a dot in its name\n";
  bool save = false, dotless = false;
  QStringList shown, matched;
  QString cancel;
  int ticks = 0;
  Modals modals([&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    auto* model = dialog ? dialog->findChild<QFileSystemModel*>() : nullptr;
    if (!model) return false;
    if (ticks++ == 0) {
      save = dialog->acceptMode() == QFileDialog::AcceptSave;
      if (auto* types = dialog->findChild<QComboBox*>("fileTypeCombo"))
        for (int i = 0; i < types->count(); ++i) shown << types->itemText(i);
      dialog->selectNameFilter(dialog->nameFilters().value(1));
      matched = model->nameFilters();
      cancel = dialog->labelText(QFileDialog::Reject);
    }
    // The folder is read in the background: the file without a dot shows
    // once it is read (the name is chosen after that, or it is reset).
    const QModelIndex found = model->index(QString::fromStdString(dir + "/VarnDrv"));
    dotless = found.isValid() && (model->flags(found) & Qt::ItemIsEnabled);
    if (!dotless && ticks < 1500) return false;
    Screenshot(dialog, "TfmLog-File");
    // Typed, as the user names a new file in the folder shown.
    if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit")) name->setText("новый.log");
    static_cast<QDialog*>(dialog)->accept();  // the file dialog's own accept
    return true;
  });
  Find<QToolButton>(params, "btnFileName")->click();
  EXPECT_TRUE(save);
  EXPECT_EQ(shown, QStringList({"Файлы лога (*.log)", "Все файлы (*.*)"}));
  EXPECT_EQ(matched, QStringList({"*"}));
  EXPECT_TRUE(dotless);
  EXPECT_TRUE(cancel.contains(QRegularExpression("[А-Яа-я]"))) << gui::U8(cancel);
  EXPECT_EQ(file->text(), chosen);
  params.ApplyAll();
  EXPECT_EQ(drv.Text(u"LogFileName"), gui::U8(chosen));
}

TEST_F(PageTest, NoDriverShowsTheErrorForm) {
  TestPage page;
  page.SetObjects({});
  page.Activate(nullptr);
  EXPECT_TRUE(Find(page, "TfmPageError")->isVisibleTo(&page));
  EXPECT_FALSE(Find(page, "pnlControls")->isVisibleTo(&page));
  EXPECT_TRUE(Find<QLabel>(page, "lblInfo")
                  ->text()
                  .startsWith("Странице свойств драйвера передан пустой интерфейс драйвера."));
  Screenshot(&page, "TfmPageError");
  page.Apply();  // writes nothing, fails nothing
}

TEST_F(PageTest, LogicalDevicesFrameParamsAndControl) {
  Driver drv;
  // 99 devices: "Добавить" off; "Удалить" on.
  drv.Set(u"LDTCPPort", Variant(211));  // what AddLD wants beside the defaults
  for (int i = 0; i < 98; ++i) {
    drv.Set(u"LDName", Variant(u"Касса"));
    ASSERT_EQ(drv.Call(u"AddLD"), 0);
  }
  bool addEnabled = true, deleteEnabled = false;
  {
    OnModal dialog([&](QWidget* w) {
      addEnabled = w->findChild<QPushButton*>("btnAdd")->isEnabled();
      deleteEnabled = w->findChild<QPushButton*>("btnDelete")->isEnabled();
      Screenshot(w, "TfmDevice");
    });
    gui::ShowDeviceDialog(nullptr, drv.Object());
  }
  EXPECT_FALSE(addEnabled);
  EXPECT_TRUE(deleteEnabled);

  // The frame of ShowProperties through the driver itself.
  {
    QString title;
    OnModal frame([&](QWidget* w) {
      title = w->windowTitle();
      Screenshot(w, "ShowProperties");
    });
    EXPECT_EQ(drv.Call(u"ShowProperties"), 0);
    EXPECT_EQ(title, "Свойства: Варн");
  }

  // Additional parameters: cancelling after clearing "Вести лог" keeps logging on.
  drv.Set(u"LogEnabled", Variant(true));
  gui::TfmParams params(nullptr, drv.Object());
  Screenshot(&params, "TfmParams");
  Screenshot(Find(params, "TfmLog"), "TfmLog");
  auto* log = params.findChild<QCheckBox*>("chbLogEnabled");
  ASSERT_TRUE(log);
  EXPECT_TRUE(log->isChecked());
  log->setChecked(false);
  params.reject();
  EXPECT_TRUE(drv.Get(u"LogEnabled").ToBool());
  EXPECT_FALSE(log->isChecked());
  params.ApplyAll();
  EXPECT_FALSE(drv.Get(u"LogEnabled").ToBool());

  gui::TAxCtrl ctrl;
  EXPECT_EQ(ctrl.size(), QSize(40, 40));
  Screenshot(&ctrl, "TAxCtrl");
}

}  // namespace
}  // namespace varn::test
