// Команда: placeholder until the page is built.
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

class TfmCommand : public TPage {
 public:
  TfmCommand(QWidget* owner, TDriver& driver) : TPage(owner, driver) { setObjectName("fmCommand"); }
  static QString PageTitle() { return "Команда"; }
};

}  // namespace

TPageClass CommandPage() {
  return PageClassOf<TfmCommand>();
}

}  // namespace varn::testapp
