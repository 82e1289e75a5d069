// Sample and event items decoded from hand-written bytes, and the float and double forms built
// from them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "data/item_decoder.h"
#include "data/record_conversion.h"
#include "lumavex_core.h"

// The layouts the decoders and conversions write through, beyond those the public interface
// tests already pin down.
static_assert(offsetof(link_event_item, read) == 6 && offsetof(message_event, length) == 6);
static_assert(offsetof(link_sample_item, block3) == 156);
static_assert(offsetof(double_message_event, text) == 12);
// The compact double sample is its first 100 bytes; the struct itself rounds up to 104.
static_assert(offsetof(double_sample, extra_a) == 100 && sizeof(compact_double_sample) == 104);

namespace {

constexpr float kMissing = -32768.0f;
constexpr float kWireMissing = 100000000.0f;

// Big-endian item bytes, written field by field.
class Wire {
 public:
  Wire &u8(unsigned v) { return b_.push_back(static_cast<uint8_t>(v)), *this; }
  Wire &u16(unsigned v) { return u8(v >> 8).u8(v); }
  Wire &u32(uint32_t v) { return u16(v >> 16).u16(v & 0xFFFF); }
  Wire &f32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return u32(bits);
  }
  Wire &fill(size_t n, uint8_t v) { return b_.insert(b_.end(), n, v), *this; }
  Wire &append(const Wire &w) { return b_.insert(b_.end(), w.b_.begin(), w.b_.end()), *this; }
  Wire &text(const std::string &s) { return b_.insert(b_.end(), s.begin(), s.end()), *this; }
  lvx::Bytes bytes() const { return b_; }
  int size() const { return static_cast<int>(b_.size()); }

 private:
  std::vector<uint8_t> b_;
};

// The first word of an event item.
unsigned event_word(int type, unsigned extra_bits = 0) {
  return (static_cast<unsigned>(type) << 8) | extra_bits;
}

class ItemDecoder : public testing::Test {
 protected:
  void SetUp() override {
    // The stream state after a data reset.
    status.position_prescaler = 10;
    status.velocity_prescaler = 10;
    status.pupil_prescaler = 1;
    status.rate_word = 1;
    status.last_res_x = status.last_res_y = 220;
  }
  int sample(const Wire &w) { return lvx::decode_sample(w.bytes(), state, status, item); }
  int event(const Wire &w) { return lvx::decode_event(w.bytes(), state, status, item); }
  float_data as_float() {
    float_data f;
    std::memset(&f, 0, sizeof f);
    EXPECT_TRUE(lvx::to_float(item, status, f));
    return f;
  }

  lvx::DecoderState state;
  link_state status{};
  link_data_item item{};
};

// A sample that carries nothing but its time, wrapped around the given block chain bytes.
Wire block_sample(const Wire &chain) {
  return Wire().u16(SF_SAMPLE | SF_FULL_TIME | SF_BLOCKS).u32(100).append(chain);
}

// ---- Samples ----------------------------------------------------------------------------------

