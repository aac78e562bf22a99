// The program: its options, the forms beside the steps (list, tables,
// search, ports, properties, --version, --help), the usage checks before the
// driver object is made, then the steps on it.
#include <algorithm>
#include <iostream>

#include "driver/client/driver_client.h"
#include "platform/automation/member_lookup.h"
#include "platform/text.h"
#include "tools/varn/addin_steps.h"
#include "tools/varn/output.h"
#include "tools/varn/ports_command.h"
#include "tools/varn/search_command.h"
#include "tools/varn/steps.h"
#include "tools/varn/tables_command.h"
#include "tools/varn/usage.h"

#ifndef VARN_VERSION
#error "the build passes the project's version as VARN_VERSION"
#endif

namespace varn::tool {

int RunCommandLine(std::span<const std::string> args, const std::function<DispatchPtr()>& create,
                   std::ostream& out, std::ostream& err) {
  return RunCommandLine(args, create, std::cin, out, err);
}

int RunCommandLine(std::span<const std::string> args, const std::function<DispatchPtr()>& create,
                   std::istream& in, std::ostream& out, std::ostream& err) {
  // A script that asked for JSON parses what comes out even when the line
  // is wrong, also with --json in the wrong place.
  const bool wantsJson = std::ranges::find(args, std::string("--json")) != args.end();
  const auto failed = [&](const std::string& message, int status) {
    if (wantsJson)
      out << R"({"error":)" << JsonString(message) << R"(,"status":)" << status << "}\n"
          << std::flush;
    err << "varn: " << message;
    if (status == kExitUsage) err << "\n(varn --help shows the usage)";
    err << std::endl;
    return status;
  };
  const auto usage = [&](const std::string& message) { return failed(message, kExitUsage); };
  static const std::vector<std::string> kOptions{"--json", "--1c", "--help", "--version"};
  bool json = false, addIn = false, version = false;
  size_t i = 0;
  for (; i < args.size() && args[i].starts_with("-") && args[i] != "-"; ++i) {
    if (args[i] == "--json") {
      json = true;
    } else if (args[i] == "--1c") {
      addIn = true;
    } else if (args[i] == "--help" || args[i] == "-h") {
      out << kUsage;
      return kExitOk;
    } else if (args[i] == "--version") {
      version = true;
    } else {
      return usage("unknown option \"" + args[i] + "\"" + NameSuggestion(args[i], kOptions));
    }
  }
  if (version) {
    if (i < args.size()) return usage("--version takes nothing beside it");
    // The driver's own version too: the two are installed apart.
    std::string driver;
    try {
      if (DispatchPtr drv = create()) driver = DriverClient(drv).Text(drv_dispid::kFileVersion);
    } catch (const std::exception& e) {
      err << "varn: the driver's version: " << e.what() << std::endl;
    }
    if (json)
      out << R"({"varn":")" VARN_VERSION R"(","driver":)"
          << (driver.empty() ? "null" : JsonString(driver)) << "}\n";
    else
      out << "varn " VARN_VERSION "\n" << (driver.empty() ? "" : "VarnDrv " + driver + "\n");
    return kExitOk;
  }
  const auto words = args.subspan(i);
  if (words.empty()) return usage("no steps");
  if (words[0] == "tables") {
    try {
      return RunTablesCommand(words.subspan(1), create, json, out, err);
    } catch (const EUsageError& e) {
      return usage(e.what());
    }
  }
  if (words[0] == "search") {
    if (addIn) return usage("--1c does not apply to search");
    try {
      return RunSearch(words.subspan(1), create, json, out, err);
    } catch (const EUsageError& e) {
      return usage(e.what());
    }
  }
  if (words[0] == "ports") {
    if (addIn) return usage("--1c does not apply to ports");
    try {
      return RunPorts(words.subspan(1), create, json, out, err);
    } catch (const EUsageError& e) {
      return usage(e.what());
    }
  }
  if (words[0] == "properties") {
    // The driver's settings window, on a desktop: its result line only.
    if (words.size() > 1 || addIn || json) return usage("properties takes nothing beside it");
    try {
      DriverClient drv(create());
      const int32_t code = drv.Call(drv_dispid::kShowProperties);
      if (code != 0)
        err << "varn: " << code << ": " << drv.Text(drv_dispid::kResultCodeDescription)
            << std::endl;
      return code == 0 ? kExitOk : kExitFailed;
    } catch (const std::exception& e) {
      err << "varn: " << e.what() << std::endl;
      return kExitFailed;
    }
  }
  // The steps come on standard input, the driver object made first.
  const bool pipe = words[0] == "-";
  if (pipe && words.size() > 1) return usage("- takes no steps beside it: they come one a line");
  if (pipe && addIn) return usage("--1c does not apply to -");
  const bool list = words[0] == "list";
  if (list && words.size() > 1) return usage("list takes no steps beside it");
  std::vector<Step> steps;
  try {
    if (!list && !pipe) steps = SplitSteps(words);
  } catch (const EUsageError& e) {
    return usage(e.what());
  }

  DispatchPtr obj;
  try {
    obj = create();
  } catch (const std::exception& e) {
    return failed(e.what(), kExitFailed);
  }
  if (addIn && obj) {
    try {
      return RunAddIn(*obj, list, std::move(steps), json, out, err);
    } catch (const EUsageError& e) {
      return usage(e.what());
    }
  }
  const auto* info = obj ? dynamic_cast<const ITypeInfoSource*>(obj.get()) : nullptr;
  if (!info) return failed("the object gives no type information", kExitFailed);
  if (list) {
    PrintMemberList(info->TypeInfo(), json, out);
    return kExitOk;
  }
  if (pipe) return RunPipe(*obj, info->TypeInfo(), in, json, out, err);
  try {
    ResolveSteps(steps, info->TypeInfo());
  } catch (const EUsageError& e) {
    return usage(e.what());
  }
  return RunSteps(*obj, steps, json, out, err);
}

}  // namespace varn::tool
