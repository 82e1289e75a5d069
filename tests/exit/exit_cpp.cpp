// The C++ twin of exit_c.c: ends the process without closing the link, in the situation named on
// the command line, with the same statuses and lines:
//
//   lvx_exit_cpp SITUATION TRACKER_ADDRESS[:PORT]
//
//   failed-connect  the connect fails (nothing answers at the address); exit(3)
//   connected       connected; main returns 4 (the way most programs end)
//   streaming       recording, samples read over the link; std::exit(5)
//   other-thread    recording; a std::thread calls std::exit(6) while main keeps reading samples
//                   (the thread object is still joinable when the process ends)
//
// A static object with a destructor is torn down at exit after the library's exit step, as a
// C++ program's globals are.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "lumavex_core.h"

namespace {

enum Status {
  kSetupFailed = 1,
  kUsage = 2,
  kFailedConnect = 3,
  kConnected = 4,
  kStreaming = 5,
  kOtherThread = 6,
};

constexpr int kSamplesBeforeExit = 5;
using Clock = std::chrono::steady_clock;

// When exit began: set by the exiting thread, read by the exit handler on that same thread.
Clock::time_point g_exit_called = Clock::now();

// Prints how long the exit handlers before it took. Built before the library's first use, so its
// destructor runs after the library's exit step.
struct ExitReport {
  ~ExitReport() {
    const double ms =
        std::chrono::duration<double, std::milli>(Clock::now() - g_exit_called).count();
    std::printf("exit steps took %.1f ms\n", ms);
    std::fflush(stdout);
  }
};
ExitReport g_exit_report;

// Prints the wall clock (for the caller's timing of the whole exit) and notes the time.
void note_exit(int status) {
  const auto wall = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  std::printf("exit status=%d at_ns=%lld\n", status, static_cast<long long>(wall.count()));
  std::fflush(stdout);
  g_exit_called = Clock::now();
}

[[noreturn]] void exit_now(int status) {
  note_exit(status);
  std::exit(status);
}

// ADDRESS or ADDRESS:PORT; a port is given to the library as its tracker port option.
bool connect_to(const std::string &target) {
  const size_t colon = target.find(':');
  const std::string address = target.substr(0, colon);
  if (colon != std::string::npos) {
    const std::string options = "eyeport=" + target.substr(colon + 1);
    if (open_lumavex_system(0, options.c_str()) == 0) return false;
  }
  if (set_lumavex_address(address.c_str()) != 0) {
    std::fprintf(stderr, "bad address %s\n", address.c_str());
    return false;
  }
  return open_lumavex_connection(0) == 0;
}

// Starts recording with samples and events over the link and reads a few samples.
bool start_streaming() {
  if (lumavex_data_start(0x0C, 0) != 0) {
    std::fprintf(stderr, "data start failed\n");
    return false;
  }
  if (lumavex_wait_for_block_start(2000, 1, 1) != 1) {
    std::fprintf(stderr, "no sample block started\n");
    return false;
  }
  int samples = 0;
  const auto until = Clock::now() + std::chrono::seconds(2);
  while (samples < kSamplesBeforeExit && Clock::now() < until) {
    if (lumavex_wait_for_data(100, 1, 0) != 1) continue;
    if (lumavex_get_next_data(nullptr) == EV_SAMPLE) ++samples;
  }
  std::printf("read %d samples\n", samples);
  return samples == kSamplesBeforeExit;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: %s failed-connect|connected|streaming|other-thread ADDRESS[:PORT]\n",
                 argv[0]);
    return kUsage;
  }
  const std::string situation = argv[1];

  if (situation == "failed-connect") {
    if (connect_to(argv[2])) {
      std::fprintf(stderr, "a tracker answered at %s\n", argv[2]);
      return kSetupFailed;
    }
    std::printf("connect failed, connected=%d\n", lumavex_is_connected());
    exit_now(kFailedConnect);
  }
  if (!connect_to(argv[2])) return kSetupFailed;
  std::printf("connected=%d\n", lumavex_is_connected());
  if (situation == "connected") {
    note_exit(kConnected);
    return kConnected;
  }
  if (!start_streaming()) return kSetupFailed;
  if (situation == "streaming") exit_now(kStreaming);

  if (situation == "other-thread") {
    std::thread exiter([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      exit_now(kOtherThread);
    });
    // Keep using the link until the other thread's exit ends the process.
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < until) {
      if (lumavex_wait_for_data(10, 1, 1) == 1) lumavex_get_next_data(nullptr);
    }
    std::fprintf(stderr, "still running 5 s after the other thread called exit()\n");
    std::quick_exit(kSetupFailed);  // the thread is still joinable: no destructors
  }
  std::fprintf(stderr, "unknown situation %s\n", situation.c_str());
  return kUsage;
}
