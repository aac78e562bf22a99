#include "driver/host/member_entries.h"

#include "platform/text.h"

namespace varn {
namespace {

TMemberEntry EntryOf(const MemberInfo& m) {
  TMemberEntry e;
  e.MemberId = m.id;
  e.Name = Utf8ToUtf16(m.name);
  e.RusName = Utf8ToUtf16(m.help);
  e.UpperName = UpperCase(e.Name);
  e.UpperRusName = UpperCase(e.RusName);
  return e;
}

int32_t Find(const std::vector<TMemberEntry>& entries, std::u16string_view name) {
  // A member without a Russian name is not found by an empty one.
  if (name.empty()) return -1;
  const std::u16string upper = UpperCase(name);
  for (size_t i = 0; i < entries.size(); ++i)
    if (entries[i].UpperName == upper || entries[i].UpperRusName == upper)
      return static_cast<int32_t>(i);
  return -1;
}

const TMemberEntry* At(const std::vector<TMemberEntry>& entries, int64_t n) {
  return n >= 0 && static_cast<uint64_t>(n) < entries.size() ? &entries[static_cast<size_t>(n)]
                                                             : nullptr;
}

MemberInfo BaseMember(DISPID id, const char* name) {
  return {id, name, MemberKind::Method, {}, VT_EMPTY, ""};
}

}  // namespace

std::vector<MemberInfo> DualInterfaceTypeInfo(const std::vector<MemberInfo>& own) {
  std::vector<MemberInfo> info = {
      BaseMember(0x60000000, "QueryInterface"), BaseMember(0x60000001, "AddRef"),
      BaseMember(0x60000002, "Release"),        BaseMember(0x60010000, "GetTypeInfoCount"),
      BaseMember(0x60010001, "GetTypeInfo"),    BaseMember(0x60010002, "GetIDsOfNames"),
      BaseMember(0x60010003, "Invoke"),
  };
  info.insert(info.end(), own.begin(), own.end());
  return info;
}

bool TMemberEntries::Build(const std::vector<MemberInfo>& own) {
  Methods.clear();
  Props.clear();
  if (own.empty()) return false;
  const std::vector<MemberInfo> info = DualInterfaceTypeInfo(own);
  Methods.reserve(info.size());
  Props.reserve(info.size());
  for (const MemberInfo& m : info) {
    switch (m.kind) {
      case MemberKind::Method:
        Methods.push_back(EntryOf(m));
        break;
      case MemberKind::PropertyGet:
        Props.push_back(EntryOf(m));
        Props.back().Type = m.result;
        break;
      case MemberKind::PropertyPut:
        // Its get came before it: a put listed first marks nothing.
        for (auto it = Props.rbegin(); it != Props.rend(); ++it) {
          if (it->MemberId == m.id) {
            it->Writable = true;
            break;
          }
        }
        break;
    }
  }
  Methods.shrink_to_fit();
  Props.shrink_to_fit();
  return true;
}

int32_t TMemberEntries::FindMethod(std::u16string_view name) const {
  return Find(Methods, name);
}

int32_t TMemberEntries::FindProp(std::u16string_view name) const {
  return Find(Props, name);
}

const TMemberEntry* TMemberEntries::Method(int64_t n) const {
  return At(Methods, n);
}

const TMemberEntry* TMemberEntries::Prop(int64_t n) const {
  return At(Props, n);
}

}  // namespace varn
