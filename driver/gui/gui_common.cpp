#include "driver/gui/gui_common.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>
#include <exception>

#include "platform/automation/variant.h"
#include "platform/errors.h"
#include "platform/text.h"

namespace varn::gui {

QString Q(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string U8(const QString& text) {
  return text.toStdString();
}

QString QText(DriverClient& d, DISPID id) {
  const std::u16string s = d.Text16(id);
  return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

void SetText(DriverClient& d, DISPID id, const QString& value) {
  d.Set(id, Variant(value.toStdU16String()));
}

void ShowError(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, QString::fromUtf8(kCaption), text, QMessageBox::Ok,
                  parent);
  box.setObjectName("ErrorBox");
  box.exec();
}

QString CurrentErrorText() {
  return Q(varn::CurrentErrorText());
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
  InstallQtTranslations();
}

void InstallQtTranslations() {
  // Once per application, whatever the locale: the windows are Russian.
  if (QCoreApplication::instance()->findChild<QTranslator*>("VarnQtRussian")) return;
  auto* translator = new QTranslator(QCoreApplication::instance());
  translator->setObjectName("VarnQtRussian");
  if (translator->load(QLocale(QLocale::Russian, QLocale::Russia), "qtbase", "_",
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(translator);
  else
    delete translator;  // without qt6-translations-l10n Qt's own words stay English
}

void SetWindowsFont() {
  QApplication::setFont(QFont("DejaVu Sans", 9));
}

}  // namespace varn::gui
