// Operating-system errors of the POSIX layer, with the system's own text.
//
// std::strerror may hand two threads the same buffer; the server reads and
// writes serial lines, sockets and files on many threads at once, so every
// message here comes from strerror_r into a buffer of the caller's.
//
//   if (fd < 0) ThrowErrno("open " + path);   // EOSError "open /x: No such file..."
#pragma once

#include <cerrno>
#include <string>

namespace varn {

// The system's text for the error number `err`.
std::string ErrnoText(int err);

// Raises EOSError(err, "<what>: <system's text>").
[[noreturn]] void ThrowErrno(const std::string& what, int err);
// The same with errno as it is on entry. Where something between the
// failing call and this one could change errno, save it and pass it.
[[noreturn]] void ThrowErrno(const std::string& what);

}  // namespace varn
