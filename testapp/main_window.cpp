#include "testapp/main_window.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStackedLayout>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <stdexcept>

#include "driver/gui/ax_ctrl.h"
#include "platform/registry.h"
#include "testapp/saved_inputs.h"

#ifndef VARN_VERSION_MAJOR
#error "the build passes the project's version (VARN_VERSION_MAJOR...)"
#endif

namespace varn::testapp {

TPageItem::TPageItem(TPageList* owner, TPageClass pageClass)
    : PageClass(pageClass), m_owner(owner) {
  if (m_owner) m_owner->Add(this);
}

TPageItem::~TPageItem() {
  delete Page;
  if (m_owner) m_owner->Remove(this);
}

TPageList::~TPageList() {
  // Each item leaves the list as it goes.
  while (Count() > 0) delete m_items->back();
}

void TPageList::Add(TPageItem* item) {
  if (!m_items) m_items = std::make_unique<std::vector<TPageItem*>>();
  m_items->push_back(item);
}

void TPageList::Remove(TPageItem* item) {
  if (!m_items) return;
  std::erase(*m_items, item);
  if (m_items->empty()) m_items.reset();
}

QString TestVersion() {
  return QString::asprintf("%d.%d.%d.%d", VARN_VERSION_MAJOR, VARN_VERSION_MINOR,
                           VARN_VERSION_PATCH, VARN_VERSION_TWEAK);
}

namespace {

QLineEdit* NewOutcomeField(const QString& name) {
  auto* e = new QLineEdit;
  e->setObjectName(name);
  e->setReadOnly(true);
  e->setFocusPolicy(Qt::NoFocus);
  e->setMinimumWidth(313);
  return e;
}

}  // namespace

TfmMain::TfmMain(std::u16string progId) : m_driver(std::move(progId)) {
  // The object model needs no process-wide security set-up here: the driver
  // is an in-process library and reaches its server over a private socket.
  setObjectName("fmMain");
  setWindowTitle("Тест драйвера Варн " + TestVersion());
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  Build();
  for (const TPageClass& c : AllPages()) new TPageItem(&m_pages, c);
  CreatePages();
  // The panel as designed, wider or taller only where a page needs it (an
  // explicit minimum would otherwise squeeze a page narrower than its own).
  m_data->setMinimumSize(m_stack->minimumSize().expandedTo(QSize(405, 305)));
  for (int i = 0; i < m_pages.Count(); ++i) m_list->addItem(m_pages.Item(i)->PageClass.PageTitle());
  if (m_pages.Count() > 0) {
    m_list->setCurrentRow(0);
    ShowPage(0);
  }
  // Single border: a 517 x 416 client area, larger only where the texts
  // need it. Minimum sizes, not hints: the tallest page's hint (a memo's)
  // would leave empty space under the list and every other page.
  const QSize size = minimumSizeHint().expandedTo(QSize(kClientWidth, kClientHeight));
  setFixedSize(size);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(size.width() / 2, size.height() / 2));
  try {
    RestoreInputs();
  } catch (...) {
    // The loader's own text of a bad page index stays, after a Russian lead-in.
    QMessageBox::critical(this, AppTitle(),
                          "Сохранённые поля ввода не восстановлены: " + CurrentErrorText());
  }
}

TfmMain::~TfmMain() {
  try {
    SaveInputs();
  } catch (...) {
    qWarning("VarnTest: поля ввода не сохранены: %s", qPrintable(CurrentErrorText()));
  }
  // The pages go before the driver they call (members go in reverse order).
}

void TfmMain::Build() {
  m_list = new QListWidget;
  m_list->setObjectName("ListBox");
  int titles = 0;
  for (const TPageClass& c : AllPages())
    titles = std::max(titles, m_list->fontMetrics().horizontalAdvance(c.PageTitle()));
  m_list->setFixedWidth(std::max(105, titles + 16 + 2 * m_list->frameWidth()));
  m_list->setMinimumHeight(297);
  QObject::connect(m_list, &QListWidget::currentRowChanged, this, [this](int row) {
    if (row >= 0) ShowPage(row);
  });

  m_data = new QWidget;
  m_data->setObjectName("pnlData");
  m_stack = new QStackedLayout(m_data);
  m_stack->setContentsMargins(0, 0, 0, 0);

  auto* top = new QHBoxLayout;
  // As designed: the pages from the top edge, the list 8 below it, the
  // outcome fields 24 apart, near the bottom edge.
  auto* listColumn = new QVBoxLayout;
  listColumn->setContentsMargins(0, 8, 0, 0);
  listColumn->addWidget(m_list);
  top->addLayout(listColumn);
  top->addWidget(m_data, 1);

  auto* bevel = new QFrame;
  bevel->setObjectName("Bevel");
  bevel->setFrameShape(QFrame::HLine);
  bevel->setFrameShadow(QFrame::Sunken);

  auto* fields = new QGridLayout;
  fields->setVerticalSpacing(2);
  const struct {
    const char* label;
    const char* text;
    const char* field;
    QLineEdit** edit;
  } rows[] = {{"lblTime", "Время:", "edtTime", &m_time},
              {"lblResult", "Ошибка:", "edtResult", &m_result},
              {"lblTxData", "Передано:", "edtInput", &m_input},
              {"lblRxData", "Принято:", "edtOutput", &m_output}};
  int r = 0;
  for (const auto& row : rows) {
    auto* label = new QLabel(row.text);
    label->setObjectName(row.label);
    *row.edit = NewOutcomeField(row.field);
    label->setBuddy(*row.edit);
    fields->addWidget(label, r, 0);
    fields->addWidget(*row.edit, r, 1);
    ++r;
  }

  auto* about = new QPushButton("О программе...");
  about->setObjectName("btnAbout");
  QObject::connect(about, &QPushButton::clicked, this, [this] { ShowAbout(); });
  auto* properties = new QPushButton("Настройка свойств");
  properties->setObjectName("btnProperties");
  QObject::connect(properties, &QPushButton::clicked, this, [this] { ShowProperties(); });
  auto* close = new QPushButton("Закрыть");
  close->setObjectName("btnClose");
  QObject::connect(close, &QPushButton::clicked, this, &QWidget::close);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(about);
  buttons->addWidget(properties);
  buttons->addWidget(close);
  buttons->addStretch(1);

  // The driver's control is hosted, never shown: nothing of it here.
  auto* bottom = new QHBoxLayout;
  bottom->addLayout(fields, 1);
  bottom->addLayout(buttons);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 0, 8, 2);
  layout->addLayout(top, 1);
  layout->addWidget(bevel);
  layout->addLayout(bottom);
}

