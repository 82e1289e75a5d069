// The data stream, measured three ways against the simulated tracker on loopback, each beside a
// baseline measured in the same run:
//
// 1. Sample delivery latency: from the moment the tracker has sent a sample (its data observer's
//    time stamp, taken right after the send) to the moment the application holds the sample in
//    float form through lumavex_wait_for_next_data (one slot per call). The tracker streams at
//    2000 Hz, both eyes, with events, for --seconds=N (default 10). Samples are matched to sends
//    in order, and each pair must carry the same sample time. Median, 99th percentile and maximum
//    in microseconds.
//    Baseline: a plain UDP receive thread, at the priority the library's receive thread takes
//    while data flows, that hands each datagram to a waiting thread through a std::mutex and a
//    std::condition_variable; latency runs from the send to the waiting thread's wake-up. It is
//    fed by a second simulated tracker streaming the same way.
//    Target: median at most 1.5 times the baseline's, 99th percentile at most 3 times.
//
// 2. Loss: the same stream for --loss-seconds=N (default 60) while the application takes batches
//    of up to 100 records (lumavex_get_all_float_data) and sleeps about 1 ms between batches.
//    Samples sent (the tracker's count) against samples read, lost-data records seen, and the CPU
//    time of the library's receive thread per second of streaming.
//    Baseline: the plain receive thread of measurement 1 over the same duration, its consumer
//    taking batches of up to 100 datagrams every millisecond. Both receive threads do the same
//    job, taking every datagram off the same kind of socket and handing it to the application,
//    so their CPU times compare the library's intake work (item walk, ring queue, locks) with
//    the bare minimum. The whole process's CPU time is printed beside them for context; it
//    includes the simulated tracker.
//
// Measurements 1 and 2 also run with the library in TCP-only mode, which a process chooses once
// before its network starts: the benchmark runs itself again as a child process with
// --transport=tcp (measurements 1 and 2 only, against a tracker that serves the TCP link port)
// and prints the child's figures beside the UDP ones. Targets for TCP-only: nothing lost at
// 2000 Hz, and a median latency at most 1.5 times the library's over UDP.
//
// 3. Decode throughput (Google Benchmark, one thread): lvx::decode_sample plus lvx::to_float over
//    one binocular sample item as the stream sends it, in samples per second. Baseline: copying
//    the same item bytes into a float_data slot.
//
// --placement chooses where the threads run:
//   split (the default with two or more processors): the tracker side (its receive and stream
//         threads) on processor 1, the display side (the library's receive thread, the
//         application, the plain receive and waiting threads) on processor 0, as when the tracker
//         is a computer of its own;
//   one:  everything on processor 0;
//   free: wherever the scheduler puts them.
//
// The exit status is 0 when data flowed in every measurement; the targets are reported, not
// enforced, since figures on a shared machine vary from run to run.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "common/wire_reader.h"
#include "data/item_decoder.h"
#include "data/record_conversion.h"
#include "link/transport.h"
#include "lumavex_core.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "platform/thread_priority.h"
#include "rate_reporter.h"
#include "sim/data_items.h"
#include "sim/link_codes.h"
#include "sim/stream.h"
#include "sim/tracker.h"

