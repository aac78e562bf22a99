// Проверка связи: placeholder until the page is built.
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

class TfmTest : public TPage {
 public:
  TfmTest(QWidget* owner, TDriver& driver) : TPage(owner, driver) { setObjectName("fmTest"); }
  static QString PageTitle() { return "Проверка связи"; }
};

}  // namespace

TPageClass TestPage() {
  return PageClassOf<TfmTest>();
}

}  // namespace varn::testapp
