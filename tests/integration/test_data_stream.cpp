// The data stream against the simulated tracker: samples read back in order and compared with
// what was sent, events, block markers and the status record, lost and repeated packets, the
// newest sample, waiting reads, double forms, compact records and the data-ready callback.
#include <atomic>
#include <chrono>
#include <cstring>
#include <vector>

#include "sim_fixture.h"

namespace {

using simtest::wait_until;

std::atomic<int> g_sample_notices{0};
std::atomic<int> g_event_notices{0};
void count_notice(int reason) {
  (reason == 2 ? g_sample_notices : g_event_notices).fetch_add(1);
}

class DataStream : public simtest::TransportTest {
 protected:
  // Connects, switches delivery on and starts the stream.
  void stream(int n, lvxsim::StreamConfig config = {}, uint16_t delivery = 0x0C) {
    connect_to_tracker(n);
    ASSERT_EQ(lumavex_data_switch(delivery), 0);
    ASSERT_TRUE(sim().start_streaming(config));
  }

  void TearDown() override {
    if (sim_) sim_->stop_streaming();
    lumavex_set_data_ready_notify(nullptr);
    SimTest::TearDown();
  }

  // Reads records in batches until `samples` samples have come, for at most timeout_ms.
  std::vector<float_data> read_until(size_t samples, int timeout_ms = 5000) {
    std::vector<float_data> out;
    size_t seen = 0;
    float_data slots[50];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (seen < samples && std::chrono::steady_clock::now() < deadline) {
      int n = lumavex_wait_for_next_data(slots, 50, 5);
      for (int i = 0; i < n; ++i) {
        out.push_back(slots[i]);
        if (slots[i].head.type == EV_SAMPLE) ++seen;
      }
    }
    return out;
  }

  static std::vector<float_sample> samples_of(const std::vector<float_data> &records) {
    std::vector<float_sample> out;
    for (const float_data &r : records)
      if (r.head.type == EV_SAMPLE) out.push_back(r.fs);
    return out;
  }
};

TEST_P(DataStream, SamplesArriveInOrderWithTheValuesSent) {
  lvxsim::StreamConfig c;
  c.rate_hz = 1000;
  c.events = false;
  c.history = 1000;
  stream(at(90, 231), c);
  std::vector<float_data> records = read_until(300);
  std::vector<float_sample> got = samples_of(records);
  ASSERT_GE(got.size(), 300u);
  // The stream opens with the sample-block marker, before any sample.
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.front().head.type, EV_SAMPLE_BLOCK_START);

  std::vector<lvxsim::SentSample> sent = sim().recent_samples(1000);
  ASSERT_GE(sent.size(), got.size());
  for (size_t i = 0; i < 300; ++i) {
    const lvxsim::SentSample &s = sent[i];
    const float_sample &g = got[i];
    ASSERT_EQ(g.time, s.time_ms) << i;
    EXPECT_EQ(g.flags & SF_HALF_MS, 0);
    for (int eye = 0; eye < 2; ++eye) {
      EXPECT_FLOAT_EQ(g.gaze_x[eye], s.gaze_x[eye]) << i;
      EXPECT_FLOAT_EQ(g.gaze_y[eye], s.gaze_y[eye]) << i;
      EXPECT_FLOAT_EQ(g.href_x[eye], s.href_x[eye]) << i;
      EXPECT_FLOAT_EQ(g.pupil_size[eye], s.pupil_size[eye]) << i;
    }
    EXPECT_FLOAT_EQ(g.res_x, s.res_x);
    if (i > 0) {
      EXPECT_EQ(g.time, got[i - 1].time + 1) << i;  // 1000 Hz: one sample a ms
    }
  }

  const link_state *st = lumavex_data_status();
  EXPECT_EQ(st->record_version, 2u);
  EXPECT_EQ(st->in_sample_block, 1);
  EXPECT_EQ(st->sample_rate_x10, 10000);
  EXPECT_EQ(st->position_prescaler, 10);
  EXPECT_EQ(st->left_eye_present, 1);
  EXPECT_EQ(st->right_eye_present, 1);
  EXPECT_EQ(st->queue_size, 10000000u);
  EXPECT_EQ(st->last_item_type, EV_SAMPLE);
  int16_t rate = 0, hi = 0, mid = 0, lo = 0;
  ASSERT_EQ(lumavex_mode_data(&rate, &hi, &mid, &lo), 0);
  EXPECT_EQ(rate, 1000);
  EXPECT_EQ(lo, 3);  // both eyes
}

