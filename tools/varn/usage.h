// The usage text of `varn --help`, apart from the code so that its words
// can be read and changed in one place.
#pragma once

namespace varn::tool {

extern const char* const kUsage;

}  // namespace varn::tool
