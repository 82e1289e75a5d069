// The platform layer's own contract: socket error numbering and the manual-reset event.
#include <gtest/gtest.h>

#include <thread>

#include "platform/event.h"
#include "platform/net.h"

namespace {

namespace p = lvx::platform;

TEST(SocketErrors, RealSocketsReportMappedErrors) {
  int err = -1;
  p::Socket a = p::Socket::udp(&err);
  ASSERT_TRUE(a.valid());
  EXPECT_EQ(err, 0);
  ASSERT_EQ(a.bind({{127, 0, 0, 1}, 0}), 0);
  p::Socket b = p::Socket::udp(&err);
  EXPECT_EQ(b.bind(a.local_endpoint()), p::kSockAddrInUse);
  // A receive time-out reads as the time-out number, not as would-block.
  ASSERT_EQ(a.set_receive_timeout_ms(5), 0);
  char buf[16];
  EXPECT_EQ(a.recv_from(buf, sizeof buf, nullptr), -p::kSockTimedOut);
}

TEST(ManualResetEvent, StaysSetUntilResetAndWakesAWaiter) {
  p::ManualResetEvent e;
  EXPECT_FALSE(e.wait_for_ms(1));
  e.set();
  EXPECT_TRUE(e.wait_for_ms(0));
  EXPECT_TRUE(e.wait_for_ms(0));  // still set
  e.reset();
  EXPECT_FALSE(e.is_set());
  std::thread setter([&] { e.set(); });
  EXPECT_TRUE(e.wait_for_ms(5000));
  setter.join();
}

}  // namespace
