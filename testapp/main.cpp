// VarnTest: the test program's main window; the driver is created by its
// ProgID at the first call. SIGTERM, SIGINT and SIGHUP close it as its
// "Закрыть" does, so the inputs are saved.
#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTranslator>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/signals.h"
#include "testapp/main_window.h"

namespace {

const char kUsage[] =
    "Использование: VarnTest [--help] [параметры Qt]\n"
    "Тест драйвера Варн: вызовы всех функций драйвера вручную, по страницам; после\n"
    "каждого вызова видны его время, код и описание результата, переданные и\n"
    "принятые байты.\n"
    "\n"
    "  --help, -h   эта справка\n"
    "\n"
    "Параметры Qt (например, -platform offscreen) передаются Qt.\n"
    "Поля ввода и открытая страница сохраняются при закрытии окна (и по сигналам\n"
    "SIGTERM, SIGINT, SIGHUP) в реестре ($VARN_REGISTRY, по умолчанию\n"
    "~/.config/varn/registry.reg), раздел\n"
    "[HKEY_CURRENT_USER\\SOFTWARE\\Kvelta\\Варн\\Тест].\n";

// Qt's own words (standard buttons, the file dialog) in Russian, whatever
// the locale, when Qt's translations are installed.
void InstallQtTranslations(QApplication& app) {
  auto* translator = new QTranslator(&app);
  if (translator->load(QLocale(QLocale::Russian, QLocale::Russia), "qtbase", "_",
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QApplication::installTranslator(translator);
}

// As the user's close: open dialogs go first (a message box, the driver's
// settings), then the window (none yet while it is being made), and every
// event loop ends.
void CloseOnSignal(QWidget* window) {
  while (QWidget* modal = QApplication::activeModalWidget()) {
    modal->close();
    if (QApplication::activeModalWidget() == modal) break;  // it refused
  }
  if (window) window->close();
  QApplication::quit();
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  // Before Qt starts its threads, which inherit the blocked signals: only
  // the watcher below takes them.
  varn::TerminationSignals signals;
  QApplication app(argc, argv);
  // Qt has taken its own parameters out.
  if (argc > 1) {
    std::fprintf(stderr, "VarnTest: неизвестный параметр %s (см. --help)\n", argv[1]);
    return 2;
  }
  QApplication::setApplicationName("VarnTest");
  // The system font of the target systems, as the driver's windows use.
  QApplication::setFont(QFont("DejaVu Sans", 9));
  InstallQtTranslations(app);
  int code = 0;
  // Watched from before the window is made: a message box of its start-up
  // closes on a signal too.
  QPointer<QWidget> shown;
  bool ending = false;  // on this thread only
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    while (!done.load()) {
      if (signals.Wait(std::chrono::milliseconds(200)))
        QMetaObject::invokeMethod(
            &app,
            [&] {
              ending = true;
              CloseOnSignal(shown);
            },
            Qt::QueuedConnection);
    }
  });
  {
    varn::testapp::TfmMain window;  // its inputs are saved when it goes
    shown = &window;
    if (!ending) {
      window.show();
      code = QApplication::exec();
    }
  }
  done = true;
  watcher.join();
  return code;
}