TEST_F(ItemDecoder, FieldsInWireOrderAndOneEyeOnly) {
  // Values in plain order and range are compared with what the simulated tracker sent in the
  // data-stream tests; here the orders and values that a slip would mix up.
  const unsigned flags = SF_SAMPLE | SF_FULL_TIME | SF_LEFT | SF_RIGHT | SF_PUPIL_XY | SF_GAZE_XY |
                         SF_RESOLUTION | SF_PUPIL_SIZE | SF_STATUS | SF_INPUT | SF_BUTTONS | SF_AUX;
  Wire w;
  w.u16(flags).u32(5000);
  w.u16(100).u16(0xFF38).u16(300).u16(400);       // pupil: left x, left y, right x, right y
  w.u16(5120).u16(3840).u16(0xFFCE).u16(0x8000);  // gaze, the right y missing
  w.u16(372).u16(380);                            // resolution
  w.u16(1500).u16(0xFFFE);                        // pupil sizes
  w.u16(0x1234).u16(0x00FF).u16(0x0003);          // status, input, buttons
  w.u8(0x23).u16(7).u16(8).u16(9);                // aux type, 3 words
  ASSERT_EQ(sample(w), 212);
  EXPECT_EQ(item.sample.aux_data[2], 9);
  EXPECT_EQ(item.sample.aux_data[3], 0);
  EXPECT_EQ(status.last_res_y, 380);
  EXPECT_EQ(state.last_status, 0x1234);
  float_sample f = as_float().fs;
  EXPECT_EQ(f.pupil_y[0], -200.0f);
  EXPECT_EQ(f.pupil_x[1], 300.0f);
  EXPECT_EQ(f.gaze_x[1], -5.0f);
  EXPECT_EQ(f.gaze_y[1], kMissing);
  EXPECT_FLOAT_EQ(f.res_x, 37.2f);
  EXPECT_EQ(f.pupil_size[1], -2.0f);  // above 0x8000: value - 65536
  EXPECT_EQ(f.buttons, 3);

  // One eye: the other keeps its absent values, and no size is read in its place.
  Wire left;
  left.u16(SF_SAMPLE | SF_FULL_TIME | SF_LEFT | SF_PUPIL_XY | SF_PUPIL_SIZE | SF_STATUS).u32(1);
  left.u16(11).u16(12).u16(900).u16(0x4321);
  ASSERT_EQ(sample(left), 212);
  EXPECT_EQ(item.sample.pupil_size[1], 0x8000);
  EXPECT_EQ(item.sample.status, 0x4321);
  EXPECT_EQ(as_float().fs.pupil_x[1], kMissing);
  ASSERT_EQ(sample(Wire().u16(SF_SAMPLE | SF_FULL_TIME | SF_RIGHT | SF_PUPIL_SIZE).u32(2).u16(700)),
            212);
  EXPECT_EQ(item.sample.pupil_size[0], 0x8000);
  EXPECT_EQ(item.sample.pupil_size[1], 700);
  EXPECT_EQ(status.last_pupil_size[0], 900);  // the eye not carried keeps its last size

  // The input and button words each follow their own flag.
  ASSERT_EQ(sample(Wire().u16(SF_SAMPLE | SF_FULL_TIME | SF_BUTTONS).u32(3).u16(0x0102)), 212);
  EXPECT_EQ(item.sample.buttons, 0x0102);
  EXPECT_EQ(item.sample.input, 0x8000);
  ASSERT_EQ(sample(Wire().u16(SF_SAMPLE | SF_FULL_TIME | SF_INPUT).u32(4).u16(0x0304)), 212);
  EXPECT_EQ(item.sample.input, 0x0304);
  EXPECT_EQ(item.sample.buttons, 0);
}

TEST_F(ItemDecoder, DeltaTimesCountFromThePreviousSample) {
  // The first delta after a reset counts from 0; the 32-bit time wraps.
  const struct {
    bool full;
    uint32_t value, want;
  } steps[] = {
      {false, 7, 7}, {true, 0xFFFFFF00, 0xFFFFFF00}, {false, 4, 0xFFFFFF04}, {false, 255, 3}};
  for (const auto &t : steps) {
    Wire w;
    w.u16(SF_SAMPLE | (t.full ? SF_FULL_TIME : 0));
    t.full ? w.u32(t.value) : w.u8(t.value);
    ASSERT_EQ(sample(w), 212);
    EXPECT_EQ(item.sample.time, t.want);
  }
  EXPECT_EQ(state.sample_count, 4u);
  EXPECT_EQ(status.block_sample_count, 4u);
}

TEST_F(ItemDecoder, AuxCountIsClampedToEightAndSkipChunksEndTheItem) {
  // Count 15 is read as 8 words. A skip chunk of zeros follows: read as further aux words, it
  // would leave its end byte over.
  Wire w;
  w.u16(SF_SAMPLE | SF_FULL_TIME | SF_AUX | SF_SKIP_CHUNKS).u32(1).u8(0x1F);
  for (unsigned i = 1; i <= 8; ++i) w.u16(i * 10);
  w.u8(13).fill(14, 0x00).u8(0);
  ASSERT_EQ(sample(w), 212);
  EXPECT_EQ(item.sample.aux_type, 0x1F);
  EXPECT_EQ(item.sample.aux_data[7], 80);

  // Skip chunks after a closed block chain.
  w = Wire();
  w.u16(SF_SAMPLE | SF_FULL_TIME | SF_BLOCKS | SF_SKIP_CHUNKS).u32(1);
  w.u8(0);                // empty block chain
  w.u8(1).fill(2, 0xAA);  // chunk of 1 + 1 bytes
  w.u8(3).fill(4, 0x00);  // zero bytes inside a chunk do not end the chain
  w.u8(0);
  EXPECT_EQ(sample(w), 212);

  Wire longer = w;
  longer.u8(0x42);
  EXPECT_EQ(sample(longer), -2);
}

