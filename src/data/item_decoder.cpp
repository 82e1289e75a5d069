#include "data/item_decoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <span>

#include "common/byte_io.h"
#include "link/log.h"

namespace lvx {

namespace {

constexpr float kMissingFloat = static_cast<float>(MISSING_VALUE);
constexpr uint16_t kMissingWord = 0x8000;
constexpr int16_t kMissingInt = MISSING_VALUE;
// The tracker writes exactly this value into a float it has no value for.
constexpr float kWireMissingFloat = 100000000.0f;

// Walks the bytes of one item. A field is read only when it lies wholly inside the item; a field
// that would run past the end keeps whatever the caller had in it (the absent value) but the
// position still moves past it, so the caller sees the overrun from the position alone and the
// left-over and out-of-bound rules decide the result. Nothing past the item is ever touched.
class ItemReader {
 public:
  explicit ItemReader(Bytes bytes) : bytes_(bytes) {}

  size_t pos() const { return pos_; }
  size_t size() const { return bytes_.size(); }
  size_t left() const { return pos_ < bytes_.size() ? bytes_.size() - pos_ : 0; }
  bool fits(size_t n) const { return left() >= n; }
  // A byte `offset` bytes ahead, 0 when it lies outside the item.
  uint8_t peek(size_t offset) const { return get_u8(bytes_, pos_ + offset); }
  const uint8_t *here() const { return bytes_.data() + pos_; }

  bool u8(uint8_t &v) {
    return take(1, [&] { v = get_u8(bytes_, pos_); });
  }
  bool u16(uint16_t &v) {
    return take(2, [&] { v = get_u16(bytes_, pos_); });
  }
  bool i16(int16_t &v) {
    return take(2, [&] { v = static_cast<int16_t>(get_u16(bytes_, pos_)); });
  }
  bool u32(uint32_t &v) {
    return take(4, [&] { v = get_u32(bytes_, pos_); });
  }
  // A big-endian IEEE single; the tracker's "no value" marker becomes the missing value, every
  // other pattern (NaN included) is kept as it came.
  bool f32(float &v) {
    return take(4, [&] {
      const uint32_t bits = get_u32(bytes_, pos_);
      float f;
      std::memcpy(&f, &bits, sizeof f);
      v = f == kWireMissingFloat ? kMissingFloat : f;
    });
  }

  void skip(size_t n) { pos_ += n; }
  // Skips n bytes but stops at the item's end.
  void skip_within(size_t n) {
    if (pos_ < bytes_.size()) pos_ += std::min(n, bytes_.size() - pos_);
  }

 private:
  template <class Read>
  bool take(size_t n, Read read) {
    const bool ok = fits(n);
    if (ok) read();
    pos_ += n;
    return ok;
  }

