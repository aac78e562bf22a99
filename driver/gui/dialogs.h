// The setup dialogs the property page opens, each modal, owned by `owner`,
// working through the page's driver only. Errors they catch are shown in a
// message box captioned "Драйвер Варн"; those they raise reach the page.
#pragma once

#include "platform/automation/dispatch.h"

class QWidget;

namespace varn::gui {

void ShowFindDialog(QWidget* owner, IDispatch& drv);     // TfmFind
void ShowTablesDialog(QWidget* owner, IDispatch& drv);   // TfmTables (reads the list first)
void ShowDeviceDialog(QWidget* owner, IDispatch& drv);   // TfmDevice
void ShowPictureDialog(QWidget* owner, IDispatch& drv);  // TfmPicture

}  // namespace varn::gui