TEST_F(ItemDecoder, TypeTwoBlockTakesOverTheGaze) {
  Wire w;
  w.u16(SF_SAMPLE | SF_FULL_TIME | SF_LEFT | SF_RIGHT | SF_GAZE_XY | SF_BLOCKS).u32(1);
  w.u16(100).u16(200).u16(300).u16(400);
  w.u8(92).u8(2);
  for (int i = 1; i <= 12; ++i) {
    w.f32(i == 5 ? kWireMissing : i == 12 ? std::nanf("") : static_cast<float>(i));
  }
  w.u32(0xDEADBEEF);
  for (int i = 21; i <= 26; ++i) w.f32(static_cast<float>(i));
  w.f32(31.5f).f32(32.5f).f32(33.5f).f32(34.5f);
  w.u8(0);
  ASSERT_EQ(sample(w), 212);

  const link_sample_item &s = item.sample;
  EXPECT_EQ(s.gaze_x[0], -32768);
  EXPECT_EQ(s.gaze_y[1], -32768);
  EXPECT_EQ(s.block[4], kMissing);  // 1e8 on the wire
  EXPECT_TRUE(std::isnan(s.block[11]));

  const float_sample f = as_float().fs;
  EXPECT_EQ(f.gaze_x[0], 31.5f);
  EXPECT_EQ(f.gaze_y[1], 34.5f);
  EXPECT_EQ(f.extra_d[1][1], kMissing);
  EXPECT_EQ(f.extra_c[1], 6.0f);
  EXPECT_TRUE(std::isnan(f.extra_a[1][2]));
  EXPECT_EQ(f.extra_word, 0xDEADBEEFu);
  EXPECT_EQ(f.extra_b[1][2], 26.0f);
}

TEST_F(ItemDecoder, IntegerBlockAndShortTypeThreeBlockInOneChain) {
  Wire chain;
  chain.u8(24).u8(1);
  for (int i = 1; i <= 12; ++i) chain.u16(i == 5 ? 0xFFFB : i == 12 ? 0x8000 : unsigned(i));
  chain.u8(56).u8(3).f32(1.5f).f32(2.5f).f32(3.5f).f32(4.5f);
  for (int i = 0; i < 5; ++i) chain.f32(10.0f + static_cast<float>(i));
  for (int i = 0; i < 5; ++i) chain.f32(20.0f + static_cast<float>(i));
  chain.u8(0);
  Wire w;
  w.u16(SF_SAMPLE | SF_FULL_TIME | SF_LEFT | SF_GAZE_XY | SF_BLOCKS).u32(1).u16(250).u16(0x8000);
  ASSERT_EQ(sample(w.append(chain)), 212);
  EXPECT_EQ(item.sample.block[4], -5.0f);
  EXPECT_EQ(item.sample.block[11], kMissing);

  const float_sample f = as_float().fs;
  // One integer gaze value is present, so the integer gaze is kept and scaled.
  EXPECT_EQ(f.gaze_x[0], 25.0f);
  EXPECT_EQ(f.gaze_y[0], kMissing);
  EXPECT_EQ(f.extra_d[1][1], -5.0f);
  EXPECT_EQ(f.extra_a[1][2], kMissing);
  EXPECT_EQ(f.extra3_lead[1], 2.5f);
  EXPECT_EQ(f.extra3_points[4][0], 14.0f);
}

TEST_F(ItemDecoder, CandidatePointPrefersThirdThenFirstThenSecond) {
  struct Case {
    float x[3], y[3];
    float want_x, want_y;
  };
  const float M = kWireMissing;
  const Case cases[] = {
      {{1, 2, 3}, {4, 5, M}, 1, 4},  // third lacks y, first complete
      {{1, 2, 3}, {4, 5, 6}, 3, 6},  // third complete
      {{M, 2, 3}, {4, 5, M}, 2, 5},  // only the second complete
      {{M, 2, M}, {4, M, 6}, kMissing, kMissing},
  };
  for (const Case &c : cases) {
    Wire chain;
    chain.u8(72).u8(3).f32(0.25f).f32(0.75f);
    for (float v : c.x) chain.f32(v);
    for (float v : c.y) chain.f32(v);
    for (int i = 0; i < 10; ++i) chain.f32(static_cast<float>(100 + i));
    chain.u8(0);
    ASSERT_EQ(sample(block_sample(chain)), 212);
    EXPECT_EQ(item.sample.block3[2], c.want_x) << c.want_x;
    EXPECT_EQ(item.sample.block3[3], c.want_y) << c.want_y;
    EXPECT_EQ(item.sample.block3[1], 0.75f);
    EXPECT_EQ(item.sample.block3[13], 109.0f);
  }
}

