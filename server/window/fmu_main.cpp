#include "server/window/fmu_main.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <mutex>
#include <optional>
#include <vector>

#include "server/app/program.h"
#include "server/app/server_app.h"
#include "server/context.h"
#include "server/varn_srv.h"
#include "server/window/fmu_about.h"

namespace varn {
namespace {

constexpr int kMinWidth = 453;
constexpr int kMinHeight = 329;
constexpr int kNumberRole = Qt::UserRole;
constexpr int kLockedRole = Qt::UserRole + 1;

QString Q(const std::string& utf8) {
  return QString::fromStdString(utf8);
}

// A Windows text's line ends as Qt shows them.
QString Lines(const char* text) {
  return QString::fromUtf8(text).replace("\r\n", "\n");
}

QTreeWidget* MakeList(const char* name, const QStringList& columns) {
  auto* list = new QTreeWidget;
  list->setObjectName(name);
  list->setHeaderLabels(columns);
  list->setRootIsDecorated(false);
  list->setItemsExpandable(false);
  list->setUniformRowHeights(true);
  list->setAllColumnsShowFocus(true);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setSortingEnabled(false);
  list->header()->setSectionsClickable(false);
  list->header()->setSectionsMovable(false);
  list->header()->setStretchLastSection(true);
  // Selection stays as visible without focus as with it.
  QPalette pal = list->palette();
  for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
    pal.setColor(QPalette::Inactive, role, pal.color(QPalette::Active, role));
  list->setPalette(pal);
  return list;
}

// Every column but the last (which stretches) as wide as its widest text,
// with room to breathe between columns.
void FitColumns(QTreeWidget* list) {
  for (int i = 0; i + 1 < list->columnCount(); ++i) {
    list->resizeColumnToContents(i);
    list->setColumnWidth(i, list->columnWidth(i) + 12);
  }
}

struct PortRow {
  int32_t number;
  bool locked;
  std::string compName;
  int32_t pid;
  std::string appName;
};

QStringList PortRowTexts(const PortRow& r) {
  if (!r.locked) return {QString("COM %1").arg(r.number), "свободен", "", "", ""};
  return {QString("COM %1").arg(r.number), "занят", Q(r.compName), QString::number(r.pid),
          Q(r.appName)};
}

void SetPortRow(QTreeWidgetItem* item, const PortRow& r) {
  const QStringList texts = PortRowTexts(r);
  for (int i = 0; i < texts.size(); ++i) item->setText(i, texts[i]);
  item->setData(0, kNumberRole, r.number);
  item->setData(0, kLockedRole, r.locked);
}

PortRow ReadPort(const TPort& port) {
  return {port.PortNumber(), port.Locked(), port.LockCompName(), port.LockPID(),
          port.LockAppName()};
}

}  // namespace

TfmMain::TfmMain(TServerApp& app, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint),
      m_app(app),
      m_settings(app.Settings()),
      m_context(app.SharedContext()),
      m_ports(m_context->Ports()),
      m_clients(m_context->Clients()) {
  setObjectName("fmMain");
  setWindowTitle(kServerTitle);
  setWindowIcon(QIcon(":/varn/logo.png"));

  ShowError = [this](const QString& text) {
    QMessageBox box(QMessageBox::Critical, kServerTitle, text, QMessageBox::Ok, this);
    box.exec();
  };
  Ask = [this](const QString& text) {
    QMessageBox box(QMessageBox::Warning, kServerTitle, text, QMessageBox::Yes | QMessageBox::No,
                    this);
    box.setDefaultButton(QMessageBox::No);
    box.setWindowModality(Qt::ApplicationModal);
    return box.exec() == QMessageBox::Yes;
  };
  // The server's own reports: a listener that cannot start, the question
  // before dropping clients with the TCP listener.
  m_app.OnWarning = [this](const std::string& text) {
    ShowError(Q(text));
    // The TCP box follows the setting the failure cleared.
    if (chbTCPEnabled && !m_settings.TCPEnabled) {
      const QSignalBlocker block(chbTCPEnabled);
      chbTCPEnabled->setChecked(false);
      SetTcpControls(false);
    }
  };
  m_app.ConfirmClose = [this] { return Ask(Lines(kCloseQuestion)); };

  m_pages = new QTabWidget;
  m_pages->setObjectName("pcMain");
  m_pages->addTab(BuildSettingsPage(), "Параметры");
  m_pages->addTab(BuildPortsPage(), "Порты");
  m_pages->addTab(BuildClientsPage(), "Клиенты");
  m_pages->addTab(BuildClosePage(), "Закрытие");

  btnOK = new QPushButton("OK");
  btnOK->setObjectName("btnOK");
  btnCancel = new QPushButton("Отмена");
  btnCancel->setObjectName("btnCancel");
  btnApply = new QPushButton("Применить");
  btnApply->setObjectName("btnApply");
  btnApply->setEnabled(false);
  btnDefaults = new QPushButton("По умолчанию");
  btnDefaults->setObjectName("btnDefaults");
  btnDefaults->setToolTip("Установить значения параметров в значения по умолчанию");
  connect(btnOK, &QPushButton::clicked, this, [this] {
    if (Apply()) HideOrKeep();
  });
  connect(btnCancel, &QPushButton::clicked, this, [this] {
    HideOrKeep();
    if (isVisible()) Refill();  // kept up: the edits go all the same
  });
  connect(btnApply, &QPushButton::clicked, this, [this] { Apply(); });
  connect(btnDefaults, &QPushButton::clicked, this, [this] {
    TServerSettings defaults;
    defaults.ResetSettings();
    FillControls(defaults);
    btnApply->setEnabled(true);
  });

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnDefaults);
  buttons->addStretch(1);
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  buttons->addWidget(btnApply);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_pages, 1);
  layout->addLayout(buttons);

  BuildPopupMenu();
  // A fixed border: the size the layout asks for, at least the designed one.
  setFixedSize(sizeHint().expandedTo(QSize(kMinWidth, kMinHeight)));
}