namespace {

using lvx::platform::counter_now;
using lvx::platform::Endpoint;
using lvx::platform::Socket;

// Loopback addresses of this benchmark alone: the tracker the library connects to, the tracker
// that feeds the plain baseline, and the local address lists that go with them.
constexpr lvxsim::IPv4 kLibraryTrackerIp{127, 0, 0, 202};
constexpr const char kLibraryTrackerText[] = "127.0.0.202";
constexpr lvx::IPv4 kLibraryOwnIp{127, 202, 0, 1};
constexpr lvxsim::IPv4 kPlainTrackerIp{127, 0, 0, 203};
constexpr lvx::IPv4 kPlainOwnIp{127, 203, 0, 1};
// The tracker of the TCP-only run (the child process).
constexpr lvxsim::IPv4 kTcpTrackerIp{127, 0, 0, 204};
constexpr const char kTcpTrackerText[] = "127.0.0.204";
constexpr lvx::IPv4 kTcpOwnIp{127, 204, 0, 1};

using bench::kPeerPriority;
constexpr int kRateHz = 2000;
constexpr int kLossBatch = 100;
constexpr int64_t kLossPauseUs = 1000;
// The plain socket gets the receive buffer the library's socket asks for.
constexpr int kUdpBufferBytes = 4 * 1024 * 1024;
// Once the stream has stopped, readers wait at most this long for the closing marker.
constexpr int64_t kDrainNs = 2'000'000'000;
// Every reader gives up this long after its stream should have ended, whatever happens.
constexpr int64_t kOverrunNs = 15'000'000'000;
constexpr int64_t kNsPerSecond = 1'000'000'000;

int g_seconds = 10;
int g_loss_seconds = 60;
bool g_tcp_child = false;  // this process is the TCP-only run

bench::Placements g_placement;

// Runs `start` on a short-lived thread on the tracker side at the tracker's priority, so that the
// threads it starts (the tracker's receive thread, the stream thread) run there too.
template <typename F>
void on_tracker_side(F start) {
  std::thread([&] {
    g_placement.tracker_side();
    lvx::platform::set_current_thread_priority(kPeerPriority);
    start();
  }).join();
}

// Starts a tracker from the tracker side; prints why and returns false when it cannot start.
bool start_tracker(lvxsim::SimTracker &sim, const char *label) {
  std::string error;
  bool started = false;
  on_tracker_side([&] { started = sim.start(&error); });
  if (!started) std::fprintf(stderr, "%s tracker: %s\n", label, error.c_str());
  return started;
}

lvxsim::StreamConfig stream_config() {
  lvxsim::StreamConfig c;
  c.rate_hz = kRateHz;
  c.eyes = lvxsim::Eyes::kBoth;
  c.events = true;
  c.samples_per_packet = 1;
  c.history = 64;  // the benchmark reads nothing back from the history
  return c;
}

size_t expected_packets(int seconds) {
  return static_cast<size_t>(kRateHz) * static_cast<size_t>(seconds) * 5 / 4 + 10000;
}

double process_cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double this_thread_cpu_seconds() {
  return lvx::platform::thread_cpu_seconds(pthread_self());
}

// Orders samples in a stream: twice the sample time, plus one for the second of two samples that
// share a millisecond (the library marks it SF_HALF_MS).
uint64_t sample_key(uint32_t time_ms, bool half) {
  return uint64_t{time_ms} * 2 + (half ? 1u : 0u);
}

// --- what the tracker sent ---

struct SentRecord {
  uint32_t sequence = 0;
  uint64_t key = 0;  // of its sample
  int64_t sent_ns = 0;
};

// The data observer's log of sample packets. The stream thread appends; the benchmark reads it
// once the stream has stopped (stop_streaming joins that thread).
class SendLog {
 public:
  explicit SendLog(size_t capacity) { records_.reserve(capacity); }

  void add(const lvxsim::SentDataPacket &p) {
    if (p.repeat || p.markers || p.samples != 1) return;
    bool half = have_previous_ && p.first_sample_time == previous_time_;
    have_previous_ = true;
    previous_time_ = p.first_sample_time;
    if (records_.size() == records_.capacity()) return;
    records_.push_back({p.sequence, sample_key(p.first_sample_time, half), p.sent_ns});
  }
  const std::vector<SentRecord> &records() const { return records_; }