TEST_F(ItemDecoder, UnknownBlocksAreSkipped) {
  // An unknown length skips len bytes after its type byte; a known length with the wrong type
  // skips len - 1. The type-1 block after them lands only if both counts are right.
  Wire chain;
  chain.u8(5).u8(9).fill(5, 0xEE);
  chain.u8(24).u8(7).fill(23, 0xEE);
  chain.u8(24).u8(1);
  for (int i = 1; i <= 12; ++i) chain.u16(unsigned(i) * 100);
  chain.u8(0);
  ASSERT_EQ(sample(block_sample(chain)), 212);
  EXPECT_EQ(item.sample.block[0], 100.0f);
  EXPECT_EQ(item.sample.block[11], 1200.0f);

  // The skip stops at the item's end.
  Wire to_end;
  to_end.u16(SF_SAMPLE | SF_FULL_TIME | SF_BLOCKS | SF_SKIP_CHUNKS).u32(1);
  to_end.u8(30).u8(1).fill(10, 0x05);
  EXPECT_EQ(sample(to_end), 212);
}

TEST_F(ItemDecoder, ResultCodesAndBoundaries) {
  EXPECT_EQ(sample(Wire().u16(SF_FULL_TIME).u32(1)), -1);
  EXPECT_EQ(lvx::decode_sample({}, state, status, item), -1);
  Wire one;
  one.u8(0x00);
  EXPECT_EQ(sample(one), -1);
  EXPECT_EQ(state.sample_count, 0u);

  Wire extra;
  extra.u16(SF_SAMPLE).u8(1).u8(0x99);
  EXPECT_EQ(sample(extra), -2);
  EXPECT_EQ(state.sample_count, 0u);

  // The status word needs two bytes but one is left: it is not read, the decode still succeeds.
  // Every field the item does not carry takes its absent value.
  Wire short_item;
  short_item.u16(SF_SAMPLE | SF_FULL_TIME | SF_STATUS).u32(50).u8(0x12);
  EXPECT_EQ(sample(short_item), 212);
  EXPECT_EQ(item.sample.status, 0x8000);
  EXPECT_EQ(item.sample.time, 50u);
  EXPECT_EQ(item.sample.gaze_y[0], -32768);
  EXPECT_EQ(item.sample.float_gaze_y[1], kMissing);
  EXPECT_EQ(state.sample_count, 1u);
  const float_sample f = as_float().fs;
  EXPECT_EQ(f.res_y, kMissing);
  EXPECT_EQ(f.extra3_points[4][1], kMissing);
}

// ---- Events -----------------------------------------------------------------------------------

TEST_F(ItemDecoder, ParsedEventTagsAndScaling) {
  status.velocity_prescaler = 4;
  status.block_event_count = 3;
  Wire w;
  w.u16(event_word(ENDSACC, 0x4000 | 0x0080));
  w.u8(0x21).u32(1000).u8(0x41).u32(1100);
  w.u8(0x2A).u16(5120).u16(3840);
  w.u8(0x4A).u16(1000).u16(0xF830);
  w.u8(0x6A).u16(0x8000).u16(100);
  w.u8(0x29).u16(11).u16(12).u8(0x49).u16(13).u16(14).u8(0x69).u16(15).u16(0xFFF0);
  w.u8(0x30).u16(800).u8(0x51).u16(810).u8(0x72).u16(805);
  w.u8(0x33).u16(400).u8(0x53).u16(500).u8(0x73).u16(450).u8(0x93).u16(0x8000);
  w.u8(0x2B).u16(372).u16(380).u8(0x4B).u16(374).u16(382);
  w.u8(0x55).u16(0x7777);  // not used by parsed events
  w.u8(0xB4).u16(0x0005);
  w.u8(0);
  ASSERT_EQ(event(w), 212);
  EXPECT_EQ(state.kind, lvx::KIND_PARSED_EVENT);
  EXPECT_EQ(state.type, ENDSACC);
  EXPECT_EQ(status.last_status, 5);
  EXPECT_EQ(state.last_status, 5);
  EXPECT_EQ(status.block_event_count, 4u);

  const link_event_item &e = item.event;
  EXPECT_EQ(e.eye, 1);
  EXPECT_EQ(e.time, 1100u);  // an end event takes the end time
  EXPECT_EQ(e.read, RF_START | RF_END | RF_AVG | RF_START_POS | RF_END_POS | RF_AVG_POS |
                        RF_END_TIME | RF_PUPIL_SIZE | RF_VELOCITY | RF_RESOLUTION | RF_HREF_XY |
                        RF_GAZE_XY | RF_STATUS);

  const float_event f = as_float().fe;
  EXPECT_EQ(f.end_y, -200.0f);
  EXPECT_EQ(f.avg_y, 10.0f);
  EXPECT_EQ(f.avg_href_y, -16.0f);  // href is never scaled
  EXPECT_EQ(f.avg_pupil_size, 805.0f);
  EXPECT_EQ(f.end_velocity, 125.0f);
  EXPECT_EQ(f.avg_velocity, 112.5f);
  EXPECT_EQ(f.peak_velocity, kMissing);
  EXPECT_FLOAT_EQ(f.end_res_y, 38.2f);
}