// Whether the tests run under a sanitizer, whose slowdown makes timing checks meaningless.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// 2000 samples a second, one per packet, for three seconds: every sample arrives, in order, with
// no lost-data record, and the application keeps pace with the tracker. A receive path that
// paused between packets would fall further behind every second (300 ms or more a second, so
// 900 ms or more by the end); the bound leaves room for a busy shared machine. Read in the double
// form, each sample is half a millisecond after the one before.
TEST_P(DataStream, TwoThousandHertzArrivesWholeInOrderAndKeepsPace) {
  lvxsim::StreamConfig c;
  c.rate_hz = 2000;
  c.events = false;
  c.history = 16;
  stream(at(97, 250), c);
  constexpr size_t kSamples = 6000;
  std::vector<float_data> records = read_until(kSamples, 10000);
  std::vector<float_sample> got = samples_of(records);
  ASSERT_GE(got.size(), kSamples);
  // The sample just read against the newest the tracker has sent.
  const int64_t lag_ms =
      static_cast<int64_t>(sim().stream_stats().last_sample_time) - got.back().time;
  for (const float_data &r : records) ASSERT_NE(r.head.type, EV_LOST_DATA);
  // Two samples a millisecond, the second marked as the half; nothing missing or repeated. (The
  // stream's first sample may stand alone in its millisecond, unmarked.)
  auto key = [](const float_sample &f) {
    return int64_t{f.time} * 2 + ((f.flags & SF_HALF_MS) != 0 ? 1 : 0);
  };
  for (size_t i = 2; i < got.size(); ++i) ASSERT_EQ(key(got[i]), key(got[i - 1]) + 1) << i;
  if (!kSanitized) {
    EXPECT_LE(lag_ms, 500);
  }

  // In the double form the half is folded into the time, and the flag goes.
  ASSERT_TRUE(wait_until([] { return lumavex_data_status()->queued_samples >= 200; }));
  double_data slots[200];
  const int n = lumavex_wait_for_next_double_data(slots, 200, 5);
  ASSERT_GT(n, 100);
  int samples = 0;
  double last = 0;
  for (int i = 0; i < n; ++i) {
    if (slots[i].head.type != EV_SAMPLE) continue;
    EXPECT_EQ(slots[i].fs.flags & SF_HALF_MS, 0);
    if (samples++ > 0) {
      EXPECT_DOUBLE_EQ(slots[i].fs.time - last, 0.5) << i;
    }
    last = slots[i].fs.time;
  }
}

TEST_P(DataStream, EventsMatchTheEventsSent) {
  lvxsim::StreamConfig c;
  c.rate_hz = 1000;
  c.seed = 7;
  stream(at(91, 232), c);
  std::vector<float_data> records = read_until(1500, 8000);
  std::vector<float_event> parsed;
  bool event_block = false;
  for (const float_data &r : records) {
    if (r.head.type == EV_EVENT_BLOCK_START) event_block = true;
    if (r.head.type >= 1 && r.head.type <= 10) parsed.push_back(r.fe);
  }
  EXPECT_TRUE(event_block);
  ASSERT_GE(parsed.size(), 4u);  // 1.5 s of eye movements hold several fixations and saccades
  std::vector<lvxsim::SentEvent> sent;
  for (const lvxsim::SentEvent &e : sim().recent_events(4096))
    if (e.parsed) sent.push_back(e);
  ASSERT_GE(sent.size(), parsed.size());
  for (size_t i = 0; i < parsed.size(); ++i) {
    const float_event &g = parsed[i];
    const lvxsim::SentEvent &s = sent[i];
    ASSERT_EQ(g.type, s.type) << i;
    EXPECT_EQ(g.eye, s.eye) << i;
    EXPECT_EQ(g.time, s.time) << i;
    EXPECT_EQ(g.read, s.read) << i;
    EXPECT_FLOAT_EQ(g.start_x, s.floats.start_x) << i;
    EXPECT_FLOAT_EQ(g.end_y, s.floats.end_y) << i;
    EXPECT_FLOAT_EQ(g.avg_velocity, s.floats.avg_velocity) << i;
  }
  EXPECT_EQ(lumavex_data_status()->in_event_block, 1);
}

