// The gaze arithmetic per sample, for a gaze-contingent loop that runs once a sample: at 2000 Hz
// it has 500 us a sample for everything it does. Google Benchmark, one thread, in nanoseconds.
//
// 1. History hand-over: what the receive thread pays per sample item for the velocity history
//    (the copy under the history's lock). Baseline: copying the item alone.
// 2. Velocity per sample, by filter type at 1000 and 2000 Hz: one new sample item into the
//    history, then lumavex_calculate_velocity (which decodes the new item, takes the window and
//    works it out); also lumavex_calculate_overallvelocity_and_acceleration2 (three position
//    sources, velocity and acceleration). Baseline: decoding one sample item into float form,
//    which any reader of the sample pays.
// 3. lumavex_href_to_gaze through the corners a sample carries (both matrices worked out from
//    the sample, both transforms). Baseline: one point through one 3 x 3 matrix with the
//    division.
//
// The samples are the simulated tracker's, binocular, with the corner points. The figures are
// printed beside what a 2000 Hz loop has per sample.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "data/gaze_mapping.h"
#include "data/item_decoder.h"
#include "data/record_conversion.h"
#include "data/velocity_history.h"
#include "lumavex_core.h"
#include "rate_reporter.h"
#include "sim/data_items.h"
#include "sim/stream.h"