TEST_F(ItemDecoder, PupilPositionsAreNotScaledAndStartTimeFallsBack) {
  // Tag 0x28 (pupil) is taken as is; 0x2A (gaze) is divided by the position prescaler. The first
  // word's bits 6 and 7 start the read flags.
  const struct {
    unsigned word_bits;
    uint8_t tag;
    int eye;
    uint16_t read;
    float x;
  } cases[] = {{0x8000, 0x28, 0, RF_START_POS | RF_PUPIL_XY, 5120.0f},
               {0x00C0, 0x2A, -1, RF_END_TIME | RF_PUPIL_SIZE | RF_START_POS | RF_GAZE_XY, 512.0f}};
  for (const auto &c : cases) {
    Wire w;
    w.u16(event_word(ENDFIX, c.word_bits)).u8(c.tag).u16(5120).u16(3840).u8(0);
    ASSERT_EQ(event(w), 212);
    EXPECT_EQ(item.event.eye, c.eye);
    EXPECT_EQ(item.event.read, c.read);
    const float_event f = as_float().fe;
    EXPECT_EQ(f.start_x, c.x);
    EXPECT_EQ(f.start_y, c.x * 0.75f);
    EXPECT_EQ(f.end_x, kMissing);
    EXPECT_EQ(f.start_velocity, kMissing);
  }

  ASSERT_EQ(event(Wire().u16(event_word(ENDBLINK)).u8(0x41).u32(5000).u8(0)), 212);
  EXPECT_EQ(item.event.start_time, 5000u);
  EXPECT_EQ(item.event.time, 5000u);
  ASSERT_EQ(event(Wire().u16(event_word(STARTFIX)).u8(0x21).u32(1000).u8(0x41).u32(2000).u8(0)),
            212);
  EXPECT_EQ(item.event.time, 1000u);  // a start event keeps its start time
}

TEST_F(ItemDecoder, ExtendedBlockFillsExtensionFieldsAndPositions) {
  Wire w;
  w.u16(event_word(ENDFIX)).u8(0x2A).u16(10).u16(20);
  w.u8(0x5E).u16(147).u8(0x00).u8(0x92).u8(0x02);
  for (int i = 1; i <= 36; ++i) w.f32(i == 1 ? kWireMissing : static_cast<float>(100 + i));
  w.u8(0);
  ASSERT_EQ(event(w), 212);
  EXPECT_EQ(item.event.read, RF_START_POS | RF_GAZE_XY | RF_EXTENDED);

  const float_event f = as_float().fe;
  EXPECT_EQ(f.ext_pairs_a[0][0], kMissing);
  EXPECT_EQ(f.ext_pairs_a[2][1], 106.0f);
  EXPECT_EQ(f.ext_pairs_b[1][0], 108.0f);
  for (int t = 0; t < 3; ++t) {
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(f.ext_triplets_a[t][k], static_cast<float>(113 + 3 * k + t)) << t << k;
      EXPECT_EQ(f.ext_triplets_b[t][k], static_cast<float>(122 + 3 * k + t)) << t << k;
    }
  }
  EXPECT_EQ(f.end_x, 131.0f);
  EXPECT_EQ(f.start_x, 132.0f);  // the block's positions replace the 0x2A ones
  EXPECT_EQ(f.avg_y, 136.0f);

  // Any other payload is stepped over whole: a wrong prefix byte, or another length.
  for (unsigned bad : {0u, 1u, 2u}) {
    uint8_t prefix[3] = {0x00, 0x92, 0x02};
    prefix[bad] ^= 0x01;
    Wire other;
    other.u16(event_word(ENDFIX)).u8(0x2A).u16(10).u16(20);
    other.u8(0x5E).u16(147).u8(prefix[0]).u8(prefix[1]).u8(prefix[2]).fill(144, 0x41).u8(0);
    ASSERT_EQ(event(other), 212);
    EXPECT_EQ(item.event.read & RF_EXTENDED, 0) << bad;
    EXPECT_EQ(as_float().fe.start_x, 1.0f);
    EXPECT_EQ(as_float().fe.ext_pairs_b[0][0], kMissing);
  }
  ASSERT_EQ(event(Wire().u16(event_word(ENDFIX)).u8(0x5E).u16(3).u8(0x00).u8(0x92).u8(0x02).u8(0)),
            212);
  EXPECT_EQ(item.event.read & RF_EXTENDED, 0);
}

