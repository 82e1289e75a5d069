// lumavex_sim_tracker: runs the simulated tracker on a loopback address until SIGINT or SIGTERM,
// printing one line per received packet and, on request, every command, stored message and mode
// change. It behaves as a whole tracker: commands change its mode, recordings stream, playback,
// requests, keys and the bitmap transfer are served. With --stream it also streams samples and
// events to each display that connects, whatever its mode.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "sim/tracker.h"
#include "sim/tracker_control.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void on_signal(int) {
  g_stop = 1;
}

void usage(FILE *out) {
  std::fprintf(out,
               "usage: lumavex_sim_tracker [options]\n"
               "  --address 127.x.y.z   tracker address (loopback only; default 127.0.0.2)\n"
               "  --udp-port N          UDP link port (default 589)\n"
               "  --tcp                 also serve the TCP link port\n"
               "  --tcp-port N          TCP link port (default 3875; implies --tcp)\n"
               "  --model TEXT          model and version (default \"LUMAVEX RX 5.7\")\n"
               "  --name TEXT           tracker node name (default \"tracker\")\n"
               "  --offset-us N         tracker clock offset from the monotonic clock\n"
               "  --busy                answer connect requests with CONNECT_BUSY\n"
               "  --silent              do not answer connect requests\n"
               "  --late-ms N           answer connect requests after N ms\n"
               "  --major N             link protocol major version in replies (default 3)\n"
               "  --keepalive-ms N      status packet to the client every N ms (0: at the\n"
               "                        display's link update interval)\n"
               "  --settle-ms N         how long the state flag stays up after a mode change\n"
               "                        (default 20)\n"
               "  --no-modes            answer connects and commands only (no mode machine,\n"
               "                        requests, keys, recording, playback or bitmaps)\n"
               "  --poll-listen 127.x.y.255  also hear polls sent to this address\n"
               "  --print-commands      also print each command with the result it is answered\n"
               "                        with, each message as stored, with its time stamp\n"
               "                        (a long message is printed again as its pieces arrive),\n"
               "                        and each mode change\n"
               "  --stream RATE         stream samples and events at RATE Hz (250, 500, 1000 or\n"
               "                        2000) to the display once it connects, until it\n"
               "                        disconnects; messages it sends go into the stream too\n"
               "  --eyes left|right|both  eyes in the stream (default both)\n"
               "  --seed N              seed of the synthetic eye (default 1)\n"
               "  --help                this text\n");
}

bool parse_ipv4(const char *text, lvxsim::IPv4 *out) {
  lvxsim::IPv4 ip{};
  const char *p = text;
  for (size_t i = 0; i < 4; ++i) {
    char *end = nullptr;
    long v = std::strtol(p, &end, 10);
    if (end == p || v < 0 || v > 255) return false;
    ip[i] = static_cast<uint8_t>(v);
    if (i < 3) {
      if (*end != '.') return false;
      p = end + 1;
    } else if (*end != '\0') {
      return false;
    }
  }
  *out = ip;
  return true;
}

bool parse_number(const char *text, long long lo, long long hi, long long *out) {
  char *end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
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
  lvx::Bytes b(p.bytes);
  uint8_t type = lvx::get_u8(b, lvxsim::kCommandTypeOffset);
  std::string text(
      lvx::get_text(b, lvxsim::kCommandTextOffset, lvx::get_u16(b, lvxsim::kCommandLengthOffset)));
  uint32_t serial = lvx::get_u32(b, 4);
  if (type == lvxsim::kCommandTypeCommand) {
    // This program sets no rules, so the answer is the tracker's own.
    std::printf("command serial=%u result=%d \"%s\"\n", serial, lvxsim::builtin_result(text),
                text.c_str());
  } else {
    std::printf("command type=%u serial=%u \"%s\"\n", static_cast<unsigned>(type), serial,
                text.c_str());
  }
}

}  // namespace

