// Round-trip time of a tracker command: lumavex_timed_command against the simulated tracker on
// loopback, beside a plain UDP request and response between the same loopback addresses.
//
// Each benchmark times every round trip on its own and reports the median and the 99th
// percentile in microseconds. The summary at the end gives the command's median as a multiple
// of the plain one.
//
// --placement chooses where the threads run:
//   split (the default with two or more processors): the answering side (echo thread, simulated
//         tracker) on processor 1 and the asking side (client, application and the library's
//         receive thread) on processor 0, as when the tracker is a computer of its own;
//   one:  everything on processor 0;
//   free: wherever the scheduler puts them. On virtual machines a wake-up on another, idle
//         processor costs tens of microseconds, so figures then depend on where threads land.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "link/transport.h"
#include "lumavex_core.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "platform/thread_priority.h"
#include "sim/tracker.h"

namespace {

using lvx::platform::Endpoint;
using lvx::platform::Socket;

// The tracker's address and the library's own: loopback only, apart from every test's.
constexpr lvxsim::IPv4 kTrackerIp{127, 0, 0, 200};
constexpr lvx::IPv4 kOwnIp{127, 200, 0, 1};
// The same size as the command packet below, so both carry the same bytes.
constexpr size_t kRequestSize = 30 + sizeof("echo round trip");

using bench::kPeerPriority;

int g_round_trips = 10000;

bench::Placements g_placement;

struct Figures {
  double median_us = 0;
  double p99_us = 0;
};
Figures g_plain;
Figures g_command;

double now_us() {
  return static_cast<double>(lvx::platform::counter_now()) / 1000.0;
}

Figures summarise(std::vector<double> &samples) {
  std::sort(samples.begin(), samples.end());
  Figures f;
  if (samples.empty()) return f;
  f.median_us = samples[samples.size() / 2];
  f.p99_us = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
  return f;
}

void report(benchmark::State &state, std::vector<double> &samples, Figures &out) {
  out = summarise(samples);
  state.counters["median_us"] = out.median_us;
  state.counters["p99_us"] = out.p99_us;
  state.counters["round_trips"] = static_cast<double>(samples.size());
}

// Plain UDP: a thread echoes each datagram back; the client sends and blocks for the answer.
void BM_PlainUdpRoundTrip(benchmark::State &state) {
  int err = 0;
  Socket server = Socket::udp(&err);
  Socket client = Socket::udp(&err);
  // Ports the system chooses.
  if (server.bind(Endpoint{kTrackerIp, 0}) != 0 || client.bind(Endpoint{kOwnIp, 0}) != 0) {
    state.SkipWithError("cannot bind the loopback sockets");
    return;
  }
  const Endpoint server_ep = server.local_endpoint();
  server.set_receive_timeout_ms(100);
  client.set_receive_timeout_ms(2000);
  std::atomic<bool> stop{false};
  g_placement.tracker_side();
  std::thread echo([&] {
    lvx::platform::set_current_thread_priority(kPeerPriority);
    std::vector<uint8_t> buf(2048);
    while (!stop.load()) {
      Endpoint from;
      int n = server.recv_from(buf.data(), buf.size(), &from);
      if (n > 0) server.send_to(buf.data(), static_cast<size_t>(n), from);
    }
  });
  g_placement.display_side();
  std::vector<uint8_t> request(kRequestSize, 1);
  std::vector<uint8_t> answer(2048);
  std::vector<double> samples;
  samples.reserve(static_cast<size_t>(g_round_trips));
  for (auto _ : state) {
    double t0 = now_us();
    client.send_to(request.data(), request.size(), server_ep);
    Endpoint from;
    int n = client.recv_from(answer.data(), answer.size(), &from);
    samples.push_back(now_us() - t0);
    if (n <= 0) {
      state.SkipWithError("echo lost");
      break;
    }
  }
  stop.store(true);
  echo.join();
  report(state, samples, g_plain);
}

// The library: a command sent and its result awaited, answered by the simulated tracker.
void BM_TimedCommandRoundTrip(benchmark::State &state) {
  lvxsim::Config config = bench::answering_tracker(kTrackerIp);
  lvxsim::SimTracker sim(config);
  std::string error;
  g_placement.tracker_side();
  bool started = sim.start(&error);
  g_placement.display_side();
  if (!started) {
    state.SkipWithError(error.c_str());
    return;
  }
  lvx::set_local_addresses_for_testing(std::vector<lvx::IPv4>{kOwnIp});
  bench::point_library_at(sim, "127.0.0.200");
  if (open_lumavex_connection(0) != 0) {
    state.SkipWithError("cannot connect to the simulated tracker");
    return;
  }
  std::vector<double> samples;
  samples.reserve(static_cast<size_t>(g_round_trips));
  for (auto _ : state) {
    double t0 = now_us();
    int16_t r = lumavex_timed_command(2000, "echo round trip");
    samples.push_back(now_us() - t0);
    if (r != 0) {
      state.SkipWithError("command failed");
      break;
    }
  }
  close_lumavex_connection();
  sim.stop();
  report(state, samples, g_command);
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<char *> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--round-trips=", 14) == 0) {
      g_round_trips = std::max(1, std::atoi(argv[i] + 14));
    } else if (g_placement.parse(argv[i])) {
      continue;
    } else {
      args.push_back(argv[i]);
    }
  }
  benchmark::RegisterBenchmark("PlainUdpRoundTrip", BM_PlainUdpRoundTrip)
      ->Iterations(g_round_trips)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("TimedCommandRoundTrip", BM_TimedCommandRoundTrip)
      ->Iterations(g_round_trips)
      ->Unit(benchmark::kMicrosecond);
  g_placement.settle();
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g_plain.median_us <= 0 || g_command.median_us <= 0) return 1;
  double ratio = g_command.median_us / g_plain.median_us;
  std::printf("\nplacement %s\n", g_placement.name());
  std::printf("round trip over %d each: plain UDP median %.1f us (p99 %.1f), ", g_round_trips,
              g_plain.median_us, g_plain.p99_us);
  std::printf("timed command median %.1f us (p99 %.1f); ratio %.2f (target at most 1.5)\n",
              g_command.median_us, g_command.p99_us, ratio);
  return 0;
}
