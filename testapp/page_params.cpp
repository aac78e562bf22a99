// Параметры связи: placeholder until the page is built.
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

class TfmParams : public TPage {
 public:
  TfmParams(QWidget* owner, TDriver& driver) : TPage(owner, driver) { setObjectName("fmParams"); }
  static QString PageTitle() { return "Параметры связи"; }
};

}  // namespace

TPageClass ParamsPage() {
  return PageClassOf<TfmParams>();
}

}  // namespace varn::testapp
