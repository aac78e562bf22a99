// The members of the driver as 1C numbers them, built once from the
// driver's type information and shared by both faces of the add-in (the
// COM interfaces of Tole1C and the Native API object of libVarnDrv1C.so),
// so that both number every method and property alike.
//
//   TMemberEntries entries;
//   entries.Build(drv.TypeInfo());        // the seven base members first
//   int32_t n = entries.FindMethod(u"установитьсвязь");   // 8, Connect
//   DISPID id = entries.Method(n)->MemberId;
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation/dispatch.h"

namespace varn {

// One method or property as 1C numbers it.
struct TMemberEntry {
  DISPID MemberId = 0;
  std::u16string Name;      // the English name
  std::u16string RusName;   // the help string; empty for a member without one
  bool Readable = true;     // property entries only
  bool Writable = false;    // property entries only
  VARTYPE Type = VT_EMPTY;  // property entries only: the value's type
  // Both names in upper case, as lookups compare them.
  std::u16string UpperName, UpperRusName;
};

// The type information of a dual dispatch interface as the platform lists it:
// QueryInterface, AddRef, Release, GetTypeInfoCount, GetTypeInfo,
// GetIDsOfNames and Invoke (methods, no help string, their platform DISPIDs),
// then the interface's own members in order.
std::vector<MemberInfo> DualInterfaceTypeInfo(const std::vector<MemberInfo>& own);
inline constexpr int kDualBaseMembers = 7;

class TMemberEntries {
 public:
  // Builds Methods and Props from an object's own type information, listed
  // as the platform lists a dual interface; false (both empty) when there
  // is none. A property put marks the nearest earlier get of its DISPID
  // writable; a put listed before its get marks nothing.
  bool Build(const std::vector<MemberInfo>& own);

  // The first entry called `name` in English or Russian, ignoring case by
  // the code page's letters; -1. An empty name finds nothing.
  int32_t FindMethod(std::u16string_view name) const;
  int32_t FindProp(std::u16string_view name) const;
  // The entry numbered `n`; nullptr out of range.
  const TMemberEntry* Method(int64_t n) const;
  const TMemberEntry* Prop(int64_t n) const;

  // The numbers given to 1C are positions in them.
  std::vector<TMemberEntry> Methods;
  std::vector<TMemberEntry> Props;
};

}  // namespace varn
