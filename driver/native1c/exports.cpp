// The five entry points the platform looks up in libVarnDrv1C.so; nothing
// else is exported (exports.map). No exception leaves them.
#include <string_view>

#include "driver/native1c/component.h"

using namespace varn::native1c;

#define VARN_ADDIN_EXPORT extern "C" __attribute__((visibility("default")))

VARN_ADDIN_EXPORT const WCHAR_T* GetClassNames() {
  return kClassName;
}

// Non-zero (the object) on success; 0 for another class name, a slot that
// holds an object already, or an object that could not be made.
VARN_ADDIN_EXPORT long GetClassObject(const WCHAR_T* name, IComponentBase** object) {
  if (!name || !object || *object || std::u16string_view(name) != kClassName) return 0;
  try {
    *object = new TVarnDrv1C();
    return reinterpret_cast<long>(*object);
  } catch (...) {
    return 0;
  }
}

VARN_ADDIN_EXPORT long DestroyObject(IComponentBase** object) {
  if (!object || !*object) return -1;
  try {
    delete *object;
  } catch (...) {
    // The destructors catch what they raise; the object is gone either way.
  }
  *object = nullptr;
  return 0;
}

// We implement all four bases, the user-language one included.
VARN_ADDIN_EXPORT AppCapabilities SetPlatformCapabilities(const AppCapabilities) {
  return eAppCapabilities3;
}

// The driver keeps no state that a separate process would break.
VARN_ADDIN_EXPORT AttachType GetAttachType() {
  return eCanAttachAny;
}
