// Печать графики: placeholder until the page is built.
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

class TfmGPrint : public TPage {
 public:
  TfmGPrint(QWidget* owner, TDriver& driver) : TPage(owner, driver) { setObjectName("fmGPrint"); }
  static QString PageTitle() { return "Печать графики"; }
};

}  // namespace

TPageClass GPrintPage() {
  return PageClassOf<TfmGPrint>();
}

}  // namespace varn::testapp
