#include "sim/options.h"

#include <cmath>
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

std::optional<double> parse_decimal(const char *text, double lo, double hi) {
  char *end = nullptr;
  double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(v) || v < lo || v > hi) return std::nullopt;
  return v;
}

// Longest scheduled fault delay or duration: a day.
constexpr double kMaxScheduleSeconds = 86400;

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
    c.file_service_port = 3873;
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
      } else if (arg_ == "--data-dir") {
        c.enable_file_service = true;
        text(&c.data_dir);
      } else if (arg_ == "--file-port") {
        c.enable_file_service = true;
        number(0, 65535, &c.file_service_port);
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
      } else if (arg_ == "--follow-pointer") {
        c.control.follow_pointer = true;
      } else if (arg_ == "--bitmap-format") {
        bitmap_format(&c.control.bitmap_format);
      } else if (arg_ == "--backdrop-png") {
        text(&c.control.backdrop_png);
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
      } else if (arg_ == "--href-corners") {
        o.stream.href_corners = true;
      } else if (arg_ == "--screen-tilt-deg") {
        tilt(&o.stream.screen_tilt_deg);
      } else if (arg_ == "--raw-camera") {
        raw_camera(&o.stream.raw_camera);
      } else if (arg_ == "--drop-rate") {
        fraction(&o.stream.drop_rate);
      } else if (arg_ == "--duplicate-rate") {
        fraction(&o.stream.duplicate_rate);
      } else if (arg_ == "--reorder-rate") {
        fraction(&o.stream.reorder_rate);
      } else if (arg_ == "--silence-after-s") {
        seconds(&o.silence_after_ms);
      } else if (arg_ == "--silence-for-s") {
        seconds(&o.silence_for_ms);
      } else if (arg_ == "--restart-after-s") {
        seconds(&o.restart_after_ms);
      } else if (arg_ == "--down-for-s") {
        seconds(&o.down_for_ms);
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

  // A rate from 0 to 1.
  void fraction(double *out) {
    const char *v = value();
    if (v == nullptr) return;
    std::optional<double> f = parse_decimal(v, 0.0, 1.0);
    if (!f) {
      fail(arg_ + " takes a fraction from 0 to 1: " + v);
      return;
    }
    *out = *f;
  }

  // Seconds, possibly with decimals, from 0 to a day; stored in whole milliseconds.
  void seconds(int *out_ms) {
    const char *v = value();
    if (v == nullptr) return;
    std::optional<double> s = parse_decimal(v, 0.0, kMaxScheduleSeconds);
    if (!s) {
      fail("bad value for " + arg_ + " (seconds, 0 to 86400): " + v);
      return;
    }
    *out_ms = static_cast<int>(std::lround(*s * 1000.0));
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

  void bitmap_format(int *out) {
    long long f = 0;
    if (!number(0, 255, &f)) return;
    if (f != 2 && f != 4 && f != 5 && f != 32) {
      fail("--bitmap-format takes 2, 4, 5 or 32");
      return;
    }
    *out = static_cast<int>(f);
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

  void tilt(double *out) {
    const char *v = value();
    if (v == nullptr) return;
    std::optional<double> d = parse_decimal(v, 0.0, 60.0);
    if (!d) {
      fail(arg_ + " takes degrees from 0 to 60: " + v);
      return;
    }
    *out = *d;
  }

  void raw_camera(RawPacking *out) {
    std::string p;
    if (!text(&p)) return;
    if (p == "direct") {
      *out = RawPacking::kDirect;
    } else if (p == "fraction") {
      *out = RawPacking::kFraction;
    } else {
      fail("--raw-camera takes direct or fraction");
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
  return "NAME\n"
         "  lumavex_sim_tracker - a simulated Lumavex eye tracker on a loopback address\n"
         "\n"
         "SYNOPSIS\n"
         "  lumavex_sim_tracker [--address 127.x.y.z] [--udp-port N] [--tcp] [options]\n"
         "\n"
         "DESCRIPTION\n"
         "  Runs a tracker that speaks the Lumavex link protocol on one loopback address, so that\n"
         "  a program built on lumavex_core can be tried and rehearsed on one computer. It\n"
         "  answers connect requests, polls, commands, messages, mode changes, read and time\n"
         "  requests, records (streaming samples and events from a synthetic eye while a\n"
         "  recording sends data over the link) and plays back, until SIGINT or SIGTERM.\n"
         "\n"
         "  Its first line says where it listens: listening udp=ADDRESS:PORT [tcp=ADDRESS:PORT]\n"
         "  model=\"...\" name=\"...\". Then it prints one line per packet it receives (recv\n"
         "  type=... size=... from=...) and, as asked, commands, messages, mode changes,\n"
         "  connections and faults.\n"
         "\n"
         "  The operator's keys, each followed by Enter on standard input: a opens the abort\n"
         "  menu (as during a trial), 1 to 4 pick its entry, x cuts the link.\n"
         "\n"
         "  Like a real tracker it listens on UDP port 589 (and TCP port 3875 with --tcp).\n"
         "  Ports below 1024 need root, so as an ordinary user give --udp-port 0: the system\n"
         "  picks a free port, shown in the listening line. Tell the library that port with the\n"
         "  option eyeport=PORT of open_lumavex_system, then set_lumavex_address(ADDRESS) and\n"
         "  open_lumavex_connection(0).\n"
         "\n"
         "  The tracker's clock is the machine's monotonic clock (CLOCK_MONOTONIC, the\n"
         "  library's clock base 1) plus --offset-us, so a program can check its estimate of\n"
         "  the tracker's time against a known answer.\n"
         "\n"
         "LINK OPTIONS\n"
         "  --address 127.x.y.z   tracker address (loopback only; default 127.0.0.2)\n"
         "  --udp-port N          UDP link port (default 589, a real tracker's; 0: a free port\n"
         "                        the system chooses, shown in the listening line)\n"
         "  --tcp                 also serve the TCP link port\n"
         "  --tcp-port N          TCP link port (default 3875; 0: a free port; implies --tcp)\n"
         "  --file-port N         file service port (default 3873; 0: a free port; implies the\n"
         "                        service, which serves the data folder's files)\n"
         "  --poll-listen 127.x.y.255  also hear polls sent to this address\n"
         "  --keepalive-ms N      status packet to the display every N ms (0, the default: at\n"
         "                        the display's link update interval)\n"
         "\n"
         "TRACKER OPTIONS\n"
         "  --model TEXT          model and version (default \"LUMAVEX RX 5.7\")\n"
         "  --name TEXT           tracker node name (default \"tracker\")\n"
         "  --data-dir DIR        the data folder: open_data_file creates recording files\n"
         "                        there, and the file service (TCP port 3873) and the link\n"
         "                        serve its files; uploads land in DIR/recv, a recording's\n"
         "                        eye-video files are DIR/vfiles/RECORDING/* (default: a\n"
         "                        temporary folder, removed at exit)\n"
         "  --offset-us N         tracker clock minus the monotonic clock, in microseconds\n"
         "                        (default 0)\n"
         "  --major N             link protocol major version in replies (default 3)\n"
         "  --busy                answer connect requests with CONNECT_BUSY\n"
         "  --silent              do not answer connect requests\n"
         "  --late-ms N           answer connect requests after N ms\n"
         "  --settle-ms N         how long the state flag stays up after a mode change\n"
         "                        (default 20)\n"
         "  --no-modes            answer connects and commands only (no mode machine,\n"
         "                        requests, keys, recording, playback or bitmaps)\n"
         "  --bitmap-format N     the pixel format asked for when the display sends a backdrop\n"
         "                        over the link: 2 (one bit per colour), 4 (four greys), 5\n"
         "                        (125 colours) or 32 (32 greys; the default)\n"
         "\n"
         "STREAM OPTIONS\n"
         "  --stream RATE         stream samples and events at RATE Hz (250, 500, 1000 or\n"
         "                        2000) to the display once it connects, until it\n"
         "                        disconnects, whatever its mode; messages it sends go into\n"
         "                        the stream too. Without it, data streams while a recording\n"
         "                        sends samples or events over the link, at the tracker's\n"
         "                        sample_rate (1000 Hz until a command changes it).\n"
         "  --eyes left|right|both  eyes in the stream (default both)\n"
         "  --seed N              seed of the synthetic eye and of the fault draws (default 1)\n"
         "  --follow-pointer      let the display steer the eye: node messages\n"
         "                        \"gaze_pointer X Y\" (screen pixels) make it follow that\n"
         "                        point with saccades and fixations, as a participant's\n"
         "                        eye follows a cursor; \"gaze_pointer off\" lets it wander\n"
         "  --href-corners        every sample carries the href positions of the screen's\n"
         "                        corners (aux type 232), for the display's href and gaze\n"
         "                        mapping (the rectangle 0, 0, 1023, 767)\n"
         "  --screen-tilt-deg D   tilt the screen's top edge D degrees toward the eye (0 to\n"
         "                        60, default 0), so that href and gaze differ by a true\n"
         "                        perspective\n"
         "  --raw-camera direct|fraction  send raw pupil and corneal-reflection values packed\n"
         "                        into the sample fields instead of gaze\n"
         "\n"
         "FAULT OPTIONS\n"
         "  The rates apply to each data packet of samples, whether a recording or the option\n"
         "  --stream started the stream (block markers are never lost); the display reports\n"
         "  what it lost as EV_LOST_DATA records. The scheduled faults happen once, counted\n"
         "  from the moment the first display connects.\n"
         "\n"
         "  --drop-rate P         lose this fraction (0 to 1) of the data packets: their data\n"
         "                        sequence numbers are used up but nothing is sent\n"
         "  --duplicate-rate P    send this fraction of the data packets twice\n"
         "  --reorder-rate P      send this fraction of the data packets after the packet\n"
         "                        that follows them\n"
         "  --silence-after-s S   S seconds after the first display connects, fall silent as\n"
         "                        if the network cable were pulled: send nothing, hear nothing\n"
         "  --silence-for-s S     how long the silence lasts (default 25, longer than the\n"
         "                        library's 20 s before it marks the link disconnected)\n"
         "  --restart-after-s S   S seconds after the first display connects, restart: close\n"
         "                        the ports and forget the display, stay down, then listen\n"
         "                        again on the same ports with fresh sequence numbers\n"
         "  --down-for-s S        how long a restart stays down (default 5)\n"
         "\n"
         "OUTPUT OPTIONS\n"
         "  --print-commands      also print each command with the result it is answered\n"
         "                        with, each message as stored, with its time stamp\n"
         "                        (a long message is printed again as its pieces arrive),\n"
         "                        and each mode change\n"
         "  --print-connections   also print \"connect from A:P\" for each connect request\n"
         "                        and \"disconnect from A:P\" for each disconnect request\n"
         "  --backdrop-png PATH   write each backdrop the display sends (over the link, or as\n"
         "                        a file drawn with draw_image) to PATH as a PNG image\n"
         "  --help, -h            this text\n"
         "\n"
         "EXIT STATUS\n"
         "  0 after SIGINT or SIGTERM; 1 when the ports cannot be opened (taken, or below 1024\n"
         "  without root); 2 for a bad command line.\n"
         "\n"
         "EXAMPLES\n"
         "  As an ordinary user, on a port the system chooses, printing what the display asks:\n"
         "\n"
         "    lumavex_sim_tracker --address 127.0.0.2 --udp-port 0 --print-commands\n"
         "\n"
         "  Rehearsing lost data and a link that drops for half a minute:\n"
         "\n"
         "    lumavex_sim_tracker --udp-port 0 --drop-rate 0.01 --silence-after-s 60 \\\n"
         "        --silence-for-s 30\n";
}

const char *short_usage_text() {
  return "usage: lumavex_sim_tracker [--address 127.x.y.z] [--udp-port N] [options]; "
         "--help lists the options\n";
}

}  // namespace lvxsim
