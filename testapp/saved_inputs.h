// The page inputs saved between runs, in the registry key "Тест" of the
// current user. Each control is a value named after it and its named
// ancestors up to the main window, joined by dots
// ("edtStringForPrinting.fmPrint.pnlData.fmMain"); the walk is depth
// first, each control after its own children.
//
// Stored: an edit that is not read-only (QLineEdit, TUpDownEdit) as its
// text; a drop-down list (QComboBox) as its index; a check box as a
// boolean; a radio group (a QGroupBox holding QRadioButtons, in order) as
// the index of the checked one; a date-time field as "yyyy-MM-ddTHH:mm:ss".
//
//   SaveInputs(reg, mainWindow, pageIndex);
//   std::optional<int> page = RestoreInputs(reg, mainWindow);
#pragma once

#include <QString>
#include <optional>

#include "platform/registry.h"

class QWidget;

namespace varn::testapp {

inline constexpr const char* kSavedInputsKey = "SOFTWARE\\Kvelta\\Варн\\Тест";
inline constexpr const char* kPageIndexValue = "PageIndex";

// Writes "PageIndex" and every input under `root`; creates the key.
void SaveInputs(Registry& reg, QWidget& root, int pageIndex);

// When the key exists: every stored value (read-only edits excepted) goes
// back into its control, and the stored "PageIndex" is returned. When it
// does not: every drop-down list gets entry 0, and nothing is returned.
std::optional<int> RestoreInputs(const Registry& reg, QWidget& root);

}  // namespace varn::testapp
