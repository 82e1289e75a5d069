// Calls into the application while data flows. From the alert hook, the data-ready callback and
// the input poll hook the application calls back into the library (a command and its result, the
// data status, reads); every such call completes, none runs with a library lock held, and the
// data stream goes on. The data-ready notices come one per item, in the order of the items.
//
// Also here, because they are about threads meeting in the library: command serials reach the
// tracker in the order they were drawn when two threads send at once, and the bounded wait of a
// formatted command to a tracker that does not answer.
//
// A test whose calls do not finish is a deadlock: it reports that and ends the process at once,
// since nothing can be cleaned up under threads that hold the library's locks for good.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "common/wire_reader.h"
#include "data/data_queue.h"
#include "data/data_stream.h"
#include "link/user_calls.h"
#include "sim_fixture.h"

namespace {

using simtest::wait_until;

// Runs `body` on its own thread and waits at most timeout_ms for it.
void finishes_within(int timeout_ms, const char *what, const std::function<void()> &body) {
  std::atomic<bool> done{false};
  std::thread t([&] {
    body();
    done = true;
  });
  if (!wait_until([&] { return done.load(); }, timeout_ms)) {
    std::fprintf(stderr, "%s did not finish within %d ms: a deadlock\n", what, timeout_ms);
    std::fflush(stderr);
    std::_Exit(1);
  }
  t.join();
}

// What the application's callbacks did, written on whatever thread runs them.
struct Seen {
  std::atomic<int> calls{0};
  std::atomic<int> locked_calls{0};  // calls made while the thread held a library lock
  std::atomic<int> command_result{-1};
  std::atomic<int> command_ms{-1};
  std::atomic<int> status_version{-1};
  std::atomic<int> records_read{0};  // records read by the calls, in all
  std::atomic<bool> done{false};
  std::mutex text_mutex;
  std::vector<std::string> texts;
};
Seen g_seen;

void note_call() {
  g_seen.calls.fetch_add(1);
  if (lvx::library_lock_held()) g_seen.locked_calls.fetch_add(1);
}

// Sends a command from the callback and waits up to msec for its result.
void command_from_callback(uint32_t msec, const char *text) {
  const auto start = std::chrono::steady_clock::now();
  g_seen.command_result = lumavex_timed_command(msec, text);
  g_seen.command_ms = static_cast<int>(simtest::ms_since(start));
}

void read_status_and_data() {
  const link_state *s = lumavex_data_status();
  g_seen.status_version = s != nullptr ? static_cast<int>(s->record_version) : 0;
  float_data slots[20];
  g_seen.records_read.fetch_add(lumavex_wait_for_next_data(slots, 20, 20));
}

GraphicHooks hooks_with(void (*alert)(const char *), int16_t (*poll)(InputEvent *)) {
  GraphicHooks h{};
  h.alert_hook = alert;
  h.poll_input_events_hook = poll;
  return h;
}

class Callbacks : public simtest::SimTest {
 protected:
  void stream(int n, int rate_hz, bool events = false) {
    connect_to_tracker(n);
    ASSERT_EQ(lumavex_data_switch(0x0C), 0);
    lvxsim::StreamConfig c;
    c.rate_hz = rate_hz;
    c.events = events;
    ASSERT_TRUE(sim().start_streaming(c));
  }

  // True when the data stream still reaches the reader: a sample newer than any read before
  // arrives within a second.
  static bool stream_flows() {
    float_sample s{};
    if (lumavex_newest_float_sample2(&s) < 0) s.time = 0;
    const uint32_t before = s.time;
    return wait_until(
        [&] {
          float_sample now{};
          return lumavex_newest_float_sample2(&now) >= 0 && now.time > before;
        },
        1000);
  }

