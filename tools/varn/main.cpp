// varn: drives the driver from the command line (see steps.h and --help).
#include <iostream>

#include "platform/automation/classes.h"
#include "tools/varn/steps.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return varn::tool::RunCommandLine(
      args, [] { return varn::CreateObject(u"VarnDrv.VarnDrv"); }, std::cin, std::cout, std::cerr);
}
