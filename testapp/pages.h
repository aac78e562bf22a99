// The page classes of the test program, in the order of its page list.
#pragma once

#include <QString>
#include <vector>

#include "testapp/page.h"

namespace varn::testapp {

// A page class: its title (callable without an instance) and its maker.
struct TPageClass {
  QString (*PageTitle)();
  TPage* (*Create)(QWidget* owner, TDriver& driver);
};

template <class P>
TPageClass PageClassOf() {
  return {&P::PageTitle,
          [](QWidget* owner, TDriver& driver) -> TPage* { return new P(owner, driver); }};
}

// One per page, each defined beside its page.
TPageClass ConnPage();     // "Подключение" (TfmConn)
TPageClass ParamsPage();   // "Параметры связи" (TfmParams)
TPageClass StatePage();    // "Общие" (TfmState)
TPageClass FontPage();     // "Шрифты" (TfmFont)
TPageClass PrintPage();    // "Печать" (TfmPrint)
TPageClass GraphPage();    // "Графика" (TfmGraph)
TPageClass GPrintPage();   // "Печать графики" (TfmGPrint)
TPageClass TablePage();    // "Таблицы" (TfmTable)
TPageClass LDPage();       // "Устройства" (TfmLD)
TPageClass CommandPage();  // "Команда" (TfmCommand)
TPageClass TestPage();     // "Проверка связи" (TfmTest)

// All eleven, in list order.
std::vector<TPageClass> AllPages();

}  // namespace varn::testapp
