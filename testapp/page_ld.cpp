// Устройства: placeholder until the page is built.
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

class TfmLD : public TPage {
 public:
  TfmLD(QWidget* owner, TDriver& driver) : TPage(owner, driver) { setObjectName("fmLD"); }
  static QString PageTitle() { return "Устройства"; }
};

}  // namespace

TPageClass LDPage() {
  return PageClassOf<TfmLD>();
}

}  // namespace varn::testapp