TEST_P(DataStream, LostPacketsAreReportedAndRepeatsDropped) {
  lvxsim::StreamConfig c;
  c.rate_hz = 1000;
  c.events = false;
  stream(at(92, 233), c);
  std::vector<float_sample> before = samples_of(read_until(50));
  ASSERT_GE(before.size(), 50u);
  sim().drop_next_packets(3);
  sim().duplicate_next_packet();
  std::vector<float_data> records = read_until(100);
  size_t lost_at = records.size();
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].head.type == EV_LOST_DATA) {
      lost_at = i;
      break;
    }
  }
  ASSERT_LT(lost_at, records.size()) << "no lost-data record";
  std::vector<float_sample> got = samples_of(records);
  ASSERT_FALSE(before.empty());
  got.insert(got.begin(), before.at(before.size() - 1));
  // Samples before and after the gap: three ms missing, none repeated.
  int gaps = 0;
  for (size_t i = 1; i < got.size(); ++i) {
    ASSERT_GT(got[i].time, got[i - 1].time) << "repeated or out of order at " << i;
    if (got[i].time - got[i - 1].time == 4) ++gaps;
  }
  EXPECT_EQ(gaps, 1);
}

TEST_P(DataStream, NewestSampleResultsAndWaitingReads) {
  connect_to_tracker(at(93, 234));
  ASSERT_EQ(lumavex_data_switch(0x0C), 0);
  float_sample fs{};
  EXPECT_EQ(lumavex_newest_float_sample2(&fs), -1);  // nothing yet
  auto start = std::chrono::steady_clock::now();
  float_data slot;
  EXPECT_EQ(lumavex_wait_for_next_data(&slot, 1, 0), 0);  // 20 rounds of up to 10 ms
  EXPECT_GE(simtest::ms_since(start), 150);

  lvxsim::StreamConfig c;
  c.rate_hz = 250;
  c.events = false;
  ASSERT_TRUE(sim().start_streaming(c));
  ASSERT_TRUE(wait_until([] { return lumavex_newest_float_sample(nullptr) == 1; }));
  sim().stop_streaming();
  ASSERT_TRUE(wait_until([] {
    return lumavex_data_status()->in_sample_block == 0 ||
           lumavex_get_next_data(nullptr) == EV_SAMPLE_BLOCK_END;
  }));
  float_sample first{}, second{};
  int r1 = lumavex_newest_float_sample2(&first);
  EXPECT_GE(r1, 0);
  EXPECT_EQ(lumavex_newest_float_sample2(&second), 0);  // the same sample again
  EXPECT_EQ(first.time, second.time);
  EXPECT_FLOAT_EQ(first.gaze_x[0], second.gaze_x[0]);
  EXPECT_EQ(first.time, sim().stream_stats().last_sample_time);
  double_sample ds{};
  EXPECT_EQ(lumavex_newest_double_sample2(&ds), 0);
  EXPECT_DOUBLE_EQ(ds.time, first.time);
}

TEST_P(DataStream, DeliverySwitchesAndTheDataReadyCallback) {
  g_sample_notices = 0;
  g_event_notices = 0;
  lumavex_set_data_ready_notify(count_notice);
  EXPECT_EQ(lumavex_get_data_ready_notify(), &count_notice);
  lvxsim::StreamConfig c;
  c.rate_hz = 500;
  stream(at(95, 236), c, 0x04);  // samples only
  ASSERT_TRUE(wait_until([] { return g_sample_notices.load() >= 20; }));
  ASSERT_TRUE(sim().inject_button(0x0001));
  std::vector<float_data> records = read_until(60);
  bool markers = false;
  for (const float_data &r : records) {
    EXPECT_NE(r.head.type, EV_BUTTONS);  // events are not delivered
    EXPECT_FALSE(r.head.type >= 1 && r.head.type <= 10);
    if (r.head.type == EV_SAMPLE_BLOCK_START) markers = true;  // markers always are
  }
  EXPECT_TRUE(markers);
  EXPECT_EQ(g_event_notices.load(), 0);
  EXPECT_EQ(lumavex_data_status()->queued_events, 0);
}

