#include "driver/gui/page.h"

#include <QApplication>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "driver/gui/dialogs.h"
#include "driver/gui/params.h"
#include "driver/services/operations.h"
#include "platform/errors.h"

namespace varn::gui {
namespace {

const char* const kNoDriver =
    "Странице свойств драйвера передан пустой интерфейс драйвера.\r\n\r\nСкорее всего внешняя "
    "компонента была успешно загружена,\r\nно не был создан объект драйвера.";

// The buttons' device connection: each step only after the one before gave
// 0, and on the way out Disconnect, UnlockPort, ServerDisconnect, all three
// whatever the opening did.
constexpr SessionSteps kButtonSession{.serverDisconnect = true, .checked = false, .closeAll = true};

// A disabled edit in the button-face colour, an enabled one in the window's.
void SetEditEnabled(QLineEdit* edit, bool enabled) {
  edit->setEnabled(enabled);
  QPalette p = edit->palette();
  const QPalette app = QApplication::palette();
  const QColor colour = enabled ? app.color(QPalette::Base) : app.color(QPalette::Button);
  p.setColor(QPalette::Active, QPalette::Base, colour);
  p.setColor(QPalette::Inactive, QPalette::Base, colour);
  p.setColor(QPalette::Disabled, QPalette::Base, colour);
  edit->setPalette(p);
}

// Letters are refused as they are typed; a pasted text gets through and is
// judged when the page is applied.
class TLetterFilter : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) {
      const QString text = static_cast<QKeyEvent*>(event)->text();
      if (!text.isEmpty() && text.at(0).isLetter()) return true;
    }
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

std::optional<int32_t> IntegerText(const QString& text) {
  bool ok = false;
  const int value = text.trimmed().toInt(&ok, 10);
  if (!ok) return std::nullopt;
  return value;
}

TfmPage::TfmPage(QWidget* parent) : TPropertyPage2(parent) {
  setObjectName("TfmPage");
  setWindowTitle("Варн");
  BuildControls();
}

TfmPage::~TfmPage() = default;

void TfmPage::BuildControls() {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(8, 8, 8, 8);
  m_controls = new QWidget(this);
  m_controls->setObjectName("pnlControls");
  outer->addWidget(m_controls);
  auto* top = new QHBoxLayout(m_controls);
  top->setContentsMargins(0, 0, 0, 0);
  auto* left = new QVBoxLayout;
  top->addLayout(left, 1);

  auto named = [](QWidget* w, const char* name) {
    w->setObjectName(name);
    return w;
  };
  // --- Подключение
  auto* gbConnection = new QGroupBox("Подключение");
  gbConnection->setObjectName("gbConnection");
  auto* grid = new QGridLayout(gbConnection);
  cbConnectionType = static_cast<QComboBox*>(named(new QComboBox, "cbConnectionType"));
  cbConnectionType->addItems({"Локально", "TCP", "DCOM"});
  grid->addWidget(new QLabel("Тип подключения:"), 0, 0);
  grid->addWidget(cbConnectionType, 0, 1, 1, 2);
  lblComputerName = new QLabel("Компьютер:");
  lblComputerName->setObjectName("lblComputerName");
  edtComputerName = static_cast<QLineEdit*>(named(new QLineEdit, "edtComputerName"));
  btnComputerName = static_cast<QToolButton*>(named(new QToolButton, "btnComputerName"));
  btnComputerName->setText("...");
  grid->addWidget(lblComputerName, 1, 0);
  grid->addWidget(edtComputerName, 1, 1);
  grid->addWidget(btnComputerName, 1, 2);
  lblUse = new QLabel("Использовать:");
  lblUse->setObjectName("lblUse");
  rbComputer = static_cast<QRadioButton*>(named(new QRadioButton("Имя компьютера"), "rbComputer"));
  rbIPAddress = static_cast<QRadioButton*>(named(new QRadioButton("IP адрес"), "rbIPAddress"));
  auto* use = new QHBoxLayout;
  use->addWidget(rbComputer);
  use->addWidget(rbIPAddress);
  use->addStretch();
  grid->addWidget(lblUse, 2, 0);
  grid->addLayout(use, 2, 1, 1, 2);
  lblIPAddress = new QLabel("IP адрес:");
  lblIPAddress->setObjectName("lblIPAddress");
  edtIPAddress = static_cast<QLineEdit*>(named(new QLineEdit, "edtIPAddress"));
  grid->addWidget(lblIPAddress, 3, 0);
  grid->addWidget(edtIPAddress, 3, 1, 1, 2);
  lblTCPPort = new QLabel("TCP порт:");
  lblTCPPort->setObjectName("lblTCPPort");
  edtTCPPort = static_cast<QLineEdit*>(named(new QLineEdit, "edtTCPPort"));
  edtTCPPort->installEventFilter(new TLetterFilter(edtTCPPort));
  grid->addWidget(lblTCPPort, 4, 0);
  grid->addWidget(edtTCPPort, 4, 1, 1, 2);
  grid->setColumnStretch(1, 1);
  left->addWidget(gbConnection);

  // --- Параметры COM порта
  auto* gbPort = new QGroupBox("Параметры COM порта");
  gbPort->setObjectName("gbPort");
  auto* form = new QFormLayout(gbPort);
  cbComNumber = static_cast<QComboBox*>(named(new QComboBox, "cbComNumber"));
  for (int n = 1; n <= 32; ++n) cbComNumber->addItem(QString("COM %1").arg(n), n);
  cbBaudRate = static_cast<QComboBox*>(named(new QComboBox, "cbBaudRate"));
  cbBaudRate->addItems({"2400", "4800", "9600", "19200", "38400", "57600", "115200"});
  edtTimeout = static_cast<QLineEdit*>(named(new QLineEdit, "edtTimeout"));
  edtTimeout->setMaxLength(10);
  edtTimeout->installEventFilter(new TLetterFilter(edtTimeout));
  auto* udUp = static_cast<QToolButton*>(named(new QToolButton, "udTimeoutUp"));
  auto* udDown = static_cast<QToolButton*>(named(new QToolButton, "udTimeoutDown"));
  udUp->setArrowType(Qt::UpArrow);
  udDown->setArrowType(Qt::DownArrow);
  auto* timeout = new QHBoxLayout;
  timeout->setSpacing(0);
  timeout->addWidget(edtTimeout, 1);
  timeout->addWidget(udUp);
  timeout->addWidget(udDown);
  form->addRow("COM порт:", cbComNumber);
  form->addRow("Скорость:", cbBaudRate);
  form->addRow("Таймаут:", timeout);
  left->addWidget(gbPort);

  // --- Логические устройства
  auto* gbDevices = new QGroupBox("Логические устройства");
  gbDevices->setObjectName("gbDevices");
  auto* devices = new QHBoxLayout(gbDevices);
  cbDevices = static_cast<QComboBox*>(named(new QComboBox, "cbDevices"));
  auto* btnDevices = static_cast<QToolButton*>(named(new QToolButton, "btnDevices"));
  btnDevices->setText("...");
  devices->addWidget(cbDevices, 1);
  devices->addWidget(btnDevices);
  left->addWidget(gbDevices);

  auto* result = new QHBoxLayout;
  edtResult = static_cast<QLineEdit*>(named(new QLineEdit, "edtResult"));
  edtResult->setReadOnly(true);
  result->addWidget(new QLabel("Код ошибки:"));
  result->addWidget(edtResult, 1);
  left->addLayout(result);
  left->addStretch();

  // --- the seven buttons
  auto* right = new QVBoxLayout;
  top->addLayout(right);
  const std::pair<const char*, const char*> buttons[] = {
      {"btnParams", "Дополнительные параметры..."},
      {"btnAbout", "О драйвере..."},
      {"btnPicture", "Загрузить изображение..."},
      {"btnTables", "Таблицы..."},
      {"btnFind", "Поиск оборудования..."},
      {"btnSetBaudRate", "Установить скорость"},
      {"btnCheck", "Проверка связи"}};
  for (const auto& [name, text] : buttons) {
    auto* b = new QPushButton(text);
    b->setObjectName(name);
    b->setAutoDefault(false);
    right->addWidget(b);
    m_buttons.push_back(b);
  }
  right->addStretch();
  const std::function<void()> actions[] = {[this] { EditParams(); },     [this] { About(); },
                                           [this] { LoadPicture(); },    [this] { OpenTables(); },
                                           [this] { FindDevice(); },     [this] { SetBaudRate(); },
                                           [this] { CheckConnection(); }};
  for (size_t i = 0; i < m_buttons.size(); ++i)
    connect(m_buttons[i], &QPushButton::clicked, this, [this, a = actions[i]] { RunButton(a); });
  connect(btnDevices, &QToolButton::clicked, this,
          [this] { RunButton([this] { EditDevices(); }); });
  connect(btnComputerName, &QToolButton::clicked, this, [this] { BrowseComputer(); });

  // --- the error form, in place of the controls when there is no driver
  m_error = new QWidget(this);
  m_error->setObjectName("TfmPageError");
  auto* errorLayout = new QHBoxLayout(m_error);
  auto* picture = new QLabel;
  picture->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(32, 32));
  picture->setAlignment(Qt::AlignTop);
  m_errorInfo = new QLabel("Произошла ошибка при обращении к объекту драйвера.");
  m_errorInfo->setObjectName("lblInfo");
  m_errorInfo->setWordWrap(true);
  m_errorInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  errorLayout->addWidget(picture);
  errorLayout->addWidget(m_errorInfo, 1);
  outer->addWidget(m_error);
  m_error->hide();

