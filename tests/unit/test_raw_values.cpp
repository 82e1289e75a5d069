// Raw camera values: what the simulated tracker packs from its synthetic eye (both packings, both
// eyes, through blinks) comes back unpacked; the packings' edge cases; the overlap correction.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "data/item_decoder.h"
#include "data/raw_values.h"
#include "data/record_conversion.h"
#include "lumavex_core.h"
#include "sim/stream.h"

namespace {

constexpr float kMissing = -32768.0f;

void expect_same(const raw_values &got, const raw_values &sent) {
  EXPECT_NEAR(got.pupil_raw_x, sent.pupil_raw_x, 1e-3f);
  EXPECT_NEAR(got.pupil_raw_y, sent.pupil_raw_y, 1e-3f);
  EXPECT_NEAR(got.cr_raw_x, sent.cr_raw_x, 1e-3f);
  EXPECT_NEAR(got.cr_raw_y, sent.cr_raw_y, 1e-3f);
  EXPECT_NEAR(got.pupil_cr_x, sent.pupil_cr_x, 1e-3f);
  EXPECT_NEAR(got.pupil_cr_y, sent.pupil_cr_y, 1e-3f);
  EXPECT_EQ(got.pupil_area, sent.pupil_area);
  EXPECT_EQ(got.cr_area, sent.cr_area);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(got.pupil_dim[i], sent.pupil_dim[i]) << i;
    EXPECT_EQ(got.cr_dim[i], sent.cr_dim[i]) << i;
    EXPECT_NEAR(got.aux_point[i], sent.aux_point[i], 1e-4f) << i;
  }
  EXPECT_EQ(got.origin_x, sent.origin_x);
  EXPECT_EQ(got.origin_y, sent.origin_y);
  EXPECT_EQ(got.aux_code, sent.aux_code);
}

// Two seconds of the synthetic eye, blinking often, packed by the simulated tracker, decoded and
// unpacked by the library, against what the tracker packed.
TEST(RawValues, UnpackedAsTheTrackerPackedThem) {
  struct Case {
    lvxsim::RawPacking packing;
    lvxsim::Eyes eyes;
    uint16_t prescaler;
  };
  for (Case c : {Case{lvxsim::RawPacking::kDirect, lvxsim::Eyes::kRight, 10},
                 Case{lvxsim::RawPacking::kFraction, lvxsim::Eyes::kBoth, 10},
                 Case{lvxsim::RawPacking::kFraction, lvxsim::Eyes::kBoth, 7}}) {
    SCOPED_TRACE(static_cast<int>(c.packing) * 100 + c.prescaler);
    lvxsim::StreamConfig config;
    config.raw_camera = c.packing;
    config.eyes = c.eyes;
    config.position_prescaler = c.prescaler;
    config.events = false;
    config.mean_blink_interval_s = 0.6;
    lvxsim::StreamEngine engine(config, 5'000'000, 1);
    lvx::DecoderState decoder;
    link_state status{};
    status.position_prescaler = c.prescaler;
    int found = 0, lost = 0;
    for (int n = 0; n < 2000; ++n) {
      const lvxsim::SentSample s = engine.next_packet().samples.at(0);
      const std::vector<uint8_t> item = lvxsim::build::sample_body(s.wire);
      link_data_item decoded{};
      float_data sample{};
      ASSERT_EQ(lvx::decode_sample(item, decoder, status, decoded), lvx::kSampleRecordSize);
      ASSERT_TRUE(lvx::to_float(decoded, status, sample));
      compact_float_sample compact;
      std::memcpy(&compact, &sample.fs, sizeof compact);
      for (int eye = 0; eye < 2; ++eye) {
        if (!lvxsim::tracks(c.eyes, eye)) continue;
        raw_values got{};
        lvx::unpack_raw_values(compact, eye, c.prescaler, got);
        lvx::set_pupil_minus_cr(got);
        expect_same(got, s.raw[eye]);
        (got.pupil_area != 0 ? found : lost) += 1;
        if (testing::Test::HasFailure()) FAIL() << "sample " << n << " eye " << eye;
      }
    }
    EXPECT_GT(found, 1000);
    EXPECT_GT(lost, 50);  // blinks: no pupil, no reflection
  }
}