TEST_P(DataStream, ButtonsMessagesAndCompactRecords) {
  start_tracker(at(96, 237));  // first: over TCP, opening the system connects to it
  ASSERT_EQ(open_lumavex_system(20000, nullptr), -1);  // a scripting host: compact records
  ASSERT_EQ(lumavex_open(), 0);
  lumavex_reset_data(1);
  ASSERT_EQ(lumavex_data_switch(0x0C), 0);
  lvxsim::StreamConfig c;
  c.rate_hz = 250;
  ASSERT_TRUE(sim().start_streaming(c));
  ASSERT_TRUE(wait_until([] { return lumavex_newest_float_sample(nullptr) == 1; }));
  ASSERT_TRUE(sim().inject_button(0x0004));
  ASSERT_EQ(lumavex_send_message("TRIAL_VAR condition easy"), 0);
  bool button = false, message = false;
  for (int i = 0; i < 2000 && !(button && message); ++i) {
    int type = lumavex_wait_for_next_data(nullptr, 0, 5);
    if (type == EV_BUTTONS) {
      button = true;
      uint8_t slot[sizeof(float_data)];
      std::memset(slot, 0xEE, sizeof slot);
      ASSERT_EQ(lumavex_get_float_data(slot), EV_BUTTONS);
      io_event io;
      std::memcpy(&io, slot, sizeof io);
      EXPECT_EQ(io.data, 0x0004);
      EXPECT_EQ(slot[8], 0xEE);  // a compact button record is 8 bytes
    } else if (type == EV_MESSAGE) {
      message = true;
      float_data slot;
      ASSERT_EQ(lumavex_get_float_data(&slot), EV_MESSAGE);
      EXPECT_STREQ(slot.im.text, "TRIAL_VAR condition easy");
      EXPECT_EQ(slot.im.length, 24);
    }
  }
  EXPECT_TRUE(button);
  EXPECT_TRUE(message);
}

// After a data reset the status shows a resolution of 220; samples decoded from then on report
// the resolution last carried since the reset, 0 while none has come.
TEST_P(DataStream, ResolutionAfterADataReset) {
  lvxsim::StreamConfig c;
  c.rate_hz = 500;
  c.events = false;
  c.sample_content = static_cast<uint16_t>(lvxsim::kDefaultSampleContent & ~SF_RESOLUTION);
  stream(at(300, 320), c);
  ASSERT_EQ(lumavex_reset_data(1), 0);
  const link_state *st = lumavex_data_status();
  EXPECT_EQ(st->last_res_x, 220);
  EXPECT_EQ(st->last_res_y, 220);
  float_data slot{};
  int type = 0;
  for (int i = 0; i < 200 && type != EV_SAMPLE; ++i) {
    type = lumavex_wait_for_next_data(&slot, 1, 5) == 1 ? slot.head.type : 0;
  }
  ASSERT_EQ(type, EV_SAMPLE);
  EXPECT_EQ(slot.fs.res_x, -32768.0f);  // not in the sample
  st = lumavex_data_status();
  EXPECT_EQ(st->last_res_x, 0);
  EXPECT_EQ(st->last_res_y, 0);
}

// lumavex_data_status hands out one record: a pointer the application keeps shows what each
// later read took out, without asking again.
TEST_P(DataStream, AKeptStatusPointerShowsEachRead) {
  lvxsim::StreamConfig c;
  c.rate_hz = 500;
  c.events = false;
  stream(at(308, 328), c);
  const link_state *kept = lumavex_data_status();
  ASSERT_TRUE(wait_until([] { return lumavex_data_status()->queued_samples > 10; }));
  EXPECT_EQ(lumavex_data_status(), kept);
  int type = 0;
  for (int i = 0; i < 200 && type != EV_SAMPLE; ++i) type = lumavex_get_next_data(nullptr);
  ASSERT_EQ(type, EV_SAMPLE);
  EXPECT_EQ(kept->last_item_type, EV_SAMPLE);
  const uint32_t time = kept->last_item_time;
  float_data slot{};
  ASSERT_EQ(lumavex_get_all_float_data(&slot, 1), 1);
  ASSERT_EQ(slot.head.type, EV_SAMPLE);
  EXPECT_EQ(kept->last_item_time, slot.fs.time);
  EXPECT_GT(kept->last_item_time, time);
}

INSTANTIATE_TEST_SUITE_P(Transports, DataStream, simtest::kBothTransports, simtest::transport_name);

}  // namespace
