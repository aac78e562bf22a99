// What every window of the driver shares: the driver client's texts as
// QString, the error message box captioned "Драйвер Варн", the font, and the
// application object a host without Qt gets on first use.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "driver/client/driver_client.h"

class QWidget;

namespace varn::gui {

namespace dd = drv_dispid;

inline constexpr const char* kCaption = "Драйвер Варн";

// The driver's texts as the windows hold them.
QString QText(DriverClient& d, DISPID id);
void SetText(DriverClient& d, DISPID id, const QString& value);

QString Q(const std::string& utf8);
std::string U8(const QString& text);

// The message box of the dialogs: caption "Драйвер Варн", error icon.
void ShowError(QWidget* parent, const QString& text);
// The message of the exception being handled (call inside a catch).
QString CurrentErrorText();

// A QApplication when the host has none (the driver's hosts usually do
// not), with the windows' font.
void EnsureApplication();
// The windows' font: DejaVu Sans, the system font of the target systems
// (for a host or test that makes its own QApplication).
void SetWindowsFont();
// Qt's own words (standard buttons, the file dialog, edit menus) in Russian,
// from Qt's translations (Debian qt6-translations-l10n), for a host or test
// that makes its own QApplication.
void InstallQtTranslations();

}  // namespace varn::gui