  Bytes bytes_;
  size_t pos_ = 0;
};

Bytes item_bytes(const uint8_t *item, int length) {
  if (item == nullptr || length <= 0) return {};
  return Bytes(item, static_cast<size_t>(length));
}

// ---- Samples ----------------------------------------------------------------------------------

void set_sample_defaults(link_sample_item &s) {
  s.time = 0;
  s.type = EV_SAMPLE;
  s.flags = 0;
  for (int e = 0; e < 2; ++e) {
    s.pupil_x[e] = s.pupil_y[e] = kMissingInt;
    s.href_x[e] = s.href_y[e] = kMissingInt;
    s.gaze_x[e] = s.gaze_y[e] = kMissingInt;
    s.pupil_size[e] = kMissingWord;
    s.float_gaze_x[e] = s.float_gaze_y[e] = kMissingFloat;
  }
  s.res_x = s.res_y = kMissingWord;
  s.status = s.input = kMissingWord;
  s.buttons = s.aux_type = 0;
  std::fill(std::begin(s.aux_data), std::end(s.aux_data), uint16_t{0});
  std::fill(std::begin(s.block), std::end(s.block), kMissingFloat);
  s.block_word = 0;
  std::fill(std::begin(s.block2), std::end(s.block2), kMissingFloat);
  std::fill(std::begin(s.block3), std::end(s.block3), kMissingFloat);
}

// Reads an x/y pair per eye in the wire order: left x, left y, then right x, right y.
void read_eye_pairs(ItemReader &r, uint16_t flags, int16_t (&x)[2], int16_t (&y)[2]) {
  if (flags & SF_LEFT) {
    r.i16(x[0]);
    r.i16(y[0]);
  }
  if (flags & SF_RIGHT) {
    r.i16(x[1]);
    r.i16(y[1]);
  }
}

bool is_missing(float v) {
  return v == kMissingFloat;
}

// Block-3 values: [0], [1] the lead values, [2], [3] the point, [4..8] the five x values and
// [9..13] the five y values.
void read_block3_points(ItemReader &r, link_sample_item &s) {
  for (int i = 4; i < 14; ++i) r.f32(s.block3[i]);
}

// Reads the data of a known (length, type) block; false for any other pair.
bool read_known_block(ItemReader &r, uint8_t len, uint8_t type, link_sample_item &s) {
  if (len == 24 && type == 1) {
    for (float &v : s.block) {
      int16_t raw = 0;
      if (r.i16(raw)) v = static_cast<float>(raw);
    }
    return true;
  }
  if (len == 92 && type == 2) {
    for (float &v : s.block) r.f32(v);
    r.u32(s.block_word);
    for (float &v : s.block2) r.f32(v);
    r.f32(s.float_gaze_x[0]);
    r.f32(s.float_gaze_y[0]);
    r.f32(s.float_gaze_x[1]);
    r.f32(s.float_gaze_y[1]);
    // The block's float gaze replaces the integer gaze: marking the integers missing is what
    // makes the float conversion take the block's values.
    for (int e = 0; e < 2; ++e) s.gaze_x[e] = s.gaze_y[e] = kMissingInt;
    return true;
  }
  if (len == 72 && type == 3) {
    r.f32(s.block3[0]);
    r.f32(s.block3[1]);
    // Three candidate points, x1 x2 x3 then y1 y2 y3. The third is preferred, then the first,
    // then the second; the first with both coordinates present wins.
    float x[3] = {kMissingFloat, kMissingFloat, kMissingFloat};
    float y[3] = {kMissingFloat, kMissingFloat, kMissingFloat};
    for (float &v : x) r.f32(v);
    for (float &v : y) r.f32(v);
    for (int c : {2, 0, 1}) {
      if (!is_missing(x[c]) && !is_missing(y[c])) {
        s.block3[2] = x[c];
        s.block3[3] = y[c];
        break;
      }
    }
    read_block3_points(r, s);
    return true;
  }
  if (len == 56 && type == 3) {
    for (int i = 0; i < 4; ++i) r.f32(s.block3[i]);
    read_block3_points(r, s);
    return true;
  }
  return false;
}

bool is_block_length(uint8_t len) {
  return len == 24 || len == 56 || len == 72 || len == 92;
}

// Reads the extension-block chain. True when the chain ended with its zero length byte (the skip
// chunks may follow), false when an unknown block used up the item.
bool read_blocks(ItemReader &r, link_sample_item &s) {
  for (;;) {
    uint8_t len = 0;
    // A length byte past the item's end reads as the zero that ends the chain; the position has
    // still moved past it, so the overrun is reported as an out-of-bound access.
    r.u8(len);
    if (len == 0) return true;
    uint8_t type = 0;  // stays 0, never a known type, when it lies past the end
    r.u8(type);
    if (!is_block_length(len)) {
      lvx::log_printf("TR-6282 Unknown DATA. skipping %d bytes \n", len);
      lvx::log_printf("TR-6282 Left data %d \n", static_cast<int>(r.left()));
      r.skip_within(len);
    } else if (read_known_block(r, len, type, s)) {
      continue;
    } else {
      // A known length with a type that does not go with it: the tracker counts the type byte as
      // part of the length here, so one byte fewer is skipped.
      lvx::log_printf("TR-6282 Unknown DATA or left over data. skipping %d bytes type = %d\n",
                      len - 1, type);
      lvx::log_printf("TR-6282 Left data %d \n", static_cast<int>(r.left()));
      r.skip_within(static_cast<size_t>(len - 1));
    }
    if (r.left() == 0) return false;
  }
}

void skip_chunks(ItemReader &r) {
  for (;;) {
    uint8_t c = 0;
    // As with the block chain, a missing length byte ends the chain after counting as read.
    r.u8(c);
    if (c == 0) return;
    r.skip(static_cast<size_t>(c) + 1);
  }
}

// ---- Events -----------------------------------------------------------------------------------

enum class EventKind { Parsed, Marker, Message, Other };

EventKind event_kind(int type) {
  if (type >= 1 && type <= 10) return EventKind::Parsed;
  if (type >= EV_SAMPLE_BLOCK_START && type <= EV_EVENT_BLOCK_END) return EventKind::Marker;
  if (type == EV_MESSAGE) return EventKind::Message;
  return EventKind::Other;
}

bool takes_end_time(int type) {
  return type == 2 || type == 4 || type == 6 || type == 8 || type == 9;
}

// Bytes a tag's value takes under the general rule: 16 bits when bit 0x10 is set, else 32.
size_t tag_value_size(uint8_t tag) {
  return (tag & 0x10) ? 2 : 4;
}

void dump_tag(ItemReader &r, uint8_t tag) {
  std::printf("Code = %x pos = %d  #### DUMPING ..\n", static_cast<unsigned>(tag),
              static_cast<int>(r.pos()));
  r.skip(tag_value_size(tag));
}

// A tag whose value this record kind does not use: skipped without a word.
bool ignore_tag(ItemReader &r, uint8_t tag) {
  r.skip(tag_value_size(tag));
  return true;
}

bool read_pair(ItemReader &r, int16_t &x, int16_t &y) {
  const bool ok = r.i16(x);
  return r.i16(y) && ok;
}

void read_extended_block(ItemReader &r, link_event_item &e, uint16_t &read) {
  uint16_t m = 0;
  r.u16(m);
  // Only a payload that lies wholly inside the item is recognised; anything else is skipped.
  if (m == 147 && r.fits(147) && r.peek(0) == 0x00 && r.peek(1) == 0x92 && r.peek(2) == 0x02) {
    r.skip(3);
    for (float &v : e.extended) r.f32(v);
    read |= RF_EXTENDED;
    return;
  }
  r.skip(m);
}

// One tag of a parsed event (types 1..10). False when the tag is to be dumped.
bool parsed_tag(ItemReader &r, uint8_t tag, int type, link_event_item &e, uint16_t &read,
                DecoderState &state, link_state &status) {
  switch (tag) {
    case 0x21:
      if (r.u32(e.start_time)) e.time = e.start_time;
      read |= 0x0001;
      return true;
    case 0x41:
      if (r.u32(e.end_time) && takes_end_time(type)) e.time = e.end_time;
      read |= 0x0040;
      return true;
    case 0x30:
      r.u16(e.start_pupil_size);
      read |= 0x0081;
      return true;
    case 0x51:
      r.u16(e.end_pupil_size);
      read |= 0x0082;
      return true;
    case 0x72:
      r.u16(e.avg_pupil_size);
      read |= 0x0084;
      return true;
    case 0x33:
      r.i16(e.start_velocity);
      read |= 0x0101;
      return true;
    case 0x53:
      r.i16(e.end_velocity);
      read |= 0x0102;
      return true;
    case 0x73:
      r.i16(e.avg_velocity);
      read |= 0x0104;
      return true;
    case 0x93:
      r.i16(e.peak_velocity);
      read |= 0x0104;
      return true;
    case 0x2B:
      read_pair(r, e.start_res_x, e.start_res_y);
      read |= 0x0201;
      return true;
    case 0x4B:
      read_pair(r, e.end_res_x, e.end_res_y);
      read |= 0x0202;
      return true;
    case 0x28:
    case 0x2A:
      read_pair(r, e.start_x, e.start_y);
      read |= tag == 0x28 ? 0x0408 : 0x1008;
      return true;
    case 0x48:
    case 0x4A:
      read_pair(r, e.end_x, e.end_y);
      read |= tag == 0x48 ? 0x0410 : 0x1010;
      return true;
    case 0x68:
    case 0x6A:
      read_pair(r, e.avg_x, e.avg_y);
      read |= tag == 0x68 ? 0x0420 : 0x1020;
      return true;
    case 0x29:
      read_pair(r, e.start_href_x, e.start_href_y);
      read |= 0x0808;
      return true;
    case 0x49:
      read_pair(r, e.end_href_x, e.end_href_y);
      read |= 0x0810;
      return true;
    case 0x69:
      read_pair(r, e.avg_href_x, e.avg_href_y);
      read |= 0x0820;
      return true;
    case 0xB4:
      if (r.u16(e.status)) state.last_status = status.last_status = e.status;
      read |= 0x2000;
      return true;
    case 0x55:
      return ignore_tag(r, tag);
    case 0x5E:
      read_extended_block(r, e, read);
      return true;
    default:
      return false;
  }
}

// One tag of a block marker (types 15..18): the values go to the stream state. False when the
// tag is to be dumped.
bool marker_tag(ItemReader &r, uint8_t tag, int type, link_state &status) {
  uint16_t v16 = 0;
  uint32_t v32 = 0;
  switch (tag) {
    case 0x21:
      r.u32(status.status_time);
      return true;
    case 0x41:
      if (!r.u32(v32)) return true;
      if (type == EV_SAMPLE_BLOCK_START) {
        status.sample_rate_x10 = static_cast<uint16_t>(v32 / 6553);
      } else if (type == EV_SAMPLE_BLOCK_END || type == EV_EVENT_BLOCK_END) {
        status.status_time = v32;
      }
      return true;
    case 0x30:
      r.u16(status.position_prescaler);
      return true;
    case 0x51:
      r.u16(status.velocity_prescaler);
      return true;
    case 0x56:
      r.u16(status.pupil_prescaler);
      return true;
    case 0x72:
      if (r.u16(v16) && type == EV_SAMPLE_BLOCK_START) status.sample_block_word = v16;
      return true;
    case 0x93:
      if (r.u16(v16)) status.rate_word = (v16 >= 1 && v16 <= 10000) ? v16 : 1;
      return true;
    case 0x4B: {
      uint16_t mode = 0, second = 0;
      const bool ok = r.u16(mode);
      r.u16(second);
      if (ok && (type == EV_SAMPLE_BLOCK_START || type == EV_EVENT_BLOCK_START)) {
        status.tracker_mode_word = static_cast<uint16_t>(mode | 0x8000);
      }
      return true;
    }
    case 0xB4:
      if (!r.u16(v16)) return true;
      if (type == EV_SAMPLE_BLOCK_START) {
        status.sample_data_flags = v16;
        status.left_eye_present = (v16 & 0x8000) ? 1 : 0;
        status.right_eye_present = (v16 & 0x4000) ? 1 : 0;
      } else if (type == EV_EVENT_BLOCK_START) {
        status.event_data_flags = v16;
      }
      return true;
    case 0x55:
      if (r.u16(v16) && type == EV_EVENT_BLOCK_START) {
        // The event-type word carries the eyes the other way round: bit 14 left, bit 15 right.
        // Stored with the two exchanged, it reads like the sample-data flags (bit 15 left).
        status.event_type_flags =
            static_cast<uint16_t>((v16 & 0x3FFF) | ((v16 & 0x4000) << 1) | ((v16 & 0x8000) >> 1));
        status.left_eye_present = (v16 & 0x4000) ? 1 : 0;
        status.right_eye_present = (v16 & 0x8000) ? 1 : 0;
      }
      return true;
    case 0x5E:
      r.u16(v16);
      r.skip(v16);
      return true;
    default:
      return false;
  }
}

// One tag of a message, button, input or other record. `data` is the io record's data word;
// `text_length` receives the copied length of a message's text. False when the tag is dumped.
bool other_tag(ItemReader &r, uint8_t tag, int type, link_data_item &out, uint16_t &data,
               uint16_t &text_length) {
  uint16_t v16 = 0;
  switch (tag) {
    case 0x21:
      r.u32(out.io.time);
      return true;
    case 0x41:
    case 0x30:
    case 0x51:
    case 0x72:
    case 0x93:
    case 0x4B:
    case 0xB4:
      return ignore_tag(r, tag);
    case 0x55:
      // Tag 0x55 belongs to input records and 0x56 to button records; other types have no
      // type-specific tags, so both are passed over there and the data word stays as it began.
      if (r.u16(v16) && type == EV_INPUT) data = v16;
      return true;
    case 0x56:
      if (r.u16(v16) && type == EV_BUTTONS) data = v16;
      return true;
    case 0x5E: {
      uint16_t m = 0;
      r.u16(m);
      if (type == EV_MESSAGE) {
        // At most 255 bytes of the text, and never more than the item still holds.
        const size_t n = std::min({static_cast<size_t>(m), size_t{255}, r.left()});
        if (n > 0) std::memcpy(out.message.text, r.here(), n);
        out.message.text[n] = '\0';
        text_length = static_cast<uint16_t>(n);
      }
      r.skip(m);
      return true;
    }
    default:
      return false;
  }
}

// ---- Float conversion -------------------------------------------------------------------------

// A prescaler of 0 would divide by zero; the stream never sends one, so it is taken as 1.
float divisor(uint16_t prescaler) {
  return prescaler == 0 ? 1.0f : static_cast<float>(prescaler);
}

float scaled(int16_t v, float div) {
  return v == kMissingInt ? kMissingFloat : static_cast<float>(v) / div;
}

float sample_pupil_size(uint16_t v) {
  if (v == kMissingWord) return kMissingFloat;
  if (v > kMissingWord) return static_cast<float>(static_cast<int>(v) - 65536);
  return static_cast<float>(v);
}

void sample_to_float(const link_sample_item &s, const link_state &status, float_sample &f) {
  const float pos_div = divisor(status.position_prescaler);
  f.time = s.time;
  f.type = s.type;
  f.flags = s.flags;
  const bool block_gaze = (s.flags & SF_BLOCKS) && s.gaze_x[0] == kMissingInt &&
                          s.gaze_x[1] == kMissingInt && s.gaze_y[0] == kMissingInt &&
                          s.gaze_y[1] == kMissingInt;
  for (int e = 0; e < 2; ++e) {
    f.pupil_x[e] = static_cast<float>(s.pupil_x[e]);
    f.pupil_y[e] = static_cast<float>(s.pupil_y[e]);
    f.href_x[e] = static_cast<float>(s.href_x[e]);
    f.href_y[e] = static_cast<float>(s.href_y[e]);
    f.pupil_size[e] = sample_pupil_size(s.pupil_size[e]);
    f.gaze_x[e] = block_gaze ? s.float_gaze_x[e] : scaled(s.gaze_x[e], pos_div);
    f.gaze_y[e] = block_gaze ? s.float_gaze_y[e] : scaled(s.gaze_y[e], pos_div);
  }
  f.res_x = scaled(static_cast<int16_t>(s.res_x), pos_div);
  f.res_y = scaled(static_cast<int16_t>(s.res_y), pos_div);
  f.status = s.status;
  f.input = s.input;
  f.buttons = s.buttons;
  f.aux_type = s.aux_type;
  std::copy(std::begin(s.aux_data), std::end(s.aux_data), f.aux_data);
  // Block values 1..12 are spread over the extra fields; see the record's declaration.
  for (int i = 0; i < 3; ++i) {
    f.extra_a[0][i] = s.block[6 + i];
    f.extra_a[1][i] = s.block[9 + i];
    f.extra_b[0][i] = s.block2[i];
    f.extra_b[1][i] = s.block2[3 + i];
  }
  f.extra_word = s.block_word;
  f.extra_c[0] = s.block[2];
  f.extra_c[1] = s.block[5];
  f.extra_d[0][0] = s.block[0];
  f.extra_d[0][1] = s.block[1];
  f.extra_d[1][0] = s.block[3];
  f.extra_d[1][1] = s.block[4];
  f.extra3_lead[0] = s.block3[0];
  f.extra3_lead[1] = s.block3[1];
  f.extra3_point[0] = s.block3[2];
  f.extra3_point[1] = s.block3[3];
  for (int i = 0; i < 5; ++i) {
    f.extra3_points[i][0] = s.block3[4 + i];
    f.extra3_points[i][1] = s.block3[9 + i];
  }
}

void event_to_float(const link_event_item &e, const link_state &status, float_event &f) {
  const float pos_div = divisor(status.position_prescaler);
  const float vel_div = divisor(status.velocity_prescaler);
  const bool pupil_xy = (e.read & RF_PUPIL_XY) != 0;
  auto position = [&](int16_t v) { return pupil_xy ? static_cast<float>(v) : scaled(v, pos_div); };
  f.time = e.time;
  f.type = e.type;
  f.read = e.read;
  f.eye = e.eye;
  f.start_time = e.start_time;
  f.end_time = e.end_time;
  f.start_href_x = static_cast<float>(e.start_href_x);
  f.start_href_y = static_cast<float>(e.start_href_y);
  f.start_x = position(e.start_x);
  f.start_y = position(e.start_y);
  // Event pupil sizes are taken as unsigned: an absent one (0x8000) reads 32768.
  f.start_pupil_size = static_cast<float>(e.start_pupil_size);
  f.end_href_x = static_cast<float>(e.end_href_x);
  f.end_href_y = static_cast<float>(e.end_href_y);
  f.end_x = position(e.end_x);
  f.end_y = position(e.end_y);
  f.end_pupil_size = static_cast<float>(e.end_pupil_size);
  f.avg_href_x = static_cast<float>(e.avg_href_x);
  f.avg_href_y = static_cast<float>(e.avg_href_y);
  f.avg_x = position(e.avg_x);
  f.avg_y = position(e.avg_y);
  f.avg_pupil_size = static_cast<float>(e.avg_pupil_size);
  f.avg_velocity = scaled(e.avg_velocity, vel_div);
  f.peak_velocity = scaled(e.peak_velocity, vel_div);
  f.start_velocity = scaled(e.start_velocity, vel_div);
  f.end_velocity = scaled(e.end_velocity, vel_div);
  f.start_res_x = scaled(e.start_res_x, pos_div);
  f.end_res_x = scaled(e.end_res_x, pos_div);
  f.start_res_y = scaled(e.start_res_y, pos_div);
  f.end_res_y = scaled(e.end_res_y, pos_div);
  f.status = e.status;
  if ((e.read & RF_EXTENDED) == 0) {
    for (auto &p : f.ext_pairs_a) std::fill(std::begin(p), std::end(p), kMissingFloat);
    for (auto &p : f.ext_pairs_b) std::fill(std::begin(p), std::end(p), kMissingFloat);
    for (auto &t : f.ext_triplets_a) std::fill(std::begin(t), std::end(t), kMissingFloat);
    for (auto &t : f.ext_triplets_b) std::fill(std::begin(t), std::end(t), kMissingFloat);
    return;
  }
  // The 36 floats: two sets of three pairs (x of each pair, then y of each), two sets of three
  // triplets (element 0 of each, then element 1, then element 2), then six positions.
  const float *x = e.extended;
  for (int p = 0; p < 3; ++p) {
    f.ext_pairs_a[p][0] = x[p];
    f.ext_pairs_a[p][1] = x[3 + p];
    f.ext_pairs_b[p][0] = x[6 + p];
    f.ext_pairs_b[p][1] = x[9 + p];
  }
  for (int t = 0; t < 3; ++t) {
    for (int k = 0; k < 3; ++k) {
      f.ext_triplets_a[t][k] = x[12 + 3 * k + t];
      f.ext_triplets_b[t][k] = x[21 + 3 * k + t];
    }
  }
  f.end_x = x[30];
  f.start_x = x[31];
  f.avg_x = x[32];
  f.end_y = x[33];
  f.start_y = x[34];
  f.avg_y = x[35];
}

// ---- Double conversion ------------------------------------------------------------------------

void sample_to_double(const float_sample &f, double_sample &d) {
  d.time = static_cast<double>(f.time);
  d.flags = f.flags;
  // Two samples with the same full time were half a millisecond apart.
  if (f.flags & SF_HALF_MS) {
    d.time += 0.5;
    d.flags = static_cast<uint16_t>(f.flags & ~SF_HALF_MS);
  }
  d.type = f.type;
  // Every field is carried, the block-3 fields after extra_d included, whichever path the sample
  // came by.
  std::copy(std::begin(f.pupil_x), std::end(f.pupil_x), d.pupil_x);
  std::copy(std::begin(f.pupil_y), std::end(f.pupil_y), d.pupil_y);
  std::copy(std::begin(f.href_x), std::end(f.href_x), d.href_x);
  std::copy(std::begin(f.href_y), std::end(f.href_y), d.href_y);
  std::copy(std::begin(f.pupil_size), std::end(f.pupil_size), d.pupil_size);
  std::copy(std::begin(f.gaze_x), std::end(f.gaze_x), d.gaze_x);
  std::copy(std::begin(f.gaze_y), std::end(f.gaze_y), d.gaze_y);
  d.res_x = f.res_x;
  d.res_y = f.res_y;
  d.status = f.status;
  d.input = f.input;
  d.buttons = f.buttons;
  d.aux_type = f.aux_type;
  std::copy(std::begin(f.aux_data), std::end(f.aux_data), d.aux_data);
  for (int r = 0; r < 2; ++r) {
    std::copy(std::begin(f.extra_a[r]), std::end(f.extra_a[r]), d.extra_a[r]);
    std::copy(std::begin(f.extra_b[r]), std::end(f.extra_b[r]), d.extra_b[r]);
    std::copy(std::begin(f.extra_d[r]), std::end(f.extra_d[r]), d.extra_d[r]);
  }
  d.extra_word = f.extra_word;
  std::copy(std::begin(f.extra_c), std::end(f.extra_c), d.extra_c);
  std::copy(std::begin(f.extra3_lead), std::end(f.extra3_lead), d.extra3_lead);
  std::copy(std::begin(f.extra3_point), std::end(f.extra3_point), d.extra3_point);
  for (int i = 0; i < 5; ++i) {
    std::copy(std::begin(f.extra3_points[i]), std::end(f.extra3_points[i]), d.extra3_points[i]);
  }
}

void event_to_double(const float_event &f, double_event &d) {
  d.time = static_cast<double>(f.time);
  d.type = f.type;
  d.read = f.read;
  d.eye = f.eye;
  d.start_time = static_cast<double>(f.start_time);
  d.end_time = static_cast<double>(f.end_time);
  d.start_href_x = f.start_href_x;
  d.start_href_y = f.start_href_y;
  d.start_x = f.start_x;
  d.start_y = f.start_y;
  d.start_pupil_size = f.start_pupil_size;
  d.end_href_x = f.end_href_x;
  d.end_href_y = f.end_href_y;
  d.end_x = f.end_x;
  d.end_y = f.end_y;
  d.end_pupil_size = f.end_pupil_size;
  d.avg_href_x = f.avg_href_x;
  d.avg_href_y = f.avg_href_y;
  d.avg_x = f.avg_x;
  d.avg_y = f.avg_y;
  d.avg_pupil_size = f.avg_pupil_size;
  d.avg_velocity = f.avg_velocity;
  d.peak_velocity = f.peak_velocity;
  d.start_velocity = f.start_velocity;
  d.end_velocity = f.end_velocity;
  d.start_res_x = f.start_res_x;
  d.end_res_x = f.end_res_x;
  d.start_res_y = f.start_res_y;
  d.end_res_y = f.end_res_y;
  d.status = f.status;
  for (int p = 0; p < 3; ++p) {
    std::copy(std::begin(f.ext_pairs_a[p]), std::end(f.ext_pairs_a[p]), d.ext_pairs_a[p]);
    std::copy(std::begin(f.ext_pairs_b[p]), std::end(f.ext_pairs_b[p]), d.ext_pairs_b[p]);
    std::copy(std::begin(f.ext_triplets_a[p]), std::end(f.ext_triplets_a[p]), d.ext_triplets_a[p]);
    std::copy(std::begin(f.ext_triplets_b[p]), std::end(f.ext_triplets_b[p]), d.ext_triplets_b[p]);
  }
}

}  // namespace

int decode_sample(const uint8_t *item, int length, DecoderState &state, link_state &status,
                  link_data_item &out) {
  ItemReader r(item_bytes(item, length));
  uint16_t flags = 0;
  // An item too short for its flags has no SF_SAMPLE either.
  if (!r.u16(flags) || (flags & SF_SAMPLE) == 0) return -1;

  std::memset(&out, 0, sizeof out);
  link_sample_item &s = out.sample;
  set_sample_defaults(s);
  s.flags = flags;

  // A time that lies past the item's end is taken as a delta of 0: the previous sample's time.
  if (flags & SF_FULL_TIME) {
    r.u32(state.last_sample_time);
  } else {
    uint8_t delta = 0;
    r.u8(delta);
    state.last_sample_time += delta;
  }
  s.time = state.last_sample_time;

  if (flags & SF_PUPIL_XY) read_eye_pairs(r, flags, s.pupil_x, s.pupil_y);
  if (flags & SF_HREF_XY) read_eye_pairs(r, flags, s.href_x, s.href_y);
  if (flags & SF_GAZE_XY) read_eye_pairs(r, flags, s.gaze_x, s.gaze_y);
  if (flags & SF_RESOLUTION) {
    if (r.u16(s.res_x)) state.last_res_x = s.res_x;
    if (r.u16(s.res_y)) state.last_res_y = s.res_y;
  }
  if (flags & SF_PUPIL_SIZE) {
    // Only the eyes the sample carries are read; the other keeps 0x8000.
    if ((flags & SF_LEFT) && r.u16(s.pupil_size[0])) state.last_pupil_size[0] = s.pupil_size[0];
    if ((flags & SF_RIGHT) && r.u16(s.pupil_size[1])) state.last_pupil_size[1] = s.pupil_size[1];
  }
  if ((flags & SF_STATUS) && r.u16(s.status)) state.last_status = s.status;
  if (flags & SF_INPUT) r.u16(s.input);
  if (flags & SF_BUTTONS) r.u16(s.buttons);
  if (flags & SF_AUX) {
    uint8_t aux_type = 0;
    r.u8(aux_type);
    s.aux_type = aux_type;
    const int count = std::min(aux_type & 0x0F, 8);
    for (int i = 0; i < count; ++i) r.u16(s.aux_data[i]);
  }
  // The skip chunks follow only a block chain that ended with its zero byte; an unknown block
  // that runs to the item's end ends the decode.
  bool chain_closed = true;
  if (flags & SF_BLOCKS) chain_closed = read_blocks(r, s);
  if (chain_closed && (flags & SF_SKIP_CHUNKS)) skip_chunks(r);

  state.kind = KIND_SAMPLE;
  state.type = EV_SAMPLE;
  state.size = kSampleRecordSize;
  const size_t used = r.pos();
  if (used > r.size()) {
    lvx::log_printf("TR-6282 Out of bound access... size=%d used=%d\n", length,
                    static_cast<int>(used));
  } else if (used < r.size()) {
    lvx::log_printf("TR-6282 Extra data found. \n");
    return -2;
  }
  ++state.sample_count;
  status.last_res_x = state.last_res_x;
  status.last_res_y = state.last_res_y;
  status.last_pupil_size[0] = state.last_pupil_size[0];
  status.last_pupil_size[1] = state.last_pupil_size[1];
  status.block_sample_count = state.sample_count;
  return kSampleRecordSize;
}

int decode_event(const uint8_t *item, int length, DecoderState &state, link_state &status,
                 link_data_item &out) {
  ItemReader r(item_bytes(item, length));
  uint16_t first = 0;
  // An item too short for its first word cannot say what it is; it fails like a bad first word.
  if (!r.u16(first) || (first & 0x0001) != 0) return -1;
  const int type = (first >> 8) & 0x3F;
  const EventKind kind = event_kind(type);
  const bool was_in_block = status.in_sample_block != 0 || status.in_event_block != 0;

  std::memset(&out, 0, sizeof out);
  link_event_item &e = out.event;
  e.type = static_cast<int16_t>(type);
  std::fill(std::begin(e.extended), std::end(e.extended), kMissingFloat);

  uint16_t read = 0;         // parsed events: the read flags
  uint16_t data = 0;         // io records: the data word
  uint16_t text_length = 0;  // messages: the copied text length
  switch (kind) {
    case EventKind::Parsed:
      e.eye = static_cast<int16_t>((first & 0x8000) ? 0 : (first & 0x4000) ? 1 : -1);
      for (int16_t *v :
           {&e.start_href_x, &e.start_href_y, &e.start_x,      &e.start_y,       &e.end_href_x,
            &e.end_href_y,   &e.end_x,        &e.end_y,        &e.avg_href_x,    &e.avg_href_y,
            &e.avg_x,        &e.avg_y,        &e.avg_velocity, &e.peak_velocity, &e.start_velocity,
            &e.end_velocity, &e.start_res_x,  &e.end_res_x,    &e.start_res_y,   &e.end_res_y}) {
        *v = kMissingInt;
      }
      e.start_pupil_size = e.end_pupil_size = e.avg_pupil_size = kMissingWord;
      e.status = kMissingWord;
      read = static_cast<uint16_t>(first & 0x00C0);
      break;
    case EventKind::Marker:
      if (type == EV_SAMPLE_BLOCK_START) {
        status.in_sample_block = 1;
        status.tracker_mode_word = 0;
      } else if (type == EV_EVENT_BLOCK_START) {
        status.in_event_block = 1;
        status.tracker_mode_word = 0;
      } else if (type == EV_SAMPLE_BLOCK_END) {
        status.in_sample_block = 0;
      } else {
        status.in_event_block = 0;
      }
      break;
    case EventKind::Message:
      out.message.text[0] = '\0';
      break;
    case EventKind::Other:
      data = type == EV_INPUT ? 0x8000 : 0;
      break;
  }

  for (;;) {
    uint8_t tag = 0;
    // A missing end tag reads as the zero tag past the item's end: the decode then fails with -2.
    r.u8(tag);
    if (tag == 0) break;
    bool used = false;
    switch (kind) {
      case EventKind::Parsed:
        used = parsed_tag(r, tag, type, e, read, state, status);
        break;
      case EventKind::Marker:
        used = marker_tag(r, tag, type, status);
        break;
      case EventKind::Message:
      case EventKind::Other:
        used = other_tag(r, tag, type, out, data, text_length);
        break;
    }
    if (!used) dump_tag(r, tag);
  }

  if (r.left() > 0) {
    std::printf("#### Code = %x type=%d len = %d Extra data :", 0u, type,
                static_cast<int>(r.left()));
    for (size_t i = 0; i < r.left(); ++i) std::printf("0x%02x ", r.peek(i));
    std::printf("\n");
  }

  int size = kOtherRecordSize;
  switch (kind) {
    case EventKind::Parsed:
      out.event.read = read;
      if (e.start_time == 0 && e.end_time != 0) e.start_time = e.end_time;
      state.kind = KIND_PARSED_EVENT;
      size = kParsedEventRecordSize;
      break;
    case EventKind::Marker:
      state.kind = KIND_BLOCK_MARKER;
      size = kBlockMarkerRecordSize;
      break;
    case EventKind::Message:
      out.message.length = text_length;
      state.kind = KIND_MESSAGE;
      size = kMessageRecordBase + text_length;
      break;
    case EventKind::Other:
      out.io.data = data;
      state.kind = KIND_OTHER;
      break;
  }
  state.type = static_cast<int16_t>(type);
  state.size = static_cast<uint16_t>(size);

  if (r.pos() != r.size()) return -2;

  if (kind == EventKind::Marker) {
    if (!was_in_block && status.in_sample_block != 0) {
      ++status.block_number;
      status.block_sample_count = 0;
      status.block_event_count = 0;
      status.first_in_block = 1;
    } else {
      status.first_in_block = 0;
    }
  } else {
    ++status.block_event_count;
  }
  return size;
}

bool to_float(const link_data_item &item, const link_state &status, float_data &out) {
  const int type = item.head.type;
  if (type == EV_SAMPLE) {
    std::memset(&out, 0, sizeof out);
    sample_to_float(item.sample, status, out.fs);
    return true;
  }
  if (type >= 1 && type <= 10) {
    std::memset(&out, 0, sizeof out);
    event_to_float(item.event, status, out.fe);
    return true;
  }
  return false;
}

bool to_double(int type, const float_data &in, double_data &out) {
  if (type == EV_SAMPLE) {
    std::memset(&out, 0, sizeof out);
    sample_to_double(in.fs, out.fs);
    return true;
  }
  // Parsed events 1..10, types 1, 2 and 10 included, convert like the others; block markers
  // (their raw item in the slot) are carried field by field in the same event layout.
  if ((type >= 1 && type <= 10) || event_kind(type) == EventKind::Marker) {
    std::memset(&out, 0, sizeof out);
    event_to_double(in.fe, out.fe);
    return true;
  }
  if (type == EV_MESSAGE) {
    std::memset(&out, 0, sizeof out);
    out.im.time = static_cast<double>(in.im.time);
    out.im.type = in.im.type;
    out.im.length = in.im.length;
    std::memcpy(out.im.text, in.im.text, sizeof out.im.text);
    return true;
  }
  // Buttons, inputs, lost data and every other type of the event range are io records.
  if (type >= 0 && type <= 63) {
    std::memset(&out, 0, sizeof out);
    out.io.time = static_cast<double>(in.io.time);
    out.io.type = in.io.type;
    out.io.data = in.io.data;
    return true;
  }
  return false;
}

}  // namespace lvx
