#include "driver/gui/property_page.h"

namespace varn::gui {

void TPropertyPage2::SetObjects(const std::vector<IDispatch*>& objects) {
  OleObject = nullptr;
  m_objects.clear();
  if (!objects.empty()) {
    m_objects.push_back(objects.front());
    OleObject = objects.front();
  }
}

void TPropertyPage2::Activate(QWidget* parent) {
  setParent(parent);
  UpdatePropertyPage();
  m_active = true;
  m_modified = false;
  m_changed = false;
  show();
}

void TPropertyPage2::Deactivate() {
  m_active = false;
  hide();
  setParent(nullptr);
}

void TPropertyPage2::Apply() {
  UpdateObject();
  m_modified = false;
  m_changed = false;
}

void TPropertyPage2::MarkModified() {
  if (!m_active) return;
  m_modified = true;
  if (OnStatusChange) OnStatusChange();
}

}  // namespace varn::gui
