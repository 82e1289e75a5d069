// The simulated tracker's file service driven by a raw TCP socket: the reply and the bytes of a
// GET, a refused name, an upload. Tracker 127.0.2.9 (test number 521).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/file_service.h"
#include "sim/tracker.h"

namespace fs = std::filesystem;

namespace {

using lvx::platform::Endpoint;
using lvx::platform::Socket;

constexpr lvxsim::IPv4 kIp{127, 0, 2, 9};

// Sends a request and reads until the service closes (bounded by the socket's time-out).
std::string exchange(uint16_t port, const std::string &request, const std::string &body = "") {
  int err = 0;
  Socket s = Socket::tcp(&err);
  s.set_blocking(true);
  s.set_receive_timeout_ms(2000);
  if (s.connect_start(Endpoint{kIp, port}) != 0) return "no connection";
  s.send_all(request.c_str(), request.size() + 1);
  std::string got;
  char buf[4096];
  bool sent_body = body.empty();
  for (int i = 0; i < 1000; ++i) {
    int n = s.recv(buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
    if (!sent_body) {
      s.send_all(body.data(), body.size());
      sent_body = true;
      break;
    }
  }
  return got;
}

TEST(SimFileService, ChecksumOfTheKnownVector) {
  const std::string v = "123456789";
  EXPECT_EQ(lvxsim::service_checksum(reinterpret_cast<const uint8_t *>(v.data()), v.size()),
            0x89A1897Fu);
}

TEST(SimFileService, ServesRefusesAndReceives) {
  fs::path dir = fs::temp_directory_path() / ("lvx_simfiles_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::ofstream(dir / "t.qrd", std::ios::binary) << "0123456789";
  lvxsim::Config c;
  c.ip = kIp;
  c.data_dir = dir.string();
  c.enable_file_service = true;
  lvxsim::SimTracker sim(c);
  std::string error;
  ASSERT_TRUE(sim.start(&error)) << error;
  ASSERT_NE(sim.file_service_port(), 0);

  std::string got = exchange(sim.file_service_port(), "GET t.qrd");
  size_t nul = got.find('\0');
  ASSERT_NE(nul, std::string::npos);
  EXPECT_EQ(got.substr(0, 20), "GET_Ready t.qrd 10 2");
  EXPECT_EQ(got.substr(nul + 1), "0123456789");
  const uint8_t *digits = reinterpret_cast<const uint8_t *>("0123456789");
  EXPECT_NE(got.find(std::string(" ").append(std::to_string(lvxsim::service_checksum(digits, 10)))),
            std::string::npos);

  EXPECT_EQ(exchange(sim.file_service_port(), "GET ../t.qrd").substr(0, 9), "GET_Error");
  lvxsim::FileFaults f;
  f.drop_after_bytes = 4;
  sim.set_file_faults(f);
  got = exchange(sim.file_service_port(), "GET t.qrd");
  EXPECT_EQ(got.substr(got.find('\0') + 1), "0123");

  EXPECT_EQ(exchange(sim.file_service_port(), "PUT up.dat 3 ", "abc"),
            std::string("PUT_Ready\0", 10));
  bool stored = false;
  for (int i = 0; i < 300 && !stored; ++i) {
    std::ifstream in(dir / "recv" / "up.dat");
    std::ostringstream s;
    if (in) s << in.rdbuf();
    stored = s.str() == "abc";
    if (!stored) usleep(10000);
  }
  EXPECT_TRUE(stored);
  EXPECT_EQ(sim.file_stats().service_requests, 4u);
  sim.stop();
  fs::remove_all(dir);
}

}  // namespace