void TfmMain::CreatePages() {
  for (int i = 0; i < m_pages.Count(); ++i) {
    TPageItem* item = m_pages.Item(i);
    if (item->Page) continue;
    TPage* page = item->PageClass.Create(this, m_driver);
    item->Page = page;
    page->Initialize();
    page->OnAfterCall = [this](TPage& p) { AfterCallHandler(p); };
    page->OnBeforeCall = [this](TPage& p) { BeforeCallHandler(p); };
    page->setWindowFlags(Qt::Widget);
    m_stack->addWidget(page);
  }
}

void TfmMain::ShowPage(int index) {
  if (index < 0 || index >= m_pages.Count()) throw std::out_of_range("Invalid page index");
  if (index == m_pageIndex) return;
  TPage* page = m_pages.Item(index)->Page;
  if (page) m_stack->setCurrentWidget(page);
  m_pageIndex = index;
}

void TfmMain::BeforeCallHandler(TPage&) {
  m_tick = std::chrono::steady_clock::now();
}

void TfmMain::AfterCallHandler(TPage&) {
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - m_tick);
  m_time->setText(QString::number(elapsed.count()) + " мс.");
  m_result->setText(QString("(%1) %2")
                        .arg(m_driver.Int(drv_dispid::kResultCode))
                        .arg(m_driver.Text(drv_dispid::kResultCodeDescription)));
  m_input->setText(m_driver.Text(drv_dispid::kECRInput));
  m_output->setText(m_driver.Text(drv_dispid::kECROutput));
  // The beginning of a long exchange is what is read first.
  for (QLineEdit* e : {m_time, m_result, m_input, m_output}) e->setCursorPosition(0);
}

void TfmMain::ShowAbout() {
  QString driverVersion, serverVersion;
  try {
    driverVersion = m_driver.Text(drv_dispid::kFileVersion);
    serverVersion = m_driver.Text(drv_dispid::kServerVersion);
  } catch (...) {
    QMessageBox::critical(this, AppTitle(), CurrentErrorText());
    return;
  }
  QDialog box(this);
  box.setObjectName("fmAbout");
  box.setWindowTitle(AppTitle());
  auto* title = new QLabel("Тест драйвера Варн");
  title->setObjectName("lblTitle");
  QFont big = title->font();
  big.setBold(true);
  big.setPointSizeF(big.pointSizeF() * 1.4);
  title->setFont(big);
  auto* texts = new QVBoxLayout;
  texts->addWidget(title);
  const std::pair<const char*, QString> lines[] = {
      {"lblTestVersion", "Версия теста: " + TestVersion()},
      {"lblDriverVersion", "Версия драйвера: " + driverVersion},
      {"lblServerVersion", "Версия сервера: " + serverVersion}};
  for (const auto& [name, text] : lines) {
    auto* label = new QLabel(text);
    label->setObjectName(name);
    texts->addWidget(label);
  }
  auto* top = new QHBoxLayout;
  // The driver's picture as the icon it is, not its control.
  auto* icon = new QLabel;
  icon->setObjectName("imgDriver");
  icon->setPixmap(gui::DriverPicture());
  icon->setFixedSize(40, 40);
  icon->setAlignment(Qt::AlignCenter);
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addSpacing(12);
  top->addLayout(texts, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("btnOK");
  QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
  auto* layout = new QVBoxLayout(&box);
  layout->addLayout(top);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  box.exec();
}

void TfmMain::ShowProperties() {
  try {
    m_driver.Call(drv_dispid::kShowProperties);
  } catch (...) {
    QMessageBox::critical(this, AppTitle(), CurrentErrorText());
  }
}

void TfmMain::RestoreInputs() {
  const std::optional<int> page = testapp::RestoreInputs(Registry::Default(), *this);
  if (!page) return;
  ShowPage(*page);
  m_list->setCurrentRow(*page);
}

void TfmMain::SaveInputs() {
  Registry reg = Registry::Default();
  testapp::SaveInputs(reg, *this, m_list->currentRow());
}

}  // namespace varn::testapp
