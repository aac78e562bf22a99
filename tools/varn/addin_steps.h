// `varn --1c`: the steps run the way the 1C:Enterprise platform runs them,
// through the add-in interfaces of the object (driver/host/addin.h): Init,
// names through FindMethod and FindProp, calls through CallAsFunc,
// GetPropVal and SetPropVal, numbers instead of DISPIDs. The output, the
// JSON form and the exit statuses are those of the plain steps.
//
//   varn --1c call УстановитьСвязь get Результат
//   varn --1c list          # the adapter's numbering: methods, then properties
#pragma once

#include <ostream>
#include <vector>

#include "platform/automation/dispatch.h"
#include "tools/varn/steps.h"

namespace varn::tool {

// Runs `steps` (or, with `list`, prints the adapter's methods and
// properties) on `obj` through its add-in interfaces. A step that does not
// fit the adapter raises EUsageError before any runs; an object that is no
// add-in is a failure (kExitFailed).
int RunAddIn(IDispatch& obj, bool list, std::vector<Step> steps, bool json, std::ostream& out,
             std::ostream& err);

}  // namespace varn::tool
