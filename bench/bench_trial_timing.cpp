// Trial timing under load: what real-time mode buys an experiment when other work competes for
// the processors.
//
// A CPU-bound competing process runs on each processor (plain busy loops at normal priority,
// started by this program and ended by it). The library records a trial from the simulated
// tracker (1000 Hz binocular with events), and the application thread, the one that calls
// begin_realtime_mode, measures in the same run, first in normal mode and then in real-time mode:
//
// 1. Sample delivery latency: from the moment the tracker has sent a sample (its data
//    observer's clock reading after the send) to the moment lumavex_wait_for_next_data returns
//    it on the application thread; samples are paired in order by their sample time, as the
//    data-stream benchmark does. Median, 99th percentile and maximum.
// 2. msec_delay(1) jitter: how much longer than 1 ms each call took. Median, 99th percentile and
//    maximum.
//
// Real-time mode should cut the 99th percentiles. Without the permission for SCHED_FIFO
// (CAP_SYS_NICE, or an rtprio limit) it runs in its fallback, the most favourable nice value,
// and the program says so.
//
// Options: --seconds=N per mode and measurement (default 5), --competitors=N (default: one per
// processor), --delays=N msec_delay(1) calls per mode (default 2000).
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "link/transport.h"
#include "lumavex_core.h"
#include "platform/clock.h"
#include "platform/thread_priority.h"
#include "sim/tracker.h"

namespace {

using lvx::platform::counter_now;

// This benchmark's loopback addresses.
constexpr lvxsim::IPv4 kTrackerIp{127, 0, 0, 252};
constexpr const char kTrackerText[] = "127.0.0.252";
constexpr lvx::IPv4 kOwnIp{127, 252, 0, 1};

constexpr int kRateHz = 1000;
constexpr int64_t kNsPerSecond = 1'000'000'000;
// Readers stop this long after the stream should have ended, whatever happens.
constexpr int64_t kOverrunNs = 5'000'000'000;

int g_seconds = 5;
int g_delays = 2000;
int g_competitors = -1;

struct Sent {
  uint64_t key = 0;
  int64_t ns = 0;
};
struct Read {
  uint64_t key = 0;
  int64_t ns = 0;
};

struct Figures {
  size_t samples = 0;
  double median = 0, p99 = 0, max = 0;
};

Figures summarise(std::vector<double> v) {
  Figures f;
  std::sort(v.begin(), v.end());
  f.samples = v.size();
  if (v.empty()) return f;
  f.median = v[v.size() / 2];
  f.p99 = v[std::min(v.size() - 1, v.size() * 99 / 100)];
  f.max = v.back();
  return f;
}

uint64_t sample_key(uint32_t time_ms, bool half) {
  return uint64_t{time_ms} * 2 + (half ? 1u : 0u);
}

// The k-th read belongs to the k-th send while their sample times agree; where they disagree
// the side behind moves on.
std::vector<double> pair_in_order(const std::vector<Sent> &sent, const std::vector<Read> &read) {
  std::vector<double> us;
  size_t i = 0, j = 0;
  while (i < sent.size() && j < read.size()) {
    if (sent[i].key == read[j].key) {
      us.push_back(static_cast<double>(read[j].ns - sent[i].ns) / 1000.0);
      ++i;
      ++j;
    } else if (sent[i].key < read[j].key) {
      ++i;
    } else {
      ++j;
    }
  }
  return us;
}

// Sample delivery latency for g_seconds of the running recording, measured on this thread.
Figures delivery_latency(lvxsim::SimTracker &sim) {
  const size_t capacity = static_cast<size_t>(kRateHz) * static_cast<size_t>(g_seconds) * 2;
  std::vector<Sent> sent;
  sent.reserve(capacity);
  std::mutex sent_lock;  // the observer runs on the stream's thread
  bool logging = false;
  bool have_previous = false;
  uint32_t previous = 0;
  sim.set_data_observer([&](const lvxsim::SentDataPacket &p) {
    std::lock_guard<std::mutex> guard(sent_lock);
    if (logging && !p.repeat && !p.markers && p.samples == 1 && sent.size() < capacity) {
      const bool half = have_previous && p.first_sample_time == previous;
      sent.push_back({sample_key(p.first_sample_time, half), p.sent_ns});
    }
    have_previous = true;
    previous = p.first_sample_time;
  });
  std::vector<Read> read;
  read.reserve(capacity);
  lumavex_reset_data(1);
  {
    std::lock_guard<std::mutex> guard(sent_lock);
    logging = true;
  }
  const int64_t end = counter_now() + int64_t{g_seconds} * kNsPerSecond;
  const int64_t hard_end = end + kOverrunNs;
  float_data slot{};
  while (counter_now() < end && counter_now() < hard_end) {
    const int16_t n = lumavex_wait_for_next_data(&slot, 1, 10);
    const int64_t now = counter_now();
    if (n > 0 && slot.head.type == EV_SAMPLE && read.size() < capacity) {
      read.push_back({sample_key(slot.fs.time, (slot.fs.flags & SF_HALF_MS) != 0), now});
    }
  }
  sim.set_data_observer({});
  std::lock_guard<std::mutex> guard(sent_lock);
  logging = false;
  return summarise(pair_in_order(sent, read));
}

Figures delay_jitter() {
  std::vector<double> over;
  over.reserve(static_cast<size_t>(g_delays));
  for (int i = 0; i < g_delays; ++i) {
    const int64_t t0 = counter_now();
    msec_delay(1);
    over.push_back(static_cast<double>(counter_now() - t0 - 1'000'000) / 1000.0);
  }
  return summarise(over);
}

// Busy loops, one process each, at normal priority; ended by stop_competitors.
std::vector<pid_t> start_competitors(int n) {
  std::vector<pid_t> pids;
  for (int i = 0; i < n; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      volatile uint64_t x = 0;
      for (;;) x = x + 1;
    }
    if (pid > 0) pids.push_back(pid);
  }
  return pids;
}

