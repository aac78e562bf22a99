// `varn tables [--refresh]`: every table of the device (descriptions,
// fields, values) read the way the table editor reads them (the cache of
// descriptions per firmware, then the background reads), with a progress
// line on standard error, printed as text or JSON. Ctrl+C (or SIGTERM)
// stops the read between two exchanges: result -30, exit status 1.
//
//   return RunTablesCommand(words, create, json, std::cout, std::cerr);
#pragma once

#include <functional>
#include <ostream>
#include <span>
#include <string>

#include "platform/automation/dispatch.h"

namespace varn::tool {

// `args` are the words after "tables". Exit status: 0 when everything was
// read, 1 when the read failed or was stopped; a mistake in `args` raises
// EUsageError (steps.h) before anything is made.
int RunTablesCommand(std::span<const std::string> args, const std::function<DispatchPtr()>& create,
                     bool json, std::ostream& out, std::ostream& err);

}  // namespace varn::tool
