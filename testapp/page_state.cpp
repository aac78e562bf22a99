// Общие: placeholder until the page is built.
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

class TfmState : public TPage {
 public:
  TfmState(QWidget* owner, TDriver& driver) : TPage(owner, driver) { setObjectName("fmState"); }
  static QString PageTitle() { return "Общие"; }
};

}  // namespace

TPageClass StatePage() {
  return PageClassOf<TfmState>();
}

}  // namespace varn::testapp