  // --- immediate updates
  connect(cbConnectionType, &QComboBox::currentIndexChanged, this, [this](int index) {
    Update([&](DriverClient& d) {
      d.Set(dd::kConnectionType, index);
      d.Set(dd::kLDConnectionType, index);
      d.Call(dd::kSetParamLD);
      UpdateEnabling();
      MarkModified();
    });
  });
  auto addressKind = [this](bool checked) {
    if (!checked) return;
    Update([&](DriverClient& d) {
      const bool ip = rbIPAddress->isChecked();
      d.Set(dd::kUseIPAddress, ip);
      d.Set(dd::kLDUseIPAddress, ip);
      d.Call(dd::kSetParamLD);
      UpdateEnabling();
      MarkModified();
    });
  };
  connect(rbComputer, &QRadioButton::toggled, this, addressKind);
  connect(rbIPAddress, &QRadioButton::toggled, this, addressKind);
  connect(cbBaudRate, &QComboBox::currentIndexChanged, this, [this](int index) {
    Update([&](DriverClient& d) {
      d.Set(dd::kLDBaudrate, index);
      d.Call(dd::kSetParamLD);
    });
  });
  connect(cbComNumber, &QComboBox::currentIndexChanged, this, [this](int index) {
    Update([&](DriverClient& d) {
      d.Set(dd::kComNumber, index + 1);
      d.Set(dd::kLDComNumber, index + 1);
      d.Call(dd::kSetParamLD);
    });
  });
  auto integerEdit = [this](QLineEdit* edit, DISPID prop, DISPID ld) {
    connect(edit, &QLineEdit::textEdited, this, [this, prop, ld](const QString& text) {
      const auto value = IntegerText(text);
      if (!value) return;  // judged on apply
      Update([&](DriverClient& d) {
        d.Set(prop, *value);
        d.Set(ld, *value);
        d.Call(dd::kSetParamLD);
      });
    });
  };
  integerEdit(edtTimeout, dd::kTimeout, dd::kLDTimeout);
  integerEdit(edtTCPPort, dd::kTCPPort, dd::kLDTCPPort);
  auto textEdit = [this](QLineEdit* edit, DISPID prop, DISPID ld) {
    connect(edit, &QLineEdit::textEdited, this, [this, prop, ld](const QString& text) {
      Update([&](DriverClient& d) {
        SetText(d, prop, text);
        SetText(d, ld, text);
        d.Call(dd::kSetParamLD);
      });
    });
  };
  textEdit(edtComputerName, dd::kComputerName, dd::kLDComputerName);
  textEdit(edtIPAddress, dd::kIPAddress, dd::kLDIPAddress);
  auto step = [this](int delta) {
    const int value = std::clamp(IntegerText(edtTimeout->text()).value_or(0) + delta, 0, 32767);
    edtTimeout->setText(QString::number(value));
    Q_EMIT edtTimeout->textEdited(edtTimeout->text());
  };
  connect(udUp, &QToolButton::clicked, this, [step] { step(1); });
  connect(udDown, &QToolButton::clicked, this, [step] { step(-1); });
  connect(cbDevices, &QComboBox::activated, this, [this](int index) {
    Update([&](DriverClient& d) {
      d.Set(dd::kLDIndex, index);
      d.Call(dd::kEnumLD);
      d.Call(dd::kSetActiveLD);
      LoadFields();
    });
  });
}