namespace {

// Sample items of the simulated eye (the bytes after each item header) and one decoded sample.
struct Samples {
  std::vector<std::vector<uint8_t>> items;
  compact_float_sample newest{};
};

Samples make_samples(int rate_hz, size_t count) {
  lvxsim::StreamConfig c;
  c.rate_hz = rate_hz;
  c.events = false;
  c.href_corners = true;
  c.screen_tilt_deg = 10;
  lvxsim::StreamEngine engine(c, 1'000'000'000, 1);
  Samples s;
  while (s.items.size() < count) {
    for (const lvxsim::SentSample &sent : engine.next_packet().samples) {
      s.items.push_back(lvxsim::build::sample_body(sent.wire));
    }
  }
  lvx::DecoderState decoder;
  link_state status{};
  status.position_prescaler = 10;
  link_data_item item{};
  float_data f{};
  lvx::decode_sample(s.items.back(), decoder, status, item);
  lvx::to_float(item, status, f);
  std::memcpy(&s.newest, &f.fs, sizeof s.newest);
  return s;
}

void start_history(float rate) {
  lvx::velocity_history_reset();
  lvx::velocity_history().sample_rate = rate;
}

void BM_HistoryPut(benchmark::State &state) {
  const Samples s = make_samples(1000, 1000);
  start_history(1000);
  size_t i = 0;
  for (auto _ : state) {
    lvx::velocity_history_put(s.items[i], 10);
    if (++i == s.items.size()) i = 0;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_CopyItem(benchmark::State &state) {
  const Samples s = make_samples(1000, 1000);
  float_data slot{};
  size_t i = 0;
  for (auto _ : state) {
    std::memcpy(slot.raw, s.items[i].data(), s.items[i].size());
    benchmark::DoNotOptimize(slot);
    benchmark::ClobberMemory();
    if (++i == s.items.size()) i = 0;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// Arguments: filter type, sample rate.
void BM_VelocityPerSample(benchmark::State &state) {
  const int filter = static_cast<int>(state.range(0));
  const auto rate = static_cast<int>(state.range(1));
  const Samples s = make_samples(rate, 2000);
  start_history(static_cast<float>(rate));
  for (size_t i = 0; i < 48; ++i) lvx::velocity_history_put(s.items[i], 10);
  size_t i = 48;
  float vel[2];
  compact_float_sample centre;
  for (auto _ : state) {
    lvx::velocity_history_put(s.items[i], 10);
    lumavex_calculate_velocity(filter, vel, &centre);
    benchmark::DoNotOptimize(vel);
    if (++i == s.items.size()) i = 0;
  }
  if (vel[0] == MISSING_VALUE) state.SkipWithError("no velocity");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_AllSourcesPerSample(benchmark::State &state) {
  const Samples s = make_samples(2000, 2000);
  start_history(2000);
  for (size_t i = 0; i < 48; ++i) lvx::velocity_history_put(s.items[i], 10);
  size_t i = 48;
  float out[18];
  float_data centre;
  for (auto _ : state) {
    lvx::velocity_history_put(s.items[i], 10);
    lumavex_calculate_overallvelocity_and_acceleration2(LUMAVEX_FILTER_17, out, &centre);
    benchmark::DoNotOptimize(out);
    if (++i == s.items.size()) i = 0;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_DecodeOneSample(benchmark::State &state) {
  const Samples s = make_samples(2000, 2000);
  lvx::DecoderState decoder;
  link_state status{};
  status.position_prescaler = 10;
  link_data_item item{};
  float_data f{};
  size_t i = 0;
  for (auto _ : state) {
    lvx::decode_sample(s.items[i], decoder, status, item);
    lvx::to_float(item, status, f);
    benchmark::DoNotOptimize(f);
    if (++i == s.items.size()) i = 0;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_HrefToGaze(benchmark::State &state) {
  const Samples s = make_samples(1000, 10);
  {
    // The display's rectangle, as lumavex_initialize_mapping sets it for a tracker that has one.
    lvx::MappingRecord &m = lvx::mapping_record();
    std::lock_guard lock(m.lock);
    m.display = lvx::square_to_quad(
        {lvx::Point2{0, 0}, lvx::Point2{1023, 0}, lvx::Point2{0, 767}, lvx::Point2{1023, 767}});
    m.display_inverse = lvx::adjugate(m.display);
    m.ready = true;
  }
  const float hx = s.newest.href_x[0], hy = s.newest.href_y[0];
  int result = 0;
  for (auto _ : state) {
    float x = hx, y = hy;
    result |= lumavex_href_to_gaze(&x, &y, &s.newest);
    benchmark::DoNotOptimize(x);
    benchmark::DoNotOptimize(y);
  }
  if (result != 0) state.SkipWithError("href_to_gaze failed");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_MatrixPoint(benchmark::State &state) {
  const lvx::Matrix3 m = lvx::square_to_quad({lvx::Point2{-3000, -2300}, lvx::Point2{3100, -2200},
                                              lvx::Point2{-3300, 2400}, lvx::Point2{3400, 2500}});
  float x = 123, y = 456;
  for (auto _ : state) {
    benchmark::DoNotOptimize(x);
    const float w = x * m[2] + y * m[5] + m[8];
    const float nx = (x * m[0] + y * m[3] + m[6]) / w;
    const float ny = (x * m[1] + y * m[4] + m[7]) / w;
    benchmark::DoNotOptimize(nx);
    benchmark::DoNotOptimize(ny);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RegisterBenchmark("HistoryPut", BM_HistoryPut);
  benchmark::RegisterBenchmark("CopyItem", BM_CopyItem);
  benchmark::RegisterBenchmark("VelocityPerSample", BM_VelocityPerSample)
      ->ArgNames({"filter", "hz"})
      ->Args({1, 1000})
      ->Args({2, 1000})
      ->Args({3, 1000})
      ->Args({4, 1000})
      ->Args({2, 2000})
      ->Args({4, 2000});
  benchmark::RegisterBenchmark("AllSourcesPerSample", BM_AllSourcesPerSample);
  benchmark::RegisterBenchmark("DecodeOneSample", BM_DecodeOneSample);
  benchmark::RegisterBenchmark("HrefToGaze", BM_HrefToGaze);
  benchmark::RegisterBenchmark("MatrixPoint", BM_MatrixPoint);
  bench::RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  constexpr double kBudgetNs = 500'000;  // one sample at 2000 Hz
  std::printf("\nper sample, against the %.0f us a 2000 Hz loop has:\n", kBudgetNs / 1000);
  for (const auto &[name, rate] : reporter.rates) {
    const double ns = 1e9 / rate;
    std::printf("  %-42s %9.1f ns  (%.3f %% of a sample's time)\n", name.c_str(), ns,
                100.0 * ns / kBudgetNs);
  }
  const bool measured = reporter.rates.count("VelocityPerSample/filter:4/hz:2000") != 0 &&
                        reporter.rates.count("HrefToGaze") != 0;
  return measured ? 0 : 1;
}