 private:
  std::vector<SentRecord> records_;
  bool have_previous_ = false;
  uint32_t previous_time_ = 0;
};

// --- figures ---

struct LatencyFigures {
  size_t sent = 0;
  size_t received = 0;
  size_t matched = 0;
  size_t mismatched = 0;  // pairs skipped because their sample times disagreed
  size_t lost_records = 0;
  double median_us = 0;
  double p99_us = 0;
  double max_us = 0;
  size_t late = 0;  // samples that arrived after the next one was due (one interval, 500 us)
};

struct LossFigures {
  double seconds = 0;  // of streaming
  uint64_t sent = 0;   // samples
  uint64_t read = 0;
  uint64_t lost_records = 0;
  uint64_t datagrams_dropped = 0;  // plain baseline: hand-over ring full
  double receive_cpu_s = 0;
  double reader_cpu_s = 0;
  double process_cpu_s = 0;
  bool ok = false;
};

void summarise_latency(std::vector<double> &us, LatencyFigures &f) {
  std::sort(us.begin(), us.end());
  f.matched = us.size();
  if (us.empty()) return;
  f.median_us = us[us.size() / 2];
  f.p99_us = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  f.max_us = us.back();
  const double interval_us = 1e6 / kRateHz;
  f.late = static_cast<size_t>(us.end() - std::upper_bound(us.begin(), us.end(), interval_us));
}

LatencyFigures g_library_latency;
LatencyFigures g_plain_latency;
LossFigures g_library_loss;
LossFigures g_plain_loss;
LatencyFigures g_tcp_latency;  // from the child process
LossFigures g_tcp_loss;

// --- measurement 1 and 2 with the library ---

struct ReadRecord {
  uint64_t key = 0;
  int64_t ns = 0;
};

// Pairs samples read with samples sent in order. While the times agree, the k-th read belongs to
// the k-th send; where they disagree (a sample lost on the way), the side that is behind moves on
// and the pair is counted as a mismatch.
std::vector<double> pair_in_order(const std::vector<SentRecord> &sent,
                                  const std::vector<ReadRecord> &read, size_t *mismatched) {
  std::vector<double> us;
  us.reserve(std::min(sent.size(), read.size()));
  size_t i = 0;
  size_t j = 0;
  while (i < sent.size() && j < read.size()) {
    if (sent[i].key == read[j].key) {
      us.push_back(static_cast<double>(read[j].ns - sent[i].sent_ns) / 1000.0);
      ++i;
      ++j;
    } else {
      ++*mismatched;
      if (sent[i].key < read[j].key) {
        ++i;
      } else {
        ++j;
      }
    }
  }
  return us;
}

bool stream_from(lvxsim::SimTracker &sim) {
  bool started = false;
  on_tracker_side([&] { started = sim.start_streaming(stream_config()); });
  return started;
}

void library_latency(lvxsim::SimTracker &sim) {
  LatencyFigures &f = g_library_latency;
  lumavex_reset_data(1);
  SendLog log(expected_packets(g_seconds));
  sim.set_data_observer([&log](const lvxsim::SentDataPacket &p) { log.add(p); });
  std::vector<ReadRecord> read;
  read.reserve(expected_packets(g_seconds));
  std::atomic<bool> stream_over{false};
  const int64_t hard_end = counter_now() + int64_t{g_seconds} * kNsPerSecond + kOverrunNs;

  // The application: one record per call, stamped as soon as the call returns a sample.
  std::thread reader([&] {
    float_data slot{};
    const size_t max_calls = expected_packets(g_seconds) * 8;
    int64_t over_ns = 0;
    for (size_t call = 0; call < max_calls && counter_now() < hard_end; ++call) {
      int16_t n = lumavex_wait_for_next_data(&slot, 1, 0);
      int64_t now = counter_now();
      if (n <= 0) {
        if (!stream_over.load()) continue;
        if (over_ns == 0) over_ns = now;
        if (now - over_ns > kDrainNs) break;
        continue;
      }
      int type = slot.head.type;
      if (type == EV_SAMPLE) {
        if (read.size() < read.capacity()) {
          read.push_back({sample_key(slot.fs.time, (slot.fs.flags & SF_HALF_MS) != 0), now});
        }
      } else if (type == EV_LOST_DATA) {
        ++f.lost_records;
      } else if (type == EV_SAMPLE_BLOCK_END) {
        break;
      }
    }
  });

  bool started = stream_from(sim);
  if (started) lvx::platform::sleep_us(int64_t{g_seconds} * 1'000'000);
  sim.stop_streaming();
  stream_over = true;
  reader.join();
  sim.set_data_observer({});

  f.sent = log.records().size();
  f.received = read.size();
  std::vector<double> us = pair_in_order(log.records(), read, &f.mismatched);
  summarise_latency(us, f);
}

// Streams for the loss run's length while `reader` drains, then stops the stream, lets the reader
// finish and fills the timing and CPU figures. receive_cpu() gives the receive thread's CPU time.
template <typename ReceiveCpu>
void stream_for_the_loss_run(lvxsim::SimTracker &sim, std::thread &reader,
                             std::atomic<bool> &stream_over, ReceiveCpu receive_cpu,
                             LossFigures &f) {
  double rx0 = receive_cpu();
  double process0 = process_cpu_seconds();
  int64_t t0 = counter_now();
  bool started = stream_from(sim);
  if (started) lvx::platform::sleep_us(int64_t{g_loss_seconds} * 1'000'000);
  sim.stop_streaming();
  int64_t t1 = counter_now();
  stream_over = true;
  reader.join();
  double rx1 = receive_cpu();
  f.process_cpu_s = process_cpu_seconds() - process0;
  f.receive_cpu_s = rx1 - rx0;
  f.seconds = static_cast<double>(t1 - t0) / 1e9;
  f.sent = sim.stream_stats().samples;
  f.ok = started && rx0 >= 0 && rx1 >= 0;
}

void library_loss(lvxsim::SimTracker &sim) {
  LossFigures &f = g_library_loss;
  lumavex_reset_data(1);
  std::atomic<bool> stream_over{false};
  const int64_t hard_end = counter_now() + int64_t{g_loss_seconds} * kNsPerSecond + kOverrunNs;

  // The application: a batch of up to 100 records, then a pause of about a millisecond.
  std::thread reader([&] {
    double cpu0 = this_thread_cpu_seconds();
    std::vector<float_data> slots(kLossBatch);
    const int64_t max_rounds = int64_t{g_loss_seconds} * 2000 + 100000;
    int64_t over_ns = 0;
    bool closed = false;
    for (int64_t round = 0; round < max_rounds && !closed && counter_now() < hard_end; ++round) {
      int16_t n = lumavex_get_all_float_data(slots.data(), kLossBatch);
      for (int i = 0; i < n; ++i) {
        int type = slots[static_cast<size_t>(i)].head.type;
        if (type == EV_SAMPLE) {
          ++f.read;
        } else if (type == EV_LOST_DATA) {
          ++f.lost_records;
        } else if (type == EV_SAMPLE_BLOCK_END) {
          closed = true;
        }
      }
      if (n <= 0 && stream_over.load()) {
        int64_t now = counter_now();
        if (over_ns == 0) over_ns = now;
        if (now - over_ns > kDrainNs) break;
      }
      lvx::platform::sleep_us(kLossPauseUs);
    }
    f.reader_cpu_s = this_thread_cpu_seconds() - cpu0;
  });

  stream_for_the_loss_run(sim, reader, stream_over, lvx::receive_thread_cpu_seconds, f);
}

// Connects the library to its tracker (over TCP in the TCP-only child) and runs measurements 1
// and 2. False when it could not.
bool run_library() {
  const char *transport = g_tcp_child ? "library over TCP" : "library";
  lvxsim::Config config = bench::answering_tracker(g_tcp_child ? kTcpTrackerIp : kLibraryTrackerIp);
  config.enable_tcp = g_tcp_child;
  lvxsim::SimTracker sim(config);
  if (!start_tracker(sim, transport)) return false;
  if (g_tcp_child && set_lumavex_tcp_only(1) != 0) return false;
  lvx::set_local_addresses_for_testing(
      std::vector<lvx::IPv4>{g_tcp_child ? kTcpOwnIp : kLibraryOwnIp});
  bench::point_library_at(sim, g_tcp_child ? kTcpTrackerText : kLibraryTrackerText);
  if (open_lumavex_connection(0) != 0) {
    std::fprintf(stderr, "cannot connect the library to the simulated tracker\n");
    sim.stop();
    return false;
  }
  lumavex_data_switch(0x0C);  // samples and events to the queue
  std::printf("%s: sample delivery latency, %d s ...\n", transport, g_seconds);
  std::fflush(stdout);
  library_latency(sim);
  std::printf("%s: loss, %d s ...\n", transport, g_loss_seconds);
  std::fflush(stdout);
  library_loss(sim);
  close_lumavex_connection();
  close_lumavex_system();
  sim.stop();
  return true;
}

// --- the TCP-only run, in a child process ---

// The child's figures travel to the parent as one line of numbers after this tag.
constexpr const char kFiguresTag[] = "tcp-only figures:";

void print_child_figures() {
  const LatencyFigures &l = g_library_latency;
  const LossFigures &f = g_library_loss;
  std::printf("%s %zu %zu %zu %zu %zu %.3f %.3f %.3f %zu %.6f %llu %llu %llu %.6f %.6f %.6f %d\n",
              kFiguresTag, l.sent, l.received, l.matched, l.mismatched, l.lost_records, l.median_us,
              l.p99_us, l.max_us, l.late, f.seconds, static_cast<unsigned long long>(f.sent),
              static_cast<unsigned long long>(f.read),
              static_cast<unsigned long long>(f.lost_records), f.receive_cpu_s, f.reader_cpu_s,
              f.process_cpu_s, f.ok ? 1 : 0);
  std::fflush(stdout);
}

bool parse_child_figures(const char *line) {
  LatencyFigures &l = g_tcp_latency;
  LossFigures &f = g_tcp_loss;
  unsigned long long sent = 0;
  unsigned long long read = 0;
  unsigned long long lost = 0;
  int ok = 0;
  int n = std::sscanf(line + std::strlen(kFiguresTag),
                      "%zu %zu %zu %zu %zu %lf %lf %lf %zu %lf %llu %llu %llu %lf %lf %lf %d",
                      &l.sent, &l.received, &l.matched, &l.mismatched, &l.lost_records,
                      &l.median_us, &l.p99_us, &l.max_us, &l.late, &f.seconds, &sent, &read, &lost,
                      &f.receive_cpu_s, &f.reader_cpu_s, &f.process_cpu_s, &ok);
  f.sent = sent;
  f.read = read;
  f.lost_records = lost;
  f.ok = ok != 0;
  return n == 17;
}

// Runs this program again with --transport=tcp and the same durations and placement, passing its
// progress lines through and keeping its figures. False when it failed or sent none.
bool run_tcp_child(const char *self, const char *placement) {
  std::string command = std::string("'") + self +
                        "' --transport=tcp --seconds=" + std::to_string(g_seconds) +
                        " --loss-seconds=" + std::to_string(g_loss_seconds) + " " + placement;
  std::fflush(stdout);
  FILE *child = popen(command.c_str(), "r");
  if (child == nullptr) return false;
  bool figures = false;
  char line[1024];
  while (std::fgets(line, sizeof line, child) != nullptr) {
    if (std::strncmp(line, kFiguresTag, std::strlen(kFiguresTag)) == 0) {
      figures = parse_child_figures(line);
    } else {
      std::fputs(line, stdout);
      std::fflush(stdout);
    }
  }
  int status = pclose(child);
  return figures && status == 0;
}

// --- the plain baseline ---

// A bare UDP display: a receive thread that takes each DATA datagram off the socket and hands it
// over through a mutex and a condition variable, to a thread that either waits for each one
// (latency) or takes them in batches every millisecond (loss).
class PlainDisplay {
 public:
  static constexpr size_t kSlots = 4096;
  static constexpr size_t kSlotBytes = 1500;

