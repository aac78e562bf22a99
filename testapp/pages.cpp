#include "testapp/pages.h"

namespace varn::testapp {

std::vector<TPageClass> AllPages() {
  return {ConnPage(),   ParamsPage(), StatePage(), FontPage(),    PrintPage(), GraphPage(),
          GPrintPage(), TablePage(),  LDPage(),    CommandPage(), TestPage()};
}

}  // namespace varn::testapp
