// Графика: placeholder until the page is built.
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

class TfmGraph : public TPage {
 public:
  TfmGraph(QWidget* owner, TDriver& driver) : TPage(owner, driver) { setObjectName("fmGraph"); }
  static QString PageTitle() { return "Графика"; }
};

}  // namespace

TPageClass GraphPage() {
  return PageClassOf<TfmGraph>();
}

}  // namespace varn::testapp
