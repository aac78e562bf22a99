// TPropertyPage2: a property page as the property frame sees it. The page
// edits one driver object (OleObject); the frame calls SetObjects, then
// Activate, asks IsPageDirty and calls Apply, and Deactivate at the end.
// UpdatePropertyPage loads the page from the object, UpdateObject writes it.
//
//   TfmPage page;
//   page.SetObjects({&driver});
//   page.Activate(frameTab);     // loads; not modified
//   ...                          // the user changes the connection type
//   if (page.IsPageDirty()) page.Apply();  // EDriverError leaves it dirty
#pragma once

#include <QWidget>
#include <functional>
#include <vector>

#include "platform/automation/dispatch.h"

namespace varn::gui {

class TPropertyPage2 : public QWidget {
 public:
  explicit TPropertyPage2(QWidget* parent = nullptr) : QWidget(parent) {}

  // The first object becomes OleObject; none clears it.
  void SetObjects(const std::vector<IDispatch*>& objects);
  // Makes the page a child of `parent`, loads it when it has an object;
  // then active and not modified.
  void Activate(QWidget* parent);
  void Deactivate();
  bool IsPageDirty() const { return m_modified; }
  // Dirty, or changed by the user in a way that does not make it dirty
  // since the last apply: what OK applies.
  bool IsChanged() const { return m_modified || m_changed; }
  // UpdateObject, then not modified; a failure is raised and the page stays
  // modified.
  void Apply();
  bool Active() const { return m_active; }

  // The frame's side: told when the page becomes dirty.
  std::function<void()> OnStatusChange;

 protected:
  virtual void UpdateObject() = 0;
  virtual void UpdatePropertyPage() = 0;
  // Only while active: modified, and the frame is told.
  void MarkModified();
  // A change the dirty flag does not follow (only while active).
  void MarkChanged() {
    if (m_active) m_changed = true;
  }

  IDispatch* OleObject = nullptr;

 private:
  std::vector<IDispatch*> m_objects;
  bool m_active = false;
  bool m_modified = false;
  bool m_changed = false;
};

}  // namespace varn::gui