TEST_F(ItemDecoder, MessageTextIsCutAt255Bytes) {
  std::string text;
  for (int i = 0; i < 300; ++i) text.push_back(static_cast<char>('a' + i % 26));
  Wire w;
  w.u16(event_word(EV_MESSAGE)).u8(0x21).u32(777).u8(0x5E).u16(300).text(text).u8(0);
  ASSERT_EQ(event(w), 9 + 255);  // the tag walk still ended exactly at the item's end
  EXPECT_EQ(item.message.time, 777u);
  EXPECT_EQ(item.message.length, 255);
  EXPECT_EQ(std::string(item.message.text), text.substr(0, 255));

  ASSERT_EQ(event(Wire().u16(event_word(EV_MESSAGE)).u8(0x21).u32(5).u8(0)), 9);
  EXPECT_EQ(item.message.length, 0);
  EXPECT_EQ(item.message.text[0], '\0');

  // A text longer than the item: only what the item holds is copied.
  EXPECT_EQ(event(Wire().u16(event_word(EV_MESSAGE)).u8(0x5E).u16(50).text("abc")), -2);
  EXPECT_EQ(item.message.length, 3);
  EXPECT_STREQ(item.message.text, "abc");
}

TEST_F(ItemDecoder, BlockMarkersUpdateTheStreamState) {
  status.block_sample_count = 99;
  status.block_event_count = 7;
  // In sample block, in event block, left eye, right eye, block number, first in block.
  auto flags = [this] {
    return std::vector<unsigned>{status.in_sample_block,  status.in_event_block,
                                 status.left_eye_present, status.right_eye_present,
                                 status.block_number,     status.first_in_block};
  };
  Wire start;
  start.u16(event_word(EV_SAMPLE_BLOCK_START));
  start.u8(0x21).u32(9000).u8(0x41).u32(6553u * 5000u + 100u);
  start.u8(0x30).u16(20).u8(0x51).u16(5).u8(0x56).u16(2).u8(0x72).u16(0x0ABC);
  start.u8(0x93).u16(500).u8(0x4B).u16(0x0012).u16(0x7777).u8(0xB4).u16(0x8123).u8(0);
  ASSERT_EQ(event(start), 740);
  EXPECT_EQ(state.kind, lvx::KIND_BLOCK_MARKER);
  EXPECT_EQ(item.head.time, 0u);  // a marker's times go to the stream state
  EXPECT_EQ(status.status_time, 9000u);
  EXPECT_EQ(status.sample_rate_x10, 5000);
  EXPECT_EQ(status.velocity_prescaler, 5);
  EXPECT_EQ(status.pupil_prescaler, 2);
  EXPECT_EQ(status.rate_word, 500);
  EXPECT_EQ(status.tracker_mode_word, 0x8012);
  EXPECT_EQ(status.sample_data_flags, 0x8123);
  EXPECT_EQ(flags(), (std::vector<unsigned>{1, 0, 1, 0, 1, 1}));
  EXPECT_EQ(status.block_sample_count + status.block_event_count, 0u);

  // The event block opens inside the sample block: no new block. Its event-type word has the
  // eye bits the other way round.
  Wire events;
  events.u16(event_word(EV_EVENT_BLOCK_START)).u8(0xB4).u16(0x00FF).u8(0x55).u16(0x8003);
  events.u8(0x93).u16(0).u8(0x72).u16(0x1111).u8(0);
  ASSERT_EQ(event(events), 740);
  EXPECT_EQ(status.event_data_flags, 0x00FF);
  EXPECT_EQ(status.event_type_flags, 0x4003);
  EXPECT_EQ(flags(), (std::vector<unsigned>{1, 1, 0, 1, 1, 0}));
  EXPECT_EQ(status.rate_word, 1);
  EXPECT_EQ(status.sample_block_word, 0x0ABC);  // 0x72 counts on type 15 only
  EXPECT_EQ(status.tracker_mode_word, 0);       // cleared, and no 0x4B to set it
  ASSERT_EQ(event(Wire().u16(event_word(EV_EVENT_BLOCK_START)).u8(0x55).u16(0x4001).u8(0)), 740);
  EXPECT_EQ(status.event_type_flags, 0x8001);
  EXPECT_EQ(flags(), (std::vector<unsigned>{1, 1, 1, 0, 1, 0}));

  ASSERT_EQ(event(Wire().u16(event_word(STARTFIX)).u8(0x21).u32(9100).u8(0)), 212);
  EXPECT_EQ(status.block_event_count, 1u);

  ASSERT_EQ(
      event(
          Wire().u16(event_word(EV_SAMPLE_BLOCK_END)).u8(0x41).u32(9500).u8(0x93).u16(10000).u8(0)),
      740);
  EXPECT_EQ(status.rate_word, 10000);
  EXPECT_EQ(flags(), (std::vector<unsigned>{0, 1, 1, 0, 1, 0}));
  ASSERT_EQ(
      event(
          Wire().u16(event_word(EV_EVENT_BLOCK_END)).u8(0x41).u32(9600).u8(0x93).u16(10001).u8(0)),
      740);
  EXPECT_EQ(status.status_time, 9600u);
  EXPECT_EQ(status.in_event_block, 0);
  EXPECT_EQ(status.block_event_count, 1u);  // markers are not counted as events

  ASSERT_EQ(event(Wire().u16(event_word(EV_SAMPLE_BLOCK_START)).u8(0)), 740);
  EXPECT_EQ(flags(), (std::vector<unsigned>{1, 0, 1, 0, 2, 1}));
}