  PlainDisplay() : slots_(kSlots) {}

  bool connect(lvxsim::SimTracker &sim) {
    int err = 0;
    socket_ = Socket::udp(&err);
    if (!socket_.valid() || socket_.bind(Endpoint{kPlainOwnIp, 0}) != 0) return false;
    socket_.set_receive_timeout_ms(100);
    socket_.set_receive_buffer(kUdpBufferBytes);
    std::vector<uint8_t> request = lvxsim::build::connect_packet(lvxsim::kConnectRequest, 3, 2, "",
                                                                 "display", lvxsim::kIdentity);
    Endpoint tracker = sim.udp_endpoint();
    if (socket_.send_to(request.data(), request.size(), tracker) !=
        static_cast<int>(request.size())) {
      return false;
    }
    std::array<uint8_t, 2048> buf{};
    for (int tries = 0; tries < 50; ++tries) {  // 100 ms each
      int n = socket_.recv_from(buf.data(), buf.size(), nullptr);
      if (n > 0 && buf[0] == lvxsim::kConnectPkt) return sim.client_connected();
    }
    return false;
  }

  // Starts the receive thread (display side, at the library's receive-thread priority).
  void start_receiving() {
    stop_ = false;
    datagrams_ = 0;
    dropped_ = 0;
    rx_ = std::thread([this] { receive_loop(); });
  }
  void stop_receiving() {
    stop_ = true;
    if (rx_.joinable()) rx_.join();
  }
  double receive_cpu_seconds() {
    return rx_.joinable() ? lvx::platform::thread_cpu_seconds(rx_.native_handle()) : -1.0;
  }
  uint64_t dropped() const { return dropped_; }

