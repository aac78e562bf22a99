// Stand-in until the shared wire-protocol component lands.
#pragma once
namespace varn::protocol {
inline constexpr const char* kVarnSrvClsid = "{51FABCFE-95AD-4BC9-BABA-97F9D279F37E}";
}
