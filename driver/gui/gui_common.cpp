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
  const auto code = [](HRESULT hr) {
    return QString::asprintf("0x%08X", static_cast<uint32_t>(hr));
  };
  try {
    throw;
  } catch (const EDispatchError& e) {
    // The driver's own failure carries its text; the rest is the object
    // model's, known only by its code.
    if (e.Code == DISP_E_EXCEPTION && !e.Excep.description.empty())
      return QString::fromStdU16String(e.Excep.description);
    return "Вызов драйвера не выполнен, код ошибки " + code(e.Code) + ".";
  } catch (const EVariantError& e) {
    return "Значение драйвера не того типа, код ошибки " + code(e.Code) + ".";
  } catch (const std::exception& e) {
    return Q(e.what());
  } catch (...) {
    return "Неизвестная ошибка.";
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