TfmMain::~TfmMain() {
  m_app.OnWarning = nullptr;
  m_app.ConfirmClose = nullptr;
  {
    std::lock_guard state(m_ports.StateLock());
    for (int i = 0; i < m_ports.Count(); ++i) m_ports.Items(i).SetOnChange(nullptr);
    m_ports.SetOnChange(nullptr);
  }
  m_clients.SetOnChange(nullptr);
}

QWidget* TfmMain::BuildSettingsPage() {
  auto* page = new QWidget;
  page->setObjectName("tsParams");

  auto* com = new QGroupBox("COM порт");
  chbLogOn = new QCheckBox("Вести лог");
  chbLogOn->setObjectName("chbLogOn");
  auto* lblTimeout = new QLabel("Таймаут блокировки COM порта, c:");
  lblTimeout->setObjectName("lblTimeout");
  udTimeout = new QSpinBox;
  udTimeout->setObjectName("udTimeout");
  udTimeout->setRange(0, 32767);
  // The value moves on Enter (or the arrows), not with every key.
  udTimeout->setKeyboardTracking(false);
  edtTimeout = udTimeout->findChild<QLineEdit*>();
  edtTimeout->setObjectName("edtTimeout");
  edtTimeout->setMaxLength(5);
  lblTimeout->setBuddy(udTimeout);
  chbAutoUnlock = new QCheckBox("Разблокировать порт при таймауте");
  chbAutoUnlock->setObjectName("chbAutoUnlock");
  auto* timeoutRow = new QHBoxLayout;
  timeoutRow->addWidget(lblTimeout);
  timeoutRow->addWidget(udTimeout);
  timeoutRow->addStretch(1);
  auto* comLayout = new QVBoxLayout(com);
  comLayout->addWidget(chbLogOn);
  comLayout->addLayout(timeoutRow);
  comLayout->addWidget(chbAutoUnlock);

  auto* net = new QGroupBox("Подключение");
  chbTCPEnabled = new QCheckBox("Использовать TCP");
  chbTCPEnabled->setObjectName("chbTCPEnabled");
  lblTCPPort = new QLabel("Порт TCP:");
  lblTCPPort->setObjectName("lblTCPPort");
  edtTCPPort = new QLineEdit;
  edtTCPPort->setObjectName("edtTCPPort");
  edtTCPPort->setMaximumWidth(edtTCPPort->fontMetrics().horizontalAdvance("0000000000"));
  lblTCPPort->setBuddy(edtTCPPort);
  lblTCPAddress = new QLabel("Адрес:");
  lblTCPAddress->setObjectName("lblTCPAddress");
  edTCPAddress = new QLineEdit;
  edTCPAddress->setObjectName("edTCPAddress");
  edTCPAddress->setToolTip(
      "Адрес, на котором сервер ждёт TCP-подключений: IPv4, IPv6 или localhost.\n"
      "Пусто — все адреса компьютера.");
  lblTCPAddress->setBuddy(edTCPAddress);
  lblTCPAllow = new QLabel("Разрешённые сети:");
  lblTCPAllow->setObjectName("lblTCPAllow");
  edTCPAllow = new QLineEdit;
  edTCPAllow->setObjectName("edTCPAllow");
  edTCPAllow->setToolTip(
      "Сети, с которых разрешены подключения, через пробел, запятую или точку с запятой,\n"
      "например: 192.168.1.0/24 10.0.0.5 fd00::/8\n"
      "Пусто — подключаться может любой компьютер.");
  lblTCPAllow->setBuddy(edTCPAllow);
  auto* tcpGrid = new QGridLayout;
  tcpGrid->addWidget(lblTCPPort, 0, 0);
  tcpGrid->addWidget(edtTCPPort, 0, 1, Qt::AlignLeft);
  tcpGrid->addWidget(lblTCPAddress, 1, 0);
  tcpGrid->addWidget(edTCPAddress, 1, 1);
  tcpGrid->addWidget(lblTCPAllow, 2, 0);
  tcpGrid->addWidget(edTCPAllow, 2, 1);
  tcpGrid->setColumnStretch(1, 1);
  auto* netLayout = new QVBoxLayout(net);
  netLayout->addWidget(chbTCPEnabled);
  netLayout->addLayout(tcpGrid);

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(com);
  layout->addWidget(net);
  layout->addStretch(1);

  connect(chbLogOn, &QCheckBox::toggled, this, [this] { Changed(); });
  connect(chbAutoUnlock, &QCheckBox::toggled, this, [this] { Changed(); });
  connect(edtTimeout, &QLineEdit::textEdited, this, [this] { Changed(); });
  connect(udTimeout, &QSpinBox::valueChanged, this, [this] { Changed(); });
  connect(edtTCPPort, &QLineEdit::textEdited, this, [this] { Changed(); });
  connect(edTCPAddress, &QLineEdit::textEdited, this, [this] { Changed(); });
  connect(edTCPAllow, &QLineEdit::textEdited, this, [this] { Changed(); });
  connect(chbTCPEnabled, &QCheckBox::toggled, this, [this](bool on) {
    SetTcpControls(on);
    Changed();
  });
  return page;
}