int main(int argc, char **argv) {
  lvxsim::Config config;
  config.control.enabled = true;
  bool print_commands = false;
  lvxsim::StreamConfig stream;
  bool streaming = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> const char * {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "%s needs a value\n", arg.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    auto number = [&](long long lo, long long hi) {
      const char *v = value();
      long long n = 0;
      if (!parse_number(v, lo, hi, &n)) {
        std::fprintf(stderr, "bad value for %s: %s\n", arg.c_str(), v);
        std::exit(2);
      }
      return n;
    };
    auto loopback = [&]() {
      const char *v = value();
      lvxsim::IPv4 ip{};
      if (!parse_ipv4(v, &ip) || ip[0] != 127) {
        std::fprintf(stderr, "%s must be a loopback address (127.x.y.z): %s\n", arg.c_str(), v);
        std::exit(2);
      }
      return ip;
    };
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    } else if (arg == "--address") {
      config.ip = loopback();
    } else if (arg == "--udp-port") {
      config.udp_port = static_cast<uint16_t>(number(0, 65535));
    } else if (arg == "--tcp") {
      config.enable_tcp = true;
    } else if (arg == "--tcp-port") {
      config.enable_tcp = true;
      config.tcp_port = static_cast<uint16_t>(number(0, 65535));
    } else if (arg == "--model") {
      config.version_text = value();
    } else if (arg == "--name") {
      config.node_name = value();
    } else if (arg == "--offset-us") {
      config.clock_offset_us = number(-(1LL << 52), 1LL << 52);
    } else if (arg == "--busy") {
      config.connect_reply = lvxsim::ConnectReply::kBusy;
    } else if (arg == "--silent") {
      config.connect_reply = lvxsim::ConnectReply::kSilent;
    } else if (arg == "--late-ms") {
      config.connect_reply = lvxsim::ConnectReply::kAcceptLate;
      config.late_reply_ms = static_cast<int>(number(0, 600000));
    } else if (arg == "--major") {
      config.protocol_major = static_cast<uint8_t>(number(0, 255));
    } else if (arg == "--keepalive-ms") {
      config.keepalive_interval_ms = static_cast<int>(number(0, 600000));
    } else if (arg == "--settle-ms") {
      config.control.settle_ms = static_cast<int>(number(0, 60000));
    } else if (arg == "--no-modes") {
      config.control.enabled = false;
    } else if (arg == "--poll-listen") {
      config.poll_listen_ip = loopback();
    } else if (arg == "--print-commands") {
      print_commands = true;
    } else if (arg == "--stream") {
      long long rate = number(1, 10000);
      if (rate != 250 && rate != 500 && rate != 1000 && rate != 2000) {
        std::fprintf(stderr, "--stream takes 250, 500, 1000 or 2000\n");
        return 2;
      }
      stream.rate_hz = static_cast<int>(rate);
      streaming = true;
    } else if (arg == "--eyes") {
      std::string eyes = value();
      if (eyes == "left") {
        stream.eyes = lvxsim::Eyes::kLeft;
      } else if (eyes == "right") {
        stream.eyes = lvxsim::Eyes::kRight;
      } else if (eyes == "both") {
        stream.eyes = lvxsim::Eyes::kBoth;
      } else {
        std::fprintf(stderr, "--eyes takes left, right or both\n");
        return 2;
      }
    } else if (arg == "--seed") {
      stream.seed = static_cast<uint64_t>(number(0, (1LL << 62)));
    } else {
      std::fprintf(stderr, "unknown option %s\n", arg.c_str());
      usage(stderr);
      return 2;
    }
  }

  // Every packet is printed as it arrives, so the tracker need not keep them.
  config.record_packets = false;
  // Recordings stream the eyes, rate and seed asked for.
  config.control.stream = stream;
  lvxsim::SimTracker tracker(config);
  tracker.set_observer([print_commands](const lvxsim::ReceivedPacket &p) {
    std::printf("recv type=0x%02x %s size=%zu from=%s%s\n", p.bytes[0], type_name(p.bytes[0]),
                p.bytes.size(), p.from.to_string().c_str(), p.via_tcp ? " tcp" : "");
    if (print_commands && p.bytes[0] == lvxsim::kCommandPkt) print_command(p);
    std::fflush(stdout);
  });
  if (print_commands) {
    // Runs on the receive thread before the packet's observer call, so the message lines come
    // before the "recv" line of their packet.
    tracker.set_message_observer([](size_t index, const lvxsim::RecordedMessage &m) {
      std::printf("message #%zu time=%lld offset=%d serial=%u \"%s\"\n", index,
                  static_cast<long long>(m.time_ms), m.offset_ms, m.serial, m.text.c_str());
      std::fflush(stdout);
    });
  }
  if (print_commands) {
    tracker.control().set_mode_observer([](uint8_t from, uint8_t to) {
      std::printf("mode %u -> %u\n", static_cast<unsigned>(from), static_cast<unsigned>(to));
      std::fflush(stdout);
    });
  }
  std::string error;
  if (!tracker.start(&error)) {
    std::fprintf(stderr, "lumavex_sim_tracker: %s\n", error.c_str());
    return 1;
  }
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  std::printf("listening udp=%s", tracker.udp_endpoint().to_string().c_str());
  if (config.enable_tcp) std::printf(" tcp=%s", tracker.tcp_endpoint().to_string().c_str());
  std::printf(" model=\"%s\" name=\"%s\"\n", config.version_text.c_str(), config.node_name.c_str());
  std::fflush(stdout);

  // The stream follows the connection: it starts when a display connects and stops (sending its
  // closing markers into the void) when the display has gone.
  while (g_stop == 0) {
    lvx::platform::sleep_us(100000);
    if (!streaming) continue;
    bool connected = tracker.client_connected();
    if (connected && !tracker.streaming()) {
      if (tracker.start_streaming(stream)) {
        std::printf("streaming %d Hz to %s\n", stream.rate_hz,
                    tracker.client().value_or(lvx::platform::Endpoint{}).to_string().c_str());
        std::fflush(stdout);
      }
    } else if (!connected && tracker.streaming()) {
      tracker.stop_streaming();
      lvxsim::StreamStats s = tracker.stream_stats();
      std::printf("stream stopped: %llu samples, %llu events, %llu packets\n",
                  static_cast<unsigned long long>(s.samples),
                  static_cast<unsigned long long>(s.events),
                  static_cast<unsigned long long>(s.packets_sent));
      std::fflush(stdout);
    }
  }
  tracker.stop();
  return 0;
}
