// Таблицы: placeholder until the page is built.
#include "testapp/pages.h"

namespace varn::testapp {
namespace {

class TfmTable : public TPage {
 public:
  TfmTable(QWidget* owner, TDriver& driver) : TPage(owner, driver) { setObjectName("fmTable"); }
  static QString PageTitle() { return "Таблицы"; }
};

}  // namespace

TPageClass TablePage() {
  return PageClassOf<TfmTable>();
}

}  // namespace varn::testapp
