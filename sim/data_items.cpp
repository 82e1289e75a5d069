// Encoders for the data stream's items and packets, written field by field.
#include "sim/data_items.h"

#include <algorithm>
#include <bit>

#include "common/byte_io.h"
#include "lumavex_core.h"
#include "sim/link_codes.h"
#include "sim/tracker.h"

namespace lvxsim::build {

namespace {

void add_u8(std::vector<uint8_t> &out, uint8_t v) {
  out.push_back(v);
}

void add_u16(std::vector<uint8_t> &out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void add_i16(std::vector<uint8_t> &out, int16_t v) {
  add_u16(out, static_cast<uint16_t>(v));
}

void add_u32(std::vector<uint8_t> &out, uint32_t v) {
  add_u16(out, static_cast<uint16_t>(v >> 16));
  add_u16(out, static_cast<uint16_t>(v));
}

void add_float(std::vector<uint8_t> &out, float v) {
  add_u32(out, std::bit_cast<uint32_t>(v));
}

void add_xy(std::vector<uint8_t> &out, XY v) {
  add_i16(out, v.x);
  add_i16(out, v.y);
}

// The per-eye pairs in wire order: left (x, y) when SF_LEFT, then right when SF_RIGHT.
void add_eye_pairs(std::vector<uint8_t> &out, uint16_t flags, const XY (&v)[2]) {
  if (flags & SF_LEFT) add_xy(out, v[0]);
  if (flags & SF_RIGHT) add_xy(out, v[1]);
}

ExtensionBlock make_block(uint8_t type, std::vector<uint8_t> data) {
  ExtensionBlock b;
  b.type = type;
  b.data = std::move(data);
  return b;
}

bool is_end_type(uint8_t type) {
  return type == 2 || type == 4 || type == 6 || type == 8 || type == 9;
}

float pair_float(const std::optional<XY> &v, bool x, uint16_t prescaler) {
  if (!v) return -32768.0f;
  return scaled(x ? v->x : v->y, prescaler);
}

float href_float(const std::optional<XY> &v, bool x) {
  if (!v) return -32768.0f;
  return static_cast<float>(x ? v->x : v->y);
}

float size_float(const std::optional<uint16_t> &v) {
  return static_cast<float>(v ? *v : 0x8000);
}

float velocity_float(const std::optional<int16_t> &v, uint16_t prescaler) {
  return v ? scaled(*v, prescaler) : -32768.0f;
}

}  // namespace

ExtensionBlock block_type1(const std::array<int16_t, 12> &values) {
  std::vector<uint8_t> d;
  for (int16_t v : values) add_i16(d, v);
  return make_block(1, std::move(d));
}

ExtensionBlock block_type2(const Block2 &b) {
  std::vector<uint8_t> d;
  for (float v : b.values) add_float(d, v);
  add_u32(d, b.word);
  for (float v : b.values2) add_float(d, v);
  for (float v : {b.left_gaze_x, b.left_gaze_y, b.right_gaze_x, b.right_gaze_y}) add_float(d, v);
  return make_block(2, std::move(d));
}

ExtensionBlock block_type3(const std::array<float, 2> &lead, std::span<const float> middle,
                           const std::array<float, 10> &points) {
  if (middle.size() != 2 && middle.size() != 6) return make_block(3, {});
  std::vector<uint8_t> d;
  for (float v : lead) add_float(d, v);
  for (float v : middle) add_float(d, v);
  for (float v : points) add_float(d, v);
  return make_block(3, std::move(d));
}

std::vector<uint8_t> sample_body(const SampleFields &s) {
  const uint16_t f = s.flags;
  std::vector<uint8_t> out;
  out.reserve(64);
  add_u16(out, f);
  if (f & SF_FULL_TIME) {
    add_u32(out, s.time);
  } else {
    add_u8(out, s.delta);
  }
  if (f & SF_PUPIL_XY) add_eye_pairs(out, f, s.pupil);
  if (f & SF_HREF_XY) add_eye_pairs(out, f, s.href);
  if (f & SF_GAZE_XY) add_eye_pairs(out, f, s.gaze);
  if (f & SF_RESOLUTION) {
    add_i16(out, s.res_x);
    add_i16(out, s.res_y);
  }
  if (f & SF_PUPIL_SIZE) {
    if (f & SF_LEFT) add_u16(out, s.pupil_size[0]);
    if (f & SF_RIGHT) add_u16(out, s.pupil_size[1]);
  }
  if (f & SF_STATUS) add_u16(out, s.status);
  if (f & SF_INPUT) add_u16(out, s.input);
  if (f & SF_BUTTONS) add_u16(out, s.buttons);
  if (f & SF_AUX) {
    add_u8(out, s.aux_type);
    size_t count = std::min<size_t>(s.aux_type & 0x0F, s.aux.size());
    for (size_t i = 0; i < count; ++i) add_u16(out, s.aux[i]);
  }
  if (f & SF_BLOCKS) {
    for (const ExtensionBlock &b : s.blocks) {
      // A zero length byte would end the chain early, and the length is one byte.
      if (b.data.empty() || b.data.size() > 255) continue;
      add_u8(out, static_cast<uint8_t>(b.data.size()));
      add_u8(out, b.type);
      out.insert(out.end(), b.data.begin(), b.data.end());
    }
    add_u8(out, 0);
  }
  if (f & SF_SKIP_CHUNKS) {
    for (const auto &chunk : s.skip_chunks) {
      // A chunk is a length byte c (nonzero) and c + 1 bytes.
      if (chunk.size() < 2 || chunk.size() > 256) continue;
      add_u8(out, static_cast<uint8_t>(chunk.size() - 1));
      out.insert(out.end(), chunk.begin(), chunk.end());
    }
    add_u8(out, 0);
  }
  return out;
}

uint16_t event_first_word(uint8_t type, int eye, uint16_t initial_read) {
  auto w = static_cast<uint16_t>((type & 0x3F) << 8);
  if (eye == 0) {
    w |= 0x8000;
  } else if (eye == 1) {
    w |= 0x4000;
  }
  return static_cast<uint16_t>(w | (initial_read & 0x00C0));
}

TagWriter::TagWriter(uint16_t first_word) {
  add_u16(out_, first_word);
}

TagWriter &TagWriter::u16(uint8_t tag, uint16_t value) {
  add_u8(out_, tag);
  add_u16(out_, value);
  return *this;
}

TagWriter &TagWriter::u32(uint8_t tag, uint32_t value) {
  add_u8(out_, tag);
  add_u32(out_, value);
  return *this;
}

TagWriter &TagWriter::pair(uint8_t tag, uint16_t first, uint16_t second) {
  add_u8(out_, tag);
  add_u16(out_, first);
  add_u16(out_, second);
  return *this;
}

TagWriter &TagWriter::bytes(uint8_t tag, std::span<const uint8_t> data) {
  size_t n = std::min<size_t>(data.size(), 0xFFFF);
  add_u8(out_, tag);
  add_u16(out_, static_cast<uint16_t>(n));
  out_.insert(out_.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
  return *this;
}

std::vector<uint8_t> TagWriter::finish() const {
  std::vector<uint8_t> out = out_;
  out.push_back(kTagEnd);
  return out;
}

std::vector<uint8_t> parsed_event_body(const ParsedEvent &e) {
  TagWriter w(event_first_word(e.type, e.eye));
  if (e.start_time) w.u32(kTagStartTime, *e.start_time);
  if (e.end_time) w.u32(kTagEndTime, *e.end_time);
  if (e.start_gaze) w.pair(kTagStartGaze, *e.start_gaze);
  if (e.end_gaze) w.pair(kTagEndGaze, *e.end_gaze);
  if (e.avg_gaze) w.pair(kTagAvgGaze, *e.avg_gaze);
  if (e.start_pupil_xy) w.pair(kTagStartPupilXY, *e.start_pupil_xy);
  if (e.end_pupil_xy) w.pair(kTagEndPupilXY, *e.end_pupil_xy);
  if (e.avg_pupil_xy) w.pair(kTagAvgPupilXY, *e.avg_pupil_xy);
  if (e.start_href) w.pair(kTagStartHref, *e.start_href);
  if (e.end_href) w.pair(kTagEndHref, *e.end_href);
  if (e.avg_href) w.pair(kTagAvgHref, *e.avg_href);
  if (e.start_pupil_size) w.u16(kTagStartPupilSize, *e.start_pupil_size);
  if (e.end_pupil_size) w.u16(kTagEndPupilSize, *e.end_pupil_size);
  if (e.avg_pupil_size) w.u16(kTagAvgPupilSize, *e.avg_pupil_size);
  if (e.start_velocity) w.u16(kTagStartVelocity, static_cast<uint16_t>(*e.start_velocity));
  if (e.end_velocity) w.u16(kTagEndVelocity, static_cast<uint16_t>(*e.end_velocity));
  if (e.avg_velocity) w.u16(kTagAvgVelocity, static_cast<uint16_t>(*e.avg_velocity));
  if (e.peak_velocity) w.u16(kTagPeakVelocity, static_cast<uint16_t>(*e.peak_velocity));
  if (e.start_res) w.pair(kTagStartRes, *e.start_res);
  if (e.end_res) w.pair(kTagEndRes, *e.end_res);
  if (e.status) w.u16(kTagStatus, *e.status);
  return w.finish();
}

uint16_t parsed_event_read_flags(const ParsedEvent &e) {
  uint16_t r = 0;
  auto add = [&r](bool present, uint16_t bits) {
    if (present) r = static_cast<uint16_t>(r | bits);
  };
  add(e.start_time.has_value(), RF_START);
  add(e.end_time.has_value(), RF_END_TIME);
  add(e.start_gaze.has_value(), RF_GAZE_XY | RF_START_POS);
  add(e.end_gaze.has_value(), RF_GAZE_XY | RF_END_POS);
  add(e.avg_gaze.has_value(), RF_GAZE_XY | RF_AVG_POS);
  add(e.start_pupil_xy.has_value(), RF_PUPIL_XY | RF_START_POS);
  add(e.end_pupil_xy.has_value(), RF_PUPIL_XY | RF_END_POS);
  add(e.avg_pupil_xy.has_value(), RF_PUPIL_XY | RF_AVG_POS);
  add(e.start_href.has_value(), RF_HREF_XY | RF_START_POS);
  add(e.end_href.has_value(), RF_HREF_XY | RF_END_POS);
  add(e.avg_href.has_value(), RF_HREF_XY | RF_AVG_POS);
  add(e.start_pupil_size.has_value(), RF_PUPIL_SIZE | RF_START);
  add(e.end_pupil_size.has_value(), RF_PUPIL_SIZE | RF_END);
  add(e.avg_pupil_size.has_value(), RF_PUPIL_SIZE | RF_AVG);
  add(e.start_velocity.has_value(), RF_VELOCITY | RF_START);
  add(e.end_velocity.has_value(), RF_VELOCITY | RF_END);
  add(e.avg_velocity.has_value(), RF_VELOCITY | RF_AVG);
  add(e.peak_velocity.has_value(), RF_VELOCITY | RF_AVG);
  add(e.start_res.has_value(), RF_RESOLUTION | RF_START);
  add(e.end_res.has_value(), RF_RESOLUTION | RF_END);
  add(e.status.has_value(), RF_STATUS);
  return r;
}

uint32_t parsed_event_record_time(const ParsedEvent &e) {
  if (is_end_type(e.type) && e.end_time) return *e.end_time;
  return e.start_time.value_or(0);
}

float scaled(int16_t wire, uint16_t prescaler) {
  if (wire == kMissing16) return -32768.0f;
  return static_cast<float>(wire) / static_cast<float>(prescaler);
}

EventFloats parsed_event_floats(const ParsedEvent &e, uint16_t position_prescaler,
                                uint16_t velocity_prescaler) {
  // Pupil coordinates (0x28/0x48/0x68) share the position slots with gaze and are written after
  // it, so they win a slot both fill; once any is present every slot is read unscaled.
  bool unscaled = e.start_pupil_xy || e.end_pupil_xy || e.avg_pupil_xy;
  auto position = [&](const std::optional<XY> &gaze, const std::optional<XY> &pupil, bool x) {
    const std::optional<XY> &v = pupil ? pupil : gaze;
    if (!v) return -32768.0f;
    int16_t w = x ? v->x : v->y;
    return unscaled ? static_cast<float>(w) : scaled(w, position_prescaler);
  };
  EventFloats f{};
  f.start_x = position(e.start_gaze, e.start_pupil_xy, true);
  f.start_y = position(e.start_gaze, e.start_pupil_xy, false);
  f.end_x = position(e.end_gaze, e.end_pupil_xy, true);
  f.end_y = position(e.end_gaze, e.end_pupil_xy, false);
  f.avg_x = position(e.avg_gaze, e.avg_pupil_xy, true);
  f.avg_y = position(e.avg_gaze, e.avg_pupil_xy, false);
  f.start_href_x = href_float(e.start_href, true);
  f.start_href_y = href_float(e.start_href, false);
  f.end_href_x = href_float(e.end_href, true);
  f.end_href_y = href_float(e.end_href, false);
  f.avg_href_x = href_float(e.avg_href, true);
  f.avg_href_y = href_float(e.avg_href, false);
  f.start_pupil_size = size_float(e.start_pupil_size);
  f.end_pupil_size = size_float(e.end_pupil_size);
  f.avg_pupil_size = size_float(e.avg_pupil_size);
  f.start_velocity = velocity_float(e.start_velocity, velocity_prescaler);
  f.end_velocity = velocity_float(e.end_velocity, velocity_prescaler);
  f.avg_velocity = velocity_float(e.avg_velocity, velocity_prescaler);
  f.peak_velocity = velocity_float(e.peak_velocity, velocity_prescaler);
  f.start_res_x = pair_float(e.start_res, true, position_prescaler);
  f.start_res_y = pair_float(e.start_res, false, position_prescaler);
  f.end_res_x = pair_float(e.end_res, true, position_prescaler);
  f.end_res_y = pair_float(e.end_res, false, position_prescaler);
  f.status = e.status.value_or(0x8000);
  return f;
}

std::vector<uint8_t> sample_block_start_body(const SampleBlockStart &m) {
  TagWriter w(event_first_word(EV_SAMPLE_BLOCK_START, -1));
  w.u32(kTagMarkerTime, m.time);
  w.u32(kTagMarkerRate, uint32_t{m.rate_x10} * kRateTagFactor);
  w.u16(kTagMarkerPositionPrescaler, m.position_prescaler);
  w.u16(kTagMarkerVelocityPrescaler, m.velocity_prescaler);
  w.u16(kTagMarkerPupilPrescaler, m.pupil_prescaler);
  w.u16(kTagMarkerBlockWord, m.block_word);
  w.u16(kTagMarkerRateWord, m.rate_word);
  w.pair(kTagMarkerModeWord, m.mode_word, 0);
  w.u16(kTagMarkerDataFlags, m.sample_flags);
  return w.finish();
}

uint16_t swap_eye_bits(uint16_t v) {
  auto rest = static_cast<uint16_t>(v & 0x3FFF);
  auto b15 = static_cast<uint16_t>((v & 0x8000) >> 1);
  auto b14 = static_cast<uint16_t>((v & 0x4000) << 1);
  return static_cast<uint16_t>(rest | b15 | b14);
}

std::vector<uint8_t> event_block_start_body(const EventBlockStart &m) {
  TagWriter w(event_first_word(EV_EVENT_BLOCK_START, -1));
  w.u32(kTagMarkerTime, m.time);
  w.pair(kTagMarkerModeWord, m.mode_word, 0);
  w.u16(kTagMarkerDataFlags, m.event_data_flags);
  w.u16(kTagMarkerEventTypes, swap_eye_bits(m.event_type_flags));
  return w.finish();
}

std::vector<uint8_t> block_end_body(uint8_t type, uint32_t time) {
  return TagWriter(event_first_word(type, -1)).u32(kTagMarkerEndTime, time).finish();
}

std::vector<uint8_t> message_body(uint32_t time, std::string_view text) {
  // First word, time tag, text tag with its length, end tag: 11 bytes besides the text.
  constexpr size_t kFixed = 2 + 5 + 3 + 1;
  size_t n = std::min(text.size(), kMaxItemLength - kFixed);
  TagWriter w(event_first_word(EV_MESSAGE, -1));
  w.u32(kTagStartTime, time);
  w.bytes(kTagBytes, std::span<const uint8_t>(reinterpret_cast<const uint8_t *>(text.data()), n));
  return w.finish();
}

std::vector<uint8_t> button_body(uint32_t time, uint16_t data) {
  return TagWriter(event_first_word(EV_BUTTONS, -1))
      .u32(kTagStartTime, time)
      .u16(kTagWord56, data)
      .finish();
}

std::vector<uint8_t> input_body(uint32_t time, uint16_t data) {
  return TagWriter(event_first_word(EV_INPUT, -1))
      .u32(kTagStartTime, time)
      .u16(kTagWord55, data)
      .finish();
}

uint16_t item_header(size_t length, bool event, bool last) {
  auto h = static_cast<uint16_t>(std::min(length, kMaxItemLength));
  if (event) h |= kItemEvent;
  if (last) h |= kItemLast;
  return h;
}

size_t item_area_length(const std::vector<Item> &items) {
  size_t n = 0;
  for (const Item &it : items) n += 2 + std::min(it.body.size(), kMaxItemLength);
  return n;
}

std::vector<uint8_t> data_packet(const DataPacketFields &f, const std::vector<Item> &items) {
  size_t area = std::min<size_t>(item_area_length(items), 0xFFFF);
  size_t start = kDataItemsOffset + f.item_offset;
  size_t total = std::max(area + kDataOverhead, start + area);
  std::vector<uint8_t> p = header(kDataPkt, 0, 0, f.sequence, 0, 0);
  p.resize(total, 0);
  lvx::MutableBytes b(p);
  lvx::put_u16(b, 20, static_cast<uint16_t>(area));
  lvx::put_u8(b, 22, f.item_offset);
  lvx::put_u16(b, 30, f.position_prescaler);
  lvx::put_u16(b, 32, f.velocity_prescaler);
  lvx::put_u16(b, 34, f.pupil_prescaler);
  lvx::put_u16(b, 36, f.packet_flags);
  lvx::put_u16(b, 38, f.rate_x10);
  size_t at = start;
  for (size_t i = 0; i < items.size(); ++i) {
    const Item &it = items[i];
    size_t n = std::min(it.body.size(), kMaxItemLength);
    if (at + 2 + n > start + area) break;  // an item area over 64 KiB is cut
    lvx::put_u16(b, at, item_header(n, it.event, i + 1 == items.size()));
    std::copy_n(it.body.begin(), n, p.begin() + static_cast<std::ptrdiff_t>(at + 2));
    at += 2 + n;
  }
  return p;
}

}  // namespace lvxsim::build
