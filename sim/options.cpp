#include "sim/options.h"

#include <cstdlib>
#include <optional>

namespace lvxsim {

namespace {

std::optional<IPv4> parse_ipv4(const char *text) {
  IPv4 ip{};
  const char *p = text;
  for (size_t i = 0; i < 4; ++i) {
    char *end = nullptr;
    long v = std::strtol(p, &end, 10);
    if (end == p || v < 0 || v > 255) return std::nullopt;
    ip[i] = static_cast<uint8_t>(v);
    if (i < 3) {
      if (*end != '.') return std::nullopt;
      p = end + 1;
    } else if (*end != '\0') {
      return std::nullopt;
    }
  }
  return ip;
}

std::optional<long long> parse_number(const char *text, long long lo, long long hi) {
  char *end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || v < lo || v > hi) return std::nullopt;
  return v;
}

// Walks the arguments; the first error ends the walk.
class Parser {
 public:
  explicit Parser(const std::vector<std::string> &args) : args_(args) {}

  ParsedOptions run() {
    ProgramOptions &o = result_.options;
    Config &c = o.tracker;
    // The program stands in for a real tracker, so it listens on a real tracker's ports unless
    // told otherwise (port 589 needs root or CAP_NET_BIND_SERVICE; 0 lets the system choose).
    c.udp_port = 589;
    c.tcp_port = 3875;
    for (i_ = 0; i_ < args_.size() && ok(); ++i_) {
      arg_ = args_[i_];
      if (arg_ == "--help" || arg_ == "-h") {
        result_.outcome = ParsedOptions::Outcome::kHelp;
        return result_;
      } else if (arg_ == "--address") {
        loopback(&c.ip);
      } else if (arg_ == "--udp-port") {
        number(0, 65535, &c.udp_port);
      } else if (arg_ == "--tcp") {
        c.enable_tcp = true;
      } else if (arg_ == "--tcp-port") {
        c.enable_tcp = true;
        number(0, 65535, &c.tcp_port);
      } else if (arg_ == "--model") {
        text(&c.version_text);
      } else if (arg_ == "--name") {
        text(&c.node_name);
      } else if (arg_ == "--offset-us") {
        number(-(1LL << 52), 1LL << 52, &c.clock_offset_us);
      } else if (arg_ == "--busy") {
        c.connect_reply = ConnectReply::kBusy;
      } else if (arg_ == "--silent") {
        c.connect_reply = ConnectReply::kSilent;
      } else if (arg_ == "--late-ms") {
        c.connect_reply = ConnectReply::kAcceptLate;
        number(0, 600000, &c.late_reply_ms);
      } else if (arg_ == "--major") {
        number(0, 255, &c.protocol_major);
      } else if (arg_ == "--keepalive-ms") {
        number(0, 600000, &c.keepalive_interval_ms);
      } else if (arg_ == "--settle-ms") {
        number(0, 60000, &c.control.settle_ms);
      } else if (arg_ == "--no-modes") {
        c.control.enabled = false;
      } else if (arg_ == "--poll-listen") {
        IPv4 ip{};
        if (loopback(&ip)) c.poll_listen_ip = ip;
      } else if (arg_ == "--print-commands") {
        o.print_commands = true;
      } else if (arg_ == "--print-connections") {
        o.print_connections = true;
      } else if (arg_ == "--stream") {
        stream_rate(&o.stream.rate_hz);
        o.stream_on_connect = true;
      } else if (arg_ == "--eyes") {
        eyes(&o.stream.eyes);
      } else if (arg_ == "--seed") {
        number(0, 1LL << 62, &o.stream.seed);
      } else {
        fail("unknown option " + arg_);
        result_.show_usage = true;
      }
    }
    // Recordings stream the eyes, rate and seed asked for.
    if (ok()) c.control.stream = o.stream;
    return result_;
  }

 private:
  bool ok() const { return result_.outcome == ParsedOptions::Outcome::kRun; }

  void fail(std::string why) {
    result_.outcome = ParsedOptions::Outcome::kError;
    result_.error = std::move(why);
  }

  // The option's value: the next argument.
  const char *value() {
    if (i_ + 1 >= args_.size()) {
      fail(arg_ + " needs a value");
      return nullptr;
    }
    return args_[++i_].c_str();
  }

  bool text(std::string *out) {
    const char *v = value();
    if (v != nullptr) *out = v;
    return v != nullptr;
  }

  template <typename T>
  bool number(long long lo, long long hi, T *out) {
    const char *v = value();
    if (v == nullptr) return false;
    std::optional<long long> n = parse_number(v, lo, hi);
    if (!n) {
      fail("bad value for " + arg_ + ": " + v);
      return false;
    }
    *out = static_cast<T>(*n);
    return true;
  }

  bool loopback(IPv4 *out) {
    const char *v = value();
    if (v == nullptr) return false;
    std::optional<IPv4> ip = parse_ipv4(v);
    if (!ip || (*ip)[0] != 127) {
      fail(arg_ + " must be a loopback address (127.x.y.z): " + v);
      return false;
    }
    *out = *ip;
    return true;
  }

  void stream_rate(int *out) {
    long long rate = 0;
    if (!number(1, 10000, &rate)) return;
    if (rate != 250 && rate != 500 && rate != 1000 && rate != 2000) {
      fail("--stream takes 250, 500, 1000 or 2000");
      return;
    }
    *out = static_cast<int>(rate);
  }

  void eyes(Eyes *out) {
    std::string e;
    if (!text(&e)) return;
    if (e == "left") {
      *out = Eyes::kLeft;
    } else if (e == "right") {
      *out = Eyes::kRight;
    } else if (e == "both") {
      *out = Eyes::kBoth;
    } else {
      fail("--eyes takes left, right or both");
    }
  }

  const std::vector<std::string> &args_;
  size_t i_ = 0;
  std::string arg_;
  ParsedOptions result_;
};

}  // namespace

ParsedOptions parse_program_options(const std::vector<std::string> &args) {
  return Parser(args).run();
}

const char *usage_text() {
  return "usage: lumavex_sim_tracker [options]\n"
         "  --address 127.x.y.z   tracker address (loopback only; default 127.0.0.2)\n"
         "  --udp-port N          UDP link port (default 589, a real tracker's; 0: a free port\n"
         "                        the system chooses, shown in the \"listening\" line)\n"
         "  --tcp                 also serve the TCP link port\n"
         "  --tcp-port N          TCP link port (default 3875; 0: a free port; implies --tcp)\n"
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
         "  --print-connections   also print \"connect from A:P\" for each connect request\n"
         "                        and \"disconnect from A:P\" for each disconnect request\n"
         "  --stream RATE         stream samples and events at RATE Hz (250, 500, 1000 or\n"
         "                        2000) to the display once it connects, until it\n"
         "                        disconnects; messages it sends go into the stream too\n"
         "  --eyes left|right|both  eyes in the stream (default both)\n"
         "  --seed N              seed of the synthetic eye (default 1)\n"
         "  --help, -h            this text\n";
}

}  // namespace lvxsim
