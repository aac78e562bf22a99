// Подключение: placeholder until the page is built.
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

class TfmConn : public TPage {
 public:
  TfmConn(QWidget* owner, TDriver& driver) : TPage(owner, driver) { setObjectName("fmConn"); }
  static QString PageTitle() { return "Подключение"; }
};

}  // namespace

TPageClass ConnPage() {
  return PageClassOf<TfmConn>();
}

}  // namespace varn::testapp
