// VarnTest: the test program's main window; the driver is created by its
// ProgID at the first call.
#include <QApplication>
#include <QFont>

#include "testapp/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("VarnTest");
  // The system font of the target systems, as the driver's windows use.
  QApplication::setFont(QFont("DejaVu Sans", 9));
  varn::testapp::TfmMain window;
  window.show();
  return QApplication::exec();
}
