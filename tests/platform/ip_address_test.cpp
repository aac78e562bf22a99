// Address literals, CIDR networks and lists (what TCPAllow and TCPAddress
// hold), and a real TCP socket's peer address, source binding and
// keepalive options.
#include "platform/ip_address.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/socket.h"

namespace varn {
namespace {

std::string Canonical(const char* text) {
  const std::optional<IpAddress> a = ParseIpAddress(text);
  return a ? a->ToString() : "invalid";
}

TEST(IpAddress, LiteralsOfBothFamiliesAndTheirShortestForm) {
  EXPECT_EQ(Canonical("192.168.1.20"), "192.168.1.20");
  EXPECT_EQ(Canonical("0.0.0.0"), "0.0.0.0");
  EXPECT_EQ(Canonical("255.255.255.255"), "255.255.255.255");
  EXPECT_EQ(Canonical("::"), "::");
  EXPECT_EQ(Canonical("::1"), "::1");
  EXPECT_EQ(Canonical("FD00:0:0:0:0:0:0:1"), "fd00::1");
  EXPECT_EQ(Canonical("2001:db8:0:0:1:0:0:1"), "2001:db8::1:0:0:1") << "the first of equal runs";
  EXPECT_EQ(Canonical("2001:db8:0:1:1:1:1:1"), "2001:db8:0:1:1:1:1:1") << "one zero stays";
  EXPECT_EQ(Canonical("1::"), "1::");
  EXPECT_EQ(Canonical("1:2:3:4:5:6:7::"), "1:2:3:4:5:6:7:0");
  EXPECT_EQ(Canonical("::ffff:10.0.0.7"), "::ffff:a00:7");
  EXPECT_EQ(ParseIpAddress("::ffff:10.0.0.7")->Unmapped(), IpAddress::V4(10, 0, 0, 7));
  EXPECT_EQ(ParseIpAddress("::1")->Unmapped().ToString(), "::1");
  EXPECT_EQ(Canonical("64:ff9b::192.0.2.33"), "64:ff9b::c000:221");

  for (const char* bad : {"",
                          " ",
                          "1.2.3",
                          "1.2.3.4.5",
                          "256.1.1.1",
                          "01.2.3.4",
                          "1.2.3.-4",
                          "1..2.3",
                          "1.2.3.4 ",
                          "a.b.c.d",
                          "localhost",
                          "host.example",
                          ":::",
                          "1:::2",
                          "1::2::3",
                          ":1::",
                          "1::2:",
                          "1:2:3:4:5:6:7:8:9",
                          "1:2:3:4:5:6:7",
                          "1:2:3:4:5:6:7:8::",
                          "12345::",
                          "g::1",
                          "::1.2.3.4:5",
                          "fe80::1%eth0",
                          "[::1]",
                          "::ffff:1.2.3"})
    EXPECT_EQ(Canonical(bad), "invalid") << '"' << bad << '"';
}

bool Allows(const char* list, const char* peer) {
  return ParseNetworkList(list).Contains(*ParseIpAddress(peer));
}

std::string ErrorOf(const char* list) {
  try {
    ParseNetworkList(list);
  } catch (const ENetworkListError& e) {
    return e.what();
  }
  return "no error";
}

TEST(NetworkList, MatchesItsNetworksAndNothingElse) {
  // Prefixes, a bare address as one host, separators of every kind.
  const char* list = " 192.168.1.0/24,10.0.0.5;;fd00::/8\t2001:db8::1 ";
  for (const char* in : {"192.168.1.0", "192.168.1.255", "10.0.0.5", "fd12:3456::9", "2001:db8::1",
                         "::ffff:192.168.1.77", "::ffff:10.0.0.5"})
    EXPECT_TRUE(Allows(list, in)) << in;
  for (const char* out :
       {"192.168.2.1", "10.0.0.4", "10.0.0.6", "fe00::1", "2001:db8::2", "::ffff:10.0.0.6", "::1"})
    EXPECT_FALSE(Allows(list, out)) << out;
  EXPECT_EQ(ParseNetworkList(list).networks.size(), 4u);

  // Host bits past the prefix do not matter; /32 and /128 are one host.
  EXPECT_TRUE(Allows("192.168.1.77/24", "192.168.1.3"));
  EXPECT_TRUE(Allows("10.1.2.3/32", "10.1.2.3"));
  EXPECT_FALSE(Allows("10.1.2.3/32", "10.1.2.2"));
  EXPECT_TRUE(Allows("10.0.0.0/9", "10.127.255.255"));
  EXPECT_FALSE(Allows("10.0.0.0/9", "10.128.0.0"));
  EXPECT_TRUE(Allows("fd00::1/128", "fd00::1"));
  EXPECT_FALSE(Allows("fd00::1/128", "fd00::2"));
  // Prefix 0: the whole family; IPv6's whole includes the mapped IPv4 peers.
  EXPECT_TRUE(Allows("0.0.0.0/0", "203.0.113.9"));
  EXPECT_TRUE(Allows("0.0.0.0/0", "::ffff:203.0.113.9"));
  EXPECT_FALSE(Allows("0.0.0.0/0", "2001:db8::1"));
  EXPECT_TRUE(Allows("::/0", "2001:db8::1"));
  EXPECT_TRUE(Allows("::/0", "203.0.113.9"));
  // A mapped network is the IPv4 one it spans, for peers of either form.
  EXPECT_TRUE(Allows("::ffff:10.0.0.0/104", "10.9.9.9"));
  EXPECT_TRUE(Allows("::ffff:10.0.0.0/104", "::ffff:10.9.9.9"));
  EXPECT_FALSE(Allows("::ffff:10.0.0.0/104", "11.0.0.1"));
  EXPECT_TRUE(Allows("::ffff:10.0.0.1", "10.0.0.1"));
  // Nothing in the list: nobody (the server installs no filter then).
  EXPECT_TRUE(ParseNetworkList(" ,; ").Empty());
  EXPECT_FALSE(Allows("", "127.0.0.1"));
}

TEST(NetworkList, TheFirstBadEntryIsNamedWithItsReason) {
  EXPECT_EQ(ErrorOf("10.0.0.0/8 10.0.0.0/33"), "\"10.0.0.0/33\": префикс больше 32");
  EXPECT_EQ(ErrorOf("fd00::/129"), "\"fd00::/129\": префикс больше 128");
  for (const char* prefix : {"10.0.0.0/", "10.0.0.0/+8", "10.0.0.0/-1", "10.0.0.0/08",
                             "10.0.0.0/8/8", "10.0.0.0/x", "10.0.0.0/1000"})
    EXPECT_EQ(ErrorOf(prefix), std::string("\"") + prefix +
                                   "\": длина префикса после «/» должна быть десятичным числом")
        << prefix;
  for (const char* junk : {"10.0.0", "/8", "printer.local", "*", "192.168.1.0-255", "fe80::1%lo"})
    EXPECT_EQ(ErrorOf(junk), std::string("\"") + junk + "\": не IPv4- или IPv6-адрес") << junk;
  try {
    ParseNetworkList("10.0.0.1 bad/8 worse");
    ADD_FAILURE() << "no error";
  } catch (const ENetworkListError& e) {
    EXPECT_EQ(e.Entry, "bad/8");
  }
}

TEST(TcpSocket, PeerAddressSourceBindingAndKeepAlive) {
  ListeningSocket listener = ListeningSocket::ListenTcp(0, "127.0.0.1");
  // Linux routes the whole of 127/8 to the loopback: a second source.
  StreamSocket client = StreamSocket::ConnectTcp("127.0.0.1", listener.Port(), "127.0.0.2");
  std::optional<StreamSocket> served = listener.Accept();
  ASSERT_TRUE(served);
  EXPECT_EQ(served->PeerAddress(), IpAddress::V4(127, 0, 0, 2));
  EXPECT_EQ(client.PeerAddress(), IpAddress::V4(127, 0, 0, 1));

  EXPECT_EQ(served->KeepAlive(), std::nullopt) << "off unless asked for";
  const TcpKeepAlive wanted{std::chrono::seconds(30), std::chrono::seconds(10), 3,
                            std::chrono::milliseconds(60000)};
  served->SetKeepAlive(wanted);
  EXPECT_EQ(served->KeepAlive(), wanted);
  EXPECT_EQ(TcpKeepAlive{}, wanted) << "the defaults: about a minute to notice a dead peer";

  // A source that is not a local address, and one of the other family.
  EXPECT_THROW(StreamSocket::ConnectTcp("127.0.0.1", listener.Port(), "192.0.2.1"), ESocketError);
  EXPECT_THROW(StreamSocket::ConnectTcp("127.0.0.1", listener.Port(), "::1"), ESocketError);

  // The dual-stack listener gives IPv4 clients as mapped addresses.
  ListeningSocket both = ListeningSocket::ListenTcp(0);
  StreamSocket v4 = StreamSocket::ConnectTcp("127.0.0.1", both.Port());
  std::optional<StreamSocket> fromV4 = both.Accept();
  ASSERT_TRUE(fromV4);
  ASSERT_TRUE(fromV4->PeerAddress());
  EXPECT_EQ(fromV4->PeerAddress()->Unmapped(), IpAddress::V4(127, 0, 0, 1));
}

}  // namespace
}  // namespace varn
