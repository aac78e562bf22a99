// TPage: the base of the test program's pages. A page is a borderless child
// of the main window's data panel; every button runs one driver call inside
// the call frame (RunCall), which tells the main window when the call starts
// and ends so it can show the time, the result and the bytes exchanged.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>

#include "testapp/driver.h"

namespace varn::testapp {

// The application title: the caption of every message box and the about box.
inline constexpr const char* kAppTitle = "Тест драйвера Варн";
QString AppTitle();

// The message of the exception being handled (call inside a catch), as the
// user reads it: the driver client's CurrentErrorText as a QString.
QString CurrentErrorText();

class TPage : public QWidget {
 public:
  TPage(QWidget* owner, TDriver& driver);

  // Each page class also has `static QString PageTitle();` (see pages.h).
  // Run once after the page is created; nothing by default.
  virtual void Initialize() {}

  TDriver& Driver() { return m_driver; }

  // The two notifications; the sender is the page.
  std::function<void(TPage&)> OnBeforeCall;
  std::function<void(TPage&)> OnAfterCall;
  void BeforeCall();
  void AfterCall();

 protected:
  // The frame of one button: the page's buttons are disabled, `body` runs
  // (it calls BeforeCall, the driver, AfterCall), the buttons are enabled
  // again whatever happens. A failure (a failed automation call, a number
  // field that does not convert) is shown in the application's error box.
  void RunCall(const std::function<void()>& body);

  // The standard integer conversion of a number field: std::invalid_argument
  // "'<text>' не является целым числом." when it is not one.
  static int32_t ToInt(const QString& text);

 private:
  TDriver& m_driver;
};

}  // namespace varn::testapp