  void TearDown() override {
    if (sim_) sim_->stop_streaming();
    lumavex_set_data_ready_notify(nullptr);
    setup_graphic_hook_functions(nullptr);
    SimTest::TearDown();
  }
};

// The alert hook of an item too long to read out, raised by a reader while the receive thread
// takes in a packet every half millisecond. The hook asks for the status and sends a command:
// both take the link lock, which the receive thread holds while it waits for the data lock.
// Raised under the reader's data lock, this was a deadlock of both threads.
void alert_takes_the_link_lock(const char *text) {
  note_call();
  {
    std::lock_guard lock(g_seen.text_mutex);
    g_seen.texts.emplace_back(text);
  }
  for (int i = 0; i < 200; ++i) lumavex_data_status();
  command_from_callback(1000, "echo from the alert hook");
  read_status_and_data();
  g_seen.done = true;
}

TEST_F(Callbacks, AlertHookOfAReaderMayTakeTheLinkLockWhileDataArrives) {
  stream(301, 2000);
  GraphicHooks h = hooks_with(alert_takes_the_link_lock, nullptr);
  setup_graphic_hook_functions(&h);
  ASSERT_TRUE(wait_until([] { return lumavex_data_status()->queued_samples > 20; }));
  {
    // A message item longer than a reader can take out, queued behind the samples.
    lvx::DataStream &d = lvx::data_stream();
    std::vector<uint8_t> item(lvx::kMaxItemOut + 76, 'x');
    item[0] = EV_MESSAGE;
    std::lock_guard lock(d.queue_lock);
    d.queue.put(lvx::Bytes(item), lvx::ITEM_EVENT);
  }
  finishes_within(10000, "reading up to the oversized item", [] {
    float_data slots[50];
    for (int i = 0; i < 2000 && !g_seen.done; ++i) lumavex_wait_for_next_data(slots, 50, 5);
  });
  ASSERT_TRUE(g_seen.done);
  EXPECT_EQ(g_seen.calls, 1);
  EXPECT_EQ(g_seen.locked_calls, 0);
  ASSERT_EQ(g_seen.texts.size(), 1u);
  EXPECT_EQ(g_seen.texts[0].rfind("Overflow: vqueue item type 0x4000, size 1100 > 1024", 0), 0u)
      << g_seen.texts[0];
  EXPECT_EQ(g_seen.command_result, 0);
  EXPECT_EQ(g_seen.status_version, 2);
  EXPECT_GT(g_seen.records_read, 0);
  EXPECT_TRUE(stream_flows());
}

// The data-ready callback runs on the receive thread once the datagram's dispatch has let go of
// the link lock. The first call reads the status and data and sends a command. Its answer can
// only be taken in by the receive thread once the callback has returned, so the wait ends at its
// time-out and the answer is filed afterwards. An alert raised inside the callback is shown once
// the callback has returned, on the same thread.
std::atomic<bool> g_in_data_ready{false};
std::atomic<int> g_alerts_inside{0};
std::atomic<int> g_alerts{0};
std::thread::id g_data_ready_thread;
std::atomic<bool> g_alert_on_that_thread{false};

void data_ready_calls_back(int /*reason*/) {
  note_call();
  if (g_seen.calls.load() != 1) return;
  g_in_data_ready = true;
  g_data_ready_thread = std::this_thread::get_id();
  read_status_and_data();
  command_from_callback(100, "echo from the data-ready callback");
  alert_printf("alert from the data-ready callback %d", 1);
  g_in_data_ready = false;
  g_seen.done = true;
}

void alert_counts(const char *text) {
  if (std::strcmp(text, "alert from the data-ready callback 1") != 0) return;
  g_alerts.fetch_add(1);
  if (g_in_data_ready) g_alerts_inside.fetch_add(1);
  g_alert_on_that_thread = std::this_thread::get_id() == g_data_ready_thread;
}

TEST_F(Callbacks, DataReadyCallbackMayCallBackIntoTheLibrary) {
  GraphicHooks h = hooks_with(alert_counts, nullptr);
  setup_graphic_hook_functions(&h);
  lumavex_set_data_ready_notify(data_ready_calls_back);
  stream(302, 1000);
  ASSERT_TRUE(wait_until([] { return g_seen.done.load(); }, 5000));
  EXPECT_EQ(g_seen.locked_calls, 0);
  EXPECT_EQ(g_seen.status_version, 2);
  EXPECT_GT(g_seen.records_read, 0);
  EXPECT_EQ(g_seen.command_result, NO_REPLY);
  EXPECT_GE(g_seen.command_ms, 100);
  EXPECT_LT(g_seen.command_ms, 1000);
  // The answer came once the callback had returned.
  EXPECT_TRUE(wait_until([] { return lumavex_command_result() == 0; }, 2000));
  EXPECT_EQ(g_alerts, 1);
  EXPECT_EQ(g_alerts_inside, 0);
  EXPECT_TRUE(g_alert_on_that_thread);
  // The stream goes on, and so do the notices.
  const int calls = g_seen.calls;
  EXPECT_TRUE(wait_until([&] { return g_seen.calls.load() > calls + 100; }, 3000));
  EXPECT_TRUE(stream_flows());
  EXPECT_EQ(g_seen.locked_calls, 0);
}

// One notice per item queued, reason 2 for a sample and 1 for an event, in the order the reader
// then takes the items out (block markers and lost-data records are not announced).
std::mutex g_reasons_mutex;
std::vector<int> g_reasons;
void record_reason(int reason) {
  note_call();
  std::lock_guard lock(g_reasons_mutex);
  g_reasons.push_back(reason);
}

TEST_F(Callbacks, DataReadyNoticesComeOnePerItemInOrder) {
  lumavex_set_data_ready_notify(record_reason);
  stream(303, 1000, true);
  ASSERT_TRUE(sim().inject_button(0x0003));
  ASSERT_EQ(lumavex_send_message("a message among the samples"), 0);
  ASSERT_TRUE(wait_until([this] { return sim().stream_stats().samples >= 1500; }, 5000));
  sim().stop_streaming();
  std::vector<int> expected;
  float_data slots[100];
  // Read until the closing markers have come and the queue has stayed empty for a while.
  int empty_rounds = 0;
  for (int i = 0; i < 2000 && empty_rounds < 10; ++i) {
    const int n = lumavex_wait_for_next_data(slots, 100, 2);
    empty_rounds = n == 0 ? empty_rounds + 1 : 0;
    for (int k = 0; k < n; ++k) {
      const int type = slots[k].head.type;
      ASSERT_NE(type, EV_LOST_DATA);
      if (type == EV_SAMPLE) {
        expected.push_back(2);
      } else if (type < EV_SAMPLE_BLOCK_START || type > EV_EVENT_BLOCK_END) {
        expected.push_back(1);
      }
    }
  }
  std::lock_guard lock(g_reasons_mutex);
  EXPECT_GE(expected.size(), 1500u);
  EXPECT_GT(std::count(expected.begin(), expected.end(), 1), 3);
  EXPECT_EQ(g_reasons, expected);
  EXPECT_EQ(g_seen.locked_calls, 0);
}

// The input poll hook, called by a key pump on the application's thread, sends a command and
// waits for its answer, reads the status and data.
int16_t poll_calls_back(InputEvent * /*events*/) {
  note_call();
  command_from_callback(1000, "echo from the poll hook");
  read_status_and_data();
  return 0;
}

TEST_F(Callbacks, InputPollHookMayCallBackIntoTheLibrary) {
  stream(304, 1000);
  GraphicHooks h = hooks_with(nullptr, poll_calls_back);
  setup_graphic_hook_functions(&h);
  ASSERT_TRUE(wait_until([] { return lumavex_data_status()->queued_samples > 20; }));
  finishes_within(5000, "the key pump", [] {
    for (int i = 0; i < 3; ++i) key_message_pump();
  });
  EXPECT_EQ(g_seen.calls, 3);
  EXPECT_EQ(g_seen.locked_calls, 0);
  EXPECT_EQ(g_seen.command_result, 0);
  EXPECT_EQ(g_seen.status_version, 2);
  EXPECT_GT(g_seen.records_read, 0);
  EXPECT_TRUE(stream_flows());
}

TEST(AlertPrintf, NullFormatShowsAnEmptyText) {
  static std::vector<std::string> texts;
  GraphicHooks h = hooks_with([](const char *text) { texts.emplace_back(text); }, nullptr);
  setup_graphic_hook_functions(&h);
  alert_printf(nullptr);
  alert_printf("%s %d", "two", 2);
  setup_graphic_hook_functions(nullptr);
  EXPECT_EQ(texts, (std::vector<std::string>{"", "two 2"}));
}

// ---- Commands from several threads ----

class ThreadedCommands : public simtest::SimTest {};

TEST_F(ThreadedCommands, SerialsReachTheTrackerInTheOrderDrawn) {
  connect_to_tracker(305);
  constexpr int kPerThread = 400;
  auto sender = [] {
    for (int i = 0; i < kPerThread; ++i) lumavex_timed_command(1000, "echo serial order");
  };
  finishes_within(20000, "two threads sending commands", [&] {
    std::thread a(sender);
    std::thread b(sender);
    a.join();
    b.join();
  });
  ASSERT_TRUE(sim().wait_for_commands(2 * kPerThread, 5000)) << sim().command_log().size();
  std::vector<uint32_t> serials;
  for (const lvxsim::ReceivedPacket &p : sim().received()) {
    if (simtest::is_command(p, "echo serial order"))
      serials.push_back(lvx::WireReader(p.bytes).u32_at(4));
  }
  ASSERT_EQ(serials.size(), 2u * kPerThread);
  for (size_t i = 1; i < serials.size(); ++i) {
    ASSERT_LT(serials[i - 1], serials[i]) << "at " << i;
  }
}

TEST_F(ThreadedCommands, FormattedCommandWaitsFiveSecondsInAllForASilentTracker) {
  connect_to_tracker(306, "LUMAVEX RX 4.56");  // small packets: sent line by line
  sim().set_command_rule("silent", {0, 0, false, {}});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(eyecmd_printf("silent 1\nsilent 2\nsilent 3\nsilent 4"), NO_REPLY);
  const int64_t ms = simtest::ms_since(start);
  EXPECT_GE(ms, 5000);
  EXPECT_LT(ms, 6000);
  // Every piece was sent, in order, the later ones without waiting.
  ASSERT_TRUE(sim().wait_for_commands(4, 2000));
  EXPECT_EQ(sim().command_log(),
            (std::vector<std::string>{"silent 1", "silent 2", "silent 3", "silent 4"}));

  // An answering tracker is waited for piece by piece as before.
  sim().clear_received();
  sim().set_command_rule("last", {-5, 0, true, {}});
  EXPECT_EQ(eyecmd_printf("first\nlast"), -5);
}

}  // namespace
