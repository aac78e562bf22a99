#include "driver/gui/gui_common.h"

#include <QApplication>
#include <QFont>
#include <QMessageBox>
#include <exception>

#include "platform/errors.h"
#include "platform/text.h"

namespace varn::gui {

QString Q(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string U8(const QString& text) {
  return text.toStdString();
}

QString TDrv::Text(const char16_t* name) {
  const std::u16string s = GetProperty(*m_drv, name).ToString();
  return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

void TDrv::Set(const char16_t* name, const QString& v) {
  PutProperty(*m_drv, name, Variant(v.toStdU16String()));
}

void TDrv::Check(const char16_t* method) {
  const int32_t code = Call(method);
  if (code != 0) throw EDriverError(code, U8(Text(u"ResultCodeDescription")));
}

QString TDrv::ResultLine() {
  return QString("%1: %2").arg(Int(u"ResultCode")).arg(Text(u"ResultCodeDescription"));
}

void ShowError(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, QString::fromUtf8(kCaption), text, QMessageBox::Ok,
                  parent);
  box.setObjectName("ErrorBox");
  box.exec();
}

QString CurrentErrorText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return Q(e.what());
  } catch (...) {
    return "Unknown failure";
  }
}

void EnsureApplication() {
  if (QApplication::instance()) return;
  // The application lives for the rest of the process, as Qt wants.
  static int argc = 1;
  static char name[] = "VarnDrv";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  app->setQuitOnLastWindowClosed(false);
  SetWindowsFont();
}

void SetWindowsFont() {
  QApplication::setFont(QFont("DejaVu Sans", 9));
}

}  // namespace varn::gui