void TfmPage::Update(const std::function<void(DriverClient&)>& change) {
  if (m_loading || !m_drv) return;
  // Whether or not the change marks the page dirty, OK applies and saves it.
  MarkChanged();
  try {
    change(*m_drv);
  } catch (...) {
    ShowError(this, CurrentErrorText());
  }
}

void TfmPage::UpdatePropertyPage() {
  if (!OleObject) {
    m_drv.reset();
    m_controls->hide();
    m_errorInfo->setText(QString::fromUtf8(kNoDriver));
    m_error->show();
    return;
  }
  if (!m_drv) m_drv.emplace(*OleObject);
  m_error->hide();
  m_controls->show();
  LoadDevices();
  LoadFields();
}

void TfmPage::LoadDevices() {
  m_loading = true;
  try {
    DriverClient& d = *m_drv;
    d.Call(dd::kGetCountLD);
    const int32_t remembered = d.Int(dd::kLDIndex);
    const int32_t count = d.Int(dd::kLDCount);
    cbDevices->clear();
    for (int32_t i = 0; i < count; ++i) {
      d.Set(dd::kLDIndex, i);
      d.Call(dd::kEnumLD);
      cbDevices->addItem(QText(d, dd::kLDName));
    }
    d.Set(dd::kLDIndex, remembered);
    d.Call(dd::kEnumLD);
    cbDevices->setCurrentIndex(remembered);
    cbDevices->setEnabled(count > 1);
  } catch (...) {
    m_loading = false;
    throw;
  }
  m_loading = false;
}

