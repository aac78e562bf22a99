// A stand-in for the installed driver's window library: the add-in loads
// it from beside the registered driver. It shows that it was given the
// add-in's own driver object by writing a property there.
#include <cstddef>
#include <cstdint>

#include "platform/automation/dispatch.h"

extern "C" __attribute__((visibility("default"))) int32_t VarnDrvGuiShowProperties(
    varn::IDispatch* driver, char*, size_t) {
  try {
    varn::PutProperty(*driver, u"StringForPrinting", varn::Variant(u"окно открыто"));
    return 0;
  } catch (...) {
    return -8;
  }
}
