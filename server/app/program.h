// The VarnSrv program's steps, from the command line to the exit code.
//
//   int main(int argc, char** argv) { return varn::VarnSrvMain({argv + 1, argv + argc}); }
//
// Start-up errors are printed as "Сервер Варн: <message>" on standard error
// and end the program with exit code 1.
#pragma once

#include <string>
#include <vector>

#include "server/app/options.h"

namespace varn {

inline constexpr const char* kServerTitle = "Сервер Варн";

// The class registration for `mode`: removed for UnregServer, otherwise
// written with this program as LocalServer32. Raises the registry's error.
void UpdateRegistration(TStartMode mode);

// Asks the server listening at `socketPath` to close. False when none
// listens there (then nothing happens); raises when it cannot be asked.
bool RequestClose(const std::string& socketPath);

int VarnSrvMain(const std::vector<std::string>& args);

}  // namespace varn
