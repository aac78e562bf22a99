// The server's window on a real server: clients over the Unix socket and
// TCP with the emulator as COM1, the lists awaited through their posted
// notifications, the settings' buttons, the TCP listener, the close
// question; Qt's loop behind the timer service; pictures of every page,
// the tray menu and the about box; the program itself with a display.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>

#include "server/app/server_app.h"
#include "server/context.h"
#include "server/window/fmu_about.h"
#include "server/window/fmu_main.h"
#include "server/window/qt_event_loop.h"
#include "tests/server/app/server_process.h"
#include "tests/support/qt_test.h"

namespace varn::test {
namespace {

[[maybe_unused]] auto* const g_qt = AddQtEnvironment("server_window_test");

// Polls `done` while the main loop's posted work runs.
template <class F>
bool Pumped(F done) {
  return Eventually([&] {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
  });
}

QStringList Row(QTreeWidget* list, int index) {
  QStringList texts;
  QTreeWidgetItem* item = list->topLevelItem(index);
  if (!item) return texts;
  for (int i = 0; i < list->columnCount(); ++i) texts << item->text(i);
  return texts;
}

class WindowTest : public ProgramTest {
 protected:
  void Start() {
    app = std::make_unique<TServerApp>(TStartMode::StandAlone, &loop);
    form = std::make_unique<TfmMain>(*app);
    form->ShowError = [this](const QString& text) { errors << text; };
    form->Ask = [this](const QString& text) {
      questions << text;
      return answer;
    };
    app->Start();
    form->Attach();
  }
  void StartWithTcp() {
    tcpPort = FreeTcpPort();
    SetSetting("TCPEnabled", 1);
    SetSetting("TCPPort", static_cast<uint32_t>(tcpPort));
    Start();
    ASSERT_TRUE(app->TcpListening());
  }
  void TearDown() override {
    form.reset();
    if (app) app->Shutdown();
    app.reset();
  }
  template <class T>
  T* Find(const char* name) {
    T* widget = form->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  // The ports list shows `texts` in its row `index`.
  bool PortRowIs(int index, QStringList texts) {
    return Pumped([&] { return Row(Find<QTreeWidget>("lvPorts"), index) == texts; });
  }
  void Select(int index) {
    auto* list = Find<QTreeWidget>("lvPorts");
    list->setCurrentItem(list->topLevelItem(index));
  }
  bool UnlockEnabled() { return Find<QPushButton>("btnUnlock")->isEnabled(); }
  bool ApplyEnabled() { return Find<QPushButton>("btnApply")->isEnabled(); }

  TQtEventLoop loop;
  std::unique_ptr<TServerApp> app;
  std::unique_ptr<TfmMain> form;
  QStringList errors, questions;
  bool answer = false;
  int32_t tcpPort = 0;
};

const QString kQuestion = QString(kCloseQuestion).replace("\r\n", "\n");

TEST_F(WindowTest, PortsAndClientsFollowConnectionsLocksTheAutoUnlockAndTheButton) {
  SetSetting("AutoUnlock", 1);
  SetSetting("PortTimeout", 1);
  StartWithTcp();
  auto* ports = Find<QTreeWidget>("lvPorts");
  auto* clients = Find<QTreeWidget>("lvClients");
  auto* count = Find<QLineEdit>("edtClientCount");
  EXPECT_EQ(ports->topLevelItemCount(), 0);
  EXPECT_FALSE(UnlockEnabled());
  EXPECT_EQ(count->text(), "0");

  // A port comes with a client's first OpenPort, free; clients are listed
  // by position with who they are.
  RemoteClient local(Via::Unix);
  EXPECT_EQ(local.Connect(501, u"Склад", u"BACK-1"), (Outcome{0, kOk}));
  RemoteClient remote(Via::Tcp, tcpPort);
  EXPECT_EQ(remote.Connect(4242, u"Касса", u"SHOP-2"), (Outcome{0, kOk}));
  EXPECT_TRUE(Pumped([&] { return count->text() == "2"; }));
  EXPECT_EQ(Row(clients, 0), QStringList({"1", "BACK-1", "501", "Склад"}));
  EXPECT_EQ(Row(clients, 1), QStringList({"2", "SHOP-2", "4242", "Касса"}));
  EXPECT_EQ(local.OpenPort(1), (Outcome{0, kOk}));
  EXPECT_TRUE(PortRowIs(0, {"COM 1", "свободен", "", "", ""}));
  EXPECT_EQ(ports->currentItem(), ports->topLevelItem(0));
  EXPECT_FALSE(UnlockEnabled());

  // A remote lock shows its holder at once and turns the button on; the
  // exchange goes to the emulator; the auto-unlock frees the row again.
  EXPECT_EQ(remote.OpenPort(1), (Outcome{0, kOk}));
  EXPECT_EQ(remote.LockPort(1), (Outcome{0, kOk}));
  EXPECT_TRUE(PortRowIs(0, {"COM 1", "занят", "SHOP-2", "4242", "Касса"}));
  EXPECT_TRUE(UnlockEnabled());
  EXPECT_EQ(remote.SendData(kRequest), (Outcome{0, kOk}));
  EXPECT_TRUE(PortRowIs(0, {"COM 1", "свободен", "", "", ""}));
  EXPECT_FALSE(UnlockEnabled());

  // A second port (one that cannot open is listed all the same): the button
  // follows the row selected, not the row of a client list.
  EXPECT_EQ(local.OpenPort(7), (Outcome{-2, "СOM порт не доступен"}));
  EXPECT_TRUE(PortRowIs(1, {"COM 7", "свободен", "", "", ""}));
  EXPECT_EQ(local.LockPort(1), (Outcome{0, kOk}));
  EXPECT_TRUE(PortRowIs(0, {"COM 1", "занят", "BACK-1", "501", "Склад"}));
  Select(1);
  EXPECT_FALSE(UnlockEnabled());
  clients->setCurrentItem(clients->topLevelItem(1));
  EXPECT_FALSE(UnlockEnabled());
  Select(0);
  EXPECT_TRUE(UnlockEnabled());
  // "Разблокировать" frees it whoever holds it; the holder then finds it free.
  Find<QPushButton>("btnUnlock")->click();
  EXPECT_TRUE(PortRowIs(0, {"COM 1", "свободен", "", "", ""}));
  EXPECT_FALSE(UnlockEnabled());
  EXPECT_FALSE(local.Flag(u"PortLocked"));

  // The count follows a client that goes away.
  remote.Drop();
  EXPECT_TRUE(Pumped([&] { return count->text() == "1"; }));
  EXPECT_EQ(clients->topLevelItemCount(), 1);
  EXPECT_EQ(Row(clients, 0), QStringList({"1", "BACK-1", "501", "Склад"}));
  EXPECT_TRUE(errors.isEmpty()) << errors.join("; ").toStdString();
}

TEST_F(WindowTest, EditsApplyCancelAndDefaults) {
  SetSetting("PortTimeout", 25);
  Start();
  // The close example is the command as typed on this system.
  const QString closeText = Find<QLabel>("lblCloseText")->text();
  EXPECT_TRUE(closeText.contains("например: VarnSrv close\n")) << closeText.toStdString();
  EXPECT_FALSE(closeText.contains(".exe"));
  auto* logOn = Find<QCheckBox>("chbLogOn");
  auto* timeout = Find<QSpinBox>("udTimeout");
  auto* timeoutText = Find<QLineEdit>("edtTimeout");
  auto* tcp = Find<QCheckBox>("chbTCPEnabled");
  auto* tcpPortEdit = Find<QLineEdit>("edtTCPPort");
  auto* warning = Find<QRadioButton>("rbWarning");
  EXPECT_FALSE(ApplyEnabled());
  EXPECT_EQ(timeout->value(), 25);
  EXPECT_EQ(timeoutText->maxLength(), 5);
  EXPECT_TRUE(warning->isChecked());
  // The TCP port edit: only with the box ticked, in the window's colour.
  const QPalette standard = QApplication::palette(tcpPortEdit);
  EXPECT_FALSE(tcpPortEdit->isEnabled());
  EXPECT_FALSE(Find<QLabel>("lblTCPPort")->isEnabled());
  EXPECT_EQ(tcpPortEdit->palette().color(QPalette::Base), standard.color(QPalette::Button));
  // So are the address and the allowed networks, in the same group.
  auto* addressEdit = Find<QLineEdit>("edTCPAddress");
  auto* allowEdit = Find<QLineEdit>("edTCPAllow");
  for (QLineEdit* edit : {addressEdit, allowEdit}) {
    EXPECT_FALSE(edit->isEnabled()) << edit->objectName().toStdString();
    EXPECT_EQ(edit->palette().color(QPalette::Base), standard.color(QPalette::Button));
    EXPECT_EQ(edit->parentWidget(), tcpPortEdit->parentWidget());
  }
  EXPECT_EQ(Find<QLabel>("lblTCPAddress")->text(), "Адрес:");
  EXPECT_EQ(Find<QLabel>("lblTCPAllow")->text(), "Разрешённые сети:");
  EXPECT_EQ(Find<QLabel>("lblTCPAllow")->buddy(), allowEdit);
  EXPECT_TRUE(allowEdit->toolTip().contains("192.168.1.0/24 10.0.0.5 fd00::/8"))
      << allowEdit->toolTip().toStdString();
  tcp->click();
  EXPECT_TRUE(tcpPortEdit->isEnabled());
  EXPECT_TRUE(Find<QLabel>("lblTCPPort")->isEnabled());
  EXPECT_EQ(tcpPortEdit->palette().color(QPalette::Base), standard.color(QPalette::Base));
  for (QLineEdit* edit : {addressEdit, allowEdit}) {
    EXPECT_TRUE(edit->isEnabled());
    EXPECT_EQ(edit->palette().color(QPalette::Base), standard.color(QPalette::Base));
  }
  EXPECT_TRUE(ApplyEnabled());

  // "Отмена" discards: shown again, the window shows what is stored.
  form->ShowProperties();
  logOn->click();
  Find<QPushButton>("btnCancel")->click();
  form->ShowProperties();
  EXPECT_FALSE(logOn->isChecked());
  EXPECT_FALSE(tcp->isChecked());
  EXPECT_FALSE(ApplyEnabled());

  // The time-out edit drops letters; Enter moves the value when it differs.
  timeoutText->setFocus();
  timeoutText->selectAll();
  QTest::keyClicks(timeoutText, "1x2");
  EXPECT_EQ(timeoutText->text(), "12");
  EXPECT_EQ(timeout->value(), 25);
  QTest::keyClick(timeoutText, Qt::Key_Return);
  EXPECT_EQ(timeout->value(), 12);
  EXPECT_TRUE(ApplyEnabled());
  form->ShowProperties();
  EXPECT_FALSE(ApplyEnabled());
  QTest::keyClick(timeoutText, Qt::Key_Return);  // the same number: nothing to apply
  EXPECT_FALSE(ApplyEnabled());

  // A TCP port text that is no number: the error, nothing applied.
  logOn->click();
  tcp->click();
  tcpPortEdit->setText("21x");
  EXPECT_FALSE(form->Apply());
  EXPECT_EQ(errors, QStringList({"\"21x\" не является целым числом"}));
  EXPECT_FALSE(app->Settings().LogOn);
  EXPECT_TRUE(ApplyEnabled());

  // "По умолчанию" shows the defaults and changes nothing until applied.
  Find<QPushButton>("btnDefaults")->click();
  EXPECT_EQ(Find<QPushButton>("btnDefaults")->toolTip(),
            "Установить значения параметров в значения по умолчанию");
  EXPECT_EQ(timeout->value(), 10);
  EXPECT_FALSE(logOn->isChecked());
  EXPECT_EQ(tcpPortEdit->text(), "211");
  EXPECT_FALSE(tcpPortEdit->isEnabled());
  EXPECT_EQ(app->Settings().PortTimeout, 25);
  EXPECT_TRUE(ApplyEnabled());

  // Applied: in force and in the registry; the button goes off.
  logOn->click();
  Find<QRadioButton>("rbNotWarning")->setChecked(true);
  Find<QPushButton>("btnApply")->click();
  EXPECT_FALSE(ApplyEnabled());
  EXPECT_TRUE(app->Settings().LogOn);
  EXPECT_FALSE(app->Settings().Warning);
  EXPECT_EQ(app->Settings().PortTimeout, 10);
  EXPECT_EQ(Reg().ReadDword(kServerKey, "LogOn"), 1u);
  EXPECT_EQ(Reg().ReadDword(kServerKey, "Warning"), 0u);
  EXPECT_EQ(Reg().ReadDword(kServerKey, "PortTimeout"), 10u);
  EXPECT_EQ(errors.size(), 1);
}

TEST_F(WindowTest, TheTcpListenerFollowsApplyAndATakenPortIsReported) {
  Start();
  EXPECT_FALSE(app->TcpListening());
  auto* tcp = Find<QCheckBox>("chbTCPEnabled");
  auto* tcpPortEdit = Find<QLineEdit>("edtTCPPort");
  tcp->setChecked(true);
  tcpPort = FreeTcpPort();
  tcpPortEdit->setText(QString::number(tcpPort));
  ASSERT_TRUE(form->Apply());
  ASSERT_TRUE(app->TcpListening());
  RemoteClient remote(Via::Tcp, tcpPort);
  EXPECT_EQ(remote.Connect(9, u"Касса", u"SHOP-2"), (Outcome{0, kOk}));

  // Unticking with a client connected asks; No keeps every setting.
  tcp->setChecked(false);
  Find<QCheckBox>("chbLogOn")->setChecked(true);
  answer = false;
  EXPECT_FALSE(form->Apply());
  EXPECT_EQ(questions, QStringList({kQuestion}));
  EXPECT_TRUE(app->TcpListening());
  EXPECT_TRUE(app->Settings().TCPEnabled);
  EXPECT_FALSE(app->Settings().LogOn);
  EXPECT_EQ(remote.Connect(9, u"Касса", u"SHOP-2"), (Outcome{0, kOk}));

  // Disconnecting clients automatically does not spare the question either.
  Find<QRadioButton>("rbNotWarning")->setChecked(true);
  tcp->setChecked(true);
  ASSERT_TRUE(form->Apply());  // TCP as it was: nothing to ask
  EXPECT_FALSE(app->Settings().Warning);
  EXPECT_EQ(questions.size(), 1);
  tcp->setChecked(false);
  EXPECT_FALSE(form->Apply());
  EXPECT_EQ(questions, QStringList({kQuestion, kQuestion}));
  EXPECT_TRUE(app->TcpListening());
  EXPECT_TRUE(app->Settings().TCPEnabled);

  // The address and the networks restart the listener where they say; a
  // client from outside the networks is turned away.
  auto* addressEdit = Find<QLineEdit>("edTCPAddress");
  auto* allowEdit = Find<QLineEdit>("edTCPAllow");
  answer = true;
  tcp->setChecked(true);
  addressEdit->setText(" 127.0.0.1 ");
  allowEdit->setText("127.0.0.2/32");
  EXPECT_TRUE(form->Apply());
  EXPECT_EQ(questions.size(), 3) << "the clients of the old listener are cut off";
  ASSERT_TRUE(app->TcpListening());
  EXPECT_EQ(app->Settings().TCPAddress.load(), "127.0.0.1");
  EXPECT_EQ(Reg().ReadString(kServerKey, "TCPAllow"), "127.0.0.2/32");
  {
    StreamSocket refused = StreamSocket::ConnectTcp("127.0.0.1", static_cast<uint16_t>(tcpPort));
    EXPECT_EQ(ReceiveUntilClosed(refused), "");
  }
  allowEdit->setText("127.0.0.1");
  EXPECT_TRUE(form->Apply());
  RemoteClient allowed(Via::Tcp, tcpPort);
  EXPECT_EQ(allowed.Connect(9, u"Касса", u"SHOP-2"), (Outcome{0, kOk}));
  // A list with a mistake: said so, nothing listens, the box cleared.
  allowEdit->setText("127.0.0.1/40");
  EXPECT_TRUE(form->Apply());
  ASSERT_EQ(errors.size(), 1);
  EXPECT_THAT(errors[0].toStdString(),
              ::testing::HasSubstr("неверный список сетей TCPAllow: \"127.0.0.1/40\": префикс "
                                   "больше 32; TCP-порт не открыт"));
  EXPECT_FALSE(tcp->isChecked());
  EXPECT_FALSE(allowEdit->isEnabled());
  EXPECT_FALSE(app->TcpListening());
  errors.clear();
  allowed.Drop();
  allowEdit->setText("");
  addressEdit->setText("");

  // A port someone else holds: its number and the reason, the box cleared,
  // the server serving on.
  ListeningSocket taken = ListeningSocket::ListenTcp(0);
  tcp->setChecked(true);
  tcpPortEdit->setText(QString::number(taken.Port()));
  answer = true;
  EXPECT_TRUE(form->Apply());
  ASSERT_EQ(errors.size(), 1);
  EXPECT_THAT(errors[0].toStdString(),
              ::testing::HasSubstr("не удалось слушать TCP-порт " + std::to_string(taken.Port()) +
                                   ": Address already in use; сервер работает дальше без "
                                   "TCP-подключений"));
  EXPECT_FALSE(tcp->isChecked());
  EXPECT_FALSE(tcpPortEdit->isEnabled());
  EXPECT_FALSE(app->TcpListening());
  EXPECT_FALSE(app->Settings().TCPEnabled);
  EXPECT_EQ(Reg().ReadDword(kServerKey, "TCPEnabled"), 0u);
  RemoteClient local(Via::Unix);
  EXPECT_EQ(local.Connect(1, u"Склад", u"BACK-1"), (Outcome{0, kOk}));
}

TEST_F(WindowTest, CloseAsksOnlyWhileClientsMaySufferAndOnlyWithWarning) {
  Start();
  auto local = std::make_unique<RemoteClient>(Via::Unix);
  answer = false;
  EXPECT_FALSE(form->CloseServer());
  EXPECT_EQ(questions, QStringList({kQuestion}));
  answer = true;
  EXPECT_TRUE(form->CloseServer());
  loop.Run();  // returns at once: the close ended the loop
  EXPECT_EQ(questions.size(), 2);

  // "Отключать клиентов автоматически": no question.
  Find<QRadioButton>("rbNotWarning")->setChecked(true);
  ASSERT_TRUE(form->Apply());
  answer = false;
  EXPECT_TRUE(form->CloseServer());
  loop.Run();
  EXPECT_EQ(questions.size(), 2);

  // With nobody connected there is nothing to ask about.
  Find<QRadioButton>("rbWarning")->setChecked(true);
  ASSERT_TRUE(form->Apply());
  local.reset();
  ASSERT_TRUE(Eventually([&] { return app->Context().ObjectCount() == 0; }));
  EXPECT_TRUE(form->CloseServer());
  loop.Run();
  EXPECT_EQ(questions.size(), 2);
}

// Every caption of `window` is at least as wide as it asks to be.
void ExpectCaptionsFit(QWidget* window, const std::string& what) {
  for (QLabel* label : window->findChildren<QLabel*>()) {
    if (!label->isVisible() || label->wordWrap()) continue;
    EXPECT_GE(label->width(), label->sizeHint().width())
        << what << ": " << label->text().toStdString();
  }
  for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
    if (!button->isVisible()) continue;
    EXPECT_GE(button->width(), button->sizeHint().width())
        << what << ": " << button->text().toStdString();
  }
  for (QTreeWidget* list : window->findChildren<QTreeWidget*>()) {
    if (!list->isVisible()) continue;
    for (int c = 0; c < list->columnCount(); ++c) {
      int needed = list->header()->sectionSizeHint(c);
      for (int r = 0; r < list->topLevelItemCount(); ++r)
        needed =
            std::max(needed, list->fontMetrics().horizontalAdvance(list->topLevelItem(r)->text(c)));
      EXPECT_GE(list->columnWidth(c), needed) << what << ": column " << c;
    }
  }
}

TEST_F(WindowTest, PagesTrayMenuAndAboutBoxAsPicturesWithEveryCaptionFitting) {
  SetSetting("AutoUnlock", 1);
  SetSetting("PortTimeout", 30);
  Reg().WriteString(kServerKey, "TCPAllow", "127.0.0.1 192.168.1.0/24 fd00::/8");
  StartWithTcp();
  RemoteClient local(Via::Unix);
  local.Connect(3817, u"Бухгалтерия предприятия", u"BUH-PC");
  local.OpenPort(1);
  RemoteClient remote(Via::Tcp, tcpPort);
  remote.Connect(24815, u"Кассовое место 2", u"SHOP-KASSA-02");
  remote.OpenPort(1);
  remote.LockPort(1);
  local.OpenPort(7);
  ASSERT_TRUE(PortRowIs(0, {"COM 1", "занят", "SHOP-KASSA-02", "24815", "Кассовое место 2"}));
  ASSERT_TRUE(PortRowIs(1, {"COM 7", "свободен", "", "", ""}));
  ASSERT_TRUE(Pumped([&] { return Find<QLineEdit>("edtClientCount")->text() == "2"; }));

  const char* dirSet = std::getenv("VARN_SCREENSHOTS");
  const std::string dir = dirSet && *dirSet ? dirSet : env.Dir();
  auto save = [&](QWidget* w, const std::string& name) {
    const std::string path = dir + "/VarnSrv-" + name + ".png";
    const QPixmap picture = w->grab();
    EXPECT_FALSE(picture.isNull()) << name;
    EXPECT_TRUE(picture.save(QString::fromStdString(path))) << path;
  };
  form->ShowProperties();
  EXPECT_GE(form->width(), 453);
  EXPECT_GE(form->height(), 329);
  auto* pages = Find<QTabWidget>("pcMain");
  const char* const names[] = {"Parameters", "Ports", "Clients", "Closing"};
  for (int i = 0; i < pages->count(); ++i) {
    pages->setCurrentIndex(i);
    QCoreApplication::processEvents();
    ExpectCaptionsFit(form.get(), names[i]);
    save(form.get(), names[i]);
  }
  QMenu* menu = form->PopupMenu();
  menu->popup(QPoint(0, 0));
  QCoreApplication::processEvents();
  EXPECT_TRUE(menu->defaultAction()->font().bold());
  EXPECT_EQ(menu->defaultAction()->text(), "&Свойства");
  save(menu, "TrayMenu");
  menu->hide();
  TfmAbout about(form.get());
  about.show();
  QCoreApplication::processEvents();
  ExpectCaptionsFit(&about, "about");
  EXPECT_EQ(about.findChild<QLabel*>("lblVersion")->text(), "Версия: 1.0.0.1");
  EXPECT_TRUE(about.findChild<QLabel*>("lblTitle")->font().bold());
  save(&about, "About");
}

// The program with a display (offscreen here) shows its window and still
// ends on a close request; with nobody connected it asks nothing.
TEST_F(ProgramTest, TheProgramWithAWindowClosesOnACloseRequest) {
  const char* display = std::getenv("DISPLAY");
  const std::string saved = display ? display : "";
  setenv("DISPLAY", ":0", 1);  // QT_QPA_PLATFORM=offscreen keeps Qt off it
  ServerProcess server(env, {}, "windowed");
  if (display)
    setenv("DISPLAY", saved.c_str(), 1);
  else
    unsetenv("DISPLAY");
  ASSERT_TRUE(server.Listening()) << server.Output();
  // The window came from its library, beside the program in the build.
  EXPECT_THAT(ReadFileOrEmpty("/proc/" + std::to_string(server.Pid()) + "/maps"),
              ::testing::HasSubstr("/libVarnSrvGui.so"));
  EXPECT_THAT(server.Output(), ::testing::Not(::testing::HasSubstr("окно не показано")));
  RemoteClient local(Via::Unix);
  EXPECT_EQ(local.Connect(1, u"Касса", u"SHOP-2"), (Outcome{0, kOk}));
  local.Drop();
  ASSERT_TRUE(Eventually([&] {
    try {
      RemoteClient probe(Via::Unix);
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }));
  const RunResult close = RunProgram(env, {"close"}, "close");
  EXPECT_EQ(close.status, 0) << close.output;
  EXPECT_EQ(server.Exit(), 0) << server.Output();
  EXPECT_FALSE(FileExists(SocketPath()));
}

// The environment variable `name` as a test sets it, restored when it ends.
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : m_name(name) {
    const char* old = std::getenv(name);
    if (old) m_saved = old;
    m_had = old != nullptr;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~EnvVar() {
    if (m_had)
      setenv(m_name, m_saved.c_str(), 1);
    else
      unsetenv(m_name);
  }

 private:
  const char* m_name;
  std::string m_saved;
  bool m_had = false;
};

// A display named but not there: no abort inside Qt, one line, and the
// server serves without a window.
TEST_F(ProgramTest, ADisplayThatDoesNotAnswerLeavesTheServerHeadlessWithOneLine) {
  int n = 99;
  while (FileExists("/tmp/.X11-unix/X" + std::to_string(n))) ++n;
  const std::string name = ":" + std::to_string(n);
  std::optional<ServerProcess> server;
  {
    EnvVar qpa("QT_QPA_PLATFORM", nullptr), wayland("WAYLAND_DISPLAY", nullptr),
        display("DISPLAY", name.c_str());
    server.emplace(env, std::vector<std::string>{}, "nodisplay");
  }
  ASSERT_TRUE(server->Listening()) << server->Output();
  RemoteClient local(Via::Unix);
  EXPECT_EQ(local.OpenPort(1), (Outcome{0, kOk}));
  local.Drop();
  const std::string out = server->Output();
  EXPECT_THAT(out, ::testing::StartsWith("Сервер Варн: окно не показано: дисплей " + name +
                                         " недоступен ("));
  EXPECT_THAT(out, ::testing::EndsWith("); сервер работает без окна\n"));
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
  server->Child().Terminate();
  EXPECT_EQ(server->Exit(), 0) << server->Output();
}

// The program where the window library is not beside it: in the installed
// private folder it is found; nowhere, the server serves headless, says so
// once and never loads Qt.
TEST_F(ProgramTest, TheWindowLibraryIsFoundInThePrivateFolderOrTheServerRunsHeadless) {
  namespace fs = std::filesystem;
  const fs::path bin = env.Path("usr/bin");
  fs::create_directories(bin);
  fs::copy_file(VarnSrvProgram(), bin / "VarnSrv");
  EnvVar qpa("QT_QPA_PLATFORM", "offscreen"), display("DISPLAY", ":0");
  auto run = [&](const std::string& name) {
    auto p = std::make_unique<ChildProcess>((bin / "VarnSrv").string(), std::vector<std::string>{},
                                            env.Path(name + ".out"));
    EXPECT_TRUE(Eventually([&] {
      try {
        return !p->Running() || UnixSocketListenerProcessId(SocketPath()) == p->Pid();
      } catch (const std::exception&) {
        return false;
      }
    }));
    EXPECT_TRUE(p->Running()) << ReadFileOrEmpty(env.Path(name + ".out"));
    return p;
  };

  std::unique_ptr<ChildProcess> alone = run("alone");
  const std::string maps = ReadFileOrEmpty("/proc/" + std::to_string(alone->Pid()) + "/maps");
  EXPECT_THAT(maps, ::testing::Not(::testing::HasSubstr("libQt6")));
  RemoteClient local(Via::Unix);
  EXPECT_EQ(local.OpenPort(1), (Outcome{0, kOk}));
  local.Drop();
  alone->Terminate();
  EXPECT_EQ(alone->Wait(kPatience), 0);
  EXPECT_EQ(ReadFileOrEmpty(env.Path("alone.out")),
            "Сервер Варн: окно не показано: библиотека окна libVarnSrvGui.so не найдена (пакет "
            "varn-gui не установлен?); сервер работает без окна\n");

  const fs::path privateFolder = bin / VARN_SRVGUI_FROM_BINDIR;
  fs::create_directories(privateFolder);
  fs::copy_file(VARN_SRVGUI_LIBRARY, privateFolder / "libVarnSrvGui.so");
  std::unique_ptr<ChildProcess> installed = run("installed");
  EXPECT_THAT(
      ReadFileOrEmpty("/proc/" + std::to_string(installed->Pid()) + "/maps"),
      ::testing::HasSubstr(fs::weakly_canonical(privateFolder).string() + "/libVarnSrvGui.so"));
  installed->Terminate();
  EXPECT_EQ(installed->Wait(kPatience), 0);
  EXPECT_THAT(ReadFileOrEmpty(env.Path("installed.out")),
              ::testing::Not(::testing::HasSubstr("окно не показано")));
}

TEST(QtEventLoop, RunsTasksInOrderAndTimersOnlyThroughPostedChanges) {
  TQtEventLoop loop;
  std::vector<int> order;
  std::thread poster([&] {
    for (int i = 0; i < 200; ++i) loop.Post([&order, i] { order.push_back(i); });
  });
  poster.join();
  std::string refused;
  std::thread([&] {
    try {
      loop.StopTimer(1);
    } catch (const std::logic_error& e) {
      refused = e.what();
    }
  }).join();
  EXPECT_EQ(refused, "StopTimer outside the main loop's thread");
  {
    TTimers timers(loop);
    TTimer started, stopped;
    std::atomic<int> fired{0};
    started.SetInterval(5);
    started.SetOnTimer([&] {
      if (++fired == 3) loop.Quit();
    });
    stopped.SetInterval(1);
    stopped.SetOnTimer([] { ADD_FAILURE() << "a stopped timer fired"; });
    std::thread([&] {
      stopped.SetEnabled(true);
      stopped.SetEnabled(false);  // overtakes nothing: the stop comes after the start
      started.SetEnabled(true);
    }).join();
    loop.Run();
    EXPECT_EQ(fired, 3);
    EXPECT_EQ(loop.RunningTimers(), 1u);
    started.SetEnabled(false);
    EXPECT_TRUE(Pumped([&] { return loop.RunningTimers() == 0; }));
  }
  ASSERT_EQ(order.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
  // A quit before the run ends the next run at once.
  loop.Quit();
  loop.Run();
}

}  // namespace
}  // namespace varn::test
