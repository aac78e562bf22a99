// See os_error.h: one place that turns an errno into the system's text.
#include <string.h>

#include <cerrno>

#include "platform/errors.h"
#include "platform/posix/os_error.h"

namespace varn {
namespace {

// strerror_r comes in two shapes: the GNU one returns the text (maybe not
// in the buffer), the XSI one fills the buffer and returns 0 on success.
[[maybe_unused]] const char* TextOf(const char* gnu, const char*) {
  return gnu;
}
[[maybe_unused]] const char* TextOf(int xsi, const char* buffer) {
  return xsi == 0 ? buffer : "Unknown error";
}

}  // namespace

std::string ErrnoText(int err) {
  char buffer[256] = {};
  return TextOf(::strerror_r(err, buffer, sizeof buffer), buffer);
}

void ThrowErrno(const std::string& what) {
  ThrowErrno(what, errno);
}

void ThrowErrno(const std::string& what, int err) {
  throw EOSError(err, what + ": " + ErrnoText(err));
}

}  // namespace varn
