// Decoding of the data items inside DATA_PKT packets: one sample or event item into the raw
// decoded item (link_data_item). Pure: every piece of state is passed in. The float and double
// forms built from decoded items are in record_conversion.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/wire_reader.h"
#include "lumavex_core.h"

namespace lvx {

// Decoder kinds, as last_kind reports them.
enum DecoderKind : uint16_t {
  KIND_LOST_DATA = 0,
  KIND_OTHER = 8,
  KIND_BLOCK_MARKER = 36,
  KIND_PARSED_EVENT = 66,
  KIND_SAMPLE = 200,
  KIND_MESSAGE = 250,
};

// Sizes a successful decode returns.
constexpr int kSampleRecordSize = 212;
constexpr int kParsedEventRecordSize = 212;
constexpr int kBlockMarkerRecordSize = 740;
constexpr int kOtherRecordSize = 8;
constexpr int kMessageRecordBase = 9;  // + the text length

// The values a decoded or converted record holds in a field the item did not carry.
constexpr int16_t kMissingInt = MISSING_VALUE;
constexpr uint16_t kMissingWord = 0x8000;
constexpr float kMissingFloat = static_cast<float>(MISSING_VALUE);

// Fixed fields at the start of an item (the bytes after its 2-byte header). The rest of a sample
// follows in the order its flags give; the rest of an event is a list of tagged values.
namespace item {
constexpr size_t kSampleFlags = 0;     // u16, SF_ flags
constexpr size_t kSampleFullTime = 2;  // u32, when SF_FULL_TIME is set
constexpr size_t kEventWord = 0;       // u16: bit 0 set for "not an event", the type in bits 8..13
constexpr size_t kEventType = 0;       // the type again, as the low 6 bits of the first byte
constexpr uint8_t kEventTypeMask = 0x3F;
}  // namespace item

// The type of an event item, from its first byte; -1 for an empty item.
inline int event_item_type(Bytes event) {
  WireReader r(event);
  const uint8_t first = r.u8_at(item::kEventType);
  return r.ok() ? first & item::kEventTypeMask : -1;
}

inline bool is_parsed_event(int type) {
  return type >= 1 && type <= 10;
}

inline bool is_block_marker(int type) {
  return type >= EV_SAMPLE_BLOCK_START && type <= EV_EVENT_BLOCK_END;
}

// What the decoders remember from one item to the next; cleared by a data reset.
struct DecoderState {
  uint32_t last_sample_time = 0;  // delta-coded sample times count from here
  uint16_t kind = 0;              // DecoderKind of the last decoded item
  uint16_t size = 0;              // record size of the last decoded item
  int16_t type = 0;               // record type of the last decoded item
  uint16_t last_res_x = 0;
  uint16_t last_res_y = 0;
  uint16_t last_pupil_size[2] = {0, 0};
  uint16_t last_status = 0;
  uint32_t sample_count = 0;
};

// Decodes a sample item (the bytes after its 2-byte header) into `out`. Returns 212, -1 when
// SF_SAMPLE is clear (or the item is too short to hold its flags), -2 when bytes are left over. A
// decode that runs past the item's end still succeeds after a log line; fields that lie past the
// end are not read and keep their absent values. Writes `out` and `state`; after a successful
// decode also the last resolution, last pupil sizes and sample count of `status`
// (block_sample_count).
int decode_sample(Bytes item, DecoderState &state, link_state &status, link_data_item &out);

// Decodes an event item. Returns the record size (212 parsed events, 740 block markers, 9 + text
// length for messages, 8 others), -1 when bit 0 of the first word is set (or the item is too
// short to hold that word), -2 when the tags did not end exactly at the item's end. Block markers
// update the block fields, prescalers, flags and mode word of `status`; a parsed event's status
// tag updates `status.last_status` and `state.last_status`.
int decode_event(Bytes item, DecoderState &state, link_state &status, link_data_item &out);

}  // namespace lvx
