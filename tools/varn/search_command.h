// `varn search [--use]`: the device search on the terminal. The rows of the
// search list are shown live on standard error when it is a terminal (the
// row of the port being probed rewritten in place); what was found goes to
// standard output, one device per line ("СOM2<TAB>9600<TAB>description"),
// or one JSON array. With --use the first device found becomes the driver's
// port and baud rate; otherwise the driver's settings are written back as
// they were before the search. Ctrl+C (or SIGTERM) stops after the exchange
// under way and reports what was found so far.
//
// Exit status: 0 when a device was found; 1 when none was, the search
// failed or was stopped; 2 for a mistake in the command line.
#pragma once

#include <functional>
#include <ostream>
#include <span>
#include <string>

#include "platform/automation/dispatch.h"

namespace varn::tool {

// `words`: what follows "search". EUsageError for anything but --use.
int RunSearch(std::span<const std::string> words, const std::function<DispatchPtr()>& create,
              bool json, std::ostream& out, std::ostream& err);

}  // namespace varn::tool
