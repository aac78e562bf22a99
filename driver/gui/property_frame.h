// The property frame of ShowProperties: a modal dialog holding the driver's
// page (tab "Варн") with "OK", "Отмена" and "Применить", owned by the
// active window, at 16,16. "Применить" applies a dirty page, OK also one
// changed only where the page does not get dirty; a failed apply keeps the
// frame open.
#pragma once

#include <QDialog>

#include "platform/automation/dispatch.h"

class QPushButton;

namespace varn::gui {

class TfmPage;

class TPropertyFrame : public QDialog {
 public:
  TPropertyFrame(QWidget* owner, IDispatch* driver);
  ~TPropertyFrame() override;
  TfmPage& Page() { return *m_page; }

 private:
  bool ApplyPage(bool needed);
  TfmPage* m_page;
  QPushButton* m_apply;
};

// ShowProperties: a QApplication if the host has none, then the frame.
int32_t ShowPropertyFrame(IDispatch& driver);

}  // namespace varn::gui
