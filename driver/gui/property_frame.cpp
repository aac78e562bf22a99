#include "driver/gui/property_frame.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "driver/gui/gui_common.h"
#include "driver/gui/page.h"

namespace varn::gui {

TPropertyFrame::TPropertyFrame(QWidget* owner, IDispatch* driver) : QDialog(owner) {
  setObjectName("TPropertyFrame");
  setWindowTitle("Свойства: Варн");
  auto* layout = new QVBoxLayout(this);
  auto* tabs = new QTabWidget;
  auto* tab = new QWidget;
  auto* tabLayout = new QVBoxLayout(tab);
  tabLayout->setContentsMargins(0, 0, 0, 0);
  tabs->addTab(tab, "Варн");
  layout->addWidget(tabs, 1);
  auto* buttons = new QDialogButtonBox;
  auto* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
  ok->setObjectName("btnOK");
  buttons->addButton("Отмена", QDialogButtonBox::RejectRole)->setObjectName("btnCancel");
  m_apply = buttons->addButton("Применить", QDialogButtonBox::ApplyRole);
  m_apply->setObjectName("btnApply");
  m_apply->setEnabled(false);
  layout->addWidget(buttons);
  m_page = new TfmPage;
  m_page->OnStatusChange = [this] { m_apply->setEnabled(true); };
  std::vector<IDispatch*> objects;
  if (driver) objects.push_back(driver);
  m_page->SetObjects(objects);
  m_page->Activate(tab);
  tabLayout->addWidget(m_page);
  // OK applies whatever the user changed; "Применить" only follows the
  // dirty flag.
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    if (ApplyPage(m_page->IsChanged())) accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(m_apply, &QPushButton::clicked, this, [this] { ApplyPage(m_page->IsPageDirty()); });
  move(16, 16);
}

TPropertyFrame::~TPropertyFrame() {
  m_page->Deactivate();
  delete m_page;
}

bool TPropertyFrame::ApplyPage(bool needed) {
  if (!needed) return true;
  try {
    m_page->Apply();  // shows its own error
  } catch (...) {
    return false;
  }
  m_apply->setEnabled(false);
  return true;
}

int32_t ShowPropertyFrame(IDispatch& driver) {
  EnsureApplication();
  TPropertyFrame frame(QApplication::activeWindow(), &driver);
  frame.exec();
  return 0;
}

}  // namespace varn::gui
