// lumavex_sim_tracker: runs the simulated tracker on a loopback address until SIGINT or SIGTERM,
// printing one line per received packet and, on request, every command, stored message, mode
// change, connect and disconnect. It behaves as a whole tracker: commands change its mode,
// recordings stream, playback, requests, keys and the bitmap transfer are served. With --stream it
// also streams samples and events to each display that connects, whatever its mode. Faults on
// the command line lose, repeat or reorder data packets, or silence or restart the tracker once.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/options.h"
#include "sim/packet_decoders.h"
#include "sim/tracker.h"
#include "sim/tracker_control.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

// The steady clock in ms.
int64_t steady_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// When the first connect request arrived (steady_ms), -1 before: the scheduled faults count from
// it. Set by the tracker's receive thread, so that a display that connects and leaves between two
// looks of the main loop still starts the schedule.
std::atomic<int64_t> g_first_connect_ms{-1};

void on_signal(int) {
  g_stop = 1;
}

const char *type_name(uint8_t type) {
  switch (type) {
    case lvxsim::kCommandPkt:
      return "COMMAND";
    case lvxsim::kKeyPkt:
      return "KEY";
    case lvxsim::kStatusPkt:
      return "STATUS";
    case lvxsim::kDataPkt:
      return "DATA";
    case lvxsim::kMessagePkt:
      return "MESSAGE";
    case lvxsim::kImagePkt:
      return "IMAGE";
    case lvxsim::kFilePkt:
      return "FILE";
    case lvxsim::kConnectPkt:
      return "CONNECT";
    case lvxsim::kNodePkt:
      return "NODE";
    default:
      return "UNKNOWN";
  }
}

// Prints a command packet: a command (type 22) with the result the tracker answered, any other
// type (read request, time request, acknowledgement) with its type and text.
void print_command(const lvxsim::ReceivedPacket &p) {
  const std::optional<lvxsim::CommandPacket> c = lvxsim::decode_command(p.bytes);
  if (!c) return;
  if (c->type == lvxsim::kCommandTypeCommand) {
    // This program sets no rules, so the answer is the tracker's own.
    std::printf("command serial=%u result=%d \"%s\"\n", c->serial, lvxsim::builtin_result(c->text),
                c->text.c_str());
  } else {
    std::printf("command type=%u serial=%u \"%s\"\n", static_cast<unsigned>(c->type), c->serial,
                c->text.c_str());
  }
}

// True for a request to connect (plain, busy test or broadcast).
bool is_connect_request(const lvxsim::ReceivedPacket &p) {
  const std::optional<lvxsim::ConnectPacket> c = lvxsim::decode_connect(p.bytes);
  return c && (c->code == lvxsim::kConnectRequest || c->code == lvxsim::kConnectBusyTest ||
               c->code == lvxsim::kConnectBroadcast);
}

// Prints a connect or disconnect request with its sender; other connect codes (polls, replies)
// print nothing.
void print_connection(const lvxsim::ReceivedPacket &p) {
  const std::optional<lvxsim::ConnectPacket> c = lvxsim::decode_connect(p.bytes);
  if (!c) return;
  switch (c->code) {
    case lvxsim::kConnectRequest:
    case lvxsim::kConnectBusyTest:
    case lvxsim::kConnectBroadcast:
      std::printf("connect from %s\n", p.from.to_string().c_str());
      break;
    case lvxsim::kDisconnectRequest:
      std::printf("disconnect from %s\n", p.from.to_string().c_str());
      break;
    default:
      break;
  }
}

// A tracker with the program's observers installed.
std::unique_ptr<lvxsim::SimTracker> make_tracker(const lvxsim::Config &config,
                                                 const lvxsim::ProgramOptions &options) {
  const bool print_commands = options.print_commands;
  const bool print_connections = options.print_connections;
  auto tracker = std::make_unique<lvxsim::SimTracker>(config);
  tracker->set_observer([print_commands, print_connections](const lvxsim::ReceivedPacket &p) {
    const uint8_t type = lvxsim::packet_type(p.bytes);
    std::printf("recv type=0x%02x %s size=%zu from=%s%s\n", type, type_name(type), p.bytes.size(),
                p.from.to_string().c_str(), p.via_tcp ? " tcp" : "");
    if (print_commands && type == lvxsim::kCommandPkt) print_command(p);
    if (print_connections && type == lvxsim::kConnectPkt) print_connection(p);
    std::fflush(stdout);
    if (is_connect_request(p)) {
      int64_t none = -1;
      g_first_connect_ms.compare_exchange_strong(none, steady_ms());
    }
  });
  if (print_commands) {
    // Runs on the receive thread before the packet's observer call, so the message lines come
    // before the "recv" line of their packet.
    tracker->set_message_observer([](size_t index, const lvxsim::RecordedMessage &m) {
      std::printf("message #%zu time=%lld offset=%d serial=%u \"%s\"\n", index,
                  static_cast<long long>(m.time_ms), m.offset_ms, m.serial, m.text.c_str());
      std::fflush(stdout);
    });
    tracker->control().set_mode_observer([](uint8_t from, uint8_t to) {
      std::printf("mode %u -> %u\n", static_cast<unsigned>(from), static_cast<unsigned>(to));
      std::fflush(stdout);
    });
  }
  return tracker;
}

