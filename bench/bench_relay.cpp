// Sample delivery through the local relay: the latency to two slave processes beside the
// master's own, measured in the same run.
//
// This program is the master: it connects to the simulated tracker (127.0.3.22) as the relay
// master in a temporary working folder and starts itself twice more as slaves
// (--slave=FILE), which join with open_lumavex_connection(2). The tracker then streams at
// 2000 Hz, both eyes, with events, for --seconds=N (default 10). Every reader (the master's
// application thread and each slave's) takes one record per lumavex_wait_for_next_data call and
// stamps each sample as soon as the call returns; latency runs from the moment the tracker has
// sent the sample (its data observer's stamp, right after the send) to that stamp, on the
// machine's monotonic clock that all three processes read. Samples are matched to sends in
// order by their sample time. Median, 99th percentile and maximum in microseconds, samples read
// and lost-data records, for the master and each slave.
//
// A slave's path is the master's plus one hand-over: the master's receive thread passes each
// datagram on to the slaves' sockets before it walks the datagram itself, and each slave's
// receive thread walks it again into its own queue. No target is enforced; the figures say what
// a slave pays.
//
// --placement=split|one|free as in the other benchmarks (the slaves run on the display side).
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "lumavex_core.h"
#include "platform/clock.h"
#include "platform/thread_priority.h"
#include "relay/relay.h"
#include "sim/stream.h"
#include "sim/tracker.h"

extern char **environ;

