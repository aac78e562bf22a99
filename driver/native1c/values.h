// Values between the driver's object model and the Native API: what the
// host hands in becomes a Variant of the member's type, what the driver
// answers becomes a tVariant whose text lives in the host's memory.
//
//   THostMemory memory;  memory.Set(host's IMemoryManager);
//   ToHost(Variant(u"Ошибок нет."), out, memory);  // VTYPE_PWSTR, wstrLen 11
//   Variant v = FromHost(in, VT_I4);                 // any numeric vt, text, bool
#pragma once

#include <string_view>

#include "driver/native1c/native_api.h"
#include "platform/automation/variant.h"

namespace varn::native1c {

// The host's memory manager: everything the add-in hands over is allocated
// there (the host frees it); nothing the host gave is freed here.
class THostMemory {
 public:
  void Set(IMemoryManager* manager) { m_manager = manager; }
  bool Ready() const { return m_manager != nullptr; }
  // A NUL-terminated copy of `text` in the host's memory. EDispatchError
  // E_OUTOFMEMORY when there is no manager or it gives nothing.
  WCHAR_T* String(std::u16string_view text);

 private:
  IMemoryManager* m_manager = nullptr;
};

// The host's text of a NUL-terminated string (empty for nullptr).
std::u16string_view HostText(const WCHAR_T* text);

// `value` as the host takes it: integers VTYPE_I4, booleans VTYPE_BOOL,
// reals VTYPE_R8, dates VTYPE_DATE, texts VTYPE_PWSTR (UTF-16 in the
// host's memory, wstrLen without the terminator). `out` is cleared first.
// EDispatchError DISP_E_BADVARTYPE for a value the host has no type for,
// E_OUTOFMEMORY when the host gives no memory.
void ToHost(const Variant& value, tVariant& out, THostMemory& memory);

// A value from the host for a member of type `type`: any numeric vt (a
// whole number too large for an integer becomes decimal text for a text
// member, a real otherwise), VTYPE_PWSTR (exactly wstrLen units),
// VTYPE_PSTR (UTF-8), VTYPE_BOOL, VTYPE_DATE, VTYPE_EMPTY and VTYPE_NULL.
// The driver's own setter converts it further. EDispatchError
// DISP_E_TYPEMISMATCH for anything else.
Variant FromHost(const tVariant& in, VARTYPE type);

}  // namespace varn::native1c
