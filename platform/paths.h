// Where the programs keep their files (environment first, XDG defaults next).
#pragma once

#include <string>

namespace varn {

// $VARN_REGISTRY, else ${XDG_CONFIG_HOME:-$HOME/.config}/varn/registry.reg
std::string RegistryFilePath();
// $VARN_LOG_DIR, else ${XDG_STATE_HOME:-$HOME/.local/state}/varn
std::string LogDirectory();
// $VARN_RUNTIME_DIR, else ${XDG_RUNTIME_DIR:-/tmp/varn-$UID}/varn
std::string RuntimeDirectory();

}  // namespace varn
