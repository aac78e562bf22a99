// TfmMain: the server's window. Hidden at start and reached from the tray
// icon's menu (or shown at once where the desktop has no tray): the
// settings, the ports with their lock holders, the connected clients and
// what a close does.
//
// The lists follow the shared state only through queued calls: the port
// list's, every port's and the client list's notifications post to this
// window and never wait for it; the handlers take the state lock or the
// client list lock themselves, copy what they show and let it go before
// touching a widget. Widgets carry the design's names (btnUnlock, lvPorts,
// edtTimeout, ...), which is how tests find them.
//
//   TServerApp app(mode, &loop);
//   TfmMain form(app);       // before Start: takes the warnings and the question
//   app.Start();
//   form.Attach();           // fill, hook the notifications, tray icon
//   app.Run();
#pragma once

#include <QMenu>
#include <QWidget>
#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QSystemTrayIcon;
class QTabWidget;
class QTreeWidget;

namespace varn {

class TServerApp;
class TPorts;
class TClients;
class TServerContext;
struct TServerSettings;

inline constexpr const char* kCloseQuestion =
    "К приложению подключены клиенты. Закрытие приложения\r\nможет вызвать сбой клиентских "
    "приложений.\r\n\r\nВы уверены, что хотите закрыть это приложение?";

class TfmMain : public QWidget {
 public:
  explicit TfmMain(TServerApp& app, QWidget* parent = nullptr);
  ~TfmMain() override;

  // The message boxes (an error; a Yes/No question, No by default). Tests
  // put recorders here: a modal box would wait for a person.
  std::function<void(const QString& text)> ShowError;
  std::function<bool(const QString& text)> Ask;

  // After the server started: controls from the settings, the lists and
  // their notifications, the tray icon (or the window where there is none).
  void Attach();

  // The tray icon's click and "&Свойства": refilled and brought up.
  void ShowProperties();
  // "&Закрыть" (and a close request): asks when clients may suffer, then
  // ends the main loop. False when the answer was No.
  bool CloseServer();
  // "Применить". False when nothing was applied.
  bool Apply();
  // "О программе...": the modal about box.
  void ShowAbout();

  QMenu* PopupMenu() { return m_popup.get(); }
  bool HasTray() const { return m_tray != nullptr; }

 protected:
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QWidget* BuildSettingsPage();
  QWidget* BuildPortsPage();
  QWidget* BuildClientsPage();
  QWidget* BuildClosePage();
  void BuildPopupMenu();

  // Controls from settings (the stored ones, or the defaults).
  void FillControls(const TServerSettings& s);
  void Refill();
  void Changed();  // any edit: "Применить" on
  void SetTcpControls(bool enabled);
  void HideOrKeep();  // "OK", "Отмена": hidden, unless nothing else can show it again

  // The posted notifications' handlers (on the main thread).
  void PortChanged(int32_t number);
  void RebuildPorts();
  void RebuildClients();
  void HookPort(int32_t number);
  void UnlockSelected();
  void PortSelected();

  TServerApp& m_app;
  TServerSettings& m_settings;
  std::shared_ptr<TServerContext> m_context;  // held while the window lives
  TPorts& m_ports;
  TClients& m_clients;
  bool m_attached = false;

  QTabWidget* m_pages = nullptr;
  QCheckBox* chbLogOn = nullptr;
  QSpinBox* udTimeout = nullptr;
  QLineEdit* edtTimeout = nullptr;
  QCheckBox* chbAutoUnlock = nullptr;
  QCheckBox* chbTCPEnabled = nullptr;
  QLabel* lblTCPPort = nullptr;
  QLineEdit* edtTCPPort = nullptr;
  QLabel* lblTCPAddress = nullptr;
  QLineEdit* edTCPAddress = nullptr;
  QLabel* lblTCPAllow = nullptr;
  QLineEdit* edTCPAllow = nullptr;
  QTreeWidget* lvPorts = nullptr;
  QPushButton* btnUnlock = nullptr;
  QTreeWidget* lvClients = nullptr;
  QLineEdit* edtClientCount = nullptr;
  QRadioButton* rbWarning = nullptr;
  QRadioButton* rbNotWarning = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;
  QPushButton* btnApply = nullptr;
  QPushButton* btnDefaults = nullptr;

  std::unique_ptr<QMenu> m_popup;
  QSystemTrayIcon* m_tray = nullptr;
};

}  // namespace varn