// The packings' boundaries on hand-made samples.
TEST(RawValues, PackingBoundaries) {
  compact_float_sample s{};
  raw_values r{};
  // Direct: input 0 puts the origin at (88, 95); aux word 0 counts 1/250 pixel from it.
  s.pupil_size[0] = 900.0f;
  s.aux_data[0] = 250;
  s.aux_data[4] = 900;
  lvx::unpack_raw_values(s, 0, 10, r);
  EXPECT_EQ(r.origin_x, 88);
  EXPECT_EQ(r.origin_y, 95);
  EXPECT_FLOAT_EQ(r.pupil_raw_x, 89.0f);
  EXPECT_EQ(r.aux_code, 0);
  EXPECT_EQ(r.aux_point[0], kMissing);

  // Fraction: a pupil size of -100 is an area of 32600; whole part -32700 with fraction bits 0 is
  // -400 pixels. The gaze field's word 0x010C (dimension 1, fractions 0 and 12) divided by a
  // prescaler of 7 comes back 0x010B when multiplied back and cut rather than rounded.
  s = compact_float_sample{};
  s.pupil_size[1] = -100.0f;
  s.pupil_x[1] = -32700.0f;
  s.pupil_y[1] = -32700.0f;
  s.gaze_x[1] = (0x010C - 32700) / 7.0f;
  lvx::unpack_raw_values(s, 1, 7, r);
  EXPECT_EQ(r.pupil_area, 32600);
  EXPECT_FLOAT_EQ(r.pupil_raw_x, -400.0f);
  EXPECT_FLOAT_EQ(r.pupil_raw_y, -400.0f + 12.0f / 256);
  EXPECT_EQ(r.pupil_dim[1], 1);
  // -32700 and below: no pupil.
  s.pupil_size[1] = -32700.0f;
  lvx::unpack_raw_values(s, 1, 10, r);
  EXPECT_EQ(r.pupil_area, 0);
  EXPECT_EQ(r.pupil_raw_x, kMissing);
  EXPECT_EQ(r.pupil_dim[0], 0);
  // The older function takes only samples whose eyes are both packed directly.
  EXPECT_FALSE(lvx::unpack_raw_values_direct(s, 10, r));
  s.pupil_size[0] = s.pupil_size[1] = 0.0f;
  EXPECT_TRUE(lvx::unpack_raw_values_direct(s, 10, r));
}

raw_values pupil_and_reflection(float px, float py, int area, float cx, float cy, int cr_area) {
  raw_values r{};
  r.pupil_raw_x = px;
  r.pupil_raw_y = py;
  r.pupil_area = area;
  r.cr_raw_x = cx;
  r.cr_raw_y = cy;
  r.cr_area = cr_area;
  return r;
}

TEST(RawValues, OverlapCorrection) {
  // A reflection clear of the pupil changes nothing; scale, gain and difference still apply.
  const raw_values apart = pupil_and_reflection(500, 400, 1200, 600, 380, 50);
  corrected_raw out{};
  lvx::preprocess_raw(5, 3.0f, 1.01f, 1.02f, 0.001f, -0.001f, apart, out);
  EXPECT_EQ(out.pupil_area, 1200);
  EXPECT_FLOAT_EQ(out.pupil_x, 500.0f + 1.2f);
  EXPECT_FLOAT_EQ(out.pupil_y, 400.0f - 1.2f);
  EXPECT_FLOAT_EQ(out.cr_x, 606.0f);
  EXPECT_FLOAT_EQ(out.cr_y, 387.6f);
  EXPECT_FLOAT_EQ(out.diff_x, out.pupil_x - out.cr_x);

  // A reflection wholly inside the pupil hides a disc of its radius and the margin: the corrected
  // area adds it, and the centre moves towards the reflection by the disc's share of the area.
  const double disc = M_PI * std::pow(std::sqrt(50 / M_PI) + 3.0, 2);
  lvx::PupilFit fit =
      lvx::correct_pupil_overlap(pupil_and_reflection(500, 400, 2000, 500, 400, 50), 3.0f, 5);
  EXPECT_EQ(fit.area, std::lround(2000 + disc));
  EXPECT_FLOAT_EQ(fit.x, 500.0f);
  fit = lvx::correct_pupil_overlap(pupil_and_reflection(500, 400, 2000, 506, 400, 50), 3.0f, 5);
  EXPECT_NEAR(fit.x, 500.0 + 6.0 * disc / (2000 + disc), 1e-3);
  EXPECT_EQ(fit.area, std::lround(2000 + disc));
  // Half in, half out: a part of the disc, and more passes converge rather than run away.
  const raw_values edge = pupil_and_reflection(500, 400, 2000, 525, 400, 50);
  const lvx::PupilFit one = lvx::correct_pupil_overlap(edge, 3.0f, 1);
  const lvx::PupilFit five = lvx::correct_pupil_overlap(edge, 3.0f, 5);
  EXPECT_GT(one.area, 2000);
  EXPECT_LT(one.area, std::lround(2000 + disc));
  EXPECT_GT(five.x, 500.0f);
  EXPECT_LT(five.x, 525.0f);
  EXPECT_EQ(lvx::correct_pupil_overlap(edge, 3.0f, 0).area, 2000);
}

}  // namespace