QWidget* TfmMain::BuildPortsPage() {
  auto* page = new QWidget;
  page->setObjectName("tsPorts");
  lvPorts = MakeList("lvPorts", {"Порт", "Состояние", "Компьютер", "PID", "Приложение"});
  btnUnlock = new QPushButton("Разблокировать");
  btnUnlock->setObjectName("btnUnlock");
  btnUnlock->setEnabled(false);
  connect(btnUnlock, &QPushButton::clicked, this, [this] { UnlockSelected(); });
  connect(lvPorts, &QTreeWidget::currentItemChanged, this, [this] { PortSelected(); });
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(btnUnlock);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(lvPorts, 1);
  layout->addLayout(row);
  return page;
}

QWidget* TfmMain::BuildClientsPage() {
  auto* page = new QWidget;
  page->setObjectName("tsClients");
  lvClients = MakeList("lvClients", {"№", "Компьютер", "PID", "Приложение"});
  auto* label = new QLabel("Количество клиентов:");
  label->setObjectName("lblClientCount");
  edtClientCount = new QLineEdit("0");
  edtClientCount->setObjectName("edtClientCount");
  edtClientCount->setReadOnly(true);
  edtClientCount->setMaximumWidth(edtClientCount->fontMetrics().horizontalAdvance("0000000000"));
  label->setBuddy(edtClientCount);
  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(edtClientCount);
  row->addStretch(1);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(lvClients, 1);
  layout->addLayout(row);
  return page;
}

QWidget* TfmMain::BuildClosePage() {
  auto* page = new QWidget;
  page->setObjectName("tsClose");
  auto* closeBox = new QGroupBox("Обработка параметра командной строки 'close'");
  auto* closeText =
      new QLabel(Lines("Если запустить сервер с параметром командной строки 'close', \r\nнапример: "
                       "VarnSrv close\r\nто будут закрыты все запущенные экземпляры этого "
                       "приложения."));
  closeText->setObjectName("lblCloseText");
  auto* closeLayout = new QVBoxLayout(closeBox);
  closeLayout->addWidget(closeText);

  auto* clientsBox = new QGroupBox("Если к серверу подключены клиенты:");
  rbWarning = new QRadioButton("Выдавать предупреждение");
  rbWarning->setObjectName("rbWarning");
  rbNotWarning = new QRadioButton("Отключать клиентов автоматически");
  rbNotWarning->setObjectName("rbNotWarning");
  auto* note =
      new QLabel("Автоматическое отключение клиентов может привести к ошибкам в работе приложений");
  note->setObjectName("lblNote");
  note->setWordWrap(true);
  auto* clientsLayout = new QVBoxLayout(clientsBox);
  clientsLayout->addWidget(rbWarning);
  clientsLayout->addWidget(rbNotWarning);
  clientsLayout->addWidget(note);
  connect(rbWarning, &QRadioButton::toggled, this, [this] { Changed(); });

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(closeBox);
  layout->addWidget(clientsBox);
  layout->addStretch(1);
  return page;
}

