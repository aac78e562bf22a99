// `varn ports`: where COM1..COM32 are and whether they can be used. The
// list shows per port its path (from the registry, or the default
// /dev/ttyS<N-1>), where a link such as /dev/serial/by-id/... leads, whether
// it is a terminal, its mode, owner and group, whether this user may open it
// for reading and writing, and which one the driver uses (ComNumber); only
// ports whose path exists or is set, unless --all. `set N PATH` and `unset
// N` change the registry's `COM<N>` value under kPortsKey. `check [N]` opens
// the line as the port server does and closes it again, and says what is
// wrong and how to fix it: missing, permission denied, busy (and who holds
// it), not a terminal. A line the running port server holds is left alone.
//
//   return RunPorts(words, create, json, std::cout, std::cerr);
#pragma once

#include <functional>
#include <ostream>
#include <span>
#include <string>

#include "platform/automation/dispatch.h"

namespace varn::tool {

// `words`: what follows "ports". Exit status 0, or 1 (a check that failed,
// a registry that cannot be written, the driver's port not known); a
// mistake in `words` raises EUsageError (steps.h) before anything is done.
int RunPorts(std::span<const std::string> words, const std::function<DispatchPtr()>& create,
             bool json, std::ostream& out, std::ostream& err);

}  // namespace varn::tool