TEST_F(ItemDecoder, ButtonInputLostDataAndOtherTypes) {
  testing::internal::CaptureStdout();  // the decoder never writes to standard output
  ASSERT_EQ(event(Wire().u16(event_word(EV_INPUT)).u8(0)), 8);
  EXPECT_EQ(item.io.data, 0x8000);
  ASSERT_EQ(event(Wire().u16(event_word(EV_INPUT)).u8(0x56).u16(3).u8(0x55).u16(0x00F0).u8(0)), 8);
  EXPECT_EQ(item.io.data, 0x00F0);

  const uint8_t lost[] = {0x3F, 0x00, 0x00};
  ASSERT_EQ(lvx::decode_event(lost, state, status, item), 8);
  EXPECT_EQ(item.io.type, EV_LOST_DATA);
  EXPECT_EQ(item.io.data, 0);

  ASSERT_EQ(
      event(Wire().u16(event_word(40)).u8(0x21).u32(55).u8(0x56).u16(5).u8(0x55).u16(6).u8(0)), 8);
  EXPECT_EQ(item.io.type, 40);
  EXPECT_EQ(item.io.data, 0);
  EXPECT_EQ(status.block_event_count, 4u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(ItemDecoder, UnknownTagsAreSkipped) {
  Wire w;
  w.u16(event_word(STARTSACC));
  w.u8(0x99).u16(0xAAAA);      // unknown, 16-bit (value at 3)
  w.u8(0x56).u16(0xBBBB);      // a button word on a parsed event (value at 6)
  w.u8(0x0A).u32(0xCCCCCCCC);  // unknown, 32-bit (value at 9)
  w.u8(0x21).u32(42).u8(0);
  EXPECT_EQ(event(w), 212);
  EXPECT_EQ(item.event.time, 42u);
  Wire marker;
  marker.u16(event_word(EV_EVENT_BLOCK_START)).u8(0x28).u16(1).u16(2).u8(0x33).u16(3).u8(0);
  EXPECT_EQ(event(marker), 740);
}

TEST_F(ItemDecoder, ResultCodesAndExtraData) {
  EXPECT_EQ(event(Wire().u16(event_word(STARTFIX, 0x0001)).u8(0)), -1);
  EXPECT_EQ(lvx::decode_event({}, state, status, item), -1);
  EXPECT_EQ(event(Wire().u8(0x05)), -1);

  EXPECT_EQ(event(Wire().u16(event_word(STARTFIX)).u8(0x21).u32(1)), -2);
  EXPECT_EQ(event(Wire().u16(event_word(STARTFIX)).u8(0x21).u16(1)), -2);
  EXPECT_EQ(event(Wire().u16(event_word(STARTFIX)).u8(0x5E).u16(0xFFFF).u8(0)), -2);

  // A marker that fails still opens its block flag but does not start a block.
  EXPECT_EQ(event(Wire().u16(event_word(EV_SAMPLE_BLOCK_START)).u8(0x30).u16(4)), -2);
  EXPECT_EQ(status.in_sample_block, 1);
  EXPECT_EQ(status.position_prescaler, 4);
  EXPECT_EQ(status.block_number, 0u);

  Wire extra;
  extra.u16(event_word(EV_BUTTONS)).u8(0).u8(0xAB).u8(0x01);
  EXPECT_EQ(event(extra), -2);
  EXPECT_EQ(status.block_event_count, 0u);
}

// ---- Conversions ------------------------------------------------------------------------------

TEST_F(ItemDecoder, FloatFormOnlyForSamplesAndParsedEvents) {
  float_data f;
  std::memset(&f, 0xCD, sizeof f);
  for (int type : {0, 11, EV_SAMPLE_BLOCK_START, EV_MESSAGE, EV_BUTTONS, EV_LOST_DATA}) {
    item.head.type = static_cast<int16_t>(type);
    EXPECT_FALSE(lvx::to_float(item, status, f)) << type;
  }
  EXPECT_EQ(f.raw[0], 0xCD);
  EXPECT_EQ(f.raw[267], 0xCD);

  // A prescaler of 0 divides by 1 instead of by zero.
  status.position_prescaler = 0;
  status.velocity_prescaler = 0;
  ASSERT_EQ(
      sample(Wire().u16(SF_SAMPLE | SF_FULL_TIME | SF_LEFT | SF_GAZE_XY).u32(1).u16(123).u16(45)),
      212);
  EXPECT_EQ(as_float().fs.gaze_x[0], 123.0f);
  ASSERT_EQ(event(Wire().u16(event_word(ENDSACC)).u8(0x93).u16(300).u8(0)), 212);
  EXPECT_EQ(as_float().fe.peak_velocity, 300.0f);
}

TEST_F(ItemDecoder, HalfMillisecondSampleInDoubleForm) {
  Wire chain;
  chain.u8(56).u8(3);
  for (int i = 0; i < 14; ++i) chain.f32(static_cast<float>(i) + 0.5f);
  chain.u8(0);
  Wire w;
  w.u16(SF_SAMPLE | SF_FULL_TIME | SF_HALF_MS | SF_BLOCKS | SF_AUX).u32(1000).u8(0x01).u16(77);
  w.append(chain);
  ASSERT_EQ(sample(w), 212);
  double_data d;
  ASSERT_TRUE(lvx::to_double(EV_SAMPLE, as_float(), d));
  EXPECT_EQ(d.fs.time, 1000.5);
  EXPECT_EQ(d.fs.flags, SF_SAMPLE | SF_FULL_TIME | SF_BLOCKS | SF_AUX);  // the half-ms bit goes
  EXPECT_EQ(d.fs.aux_data[0], 77);
  EXPECT_EQ(d.fs.gaze_x[1], kMissing);
  EXPECT_EQ(d.fs.extra3_points[4][1], 13.5f);
}

TEST_F(ItemDecoder, DoubleFormOfEventsAndTypesWithoutOne) {
  // One event of each parsed type; 3..9 have a double form, the blinks and type 10 none.
  for (int type = STARTBLINK; type <= 10; ++type) {
    Wire w;
    w.u16(event_word(type, 0x8000)).u8(0x21).u32(4000000000u).u8(0x41).u32(4000000009u);
    w.u8(0x2A).u16(100).u16(200).u8(0x30).u16(700).u8(0);
    ASSERT_EQ(event(w), 212) << type;
    double_data d;
    std::memset(&d, 0xCD, sizeof d);
    const bool converts = type >= STARTSACC && type <= 9;
    ASSERT_EQ(lvx::to_double(type, as_float(), d), converts) << type;
    if (!converts) {
      // Left as the caller passed it.
      EXPECT_EQ(d.raw[0], 0xCD) << type;
      EXPECT_EQ(d.raw[271], 0xCD) << type;
      continue;
    }
    EXPECT_EQ(d.fe.type, type);
    const bool at_end = type == ENDSACC || type == ENDFIX || type == 8 || type == 9;
    EXPECT_EQ(d.fe.time, at_end ? 4000000009.0 : 4000000000.0) << type;
    EXPECT_EQ(d.fe.end_time, 4000000009.0);
    EXPECT_EQ(d.fe.start_x, 10.0f);
    EXPECT_EQ(d.fe.start_pupil_size, 700.0f);
  }

  // Block markers and the lost-data record come in the event layout, buttons and inputs as io
  // records; every other type has no double form.
  float_data raw;
  std::memset(&raw, 0, sizeof raw);
  raw.io.time = 1234;
  raw.io.data = 0x55;
  for (int type : {EV_SAMPLE_BLOCK_START, EV_EVENT_BLOCK_END, EV_LOST_DATA, EV_BUTTONS, EV_INPUT}) {
    raw.io.type = static_cast<int16_t>(type);
    double_data d;
    std::memset(&d, 0xCD, sizeof d);
    ASSERT_TRUE(lvx::to_double(type, raw, d)) << type;
    EXPECT_EQ(d.io.time, 1234.0) << type;
    EXPECT_EQ(d.io.type, type);
    EXPECT_EQ(d.io.data, 0x55) << type;
  }
  double_data d;
  std::memset(&d, 0xCD, sizeof d);
  for (int type : {-1, 0, 11, 14, 19, 23, 26, 27, 29, 62, 64, 199, 201, 300}) {
    EXPECT_FALSE(lvx::to_double(type, raw, d)) << type;
  }
  EXPECT_EQ(d.raw[0], 0xCD);
  EXPECT_EQ(d.raw[271], 0xCD);
}

}  // namespace