// Starts the tracker and prints where it listens; on failure prints why (and the remedy when a
// privileged port was refused).
bool start_tracker(lvxsim::SimTracker &tracker) {
  std::string error;
  if (!tracker.start(&error)) {
    std::fprintf(stderr, "lumavex_sim_tracker: %s\n", error.c_str());
    if (error.find("permission denied") != std::string::npos) {
      std::fprintf(stderr,
                   "lumavex_sim_tracker: ports below 1024 (a real tracker's 589) need root; as an "
                   "ordinary user give --udp-port 0 (a free port, shown in the \"listening\" line) "
                   "and tell the library that port with the option \"eyeport=PORT\" of "
                   "open_lumavex_system\n");
    }
    return false;
  }
  const lvxsim::Config &config = tracker.config();
  std::printf("listening udp=%s", tracker.udp_endpoint().to_string().c_str());
  if (config.enable_tcp) std::printf(" tcp=%s", tracker.tcp_endpoint().to_string().c_str());
  if (config.enable_file_service) std::printf(" files=%u", tracker.file_service_port());
  std::printf(" model=\"%s\" name=\"%s\"\n", config.version_text.c_str(), config.node_name.c_str());
  std::fflush(stdout);
  return true;
}

// Sleeps about ms milliseconds, waking early for SIGINT or SIGTERM.
void sleep_unless_stopped(int ms) {
  for (int slept = 0; slept < ms && g_stop == 0; slept += 100) {
    lvx::platform::sleep_us(int64_t{std::min(100, ms - slept)} * 1000);
  }
}

// The scheduled faults: each happens once, timed from the first display's connect.
class FaultSchedule {
 public:
  explicit FaultSchedule(const lvxsim::ProgramOptions &o) : o_(o) {}

  // What to do now: nothing, a restart (the caller does it), or the silence switched here.
  enum class Action { kNone, kRestart };
  Action step(lvxsim::SimTracker &tracker, int64_t now_ms) {
    const int64_t first_connect_ms = g_first_connect_ms.load();
    if (first_connect_ms < 0) return Action::kNone;
    int64_t since = now_ms - first_connect_ms;
    if (o_.silence_after_ms >= 0 && !silence_done_ && !silent_ && since >= o_.silence_after_ms) {
      tracker.set_silent(true);
      silent_ = true;
      silence_end_ms_ = now_ms + o_.silence_for_ms;
      std::printf("fault: silent for %.1f s\n", o_.silence_for_ms / 1000.0);
      std::fflush(stdout);
    }
    if (silent_ && now_ms >= silence_end_ms_) {
      tracker.set_silent(false);
      silent_ = false;
      silence_done_ = true;
      std::printf("fault: silence over\n");
      std::fflush(stdout);
    }
    if (o_.restart_after_ms >= 0 && !restart_done_ && since >= o_.restart_after_ms) {
      restart_done_ = true;
      if (silent_) {
        // The new tracker starts on the network: a silence under way ends with the restart.
        silent_ = false;
        silence_done_ = true;
      }
      return Action::kRestart;
    }
    return Action::kNone;
  }

 private:
  const lvxsim::ProgramOptions &o_;
  bool silent_ = false;
  bool silence_done_ = false;
  int64_t silence_end_ms_ = 0;
  bool restart_done_ = false;
};