void TfmMain::BuildPopupMenu() {
  m_popup = std::make_unique<QMenu>();
  m_popup->setObjectName("PopupMenu");
  QAction* close = m_popup->addAction("&Закрыть", this, [this] { CloseServer(); });
  close->setObjectName("miClose");
  m_popup->addSeparator();
  QAction* properties = m_popup->addAction("&Свойства", this, [this] { ShowProperties(); });
  properties->setObjectName("miProperties");
  QFont bold = properties->font();
  bold.setBold(true);
  properties->setFont(bold);
  m_popup->setDefaultAction(properties);
  QAction* about = m_popup->addAction("О программе...", this, [this] { ShowAbout(); });
  about->setObjectName("miAbout");
}

void TfmMain::Attach() {
  {
    std::lock_guard state(m_ports.StateLock());
    m_ports.SetOnChange([this] {
      QMetaObject::invokeMethod(
          this, [this] { RebuildPorts(); }, Qt::QueuedConnection);
    });
  }
  m_clients.SetOnChange([this] {
    QMetaObject::invokeMethod(
        this, [this] { RebuildClients(); }, Qt::QueuedConnection);
  });
  m_attached = true;
  Refill();
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    m_tray = new QSystemTrayIcon(windowIcon(), this);
    m_tray->setToolTip(kServerTitle);
    m_tray->setContextMenu(m_popup.get());
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
      if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick) ShowProperties();
    });
    m_tray->show();
  } else {
    // Nowhere to click: the window is the server's only face.
    ShowProperties();
  }
}

void TfmMain::FillControls(const TServerSettings& s) {
  const QSignalBlocker b1(chbLogOn), b2(udTimeout), b3(chbAutoUnlock), b4(chbTCPEnabled),
      b5(rbWarning), b6(rbNotWarning);
  chbLogOn->setChecked(s.LogOn);
  udTimeout->setValue(s.PortTimeout);
  chbAutoUnlock->setChecked(s.AutoUnlock);
  chbTCPEnabled->setChecked(s.TCPEnabled);
  edtTCPPort->setText(QString::number(s.TCPPort));
  edTCPAddress->setText(QString::fromStdString(s.TCPAddress.load()));
  edTCPAllow->setText(QString::fromStdString(s.TCPAllow.load()));
  SetTcpControls(s.TCPEnabled);
  rbWarning->setChecked(s.Warning);
  rbNotWarning->setChecked(!s.Warning);
}

void TfmMain::Refill() {
  RebuildPorts();
  RebuildClients();
  FillControls(m_settings);
  btnApply->setEnabled(false);
}

void TfmMain::Changed() {
  btnApply->setEnabled(true);
}

void TfmMain::SetTcpControls(bool enabled) {
  for (QLabel* label : {lblTCPPort, lblTCPAddress, lblTCPAllow}) label->setEnabled(enabled);
  for (QLineEdit* edit : {edtTCPPort, edTCPAddress, edTCPAllow}) {
    edit->setEnabled(enabled);
    // The window's colour while it can be edited, the buttons' otherwise.
    const QPalette standard = QApplication::palette(edit);
    QPalette pal = edit->palette();
    const QColor colour = standard.color(enabled ? QPalette::Base : QPalette::Button);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
      pal.setColor(group, QPalette::Base, colour);
    edit->setPalette(pal);
  }
}

void TfmMain::ShowProperties() {
  Refill();
  showNormal();
  raise();
  activateWindow();
}

void TfmMain::HideOrKeep() {
  if (m_tray) hide();
}

