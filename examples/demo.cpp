// The demo: a simulated tracker on loopback, and a display program that connects to it the way an
// experiment does, then reports what each side saw.
//
//   lumavex_demo [--address 127.0.0.2] [--model "LUMAVEX RX 5.7"] [--offset-ms 1234.5] [--tcp]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lumavex_core.h"
#include "sim/tracker.h"

namespace {

struct Options {
  std::string address = "127.0.0.2";
  std::string model = "LUMAVEX RX 5.7";
  double offset_ms = 123456.789;
  bool tcp = false;
};

bool parse(int argc, char **argv, Options *o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool has_value = i + 1 < argc;
    if (a == "--address" && has_value) {
      o->address = argv[++i];
    } else if (a == "--model" && has_value) {
      o->model = argv[++i];
    } else if (a == "--offset-ms" && has_value) {
      o->offset_ms = std::atof(argv[++i]);
    } else if (a == "--tcp") {
      o->tcp = true;
    } else {
      std::fprintf(stderr,
                   "usage: %s [--address 127.0.0.N] [--model TEXT] [--offset-ms MS] [--tcp]\n",
                   argv[0]);
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  Options opt;
  if (!parse(argc, argv, &opt)) return 2;

  lvxsim::Config config;
  LVXADDR parsed{};
  if (text_to_lvxaddr(opt.address.c_str(), &parsed, 0) != 0 || parsed.addr[0] != 127) {
    std::fprintf(stderr, "the demo's tracker runs on loopback: give a 127.x.y.z address\n");
    return 2;
  }
  std::memcpy(config.ip.data(), parsed.addr, 4);
  config.version_text = opt.model;
  config.node_name = "demo-tracker";
  config.enable_tcp = opt.tcp;
  config.clock_offset_us = static_cast<int64_t>(opt.offset_ms * 1000.0);
  config.keepalive_interval_ms = 50;
  lvxsim::SimTracker tracker(config);
  std::string error;
  if (!tracker.start(&error)) {
    std::fprintf(stderr, "cannot start the simulated tracker: %s\n", error.c_str());
    return 1;
  }
  std::printf("simulated tracker: %s (%s) on %s%s\n", config.node_name.c_str(), opt.model.c_str(),
              opt.address.c_str(), opt.tcp ? ", TCP link" : "");

  // The tracker's clock runs on the machine's monotonic clock plus its offset, so reading the
  // library's clock from the same origin makes the estimate show that offset.
  lumavex_set_clock_base(QX_CLOCK_BASE_MACHINE_LOCAL);
  if (opt.tcp) set_lumavex_tcp_only(1);
  set_lumavex_address(opt.address.c_str());
  if (open_lumavex_connection(0) != 0) {
    std::fprintf(stderr, "connection failed\n");
    return 1;
  }
  lumavex_set_name("demo-display");

  char version[40] = {};
  int generation = lumavex_get_tracker_version(version);
  std::printf("connected: is_connected=%d generation=%d version=\"%s\"\n", lumavex_is_connected(),
              generation, version);

  // Let a few link updates arrive so that the clock estimate settles.
  msec_delay(300);
  std::printf("local time %u ms, tracker time estimate %u ms\n", current_time(),
              lumavex_tracker_msec());
  std::printf("tracker clock offset estimate %.3f ms (simulated offset %.3f ms)\n",
              lumavex_double_msec_offset(), opt.offset_ms);

  LVXADDR node{};
  text_to_lvxaddr(opt.address.c_str(), &node, 0);
  const char message[] = "hello tracker, this is the display";
  int16_t sent = lumavex_node_send(&node, message, sizeof message - 1);
  std::printf("node message sent: result %d\n", sent);
  for (int i = 0; i < 100 && tracker.node_messages().empty(); ++i) msec_delay(5);
  for (const lvxsim::NodeMessage &m : tracker.node_messages()) {
    std::printf("tracker received node message from %s: \"%.*s\"\n", m.from.to_string().c_str(),
                static_cast<int>(m.payload.size()),
                reinterpret_cast<const char *>(m.payload.data()));
  }

  close_lumavex_connection();
  std::printf("closed: is_connected=%d\n", lumavex_is_connected());
  std::printf("tracker received %zu packets in all\n", tracker.received().size());
  tracker.stop();
  return 0;
}
