// IP addresses and networks as text: IPv4 and IPv6 literals, CIDR networks
// and lists of them, parsed and matched without the socket API (the socket
// layer hands over a peer's address as an IpAddress).
//
//   std::optional<IpAddress> a = ParseIpAddress("::ffff:10.0.0.7");  // IPv4 10.0.0.7
//   NetworkList allow = ParseNetworkList("192.168.1.0/24, 10.0.0.5; fd00::/8");
//   allow.Contains(*a);              // false
//   ParseNetworkList("10.0.0.0/33"); // ENetworkListError: "10.0.0.0/33": ...
//
// An IPv4-mapped IPv6 address (::ffff:a.b.c.d) is the IPv4 address it
// carries, both as a peer and in a list, so a dual-stack listener's IPv4
// clients match IPv4 networks.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varn {

struct IpAddress {
  bool v6 = false;
  // IPv4: the first four bytes, in network order; the rest zero.
  std::array<uint8_t, 16> bytes{};

  static IpAddress V4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    IpAddress r;
    r.bytes[0] = a;
    r.bytes[1] = b;
    r.bytes[2] = c;
    r.bytes[3] = d;
    return r;
  }
  // The IPv4 address of an IPv4-mapped IPv6 one; any other as it is.
  IpAddress Unmapped() const;
  int Bits() const { return v6 ? 128 : 32; }
  // "10.0.0.7", "fd00::1" (the shortest IPv6 form).
  std::string ToString() const;
  bool operator==(const IpAddress&) const = default;
};

// A literal without blanks: four decimal parts (no leading zeros), or the
// IPv6 groups with at most one "::" and an optional IPv4 tail. No zone
// index, no brackets, no names. nullopt for anything else.
std::optional<IpAddress> ParseIpAddress(std::string_view text);

struct Network {
  IpAddress address;  // host bits cleared
  int prefix = 0;     // 0..32 or 0..128
  bool Contains(const IpAddress& peer) const;
};

// "a.b.c.d/n" or "ipv6/n"; a bare address is one host (/32, /128). Host
// bits past the prefix are ignored. ENetworkListError when malformed.
Network ParseNetwork(std::string_view text);

// The entry that is no network and why, in the user's words:
// what() is "\"10.0.0.0/33\": префикс больше 32".
class ENetworkListError : public std::runtime_error {
 public:
  ENetworkListError(std::string entry, const std::string& reason)
      : std::runtime_error("\"" + entry + "\": " + reason), Entry(std::move(entry)) {}
  std::string Entry;
};

struct NetworkList {
  std::vector<Network> networks;
  bool Empty() const { return networks.empty(); }
  // Whether some network of the list holds `peer` (an empty list: none).
  bool Contains(const IpAddress& peer) const;
};

// Entries separated by blanks, commas or semicolons (any number of them).
// ENetworkListError names the first entry that is no network.
NetworkList ParseNetworkList(std::string_view text);

}  // namespace varn
