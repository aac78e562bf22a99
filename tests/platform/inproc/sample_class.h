// The class that libVarnInprocSample.so serves.
#pragma once

namespace varn::test {

inline constexpr const char* kInprocSampleClsid = "{3A6F1C2E-8B4D-4F1A-9E27-5C0D7B3E9A61}";
// Its first part names the library, so a host finds it beside itself.
inline constexpr const char* kInprocSampleProgId = "VarnInprocSample.Sample";
inline constexpr const char* kNoEntryProgId = "VarnInprocNoEntry.Thing";

}  // namespace varn::test
