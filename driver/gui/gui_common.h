// What every window of the driver shares: late-bound calls on the driver
// (TDrv), the error message box captioned "Драйвер Варн", the font, and the
// application object a host without Qt gets on first use.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "platform/automation/dispatch.h"

class QWidget;

namespace varn::gui {

inline constexpr const char* kCaption = "Драйвер Варн";

// The driver through its automation interface, by name; failed calls raise
// EDispatchError.
class TDrv {
 public:
  explicit TDrv(IDispatch& drv) : m_drv(&drv) {}
  int32_t Call(const char16_t* method) { return CallMethod(*m_drv, method).ToInt32(); }
  int32_t Int(const char16_t* name) { return GetProperty(*m_drv, name).ToInt32(); }
  bool Bool(const char16_t* name) { return GetProperty(*m_drv, name).ToBool(); }
  QString Text(const char16_t* name);
  void Set(const char16_t* name, int32_t v) { PutProperty(*m_drv, name, Variant(v)); }
  void Set(const char16_t* name, bool v) { PutProperty(*m_drv, name, Variant(v)); }
  void Set(const char16_t* name, const QString& v);
  // A method whose non-zero result becomes EDriverError with the driver's text.
  void Check(const char16_t* method);
  // "%d: %s" with ResultCode and ResultCodeDescription.
  QString ResultLine();
  IDispatch& Object() { return *m_drv; }

 private:
  IDispatch* m_drv;
};

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
