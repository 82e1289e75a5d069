// Address text, options text and node-name handling.
#include <gtest/gtest.h>

#include <cstring>

#include "link/address.h"
#include "link/log.h"
#include "lumavex_core.h"

namespace {

using lvx::IPv4;

TEST(AddressText, ParsesFourNumbersInAnyBase) {
  IPv4 ip{};
  ASSERT_TRUE(lvx::parse_dotted("10.1.2.3", &ip));
  EXPECT_EQ(ip, (IPv4{10, 1, 2, 3}));
  ASSERT_TRUE(lvx::parse_dotted("0x7f.0.010.255", &ip));
  EXPECT_EQ(ip, (IPv4{127, 0, 8, 255}));
}

TEST(AddressText, RejectsMalformedText) {
  for (const char *bad : {"", "10.1.2", "10.1.2.3.5", "256.1.2.3", "10.1.2.3 ", "10..2.3",
                          "a.b.c.d", "10.1.2.-3", "10.1.2.3x", "1.2.3.0x100"}) {
    EXPECT_FALSE(lvx::parse_dotted(bad, nullptr)) << '"' << bad << '"';
  }
}

TEST(AddressText, PortDependsOnRemoteFlag) {
  LVXADDR a{};
  ASSERT_EQ(text_to_lvxaddr("10.1.2.3", &a, 0), 0);
  EXPECT_EQ(lvx::address_port(a), 589);
  EXPECT_EQ(lvx::address_ip(a), (IPv4{10, 1, 2, 3}));
  for (uint8_t b : a.unused) EXPECT_EQ(b, 0);
  ASSERT_EQ(text_to_lvxaddr("10.1.2.3", &a, 1), 0);
  EXPECT_EQ(lvx::address_port(a), 4000);
  EXPECT_EQ(text_to_lvxaddr("10.1.2", &a, 0), -1);
  EXPECT_EQ(text_to_lvxaddr(nullptr, &a, 0), -1);
}

TEST(AddressText, TcpOnlyModeUsesTheTcpPort) {
  // The choice is process-wide and permanent, so it is made here in this test's own process.
  if (set_lumavex_tcp_only(1) != 0) GTEST_SKIP() << "network already started in this process";
  LVXADDR a{};
  ASSERT_EQ(text_to_lvxaddr("10.1.2.3", &a, 0), 0);
  EXPECT_EQ(lvx::address_port(a), 3875);
  ASSERT_EQ(text_to_lvxaddr("10.1.2.3", &a, 1), 0);
  EXPECT_EQ(lvx::address_port(a), 4000);
}

TEST(AddressCompare, SameNodeComparesAddressAndPortOnly) {
  LVXADDR a = lvx::make_address({127, 0, 0, 9}, 589);
  LVXADDR b = a;
  b.unused[3] = 7;
  EXPECT_TRUE(lvx::same_node(a, b));
  b = lvx::make_address({127, 0, 0, 9}, 590);
  EXPECT_FALSE(lvx::same_node(a, b));
  EXPECT_TRUE(lvx::is_broadcast(lvx::make_address({255, 255, 255, 255}, 1)));
  EXPECT_FALSE(lvx::is_broadcast(lvx::make_address({255, 255, 255, 0}, 1)));
  EXPECT_EQ(a.port[0], 589 >> 8);  // network order
  EXPECT_EQ(a.port[1], 589 & 0xFF);
}

TEST(TransportOptionsText, ReadsKeysWithoutCaseAndNumbersInAnyBase) {
  lvx::TransportOptions o;
  EXPECT_EQ(lvx::parse_options("eyeport=600 remport=0x1000", &o), 0);
  EXPECT_EQ(o.tracker_port, 600);
  EXPECT_EQ(o.remote_port, 4096);
  EXPECT_EQ(lvx::parse_options("HIPRIO=2\tLoPrio=-1\n", &o), 0);
  EXPECT_EQ(o.high_priority, 2);
  EXPECT_EQ(o.low_priority, -1);
  EXPECT_EQ(lvx::parse_options("tcpport=40001 FilePort=40002", &o), 0);
  EXPECT_EQ(o.tracker_tcp_port, 40001);
  EXPECT_EQ(o.file_service_port, 40002);
}

TEST(TransportOptionsText, StopsAtTheFirstBadTokenKeepingEarlierKeys) {
  lvx::TransportOptions o;
  testing::internal::CaptureStdout();
  EXPECT_EQ(lvx::parse_options("eyeport=700 foo=1 remport=5000", &o), -1);
  EXPECT_EQ(lvx::parse_options("foo=1", &o), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // quiet unless asked
  EXPECT_EQ(o.tracker_port, 700);
  EXPECT_EQ(o.remote_port, 4000);
  EXPECT_EQ(lvx::parse_options("eyeport", &o), -1);
}

TEST(NodeNames, CopyCutsToThirtyNineCharactersAndTrailingBlanks) {
  char field[40];
  lvx::copy_node_name(field, "display   ");
  EXPECT_STREQ(field, "display");
  std::string longname(60, 'x');
  lvx::copy_node_name(field, longname.c_str());
  EXPECT_EQ(std::strlen(field), 39u);
  // Blanks that end up last after the cut are removed too.
  std::string blanks = std::string(38, 'y') + "  zz";
  lvx::copy_node_name(field, blanks.c_str());
  EXPECT_STREQ(field, std::string(38, 'y').c_str());
  lvx::copy_node_name(field, nullptr);
  EXPECT_STREQ(field, "");
}

}  // namespace