void TfmPage::LoadFields() {
  m_loading = true;
  try {
    DriverClient& d = *m_drv;
    edtTimeout->setText(QString::number(d.Int(dd::kTimeout)));
    cbBaudRate->setCurrentIndex(d.Int(dd::kBaudRate));
    cbComNumber->setCurrentIndex(d.Int(dd::kComNumber) - 1);
    edtComputerName->setText(QText(d, dd::kComputerName));
    cbConnectionType->setCurrentIndex(d.Int(dd::kConnectionType));
    (d.Bool(dd::kUseIPAddress) ? rbIPAddress : rbComputer)->setChecked(true);
    edtTCPPort->setText(QString::number(d.Int(dd::kTCPPort)));
    edtIPAddress->setText(QText(d, dd::kIPAddress));
  } catch (...) {
    m_loading = false;
    throw;
  }
  m_loading = false;
  UpdateEnabling();
}

void TfmPage::UpdateEnabling() {
  const bool t = cbConnectionType->currentIndex() == 1;
  const bool dcom = cbConnectionType->currentIndex() == 2;
  const bool ip = rbIPAddress->isChecked();
  const bool computer = dcom || (t && !ip);
  SetEditEnabled(edtComputerName, computer);
  btnComputerName->setEnabled(computer);
  lblComputerName->setEnabled(computer);
  for (QWidget* w : std::initializer_list<QWidget*>{rbComputer, rbIPAddress, lblUse, lblTCPPort})
    w->setEnabled(t);
  SetEditEnabled(edtTCPPort, t);
  SetEditEnabled(edtIPAddress, t && ip);
  lblIPAddress->setEnabled(t && ip);
}

namespace {

int32_t FieldValue(QLineEdit* edit, const char* field) {
  const auto value = IntegerText(edit->text());
  if (!value) {
    edit->selectAll();
    throw EDriverError(-8, std::string("Неверное значение поля '") + field + "'.\r\n" +
                               U8(QString("'%1' не является целым числом.").arg(edit->text())));
  }
  return *value;
}

}  // namespace

int32_t TfmPage::TimeoutValue() {
  return FieldValue(edtTimeout, "Таймаут");
}

