// How the driver names this computer to the port server. The device's
// error texts and command names are the protocol's (protocol/commands.h).
//
//   LocalComputerName()                            // "kassa-zal-nomer"
//   IsThisComputer("localhost", HostName())        // true
//
// The hex dump of bytes is platform's HexDump (platform/text.h); deleting a
// registry key with its subkeys is Registry::DeleteKey (platform/registry.h).
#pragma once

#include <string>

namespace varn {

// The name this computer gives itself to the port server: the first 15
// characters of the host name (the length the server side shows), empty when
// the system cannot tell.
std::string LocalComputerName();
// The first 15 characters of `hostName`, as LocalComputerName cuts it.
std::string ShortComputerName(const std::string& hostName);
// Whether `name` (a server computer's name as the user gave it) is this
// computer, whose host name is `hostName`: empty, either form of the host
// name (in any case), localhost or a loopback address.
bool IsThisComputer(const std::string& name, const std::string& hostName);

}  // namespace varn