// The operator's keys, one per line on standard input: "a" opens the abort menu (as during a
// trial), "1" to "4" pick its entry, "x" cuts the link. Standard input at its end (or not a
// terminal that sends anything) is left alone.
class OperatorKeys {
 public:
  void step(lvxsim::SimTracker &tracker) {
    if (done_) return;
    // A program in the background must not read its terminal (that would stop it).
    if (isatty(STDIN_FILENO) != 0 && tcgetpgrp(STDIN_FILENO) != getpgrp()) return;
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) return;
    char buf[64];
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) {
      done_ = true;
      return;
    }
    for (ssize_t i = 0; i < n; ++i) act(tracker, buf[i]);
  }

 private:
  static void act(lvxsim::SimTracker &tracker, char key) {
    if (key == 'a') {
      const bool was = tracker.control().open_abort_menu();
      std::printf("operator: abort menu opened%s\n", was ? " (the recording ended)" : "");
    } else if (key >= '1' && key <= '4') {
      const bool ok = tracker.control().choose_abort_entry(static_cast<uint16_t>(key - '0'));
      std::printf("operator: abort menu entry %c %s\n", key, ok ? "chosen" : "(no menu open)");
    } else if (key == 'x') {
      std::printf("operator: link cut %s\n", tracker.drop_connection() ? "" : "(no display)");
    } else {
      return;
    }
    std::fflush(stdout);
  }
  bool done_ = false;
};

// Runs the tracker until SIGINT or SIGTERM.
int run(const lvxsim::ProgramOptions &options) {
  lvxsim::Config config = options.tracker;
  const bool streaming = options.stream_on_connect;
  const lvxsim::StreamConfig &stream = options.stream;
  // Every packet is printed as it arrives, so the tracker need not keep them.
  config.record_packets = false;
  std::unique_ptr<lvxsim::SimTracker> tracker = make_tracker(config, options);
  if (!start_tracker(*tracker)) return 1;
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  // A restarted tracker listens on the ports the first one got.
  config.udp_port = tracker->udp_endpoint().port;
  if (config.enable_tcp) config.tcp_port = tracker->tcp_endpoint().port;
  if (config.enable_file_service) config.file_service_port = tracker->file_service_port();
  FaultSchedule faults(options);
  OperatorKeys keys;

  // The stream follows the connection: it starts when a display connects and stops (sending its
  // closing markers into the void) when the display has gone.
  while (g_stop == 0) {
    lvx::platform::sleep_us(100000);
    int64_t now_ms = steady_ms();
    keys.step(*tracker);
    if (faults.step(*tracker, now_ms) == FaultSchedule::Action::kRestart) {
      std::printf("fault: restarting, down for %.1f s\n", options.down_for_ms / 1000.0);
      std::fflush(stdout);
      // As at a power cut, nothing more goes out, not even the stream's closing markers.
      tracker->set_silent(true);
      tracker->stop();
      tracker.reset();
      sleep_unless_stopped(options.down_for_ms);
      if (g_stop != 0) break;
      tracker = make_tracker(config, options);
      if (!start_tracker(*tracker)) return 1;
      continue;
    }
    if (!streaming) continue;
    bool connected = tracker->client_connected();
    if (connected && !tracker->streaming()) {
      if (tracker->start_streaming(stream)) {
        std::printf("streaming %d Hz to %s\n", stream.rate_hz,
                    tracker->client().value_or(lvx::platform::Endpoint{}).to_string().c_str());
        std::fflush(stdout);
      }
    } else if (!connected && tracker->streaming()) {
      tracker->stop_streaming();
      lvxsim::StreamStats s = tracker->stream_stats();
      std::printf("stream stopped: %llu samples, %llu events, %llu packets\n",
                  static_cast<unsigned long long>(s.samples),
                  static_cast<unsigned long long>(s.events),
                  static_cast<unsigned long long>(s.packets_sent));
      std::fflush(stdout);
    }
  }
  tracker->stop();
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  lvxsim::ParsedOptions parsed =
      lvxsim::parse_program_options(std::vector<std::string>(argv + 1, argv + argc));
  switch (parsed.outcome) {
    case lvxsim::ParsedOptions::Outcome::kHelp:
      std::fputs(lvxsim::usage_text(), stdout);
      return 0;
    case lvxsim::ParsedOptions::Outcome::kError:
      std::fprintf(stderr, "%s\n", parsed.error.c_str());
      if (parsed.show_usage) std::fputs(lvxsim::short_usage_text(), stderr);
      return 2;
    case lvxsim::ParsedOptions::Outcome::kRun:
      break;
  }
  return run(parsed.options);
}