void TfmPage::UpdateObject() {
  if (!m_drv) return;
  try {
    DriverClient& d = *m_drv;
    d.Set(dd::kTimeout, TimeoutValue());
    const int32_t tcp = FieldValue(edtTCPPort, "TCP порт");
    const int32_t baud = cbBaudRate->currentIndex();
    const int32_t com = cbComNumber->currentIndex() + 1;
    const QString computer = edtComputerName->text();
    const int32_t type = cbConnectionType->currentIndex();
    const QString address = edtIPAddress->text();
    const bool ip = rbIPAddress->isChecked();
    d.Set(dd::kBaudRate, baud);
    d.Set(dd::kComNumber, com);
    SetText(d, dd::kComputerName, computer);
    d.Set(dd::kConnectionType, type);
    d.Set(dd::kTCPPort, tcp);
    SetText(d, dd::kIPAddress, address);
    d.Set(dd::kUseIPAddress, ip);
    d.Set(dd::kLDBaudrate, baud);
    d.Set(dd::kLDComNumber, com);
    SetText(d, dd::kLDComputerName, computer);
    d.Set(dd::kLDConnectionType, type);
    d.Set(dd::kLDTimeout, d.Int(dd::kTimeout));
    d.Set(dd::kLDTCPPort, tcp);
    SetText(d, dd::kLDIPAddress, address);
    d.Set(dd::kLDUseIPAddress, ip);
    d.Call(dd::kSetParamLD);
    d.Call(dd::kSaveLDParams);
    // Only the rate and the port save the settings as they are set; the
    // values set after them would be lost at the next start.
    d.Check(dd::kSaveParams);
  } catch (...) {
    ShowError(this, CurrentErrorText());
    throw;
  }
}

void TfmPage::RunButton(const std::function<void()>& action) {
  if (!m_drv) return;
  QWidget* focused = QApplication::focusWidget();
  for (auto* b : m_buttons) b->setEnabled(false);
  try {
    action();
  } catch (const EAbort&) {
  } catch (...) {
    ShowError(this, CurrentErrorText());
  }
  for (auto* b : m_buttons) b->setEnabled(true);
  if (focused) focused->setFocus();
}

void TfmPage::CheckConnection() {
  DriverClient& d = *m_drv;
  d.Set(dd::kBaudRate, cbBaudRate->currentIndex());
  DriverSession session(d, kButtonSession);
  if (session.Opened()) d.Call(dd::kGetECRStatus);
  edtResult->setText(Q(d.ResultLine()));
  session.Close();
}

void TfmPage::SetBaudRate() {
  DriverClient& d = *m_drv;
  d.Set(dd::kTimeout, TimeoutValue());
  DriverSession session(d, kButtonSession);
  d.Set(dd::kPortNumber, 0);
  d.Set(dd::kBaudRate, cbBaudRate->currentIndex());
  d.Set(dd::kComNumber, cbComNumber->currentIndex() + 1);
  d.Call(dd::kSetExchangeParam);
  edtResult->setText(Q(d.ResultLine()));
  session.Close();
}

void TfmPage::About() {
  DriverClient& d = *m_drv;
  const QString server = d.Bool(dd::kServerConnected)
                             ? "Версия сервера: " + QText(d, dd::kServerVersion)
                             : QString("Версия сервера: недоступна");
  const QString driver = "Версия драйвера: " + QText(d, dd::kFileVersion);
  QMessageBox box(QMessageBox::Information, QString::fromUtf8(kCaption), server + "\n" + driver,
                  QMessageBox::Ok, this);
  box.setObjectName("AboutBox");
  box.exec();
}

void TfmPage::FindDevice() {
  ShowFindDialog(this, *OleObject);
  LoadDevices();
  LoadFields();
}

void TfmPage::OpenTables() {
  Apply();
  ShowTablesDialog(this, *OleObject);
  LoadDevices();
  LoadFields();
  edtResult->setText(Q(m_drv->ResultLine()));
}

void TfmPage::LoadPicture() {
  Apply();
  ShowPictureDialog(this, *OleObject);
}

void TfmPage::EditDevices() {
  ShowDeviceDialog(this, *OleObject);
  m_drv->Call(dd::kSetActiveLD);
  LoadDevices();
  LoadFields();
}

void TfmPage::BrowseComputer() {
  // No network browser here: the name is asked for, starting at the current one.
  bool ok = false;
  const QString name =
      QInputDialog::getText(this, QString::fromUtf8(kCaption), "Укажите имя компьютера",
                            QLineEdit::Normal, edtComputerName->text(), &ok);
  if (!ok || name.isEmpty()) return;
  edtComputerName->setText(name);
  Q_EMIT edtComputerName->textEdited(name);
}

void TfmPage::EditParams() {
  if (!m_params) {
    m_params = new TfmParams(this, *OleObject);
  }
  if (m_params->exec() == QDialog::Accepted) m_params->ApplyAll();
}

}  // namespace varn::gui
