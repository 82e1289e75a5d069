// The platform layer's own contract: socket error numbering and the manual-reset event.
#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "platform/event.h"
#include "platform/net.h"

namespace {

namespace p = lvx::platform;

TEST(SocketErrors, ErrnoMapsToTheLibrarysNumbers) {
  EXPECT_EQ(p::socket_error_from_errno(0), 0);
  EXPECT_EQ(p::socket_error_from_errno(EAGAIN), 10035);
  EXPECT_EQ(p::socket_error_from_errno(EWOULDBLOCK), 10035);
  EXPECT_EQ(p::socket_error_from_errno(EADDRINUSE), 10048);
  EXPECT_EQ(p::socket_error_from_errno(ETIMEDOUT), 10060);
  EXPECT_EQ(p::socket_error_from_errno(ECONNREFUSED), 10061);
  EXPECT_EQ(p::socket_error_from_errno(ECONNRESET), 10054);
  EXPECT_EQ(p::socket_error_from_errno(EPIPE), 10054);
  EXPECT_EQ(p::socket_error_from_errno(EMSGSIZE), 10040);
  EXPECT_EQ(p::socket_error_from_errno(EINPROGRESS), 10036);
  EXPECT_EQ(p::socket_error_from_errno(ENOTCONN), 10057);
  EXPECT_EQ(p::socket_error_from_errno(ENOSYS), p::kSockOther);
}

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