  // Waits for the next datagram (at most 20 rounds of 10 ms, as the library's reader does).
  // Returns its data sequence number and, in *woke_ns, the time the waiting thread had it.
  std::optional<uint32_t> wait_next(int64_t *woke_ns) {
    std::unique_lock lock(mutex_);
    for (int round = 0; round < 20 && count_ == 0; ++round) {
      ready_.wait_for(lock, std::chrono::milliseconds(10));
    }
    *woke_ns = counter_now();
    if (count_ == 0) return std::nullopt;
    const Slot &s = slots_[head_];
    uint32_t sequence = lvx::WireReader(lvx::Bytes(s.bytes.data(), s.size)).u32_at(4);
    pop();
    return sequence;
  }

  // Takes up to `max` datagrams into `out` (copied, as the application would) without waiting.
  // Returns how many.
  size_t take_batch(size_t max, std::vector<std::array<uint8_t, kSlotBytes>> &out,
                    std::vector<uint16_t> &sizes) {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    while (n < max && count_ > 0) {
      const Slot &s = slots_[head_];
      std::memcpy(out[n].data(), s.bytes.data(), s.size);
      sizes[n] = s.size;
      pop();
      ++n;
    }
    return n;
  }

 private:
  struct Slot {
    uint16_t size = 0;
    std::array<uint8_t, kSlotBytes> bytes{};
  };

  void pop() {
    head_ = (head_ + 1) % kSlots;
    --count_;
  }

  void receive_loop() {
    lvx::platform::set_current_thread_priority(lvx::transport_options().high_priority);
    std::array<uint8_t, 4096> buf{};
    // Bounded by the stop flag, which the benchmark sets after its stream; the count bound is a
    // safety net far above any run's datagram count.
    for (uint64_t i = 0; i < 1'000'000'000 && !stop_.load(); ++i) {
      int n = socket_.recv_from(buf.data(), buf.size(), nullptr);
      if (n <= 0 || buf[0] != lvxsim::kDataPkt || static_cast<size_t>(n) > kSlotBytes) continue;
      ++datagrams_;
      {
        std::lock_guard lock(mutex_);
        if (count_ == kSlots) {
          ++dropped_;
          continue;
        }
        Slot &s = slots_[(head_ + count_) % kSlots];
        std::memcpy(s.bytes.data(), buf.data(), static_cast<size_t>(n));
        s.size = static_cast<uint16_t>(n);
        ++count_;
      }
      ready_.notify_one();
    }
  }

