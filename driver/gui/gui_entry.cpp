// libVarnDrvGui.so: the driver's windows, loaded by the driver the first
// time one is needed (ShowProperties), so that hosts without a display or
// without Qt never load Qt. One entry point; everything else is hidden.
#include <cstring>
#include <exception>

#include "driver/gui/property_frame.h"
#include "platform/errors.h"

extern "C" __attribute__((visibility("default"))) int32_t VarnDrvGuiShowProperties(
    varn::IDispatch* driver, char* text, size_t size) {
  auto fail = [&](int32_t code, const char* message) {
    if (size > 0) {
      std::strncpy(text, message, size - 1);
      text[size - 1] = '\0';
    }
    return code;
  };
  try {
    if (!driver) return fail(-8, "Странице свойств драйвера передан пустой интерфейс драйвера.");
    return varn::gui::ShowPropertyFrame(*driver);
  } catch (const varn::EDriverError& e) {
    return fail(e.Code, e.what());
  } catch (const std::exception& e) {
    return fail(-8, e.what());
  } catch (...) {
    return fail(-8, "Неизвестная ошибка.");
  }
}
