#include "platform/ip_address.h"

#include <algorithm>
#include <cstdio>

namespace varn {
namespace {

constexpr std::array<uint8_t, 12> kMappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

// Decimal digits only, no sign, no leading zero (which some readers take
// for octal), at most `maxDigits` of them.
std::optional<unsigned> Decimal(std::string_view s, size_t maxDigits) {
  if (s.empty() || s.size() > maxDigits || (s.size() > 1 && s[0] == '0')) return std::nullopt;
  unsigned v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  return v;
}

std::optional<std::array<uint8_t, 4>> ParseV4(std::string_view s) {
  std::array<uint8_t, 4> out{};
  for (size_t i = 0; i < 4; ++i) {
    const size_t dot = s.find('.');
    if ((dot == std::string_view::npos) != (i == 3)) return std::nullopt;
    const std::optional<unsigned> part = Decimal(s.substr(0, dot), 3);
    if (!part || *part > 255) return std::nullopt;
    out[i] = static_cast<uint8_t>(*part);
    if (dot != std::string_view::npos) s.remove_prefix(dot + 1);
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Colon-separated groups of one to four hex digits; the last may be an
// IPv4 address (two groups) when `v4Tail`. Empty text: no groups.
bool ParseGroups(std::string_view s, bool v4Tail, std::vector<uint16_t>& out) {
  if (s.empty()) return true;
  for (;;) {
    const size_t colon = s.find(':');
    const std::string_view g = s.substr(0, colon);
    if (colon == std::string_view::npos && v4Tail && g.find('.') != std::string_view::npos) {
      const auto v4 = ParseV4(g);
      if (!v4) return false;
      out.push_back(static_cast<uint16_t>((*v4)[0] << 8 | (*v4)[1]));
      out.push_back(static_cast<uint16_t>((*v4)[2] << 8 | (*v4)[3]));
      return true;
    }
    if (g.empty() || g.size() > 4) return false;
    unsigned v = 0;
    for (char c : g) {
      const int d = HexDigit(c);
      if (d < 0) return false;
      v = v << 4 | static_cast<unsigned>(d);
    }
    out.push_back(static_cast<uint16_t>(v));
    if (colon == std::string_view::npos) return true;
    s.remove_prefix(colon + 1);
  }
}

std::optional<IpAddress> ParseV6(std::string_view s) {
  std::vector<uint16_t> head, tail;
  const size_t gap = s.find("::");
  if (gap == std::string_view::npos) {
    if (!ParseGroups(s, true, head) || head.size() != 8) return std::nullopt;
  } else {
    // A second "::" leaves an empty group in the tail, which fails there.
    if (!ParseGroups(s.substr(0, gap), false, head) || !ParseGroups(s.substr(gap + 2), true, tail))
      return std::nullopt;
    if (head.size() + tail.size() > 7) return std::nullopt;
    head.resize(8 - tail.size(), 0);
    head.insert(head.end(), tail.begin(), tail.end());
  }
  IpAddress a;
  a.v6 = true;
  for (size_t i = 0; i < 8; ++i) {
    a.bytes[2 * i] = static_cast<uint8_t>(head[i] >> 8);
    a.bytes[2 * i + 1] = static_cast<uint8_t>(head[i]);
  }
  return a;
}

bool IsMapped(const IpAddress& a) {
  return a.v6 && std::equal(kMappedPrefix.begin(), kMappedPrefix.end(), a.bytes.begin());
}

IpAddress Mapped(const IpAddress& v4) {
  IpAddress a;
  a.v6 = true;
  std::copy(kMappedPrefix.begin(), kMappedPrefix.end(), a.bytes.begin());
  std::copy(v4.bytes.begin(), v4.bytes.begin() + 4, a.bytes.begin() + 12);
  return a;
}

bool SamePrefix(const IpAddress& a, const IpAddress& b, int prefix) {
  const int whole = prefix / 8;
  for (int i = 0; i < whole; ++i)
    if (a.bytes[i] != b.bytes[i]) return false;
  const int rest = prefix % 8;
  if (rest == 0) return true;
  const auto mask = static_cast<uint8_t>(0xff << (8 - rest));
  return (a.bytes[whole] & mask) == (b.bytes[whole] & mask);
}

bool IsSeparator(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == ';';
}

}  // namespace

IpAddress IpAddress::Unmapped() const {
  if (!IsMapped(*this)) return *this;
  return V4(bytes[12], bytes[13], bytes[14], bytes[15]);
}

std::string IpAddress::ToString() const {
  char buf[8];
  if (!v6) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
      if (i) s += '.';
      s += std::to_string(bytes[i]);
    }
    return s;
  }
  uint16_t g[8];
  for (int i = 0; i < 8; ++i) g[i] = static_cast<uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
  // The longest run of two or more zero groups becomes "::" (the first of
  // equal runs).
  int bestAt = -1, bestLength = 1;
  for (int i = 0; i < 8;) {
    int j = i;
    while (j < 8 && g[j] == 0) ++j;
    if (j - i > bestLength) {
      bestAt = i;
      bestLength = j - i;
    }
    i = j == i ? i + 1 : j;
  }
  std::string s;
  for (int i = 0; i < 8; ++i) {
    if (i == bestAt) {
      s += "::";
      i += bestLength - 1;
      continue;
    }
    if (!s.empty() && s.back() != ':') s += ':';
    std::snprintf(buf, sizeof buf, "%x", g[i]);
    s += buf;
  }
  return s;
}

std::optional<IpAddress> ParseIpAddress(std::string_view text) {
  if (text.find(':') != std::string_view::npos) return ParseV6(text);
  const auto v4 = ParseV4(text);
  if (!v4) return std::nullopt;
  return IpAddress::V4((*v4)[0], (*v4)[1], (*v4)[2], (*v4)[3]);
}

bool Network::Contains(const IpAddress& peer) const {
  const IpAddress p = peer.Unmapped();
  if (!address.v6) return !p.v6 && SamePrefix(p, address, prefix);
  // An IPv6 network holds an IPv4 peer as the mapped address it arrived as.
  return SamePrefix(p.v6 ? p : Mapped(p), address, prefix);
}

Network ParseNetwork(std::string_view text) {
  const std::string entry(text);
  const size_t slash = text.find('/');
  const std::optional<IpAddress> address = ParseIpAddress(text.substr(0, slash));
  if (!address) throw ENetworkListError(entry, "не IPv4- или IPv6-адрес");
  Network n;
  n.address = address->Unmapped();
  // A mapped network is the IPv4 one it spans (::ffff:10.0.0.0/104 is 10.0.0.0/8).
  const bool mapped = IsMapped(*address);
  n.prefix = address->Bits();
  if (slash != std::string_view::npos) {
    const std::optional<unsigned> prefix = Decimal(text.substr(slash + 1), 3);
    if (!prefix)
      throw ENetworkListError(entry, "длина префикса после «/» должна быть десятичным числом");
    if (*prefix > static_cast<unsigned>(address->Bits()))
      throw ENetworkListError(entry, "префикс больше " + std::to_string(address->Bits()));
    n.prefix = static_cast<int>(*prefix);
    if (mapped && n.prefix < 96) n.address = *address;  // wider than the mapped range
  }
  if (mapped && n.address.v6 == false) n.prefix = std::max(0, n.prefix - 96);
  // Host bits cleared, so that equal networks compare equal.
  for (int bit = n.prefix; bit < n.address.Bits(); ++bit)
    n.address.bytes[bit / 8] &= static_cast<uint8_t>(~(0x80 >> (bit % 8)));
  return n;
}

bool NetworkList::Contains(const IpAddress& peer) const {
  for (const Network& n : networks)
    if (n.Contains(peer)) return true;
  return false;
}

NetworkList ParseNetworkList(std::string_view text) {
  NetworkList list;
  size_t i = 0;
  while (i < text.size()) {
    if (IsSeparator(text[i])) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    list.networks.push_back(ParseNetwork(text.substr(i, end - i)));
    i = end;
  }
  return list;
}

}  // namespace varn