namespace {

using lvx::platform::counter_now;

constexpr lvxsim::IPv4 kTrackerIp{127, 0, 3, 22};  // test address 790
constexpr const char kTrackerText[] = "127.0.3.22";
constexpr lvx::IPv4 kOwnIp{127, 22, 3, 1};
constexpr int kRateHz = 2000;
constexpr int kSlaves = 2;
constexpr int64_t kNsPerSecond = 1'000'000'000;
// Every reader gives up this long after its stream should have ended.
constexpr int64_t kOverrunNs = 15'000'000'000;

int g_seconds = 10;
bench::Placements g_placement;

// Twice the sample time, plus one for the second of two samples that share a millisecond.
uint64_t sample_key(uint32_t time_ms, bool half) {
  return uint64_t{time_ms} * 2 + (half ? 1u : 0u);
}

size_t expected_samples() {
  return static_cast<size_t>(kRateHz) * static_cast<size_t>(g_seconds) * 5 / 4 + 10000;
}

struct Stamp {
  uint64_t key = 0;
  int64_t ns = 0;
};

struct Reading {
  std::vector<Stamp> samples;
  size_t lost_records = 0;
  bool closed = false;  // the stream's closing marker came
};

// Reads one record per call until the closing marker, stamping samples as they come.
Reading read_stream(int64_t hard_end) {
  Reading r;
  r.samples.reserve(expected_samples());
  float_data slot{};
  while (counter_now() < hard_end) {
    int16_t n = lumavex_wait_for_next_data(&slot, 1, 0);
    const int64_t now = counter_now();
    if (n <= 0) continue;
    const int type = slot.head.type;
    if (type == EV_SAMPLE && r.samples.size() < r.samples.capacity()) {
      r.samples.push_back({sample_key(slot.fs.time, (slot.fs.flags & SF_HALF_MS) != 0), now});
    } else if (type == EV_LOST_DATA) {
      ++r.lost_records;
    } else if (type == EV_SAMPLE_BLOCK_END) {
      r.closed = true;
      break;
    }
  }
  return r;
}

// --- a slave ---

int run_slave(const std::string &out_file) {
  if (open_lumavex_system(0, "remport=0") == 0) return 1;
  if (open_lumavex_connection(LUMAVEX_OPEN_SLAVE) != 0) {
    std::fprintf(stderr, "slave: cannot join the relay master\n");
    return 1;
  }
  lumavex_data_switch(0x0C);
  lvx::platform::set_current_thread_priority(bench::kPeerPriority);
  const int64_t hard_end = counter_now() + (int64_t{g_seconds} + 10) * kNsPerSecond + kOverrunNs;
  Reading r = read_stream(hard_end);
  close_lumavex_connection();
  std::ofstream out(out_file);
  out << r.lost_records << ' ' << (r.closed ? 1 : 0) << '\n';
  for (const Stamp &s : r.samples) out << s.key << ' ' << s.ns << '\n';
  return out.good() ? 0 : 1;
}

bool load_reading(const std::string &file, Reading *r) {
  std::ifstream in(file);
  int closed = 0;
  if (!(in >> r->lost_records >> closed)) return false;
  r->closed = closed != 0;
  Stamp s;
  while (in >> s.key >> s.ns) r->samples.push_back(s);
  return true;
}

// --- the master ---

struct Sent {
  uint64_t key = 0;
  int64_t ns = 0;
};

struct Figures {
  size_t read = 0;
  size_t matched = 0;
  size_t lost_records = 0;
  bool closed = false;
  double median_us = 0;
  double p99_us = 0;
  double max_us = 0;
};

Figures figures_of(const std::vector<Sent> &sent, const Reading &r) {
  Figures f;
  f.read = r.samples.size();
  f.lost_records = r.lost_records;
  f.closed = r.closed;
  std::vector<double> us;
  size_t i = 0;
  size_t j = 0;
  while (i < sent.size() && j < r.samples.size()) {
    if (sent[i].key == r.samples[j].key) {
      us.push_back(static_cast<double>(r.samples[j].ns - sent[i].ns) / 1000.0);
      ++i;
      ++j;
    } else if (sent[i].key < r.samples[j].key) {
      ++i;
    } else {
      ++j;
    }
  }
  std::sort(us.begin(), us.end());
  f.matched = us.size();
  if (!us.empty()) {
    f.median_us = us[us.size() / 2];
    f.p99_us = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    f.max_us = us.back();
  }
  return f;
}

void print(const char *who, const Figures &f) {
  std::printf(
      "  %-10s median %8.1f us   p99 %8.1f us   max %9.1f us   %zu read, %zu matched, %zu "
      "lost-data records%s\n",
      who, f.median_us, f.p99_us, f.max_us, f.read, f.matched, f.lost_records,
      f.closed ? "" : ", no closing marker");
}

pid_t spawn_slave(const std::string &self, const std::string &file, const char *placement) {
  std::vector<std::string> args{self, "--slave=" + file, "--seconds=" + std::to_string(g_seconds)};
  if (*placement != '\0') args.emplace_back(placement);
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

// Waits at most timeout_ms for a child; true when it ended with status 0.
bool wait_child(pid_t pid, int timeout_ms) {
  for (int waited = 0; waited <= timeout_ms; waited += 10) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    usleep(10000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return false;
}

int run_master(const char *placement) {
  std::error_code error;
  const std::string self = std::filesystem::read_symlink("/proc/self/exe", error).string();
  if (error) return 1;
  std::string folder = (std::filesystem::temp_directory_path() / "lvx_bench_relay_XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr || chdir(folder.c_str()) != 0) return 1;
  struct Cleanup {
    std::string folder;
    ~Cleanup() {
      std::error_code e;
      std::filesystem::remove_all(folder, e);
    }
  } cleanup{folder};

  lvxsim::SimTracker sim(bench::answering_tracker(kTrackerIp));
  bool started = false;
  std::string why;
  std::thread([&] {
    g_placement.tracker_side();
    lvx::platform::set_current_thread_priority(bench::kPeerPriority);
    started = sim.start(&why);
  }).join();
  if (!started) {
    std::fprintf(stderr, "tracker: %s\n", why.c_str());
    return 1;
  }
  lvx::set_local_addresses_for_testing(std::vector<lvx::IPv4>{kOwnIp});
  bench::point_library_at(sim, kTrackerText);
  if (open_lumavex_connection(LUMAVEX_OPEN_MASTER) != 0) {
    std::fprintf(stderr, "cannot become the relay master\n");
    return 1;
  }
  lumavex_data_switch(0x0C);

  std::vector<pid_t> slaves;
  std::vector<std::string> files;
  for (int i = 0; i < kSlaves; ++i) {
    files.push_back(folder + "/slave" + std::to_string(i) + ".txt");
    slaves.push_back(spawn_slave(self, files.back(), placement));
  }
  const int64_t join_end = counter_now() + 10 * kNsPerSecond;
  while (lvx::relay_slave_count() < kSlaves && counter_now() < join_end) usleep(1000);
  const bool joined = lvx::relay_slave_count() == kSlaves;
  if (!joined) std::fprintf(stderr, "the slaves did not join\n");
  // Time for the slaves to switch their delivery on.
  lvx::platform::sleep_us(300'000);

  std::vector<Sent> sent;
  sent.reserve(expected_samples());
  bool have_previous = false;
  uint32_t previous_time = 0;
  sim.set_data_observer([&](const lvxsim::SentDataPacket &p) {
    if (p.repeat || p.markers || p.samples != 1) return;
    bool half = have_previous && p.first_sample_time == previous_time;
    have_previous = true;
    previous_time = p.first_sample_time;
    if (sent.size() < sent.capacity())
      sent.push_back({sample_key(p.first_sample_time, half), p.sent_ns});
  });
  const int64_t hard_end = counter_now() + int64_t{g_seconds} * kNsPerSecond + kOverrunNs;
  Reading mine;
  std::thread reader([&] {
    lvx::platform::set_current_thread_priority(bench::kPeerPriority);
    mine = read_stream(hard_end);
  });
  lvxsim::StreamConfig c;
  c.rate_hz = kRateHz;
  c.eyes = lvxsim::Eyes::kBoth;
  c.events = true;
  c.samples_per_packet = 1;
  c.history = 64;
  std::printf("relay: %d Hz to the master and %d slaves, %d s ...\n", kRateHz, kSlaves, g_seconds);
  std::fflush(stdout);
  bool streamed = false;
  std::thread([&] {
    g_placement.tracker_side();
    streamed = sim.start_streaming(c);
  }).join();
  if (streamed) lvx::platform::sleep_us(int64_t{g_seconds} * 1'000'000);
  sim.stop_streaming();
  reader.join();
  sim.set_data_observer({});

  std::vector<Reading> theirs(kSlaves);
  bool slaves_ok = true;
  for (int i = 0; i < kSlaves; ++i) {
    slaves_ok = wait_child(slaves[static_cast<size_t>(i)], 30000) &&
                load_reading(files[static_cast<size_t>(i)], &theirs[static_cast<size_t>(i)]) &&
                slaves_ok;
  }
  close_lumavex_connection();
  close_lumavex_system();
  sim.stop();

  std::printf("\nplacement %s\n", g_placement.name());
  std::printf("sample delivery latency, %d Hz binocular with events, %d s, %zu samples sent:\n",
              kRateHz, g_seconds, sent.size());
  const Figures master = figures_of(sent, mine);
  print("master", master);
  bool flowed = master.matched > 0;
  for (int i = 0; i < kSlaves; ++i) {
    const Figures f = figures_of(sent, theirs[static_cast<size_t>(i)]);
    std::string who = "slave " + std::to_string(i + 1);
    print(who.c_str(), f);
    flowed = flowed && f.matched > 0;
    if (master.median_us > 0) {
      std::printf("  %-10s median %.2f times the master's, +%.1f us\n", "",
                  f.median_us / master.median_us, f.median_us - master.median_us);
    }
  }
  return joined && streamed && slaves_ok && flowed ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  std::string slave_file;
  const char *placement = "";
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--seconds=", 10) == 0) {
      g_seconds = std::clamp(std::atoi(argv[i] + 10), 1, 3600);
    } else if (std::strncmp(argv[i], "--slave=", 8) == 0) {
      slave_file = argv[i] + 8;
    } else if (g_placement.parse(argv[i])) {
      placement = argv[i];
    } else {
      std::fprintf(stderr, "usage: %s [--seconds=N] [--placement=split|one|free]\n", argv[0]);
      return 2;
    }
  }
  g_placement.settle();
  g_placement.display_side();
  if (!slave_file.empty()) return run_slave(slave_file);
  return run_master(placement);
}
