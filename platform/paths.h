// Where the programs keep their files (environment first, XDG defaults next).
#pragma once

#include <string>

namespace varn {

// $VARN_REGISTRY, else ${XDG_CONFIG_HOME:-$HOME/.config}/varn/registry.reg
std::string RegistryFilePath();
// $VARN_LOG_DIR, else ${XDG_STATE_HOME:-$HOME/.local/state}/varn
std::string LogDirectory();
// $VARN_RUNTIME_DIR, else ${XDG_RUNTIME_DIR:-/tmp/varn-$UID}/varn. When
// /tmp/varn-$UID (or its varn folder) is not this user's alone (another
// user made it first), ${XDG_STATE_HOME:-$HOME/.local/state}/varn/run
// instead, with one line on standard error saying why (unless that path is
// too long for a socket: then the refused one, which its users refuse).
std::string RuntimeDirectory();

}  // namespace varn
