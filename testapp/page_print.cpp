// Печать: placeholder until the page is built.
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

class TfmPrint : public TPage {
 public:
  TfmPrint(QWidget* owner, TDriver& driver) : TPage(owner, driver) { setObjectName("fmPrint"); }
  static QString PageTitle() { return "Печать"; }
};

}  // namespace

TPageClass PrintPage() {
  return PageClassOf<TfmPrint>();
}

}  // namespace varn::testapp
