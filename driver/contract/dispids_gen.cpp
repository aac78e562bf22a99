// Writes the driver's member DISPIDs and names as a C++ header, from the
// driver object's own member table, so callers that bind by id cannot drift
// from it. The file is rewritten only when its text changes: an unchanged
// table rebuilds nothing.
//
//   varn_drv_dispids_gen <output.h>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include "driver/core/varn_drv.h"

namespace {

std::string HeaderText() {
  // A property's get and put share a name and an id: one entry each.
  std::map<varn::DISPID, std::string> members;
  for (const varn::MemberInfo& m : varn::TVarnDrv::Members().Info()) {
    const auto [at, added] = members.emplace(m.id, m.name);
    if (!added && at->second != m.name)
      throw std::runtime_error("DISPID " + std::to_string(m.id) + " names both " + at->second +
                               " and " + m.name);
  }
  std::ostringstream out;
  out << "// Generated from the driver's member table at build time; do not edit.\n"
         "// The dispatch identifiers of IVarnDrv's members, and their names.\n"
         "#pragma once\n\n"
         "#include <string_view>\n\n"
         "#include \"platform/automation/hresult.h\"\n\n"
         "namespace varn::drv_dispid {\n\n"
         "enum : DISPID {\n";
  for (const auto& [id, name] : members) out << "  k" << name << " = " << id << ",\n";
  out << "};\n\n"
         "struct MemberName {\n"
         "  DISPID id;\n"
         "  std::u16string_view name;\n"
         "};\n\n"
         "inline constexpr MemberName kMembers[] = {\n";
  for (const auto& [id, name] : members) out << "    {" << id << ", u\"" << name << "\"},\n";
  out << "};\n\n"
         "// The member's name, or empty for an id the driver does not have.\n"
         "constexpr std::u16string_view Name(DISPID id) {\n"
         "  for (const MemberName& m : kMembers)\n"
         "    if (m.id == id) return m.name;\n"
         "  return {};\n"
         "}\n\n"
         "}  // namespace varn::drv_dispid\n";
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: varn_drv_dispids_gen <output.h>\n";
    return 2;
  }
  try {
    const std::string text = HeaderText();
    std::ifstream old(argv[1], std::ios::binary);
    std::ostringstream current;
    current << old.rdbuf();
    if (old && current.str() == text) return 0;
    old.close();
    std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
    file << text;
    if (!file.flush()) throw std::runtime_error(std::string("cannot write ") + argv[1]);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "varn_drv_dispids_gen: " << e.what() << "\n";
    return 1;
  }
}
