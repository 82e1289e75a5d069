#include "data/item_decoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <span>

#include "common/wire_reader.h"
#include "link/log.h"

// Items are read through a WireReader: a field is read only when it lies wholly inside the item;
// a field that would run past the end keeps whatever the record had in it (its absent value) but
// the position still moves past it, so the decoders see an overrun from the position alone and
// the left-over and out-of-bound rules decide the result. Nothing past the item is ever touched.

namespace lvx {

namespace {

// The tracker writes exactly this value into a float it has no value for.
constexpr float kWireMissingFloat = 100000000.0f;

// Reads a wire float; the tracker's "no value" marker becomes the missing value, every other
// pattern (NaN included) is kept as it came. A float past the item's end leaves `v` alone.
bool read_float(WireReader &r, float &v) {
  float f = 0;
  if (!r.f32(f)) return false;
  v = f == kWireMissingFloat ? kMissingFloat : f;
  return true;
}

// ---- Samples ----------------------------------------------------------------------------------

// The low bits of the aux byte count the aux words that follow, at most kMaxAuxWords of them.
constexpr uint8_t kAuxCountMask = 0x0F;
constexpr int kMaxAuxWords = 8;

// Extension blocks: a length byte, a type byte, then the block's data. Only these (length, type)
// pairs are read; any other block is skipped.
struct BlockShape {
  uint8_t length;
  uint8_t type;
};
constexpr BlockShape kIntegerBlock{24, 1};      // twelve 16-bit values
constexpr BlockShape kFloatGazeBlock{92, 2};    // twelve floats, a word, six floats, float gaze
constexpr BlockShape kPointsBlock{72, 3};       // lead values, three candidate points, five points
constexpr BlockShape kShortPointsBlock{56, 3};  // lead values, the point, five points

bool matches(const BlockShape &shape, uint8_t length, uint8_t type) {
  return shape.length == length && shape.type == type;
}

bool is_block_length(uint8_t len) {
  for (const BlockShape &s : {kIntegerBlock, kFloatGazeBlock, kPointsBlock, kShortPointsBlock}) {
    if (s.length == len) return true;
  }
  return false;
}

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
void read_eye_pairs(WireReader &r, uint16_t flags, int16_t (&x)[2], int16_t (&y)[2]) {
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
void read_block3_points(WireReader &r, link_sample_item &s) {
  for (int i = 4; i < 14; ++i) read_float(r, s.block3[i]);
}

void read_integer_block(WireReader &r, link_sample_item &s) {
  for (float &v : s.block) {
    int16_t raw = 0;
    if (r.i16(raw)) v = static_cast<float>(raw);
  }
}

void read_float_gaze_block(WireReader &r, link_sample_item &s) {
  for (float &v : s.block) read_float(r, v);
  r.u32(s.block_word);
  for (float &v : s.block2) read_float(r, v);
  read_float(r, s.float_gaze_x[0]);
  read_float(r, s.float_gaze_y[0]);
  read_float(r, s.float_gaze_x[1]);
  read_float(r, s.float_gaze_y[1]);
  // The block's float gaze replaces the integer gaze: marking the integers missing is what makes
  // the float conversion take the block's values.
  for (int e = 0; e < 2; ++e) s.gaze_x[e] = s.gaze_y[e] = kMissingInt;
}

void read_points_block(WireReader &r, link_sample_item &s) {
  read_float(r, s.block3[0]);
  read_float(r, s.block3[1]);
  // Three candidate points, x1 x2 x3 then y1 y2 y3. The third is preferred, then the first, then
  // the second; the first with both coordinates present wins.
  float x[3] = {kMissingFloat, kMissingFloat, kMissingFloat};
  float y[3] = {kMissingFloat, kMissingFloat, kMissingFloat};
  for (float &v : x) read_float(r, v);
  for (float &v : y) read_float(r, v);
  for (int c : {2, 0, 1}) {
    if (!is_missing(x[c]) && !is_missing(y[c])) {
      s.block3[2] = x[c];
      s.block3[3] = y[c];
      break;
    }
  }
  read_block3_points(r, s);
}

// Reads the data of a known (length, type) block; false for any other pair.
bool read_known_block(WireReader &r, uint8_t len, uint8_t type, link_sample_item &s) {
  if (matches(kIntegerBlock, len, type)) {
    read_integer_block(r, s);
  } else if (matches(kFloatGazeBlock, len, type)) {
    read_float_gaze_block(r, s);
  } else if (matches(kPointsBlock, len, type)) {
    read_points_block(r, s);
  } else if (matches(kShortPointsBlock, len, type)) {
    for (int i = 0; i < 4; ++i) read_float(r, s.block3[i]);
    read_block3_points(r, s);
  } else {
    return false;
  }
  return true;
}

// Reads the extension-block chain. True when the chain ended with its zero length byte (the skip
// chunks may follow), false when an unknown block used up the item.
bool read_blocks(WireReader &r, link_sample_item &s) {
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

void skip_chunks(WireReader &r) {
  for (;;) {
    uint8_t c = 0;
    // As with the block chain, a missing length byte ends the chain after counting as read.
    r.u8(c);
    if (c == 0) return;
    r.skip(static_cast<size_t>(c) + 1);
  }
}

// Reads the fields after the time, in the order the flags give them.
void read_sample_fields(WireReader &r, uint16_t flags, DecoderState &state, link_sample_item &s) {
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
    const int count = std::min(aux_type & kAuxCountMask, kMaxAuxWords);
    for (int i = 0; i < count; ++i) r.u16(s.aux_data[i]);
  }
  // The skip chunks follow only a block chain that ended with its zero byte; an unknown block
  // that runs to the item's end ends the decode.
  bool chain_closed = true;
  if (flags & SF_BLOCKS) chain_closed = read_blocks(r, s);
  if (chain_closed && (flags & SF_SKIP_CHUNKS)) skip_chunks(r);
}

// ---- Events -----------------------------------------------------------------------------------

// The first word of an event item.
constexpr uint16_t kNotAnEvent = 0x0001;
constexpr uint16_t kEventLeftEye = 0x8000;
constexpr uint16_t kEventRightEye = 0x4000;
constexpr uint16_t kEventReadBits = RF_END_TIME | RF_PUPIL_SIZE;  // copied into the read flags
constexpr int kEventTypeShift = 8;

// The extended block of a parsed event: tag 0x5E, a length of 147, three fixed bytes, 36 floats.
constexpr uint16_t kExtendedBlockLength = 147;
constexpr uint8_t kExtendedBlockPrefix[] = {0x00, 0x92, 0x02};

// The longest message text kept.
constexpr size_t kMaxMessageText = 255;

enum class EventKind { Parsed, Marker, Message, Other };

EventKind event_kind(int type) {
  if (is_parsed_event(type)) return EventKind::Parsed;
  if (is_block_marker(type)) return EventKind::Marker;
  if (type == EV_MESSAGE) return EventKind::Message;
  return EventKind::Other;
}

bool takes_end_time(int type) {
  return type == 2 || type == 4 || type == 6 || type == 8 || type == 9;
}

// One event item as it is decoded: what its first word said, and what its tags gather.
struct EventDecode {
  int type = 0;
  EventKind kind = EventKind::Other;
  bool was_in_block = false;  // a sample or event block was open before this item
  uint16_t read = 0;          // parsed events: the read flags
  uint16_t data = 0;          // io records: the data word
  uint16_t text_length = 0;   // messages: the copied text length
};

// What a tag's field reader works on.
struct TagContext {
  WireReader &r;
  uint8_t tag;
  EventDecode &ev;
  link_data_item &out;
  DecoderState &state;
  link_state &status;
};

// One row of a tag table: the tag, the read flags it adds (parsed events), and its field reader.
struct TagRow {
  uint8_t tag;
  uint16_t read_flags;
  void (*read)(TagContext &);
};

// Bytes a tag's value takes under the general rule: 16 bits when bit 0x10 is set, else 32.
size_t tag_value_size(uint8_t tag) {
  return (tag & 0x10) ? 2 : 4;
}

// A tag this record kind does not use: skipped without a word.
void skip_value(TagContext &c) {
  c.r.skip(tag_value_size(c.tag));
}

// A tag no table knows: reported and skipped.
void dump_tag(WireReader &r, uint8_t tag) {
  log_printf("Code = %x pos = %d  #### DUMPING ..\n", static_cast<unsigned>(tag),
             static_cast<int>(r.pos()));
  r.skip(tag_value_size(tag));
}

// -- Parsed events (types 1..10)

using Event = link_event_item;

template <uint16_t Event::*Field>
void event_word(TagContext &c) {
  c.r.u16(c.out.event.*Field);
}

template <int16_t Event::*Field>
void event_value(TagContext &c) {
  c.r.i16(c.out.event.*Field);
}

template <int16_t Event::*X, int16_t Event::*Y>
void event_pair(TagContext &c) {
  c.r.i16(c.out.event.*X);
  c.r.i16(c.out.event.*Y);
}

void event_start_time(TagContext &c) {
  Event &e = c.out.event;
  if (c.r.u32(e.start_time)) e.time = e.start_time;
}

void event_end_time(TagContext &c) {
  Event &e = c.out.event;
  if (c.r.u32(e.end_time) && takes_end_time(c.ev.type)) e.time = e.end_time;
}

void event_status(TagContext &c) {
  Event &e = c.out.event;
  if (c.r.u16(e.status)) c.state.last_status = c.status.last_status = e.status;
}

void event_extended_block(TagContext &c) {
  WireReader &r = c.r;
  uint16_t m = 0;
  r.u16(m);
  // Only a payload that lies wholly inside the item is recognised; anything else is skipped.
  const bool prefix = r.peek(0) == kExtendedBlockPrefix[0] &&
                      r.peek(1) == kExtendedBlockPrefix[1] && r.peek(2) == kExtendedBlockPrefix[2];
  if (m == kExtendedBlockLength && r.fits(m) && prefix) {
    r.skip(sizeof kExtendedBlockPrefix);
    for (float &v : c.out.event.extended) read_float(r, v);
    c.ev.read |= RF_EXTENDED;
    return;
  }
  r.skip(m);
}

constexpr TagRow kParsedEventTags[] = {
    {0x21, RF_START, event_start_time},
    {0x41, RF_END_TIME, event_end_time},
    {0x30, RF_PUPIL_SIZE | RF_START, event_word<&Event::start_pupil_size>},
    {0x51, RF_PUPIL_SIZE | RF_END, event_word<&Event::end_pupil_size>},
    {0x72, RF_PUPIL_SIZE | RF_AVG, event_word<&Event::avg_pupil_size>},
    {0x33, RF_VELOCITY | RF_START, event_value<&Event::start_velocity>},
    {0x53, RF_VELOCITY | RF_END, event_value<&Event::end_velocity>},
    {0x73, RF_VELOCITY | RF_AVG, event_value<&Event::avg_velocity>},
    {0x93, RF_VELOCITY | RF_AVG, event_value<&Event::peak_velocity>},
    {0x2B, RF_RESOLUTION | RF_START, event_pair<&Event::start_res_x, &Event::start_res_y>},
    {0x4B, RF_RESOLUTION | RF_END, event_pair<&Event::end_res_x, &Event::end_res_y>},
    {0x28, RF_PUPIL_XY | RF_START_POS, event_pair<&Event::start_x, &Event::start_y>},
    {0x2A, RF_GAZE_XY | RF_START_POS, event_pair<&Event::start_x, &Event::start_y>},
    {0x48, RF_PUPIL_XY | RF_END_POS, event_pair<&Event::end_x, &Event::end_y>},
    {0x4A, RF_GAZE_XY | RF_END_POS, event_pair<&Event::end_x, &Event::end_y>},
    {0x68, RF_PUPIL_XY | RF_AVG_POS, event_pair<&Event::avg_x, &Event::avg_y>},
    {0x6A, RF_GAZE_XY | RF_AVG_POS, event_pair<&Event::avg_x, &Event::avg_y>},
    {0x29, RF_HREF_XY | RF_START_POS, event_pair<&Event::start_href_x, &Event::start_href_y>},
    {0x49, RF_HREF_XY | RF_END_POS, event_pair<&Event::end_href_x, &Event::end_href_y>},
    {0x69, RF_HREF_XY | RF_AVG_POS, event_pair<&Event::avg_href_x, &Event::avg_href_y>},
    {0xB4, RF_STATUS, event_status},
    {0x55, 0, skip_value},
    {0x5E, 0, event_extended_block},
};

// -- Block markers (types 15..18): the values go to the stream state

template <uint16_t link_state::*Field>
void stream_word(TagContext &c) {
  c.r.u16(c.status.*Field);
}

void marker_time(TagContext &c) {
  c.r.u32(c.status.status_time);
}

// A sample-block start carries the sample rate here (x 6553), a block end its time.
void marker_rate_or_end_time(TagContext &c) {
  uint32_t v = 0;
  if (!c.r.u32(v)) return;
  const int type = c.ev.type;
  if (type == EV_SAMPLE_BLOCK_START) {
    c.status.sample_rate_x10 = static_cast<uint16_t>(v / 6553);
  } else if (type == EV_SAMPLE_BLOCK_END || type == EV_EVENT_BLOCK_END) {
    c.status.status_time = v;
  }
}

void marker_sample_block_word(TagContext &c) {
  uint16_t v = 0;
  if (c.r.u16(v) && c.ev.type == EV_SAMPLE_BLOCK_START) c.status.sample_block_word = v;
}

void marker_rate_word(TagContext &c) {
  uint16_t v = 0;
  if (c.r.u16(v)) c.status.rate_word = (v >= 1 && v <= 10000) ? v : 1;
}

void marker_mode_word(TagContext &c) {
  uint16_t mode = 0, second = 0;
  const bool ok = c.r.u16(mode);
  c.r.u16(second);
  const int type = c.ev.type;
  if (ok && (type == EV_SAMPLE_BLOCK_START || type == EV_EVENT_BLOCK_START)) {
    c.status.tracker_mode_word = static_cast<uint16_t>(mode | 0x8000);
  }
}

void marker_data_flags(TagContext &c) {
  uint16_t v = 0;
  if (!c.r.u16(v)) return;
  link_state &status = c.status;
  if (c.ev.type == EV_SAMPLE_BLOCK_START) {
    status.sample_data_flags = v;
    status.left_eye_present = (v & 0x8000) ? 1 : 0;
    status.right_eye_present = (v & 0x4000) ? 1 : 0;
  } else if (c.ev.type == EV_EVENT_BLOCK_START) {
    status.event_data_flags = v;
  }
}

void marker_event_types(TagContext &c) {
  uint16_t v = 0;
  if (!c.r.u16(v) || c.ev.type != EV_EVENT_BLOCK_START) return;
  // The event-type word carries the eyes the other way round: bit 14 left, bit 15 right. Stored
  // with the two exchanged, it reads like the sample-data flags (bit 15 left).
  c.status.event_type_flags =
      static_cast<uint16_t>((v & 0x3FFF) | ((v & 0x4000) << 1) | ((v & 0x8000) >> 1));
  c.status.left_eye_present = (v & 0x4000) ? 1 : 0;
  c.status.right_eye_present = (v & 0x8000) ? 1 : 0;
}

void skip_block(TagContext &c) {
  uint16_t n = 0;
  c.r.u16(n);
  c.r.skip(n);
}

constexpr TagRow kMarkerTags[] = {
    {0x21, 0, marker_time},
    {0x41, 0, marker_rate_or_end_time},
    {0x30, 0, stream_word<&link_state::position_prescaler>},
    {0x51, 0, stream_word<&link_state::velocity_prescaler>},
    {0x56, 0, stream_word<&link_state::pupil_prescaler>},
    {0x72, 0, marker_sample_block_word},
    {0x93, 0, marker_rate_word},
    {0x4B, 0, marker_mode_word},
    {0xB4, 0, marker_data_flags},
    {0x55, 0, marker_event_types},
    {0x5E, 0, skip_block},
};

// -- Messages, buttons, inputs and other records

void record_time(TagContext &c) {
  c.r.u32(c.out.io.time);
}

// Tag 0x55 belongs to input records and 0x56 to button records; other types have no type-specific
// tags, so both are passed over there and the data word stays as it began.
template <int OwnType>
void record_data_word(TagContext &c) {
  uint16_t v = 0;
  if (c.r.u16(v) && c.ev.type == OwnType) c.ev.data = v;
}

void message_text(TagContext &c) {
  WireReader &r = c.r;
  uint16_t m = 0;
  r.u16(m);
  if (c.ev.type == EV_MESSAGE) {
    // At most 255 bytes of the text, and never more than the item still holds.
    const size_t n = std::min({static_cast<size_t>(m), kMaxMessageText, r.left()});
    if (n > 0) std::memcpy(c.out.message.text, r.here(), n);
    c.out.message.text[n] = '\0';
    c.ev.text_length = static_cast<uint16_t>(n);
  }
  r.skip(m);
}

constexpr TagRow kRecordTags[] = {
    {0x21, 0, record_time},
    {0x41, 0, skip_value},
    {0x30, 0, skip_value},
    {0x51, 0, skip_value},
    {0x72, 0, skip_value},
    {0x93, 0, skip_value},
    {0x4B, 0, skip_value},
    {0xB4, 0, skip_value},
    {0x55, 0, record_data_word<EV_INPUT>},
    {0x56, 0, record_data_word<EV_BUTTONS>},
    {0x5E, 0, message_text},
};

std::span<const TagRow> tag_table(EventKind kind) {
  switch (kind) {
    case EventKind::Parsed:
      return kParsedEventTags;
    case EventKind::Marker:
      return kMarkerTags;
    case EventKind::Message:
    case EventKind::Other:
      break;
  }
  return kRecordTags;
}

// -- The three steps of an event decode

void set_parsed_defaults(uint16_t first, EventDecode &ev, Event &e) {
  e.eye = static_cast<int16_t>((first & kEventLeftEye) ? 0 : (first & kEventRightEye) ? 1 : -1);
  for (int16_t *v :
       {&e.start_href_x, &e.start_href_y, &e.start_x,      &e.start_y,       &e.end_href_x,
        &e.end_href_y,   &e.end_x,        &e.end_y,        &e.avg_href_x,    &e.avg_href_y,
        &e.avg_x,        &e.avg_y,        &e.avg_velocity, &e.peak_velocity, &e.start_velocity,
        &e.end_velocity, &e.start_res_x,  &e.end_res_x,    &e.start_res_y,   &e.end_res_y}) {
    *v = kMissingInt;
  }
  e.start_pupil_size = e.end_pupil_size = e.avg_pupil_size = kMissingWord;
  e.status = kMissingWord;
  ev.read = static_cast<uint16_t>(first & kEventReadBits);
}

// A block marker opens or closes its block as soon as it is seen, even when its tags then fail.
void open_or_close_block(int type, link_state &status) {
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
}

// Reads the first word and sets the record up for its tags. False, with `out` untouched, when
// the item is not an event (or too short to say).
bool begin_event(WireReader &r, EventDecode &ev, link_state &status, link_data_item &out) {
  uint16_t first = 0;
  if (!r.u16(first) || (first & kNotAnEvent) != 0) return false;
  ev.type = (first >> kEventTypeShift) & item::kEventTypeMask;
  ev.kind = event_kind(ev.type);
  ev.was_in_block = status.in_sample_block != 0 || status.in_event_block != 0;

  std::memset(&out, 0, sizeof out);
  out.event.type = static_cast<int16_t>(ev.type);
  std::fill(std::begin(out.event.extended), std::end(out.event.extended), kMissingFloat);
  switch (ev.kind) {
    case EventKind::Parsed:
      set_parsed_defaults(first, ev, out.event);
      break;
    case EventKind::Marker:
      open_or_close_block(ev.type, status);
      break;
    case EventKind::Message:
      out.message.text[0] = '\0';
      break;
    case EventKind::Other:
      ev.data = ev.type == EV_INPUT ? 0x8000 : 0;
      break;
  }
  return true;
}

// Walks the tags up to the zero tag. A missing end tag reads as the zero tag past the item's
// end: the decode then fails with -2.
void read_event_tags(TagContext &c) {
  const std::span<const TagRow> table = tag_table(c.ev.kind);
  for (;;) {
    c.tag = 0;
    c.r.u8(c.tag);
    if (c.tag == 0) return;
    const auto row =
        std::find_if(table.begin(), table.end(), [&](const TagRow &t) { return t.tag == c.tag; });
    if (row == table.end()) {
      dump_tag(c.r, c.tag);
      continue;
    }
    row->read(c);
    c.ev.read |= row->read_flags;
  }
}

// Bytes after the end tag go to the log (at most the first 32 of them, so that a stream of
// malformed items cannot flood it), but the decode's result says what matters.
void report_left_over(const WireReader &r, int type) {
  if (r.left() == 0) return;
  constexpr size_t kShown = 32;
  char bytes[kShown * 5 + 8] = {};
  size_t at = 0;
  for (size_t i = 0; i < r.left() && i < kShown; ++i) {
    at += static_cast<size_t>(std::snprintf(bytes + at, sizeof bytes - at, "0x%02x ", r.peek(i)));
  }
  if (r.left() > kShown) std::snprintf(bytes + at, sizeof bytes - at, "...");
  log_printf("#### Code = %x type=%d len = %d Extra data :%s\n", 0u, type,
             static_cast<int>(r.left()), bytes);
}

// Completes the record from what the tags gathered and notes it as the last decoded item; returns
// its size.
int close_record(const EventDecode &ev, DecoderState &state, link_data_item &out) {
  int size = kOtherRecordSize;
  switch (ev.kind) {
    case EventKind::Parsed:
      out.event.read = ev.read;
      if (out.event.start_time == 0 && out.event.end_time != 0) {
        out.event.start_time = out.event.end_time;
      }
      state.kind = KIND_PARSED_EVENT;
      size = kParsedEventRecordSize;
      break;
    case EventKind::Marker:
      state.kind = KIND_BLOCK_MARKER;
      size = kBlockMarkerRecordSize;
      break;
    case EventKind::Message:
      out.message.length = ev.text_length;
      state.kind = KIND_MESSAGE;
      size = kMessageRecordBase + ev.text_length;
      break;
    case EventKind::Other:
      out.io.data = ev.data;
      state.kind = KIND_OTHER;
      break;
  }
  state.type = static_cast<int16_t>(ev.type);
  state.size = static_cast<uint16_t>(size);
  return size;
}

// A marker that opens a sample block while none was open starts a new block; every other record
// counts as an event of the block.
void count_in_block(const EventDecode &ev, link_state &status) {
  if (ev.kind != EventKind::Marker) {
    ++status.block_event_count;
    return;
  }
  if (!ev.was_in_block && status.in_sample_block != 0) {
    ++status.block_number;
    status.block_sample_count = 0;
    status.block_event_count = 0;
    status.first_in_block = 1;
  } else {
    status.first_in_block = 0;
  }
}

int finish_event(const WireReader &r, const EventDecode &ev, DecoderState &state,
                 link_state &status, link_data_item &out) {
  report_left_over(r, ev.type);
  const int size = close_record(ev, state, out);
  if (r.pos() != r.size()) return -2;
  count_in_block(ev, status);
  return size;
}

}  // namespace

int decode_sample(Bytes item, DecoderState &state, link_state &status, link_data_item &out) {
  WireReader r(item);
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
  read_sample_fields(r, flags, state, s);

  state.kind = KIND_SAMPLE;
  state.type = EV_SAMPLE;
  state.size = kSampleRecordSize;
  const size_t used = r.pos();
  if (used > r.size()) {
    lvx::log_printf("TR-6282 Out of bound access... size=%d used=%d\n", static_cast<int>(r.size()),
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

int decode_event(Bytes item, DecoderState &state, link_state &status, link_data_item &out) {
  WireReader r(item);
  EventDecode ev;
  if (!begin_event(r, ev, status, out)) return -1;
  TagContext tags{r, 0, ev, out, state, status};
  read_event_tags(tags);
  return finish_event(r, ev, state, status, out);
}

}  // namespace lvx