bool TfmMain::Apply() {
  bool number = false;
  const QString portText = edtTCPPort->text().trimmed();
  const int32_t port = portText.toInt(&number);
  if (!number) {
    ShowError(QString("\"%1\" не является целым числом").arg(edtTCPPort->text()));
    return false;
  }
  udTimeout->interpretText();  // a number typed and not yet entered counts
  TSettingsValues values;
  values.TCPEnabled = chbTCPEnabled->isChecked();
  values.TCPPort = port;
  values.TCPAddress = edTCPAddress->text().trimmed().toStdString();
  values.TCPAllow = edTCPAllow->text().trimmed().toStdString();
  values.Warning = rbWarning->isChecked();
  values.LogOn = chbLogOn->isChecked();
  values.PortTimeout = udTimeout->value();
  values.AutoUnlock = chbAutoUnlock->isChecked();
  // No to the question about connected clients: nothing changes. A failure
  // to listen is shown and clears the box (OnWarning).
  if (!m_app.ApplySettings(values)) return false;
  btnApply->setEnabled(false);
  return true;
}

bool TfmMain::CloseServer() {
  if (m_app.CloseNeedsQuestion() && !Ask(Lines(kCloseQuestion))) return false;
  m_app.Close();
  return true;
}

void TfmMain::ShowAbout() {
  TfmAbout about(this);
  about.exec();
}

void TfmMain::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // Minimised, the window goes to the tray; without one it stays in reach.
  if (event->type() == QEvent::WindowStateChange && isMinimized() && m_tray)
    QTimer::singleShot(0, this, [this] { hide(); });
}

void TfmMain::closeEvent(QCloseEvent* event) {
  // The window's own close is the server's, question included.
  event->ignore();
  CloseServer();
}

void TfmMain::HookPort(int32_t number) {
  // Under the state lock (the caller's).
  if (TPort* port = m_ports.Find(number))
    port->SetOnChange([this, number] {
      QMetaObject::invokeMethod(
          this, [this, number] { PortChanged(number); }, Qt::QueuedConnection);
    });
}

void TfmMain::PortChanged(int32_t number) {
  std::optional<PortRow> row;
  {
    std::lock_guard state(m_ports.StateLock());
    if (TPort* port = m_ports.Find(number)) row = ReadPort(*port);
  }
  if (!row) return;
  for (int i = 0; i < lvPorts->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = lvPorts->topLevelItem(i);
    if (item->data(0, kNumberRole).toInt() == number) {
      SetPortRow(item, *row);
      FitColumns(lvPorts);
      break;
    }
  }
  btnUnlock->setEnabled(row->locked);
}

void TfmMain::RebuildPorts() {
  std::vector<PortRow> rows;
  {
    std::lock_guard state(m_ports.StateLock());
    for (int i = 0; i < m_ports.Count(); ++i) {
      TPort& port = m_ports.Items(i);
      // Ports created since the last rebuild are hooked here.
      if (m_attached) HookPort(port.PortNumber());
      rows.push_back(ReadPort(port));
    }
  }
  lvPorts->clear();
  for (const PortRow& r : rows) SetPortRow(new QTreeWidgetItem(lvPorts), r);
  FitColumns(lvPorts);
  if (lvPorts->topLevelItemCount() > 0) {
    lvPorts->setCurrentItem(lvPorts->topLevelItem(0));
    lvPorts->scrollToItem(lvPorts->topLevelItem(0));
  }
}

void TfmMain::PortSelected() {
  QTreeWidgetItem* item = lvPorts->currentItem();
  if (item) btnUnlock->setEnabled(item->data(0, kLockedRole).toBool());
}

void TfmMain::UnlockSelected() {
  QTreeWidgetItem* item = lvPorts->currentItem();
  if (!item) return;
  const int32_t number = item->data(0, kNumberRole).toInt();
  // Whoever holds it; the row follows through the port's notification.
  m_app.UnlockPort(number);
}

void TfmMain::RebuildClients() {
  struct ClientRow {
    int32_t number;
    TVarnSrv::Identity who;
  };
  std::vector<ClientRow> rows;
  {
    std::lock_guard list(m_clients.ListLock());
    for (int i = 0; i < m_clients.Count(); ++i) {
      TVarnSrv* client = m_clients.Items(i);
      rows.push_back({client->ClientNumber(), client->ClientIdentity()});
    }
  }
  lvClients->clear();
  int position = 0;
  for (const ClientRow& r : rows) {
    auto* item = new QTreeWidgetItem(lvClients, {QString::number(++position), Q(r.who.compName),
                                                 QString::number(r.who.appPID), Q(r.who.appName)});
    item->setData(0, kNumberRole, r.number);
  }
  FitColumns(lvClients);
  if (lvClients->topLevelItemCount() > 0) {
    lvClients->setCurrentItem(lvClients->topLevelItem(0));
    lvClients->scrollToItem(lvClients->topLevelItem(0));
  }
  edtClientCount->setText(QString::number(rows.size()));
}

}  // namespace varn
