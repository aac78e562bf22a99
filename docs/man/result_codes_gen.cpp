// Writes the RESULT CODES section of varn(1), in the pages' source form
// (docs/man/README.md), from the one result-code table and the device's
// error texts, so the manual cannot drift from the codes the programs give.
// The file is rewritten only when its text changes.
//
//   varn_result_codes_gen <output.md>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "platform/result_codes.h"
#include "protocol/commands.h"

namespace {

std::string Quoted(const char* text) {
  return std::string("\"") + text + "\"";
}

std::string SectionText() {
  std::ostringstream out;
  out << "Every call sets **ResultCode** and **ResultCodeDescription** (`varn` prints both "
         "after each `call`); 0 is success. The codes below 0 are the driver's and the port "
         "server's, 1 to 255 the device's own.\n\n";
  for (const varn::TResultCode& r : varn::kResultCodes) {
    out << "**" << r.Code << "** (" << r.Giver << ")\n: ";
    if (*r.Text != '\0') {
      out << Quoted(r.Text);
      if (r.ServerText) out << " (the server's: " << Quoted(r.ServerText) << ")";
      if (out.str().back() != '.') out << ".";
      out << " ";
    }
    out << r.Meaning << "\n\n  *What to do:* " << r.Remedy << "\n\n";
  }
  out << "**" << varn::kFirstDeviceError << "** to **" << varn::kLastDeviceError
      << "** (device)\n"
         ": The device refused the command; the text is the device's error. The command "
         "was not carried out (or only partly, for a paper or cover error): fix the cause "
         "and send it again. The codes, in decimal and hexadecimal:\n\n";
  for (int code = varn::kFirstDeviceError; code <= varn::kLastDeviceError; ++code) {
    char number[32];
    std::snprintf(number, sizeof number, "%3d  0x%02X  ", code, code);
    out << "      " << number << varn::protocol::DeviceErrorText(static_cast<uint8_t>(code))
        << "\n";
  }
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: varn_result_codes_gen <output.md>\n";
    return 2;
  }
  try {
    const std::string text = SectionText();
    std::ifstream old(argv[1], std::ios::binary);
    std::ostringstream was;
    was << old.rdbuf();
    if (old && was.str() == text) return 0;
    std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
    file << text;
    if (!file.flush()) {
      std::cerr << "varn_result_codes_gen: cannot write " << argv[1] << "\n";
      return 1;
    }
  } catch (const std::exception& e) {
    std::cerr << "varn_result_codes_gen: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