  Socket socket_;
  std::thread rx_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> datagrams_{0};
  std::atomic<uint64_t> dropped_{0};

  std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<Slot> slots_;
  size_t head_ = 0;
  size_t count_ = 0;
};

// The samples (non-event items) of a DATA packet.
int count_samples(const uint8_t *p, size_t size) {
  if (size < lvxsim::build::kDataOverhead) return 0;
  lvx::Bytes b(p, size);
  size_t area = lvx::WireReader(b).u16_at(20);
  size_t at = lvxsim::build::kDataItemsOffset + p[22];
  size_t end = std::min(at + area, size);
  int samples = 0;
  for (int items = 0; items < 1000 && at + 2 <= end; ++items) {
    uint16_t header = lvx::WireReader(b).u16_at(at);
    if ((header & lvxsim::build::kItemEvent) == 0) ++samples;
    at += 2 + (header & lvxsim::build::kItemLengthMask);
    if ((header & lvxsim::build::kItemLast) != 0) break;
  }
  return samples;
}

void plain_latency(lvxsim::SimTracker &sim, PlainDisplay &display) {
  LatencyFigures &f = g_plain_latency;
  SendLog log(expected_packets(g_seconds));
  sim.set_data_observer([&log](const lvxsim::SentDataPacket &p) { log.add(p); });
  struct Woke {
    uint32_t sequence;
    int64_t ns;
  };
  std::vector<Woke> woke;
  woke.reserve(expected_packets(g_seconds) * 2);
  std::atomic<bool> stream_over{false};
  const int64_t hard_end = counter_now() + int64_t{g_seconds} * kNsPerSecond + kOverrunNs;

  display.start_receiving();
  std::thread waiter([&] {
    const size_t max_calls = expected_packets(g_seconds) * 8;
    int64_t over_ns = 0;
    for (size_t call = 0; call < max_calls && counter_now() < hard_end; ++call) {
      int64_t now = 0;
      std::optional<uint32_t> sequence = display.wait_next(&now);
      if (!sequence) {
        if (!stream_over.load()) continue;
        if (over_ns == 0) over_ns = now;
        if (now - over_ns > kDrainNs) break;
        continue;
      }
      if (woke.size() < woke.capacity()) woke.push_back({*sequence, now});
    }
  });

  bool started = stream_from(sim);
  if (started) lvx::platform::sleep_us(int64_t{g_seconds} * 1'000'000);
  sim.stop_streaming();
  lvx::platform::sleep_us(200000);  // let the last datagrams arrive
  stream_over = true;
  waiter.join();
  display.stop_receiving();
  sim.set_data_observer({});

  // Datagrams carry the data sequence number: each wake-up pairs with its send exactly.
  std::map<uint32_t, int64_t> sent_at;
  for (const SentRecord &r : log.records()) sent_at.emplace(r.sequence, r.sent_ns);
  std::vector<double> us;
  us.reserve(woke.size());
  for (const Woke &w : woke) {
    auto it = sent_at.find(w.sequence);
    if (it != sent_at.end()) us.push_back(static_cast<double>(w.ns - it->second) / 1000.0);
  }
  f.sent = log.records().size();
  f.received = us.size();
  summarise_latency(us, f);
}

void plain_loss(lvxsim::SimTracker &sim, PlainDisplay &display) {
  LossFigures &f = g_plain_loss;
  std::atomic<bool> stream_over{false};
  const int64_t hard_end = counter_now() + int64_t{g_loss_seconds} * kNsPerSecond + kOverrunNs;
  display.start_receiving();
  std::thread consumer([&] {
    double cpu0 = this_thread_cpu_seconds();
    std::vector<std::array<uint8_t, PlainDisplay::kSlotBytes>> batch(kLossBatch);
    std::vector<uint16_t> sizes(kLossBatch);
    const int64_t max_rounds = int64_t{g_loss_seconds} * 2000 + 100000;
    int64_t over_ns = 0;
    for (int64_t round = 0; round < max_rounds && counter_now() < hard_end; ++round) {
      size_t n = display.take_batch(kLossBatch, batch, sizes);
      for (size_t i = 0; i < n; ++i) {
        f.read += static_cast<uint64_t>(count_samples(batch[i].data(), sizes[i]));
      }
      if (n == 0 && stream_over.load()) {
        int64_t now = counter_now();
        if (over_ns == 0) over_ns = now;
        if (now - over_ns > kDrainNs / 10) break;
      }
      lvx::platform::sleep_us(kLossPauseUs);
    }
    f.reader_cpu_s = this_thread_cpu_seconds() - cpu0;
  });

  stream_for_the_loss_run(
      sim, consumer, stream_over, [&display] { return display.receive_cpu_seconds(); }, f);
  display.stop_receiving();
  f.datagrams_dropped = display.dropped();
}

bool run_plain() {
  lvxsim::Config config = bench::answering_tracker(kPlainTrackerIp);
  lvxsim::SimTracker sim(config);
  if (!start_tracker(sim, "plain")) return false;
  PlainDisplay display;
  if (!display.connect(sim)) {
    std::fprintf(stderr, "cannot connect the plain display to the simulated tracker\n");
    sim.stop();
    return false;
  }
  std::printf("plain UDP: sample delivery latency, %d s ...\n", g_seconds);
  std::fflush(stdout);
  plain_latency(sim, display);
  std::printf("plain UDP: loss, %d s ...\n", g_loss_seconds);
  std::fflush(stdout);
  plain_loss(sim, display);
  sim.stop();
  return true;
}

// --- measurement 3: decode throughput ---

// One binocular sample item (the bytes after its item header) as the stream sends it.
std::vector<uint8_t> stream_sample_item() {
  lvxsim::StreamEngine engine(stream_config(), 1'000'000'000, 1);
  engine.open_packet();
  std::optional<lvxsim::build::SampleFields> wire;
  // Well into the stream, where the eye model has moved away from its starting point.
  for (int i = 0; i < 500; ++i) {
    lvxsim::StreamPacket p = engine.next_packet();
    if (!p.samples.empty()) wire = p.samples.back().wire;
  }
  return wire ? lvxsim::build::sample_body(*wire) : std::vector<uint8_t>{};
}

link_state decode_status() {
  link_state s{};
  s.position_prescaler = 10;
  s.velocity_prescaler = 10;
  s.pupil_prescaler = 1;
  return s;
}

void BM_DecodeSampleToFloat(benchmark::State &state) {
  const std::vector<uint8_t> item = stream_sample_item();
  lvx::DecoderState decoder;
  link_state status = decode_status();
  link_data_item decoded{};
  float_data out{};
  if (item.empty() ||
      lvx::decode_sample(item, decoder, status, decoded) != lvx::kSampleRecordSize ||
      !lvx::to_float(decoded, status, out) || out.head.type != EV_SAMPLE) {
    state.SkipWithError("the sample item does not decode");
    return;
  }
  for (auto _ : state) {
    int size = lvx::decode_sample(item, decoder, status, decoded);
    bool converted = lvx::to_float(decoded, status, out);
    benchmark::DoNotOptimize(size);
    benchmark::DoNotOptimize(converted);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.counters["item_bytes"] = static_cast<double>(item.size());
}

void BM_CopySampleItem(benchmark::State &state) {
  const std::vector<uint8_t> item = stream_sample_item();
  float_data slot{};
  if (item.empty() || item.size() > sizeof slot) {
    state.SkipWithError("no sample item");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(item.data());
    std::memcpy(&slot, item.data(), item.size());
    benchmark::DoNotOptimize(slot);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

const char *verdict(bool met) {
  return met ? "met" : "MISSED";
}

void print_latency(const char *name, const LatencyFigures &f) {
  std::printf("  %-34s median %7.1f us, p99 %7.1f us, max %8.1f us\n", name, f.median_us, f.p99_us,
              f.max_us);
  std::printf("  %-34s %zu samples timed of %zu sent, %zu later than %.0f us\n", "", f.matched,
              f.sent, f.late, 1e6 / kRateHz);
}

void print_loss(const char *name, const LossFigures &f, bool library) {
  double s = f.seconds > 0 ? f.seconds : 1;
  std::printf("  %s: %.1f s of streaming\n", name, f.seconds);
  std::printf("    samples sent %llu, read %llu (missing %lld)",
              static_cast<unsigned long long>(f.sent), static_cast<unsigned long long>(f.read),
              static_cast<long long>(f.sent) - static_cast<long long>(f.read));
  if (library) {
    std::printf(", lost-data records %llu\n", static_cast<unsigned long long>(f.lost_records));
  } else {
    std::printf(", hand-over ring overflows %llu\n",
                static_cast<unsigned long long>(f.datagrams_dropped));
  }
  std::printf("    receive thread CPU %.2f ms per s of streaming (%.3f%% of a processor)\n",
              f.receive_cpu_s * 1000 / s, f.receive_cpu_s * 100 / s);
  std::printf("    reading thread CPU %.2f ms per s; whole process %.2f ms per s\n",
              f.reader_cpu_s * 1000 / s, f.process_cpu_s * 1000 / s);
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<char *> args;
  const char *placement_arg = "";
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--seconds=", 10) == 0) {
      g_seconds = std::clamp(std::atoi(argv[i] + 10), 1, 3600);
    } else if (std::strncmp(argv[i], "--loss-seconds=", 15) == 0) {
      g_loss_seconds = std::clamp(std::atoi(argv[i] + 15), 1, 3600);
    } else if (std::strcmp(argv[i], "--transport=tcp") == 0) {
      g_tcp_child = true;
    } else if (g_placement.parse(argv[i])) {
      placement_arg = argv[i];
      continue;
    } else {
      args.push_back(argv[i]);
    }
  }
  g_placement.settle();
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 1;

  g_placement.display_side();
  if (g_tcp_child) {
    bool ok = run_library();
    print_child_figures();
    return ok ? 0 : 1;
  }
  bool library_ok = run_library();
  bool plain_ok = run_plain();
  std::error_code error;
  const std::string self = std::filesystem::read_symlink("/proc/self/exe", error).string();
  bool tcp_ok = !error && run_tcp_child(self.c_str(), placement_arg);

  benchmark::RegisterBenchmark("DecodeSampleToFloat", BM_DecodeSampleToFloat);
  benchmark::RegisterBenchmark("CopySampleItem", BM_CopySampleItem);
  bench::RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  double decode_rate = reporter.rates["DecodeSampleToFloat"];
  double copy_rate = reporter.rates["CopySampleItem"];

  const LatencyFigures &ll = g_library_latency;
  const LatencyFigures &pl = g_plain_latency;
  std::printf("\nplacement %s\n", g_placement.name());
  std::printf("sample delivery latency, %d Hz binocular with events, %d s each:\n", kRateHz,
              g_seconds);
  print_latency("plain UDP + condition variable:", pl);
  print_latency("lumavex_wait_for_next_data:", ll);
  std::printf("    library: %zu samples read, %zu pairs out of step, %zu lost-data records\n",
              ll.received, ll.mismatched, ll.lost_records);
  if (pl.median_us > 0 && pl.p99_us > 0) {
    double median_ratio = ll.median_us / pl.median_us;
    double p99_ratio = ll.p99_us / pl.p99_us;
    std::printf("  ratio median %.2f (target at most 1.5: %s), p99 %.2f (target at most 3: %s)\n",
                median_ratio, verdict(median_ratio <= 1.5), p99_ratio, verdict(p99_ratio <= 3.0));
  }
  const LatencyFigures &tl = g_tcp_latency;
  print_latency("lumavex_wait_for_next_data, TCP-only:", tl);
  std::printf(
      "    library over TCP: %zu samples read, %zu pairs out of step, %zu lost-data records\n",
      tl.received, tl.mismatched, tl.lost_records);
  if (ll.median_us > 0) {
    double tcp_ratio = tl.median_us / ll.median_us;
    std::printf("  TCP-only / UDP: median %.2f (target at most 1.5: %s), p99 %.2f\n", tcp_ratio,
                verdict(tl.matched > 0 && tcp_ratio <= 1.5),
                ll.p99_us > 0 ? tl.p99_us / ll.p99_us : 0.0);
  }
  std::printf("loss, %d Hz binocular with events, batches of up to %d every ~1 ms, %d s each:\n",
              kRateHz, kLossBatch, g_loss_seconds);
  print_loss("library", g_library_loss, true);
  print_loss("library, TCP-only", g_tcp_loss, true);
  const LossFigures &tf = g_tcp_loss;
  std::printf("    TCP-only: nothing lost (target: %s)\n",
              verdict(tf.ok && tf.read > 0 && tf.read == tf.sent && tf.lost_records == 0));
  print_loss("plain UDP receive thread (baseline)", g_plain_loss, false);
  if (g_plain_loss.receive_cpu_s > 0) {
    std::printf("  receive thread CPU, library / plain: %.2f\n",
                g_library_loss.receive_cpu_s / g_plain_loss.receive_cpu_s);
  }
  std::printf("decode throughput, one thread:\n");
  std::printf("  decode_sample + to_float: %.2f M samples/s; memcpy of the item: %.2f M/s",
              decode_rate / 1e6, copy_rate / 1e6);
  if (decode_rate > 0) std::printf(" (decode takes %.1f ns a sample)", 1e9 / decode_rate);
  std::printf("\n");

  bool flowed = library_ok && plain_ok && ll.matched > 0 && pl.matched > 0 && g_library_loss.ok &&
                g_library_loss.read > 0 && g_plain_loss.ok && g_plain_loss.read > 0 && tcp_ok &&
                tl.matched > 0 && tf.ok && tf.read > 0 && decode_rate > 0 && copy_rate > 0;
  if (!flowed) std::printf("FAILED: a measurement saw no data\n");
  return flowed ? 0 : 1;
}
