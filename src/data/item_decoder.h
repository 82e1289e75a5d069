// Decoding of the data items inside DATA_PKT packets: one sample or event item into the raw
// decoded item (link_data_item), and the conversions of decoded items into the float and double
// records that the application reads. Pure: every piece of state is passed in.
#pragma once

#include <cstdint>

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

// Decodes a sample item (the `length` bytes after its 2-byte header) into `out`. Returns 212, -1
// when SF_SAMPLE is clear (or the item is too short to hold its flags), -2 when bytes are left
// over. A decode that runs past the item's end still succeeds after a log line; fields that lie
// past the end are not read and keep their absent values. Writes `out` and `state`; after a
// successful decode also the last resolution, last pupil sizes and sample count of `status`
// (block_sample_count).
int decode_sample(const uint8_t *item, int length, DecoderState &state, link_state &status,
                  link_data_item &out);

// Decodes an event item. Returns the record size (212 parsed events, 740 block markers, 9 + text
// length for messages, 8 others), -1 when bit 0 of the first word is set (or the item is too
// short to hold that word), -2 when the tags did not end exactly at the item's end. Block markers
// update the block fields, prescalers, flags and mode word of `status`; a parsed event's status
// tag updates `status.last_status` and `state.last_status`.
int decode_event(const uint8_t *item, int length, DecoderState &state, link_state &status,
                 link_data_item &out);

// Converts a decoded sample (type 200) or parsed event (types 1..10) into float form, using the
// prescalers of `status` (a prescaler of 0 counts as 1). False for any other type: `out` is left
// alone and the caller copies the raw item instead.
bool to_float(const link_data_item &item, const link_state &status, float_data &out);

// Converts a float-form record of `type` into double form: samples (with the half-millisecond
// correction), parsed events 1..10 (1, 2 and 10 included), block markers, messages and io records
// (25, 28, 63 and every other type up to 63). Every field is carried, the sample's block-3 fields
// included. False for a type with no double form; `out` is then left as the caller passed it.
bool to_double(int type, const float_data &in, double_data &out);

}  // namespace lvx
