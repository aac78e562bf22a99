// Шрифты: placeholder until the page is built.
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

class TfmFont : public TPage {
 public:
  TfmFont(QWidget* owner, TDriver& driver) : TPage(owner, driver) { setObjectName("fmFont"); }
  static QString PageTitle() { return "Шрифты"; }
};

}  // namespace

TPageClass FontPage() {
  return PageClassOf<TfmFont>();
}

}  // namespace varn::testapp