void stop_competitors(const std::vector<pid_t> &pids) {
  for (pid_t pid : pids) kill(pid, SIGKILL);
  for (pid_t pid : pids) waitpid(pid, nullptr, 0);
}

void print(const char *what, const char *mode, const Figures &f) {
  std::printf("  %-28s %-9s n=%6zu  median %8.1f us  p99 %8.1f us  max %9.1f us\n", what, mode,
              f.samples, f.median, f.p99, f.max);
}

}  // namespace

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--seconds=", 10) == 0) {
      g_seconds = std::clamp(std::atoi(argv[i] + 10), 1, 600);
    } else if (std::strncmp(argv[i], "--delays=", 9) == 0) {
      g_delays = std::clamp(std::atoi(argv[i] + 9), 1, 1'000'000);
    } else if (std::strncmp(argv[i], "--competitors=", 14) == 0) {
      g_competitors = std::clamp(std::atoi(argv[i] + 14), 0, 256);
    } else {
      std::fprintf(stderr, "unknown argument %s\n", argv[i]);
      return 2;
    }
  }
  if (g_competitors < 0) g_competitors = lvx::platform::available_processors();

  lvxsim::Config config = bench::answering_tracker(kTrackerIp);
  config.control.enabled = true;
  config.control.stream.rate_hz = kRateHz;
  config.control.stream.samples_per_packet = 1;
  config.control.stream.history = 64;
  lvxsim::SimTracker sim(config);
  std::string error;
  if (!sim.start(&error)) {
    std::fprintf(stderr, "tracker: %s\n", error.c_str());
    return 1;
  }
  lvx::set_local_addresses_for_testing(std::vector<lvx::IPv4>{kOwnIp});
  bench::point_library_at(sim, kTrackerText);
  if (open_lumavex_connection(0) != 0) {
    std::fprintf(stderr, "cannot connect to the simulated tracker\n");
    return 1;
  }
  bool ok = open_data_file("bench") == 0 && start_recording(1, 1, 1, 1) == 0;
  if (!ok) std::fprintf(stderr, "the recording did not start\n");

  const std::vector<pid_t> competitors = start_competitors(g_competitors);
  std::printf(
      "trial timing: %d Hz binocular, %d competing busy processes, %d s per latency run, "
      "%d msec_delay(1) calls per mode\n",
      kRateHz, static_cast<int>(competitors.size()), g_seconds, g_delays);
  std::fflush(stdout);

  Figures normal_latency, normal_delay, rt_latency, rt_delay;
  int policy = 0;
  if (ok) {
    normal_latency = delivery_latency(sim);
    normal_delay = delay_jitter();
    begin_realtime_mode(100);
    sched_param param{};
    pthread_getschedparam(pthread_self(), &policy, &param);
    rt_latency = delivery_latency(sim);
    rt_delay = delay_jitter();
    end_realtime_mode();
  }
  stop_competitors(competitors);

  std::printf("real-time mode ran as %s\n",
              policy == SCHED_FIFO ? "SCHED_FIFO"
                                   : "its fallback (SCHED_OTHER at the most favourable nice): "
                                     "SCHED_FIFO not permitted");
  print("sample delivery latency", "normal", normal_latency);
  print("sample delivery latency", "real-time", rt_latency);
  print("msec_delay(1) overshoot", "normal", normal_delay);
  print("msec_delay(1) overshoot", "real-time", rt_delay);
  if (ok && normal_latency.samples > 0) {
    std::printf("  p99 latency real-time / normal: %.2f\n",
                rt_latency.p99 / std::max(normal_latency.p99, 1e-3));
  }

  stop_recording();
  close_data_file();
  close_lumavex_connection();
  close_lumavex_system();
  sim.stop();
  return ok && normal_latency.samples > 0 && rt_latency.samples > 0 ? 0 : 1;
}
