// Whether a standard stream is a terminal: a program redraws a progress line
// in place on a terminal and writes plain lines to a file or pipe.
//
//   if (IsTerminal(StandardStream::Error)) std::cerr << "\r" << line;
#pragma once

namespace varn {

enum class StandardStream { Input, Output, Error };

bool IsTerminal(StandardStream stream);

}  // namespace varn
