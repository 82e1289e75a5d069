// Encoders for the tracker's data stream: sample items, event items (parsed events, block
// markers, messages, buttons and inputs), item headers and whole DATA packets, byte for byte as
// the display decodes them. Pure: no sockets, no threads, no clocks.
//
// Every multi-byte field is big-endian. A DATA packet is
//   0..19   packet header (type 4; offset 4 carries the data sequence number)
//   20      item area length L (16 bits)
//   22      item area offset o (the first item starts at 44 + o)
//   30/32/34 position, velocity and pupil prescalers
//   36      packet flags
//   38      sample rate x 10
//   44 + o  the items, L bytes in all
// and occupies L + 47 bytes. Each item is a 16-bit header (length n in bits 0..13, bit 14 set for
// an event item, bit 15 set on the packet's last item) followed by n bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lvxsim::build {

// A 16-bit field the tracker did not fill (MISSING_VALUE on the wire).
inline constexpr int16_t kMissing16 = -32768;
// A wire float that means "missing"; the display turns it into -32768.0.
inline constexpr float kMissingFloat = 1e8f;

// Item header bits.
inline constexpr uint16_t kItemLengthMask = 0x3FFF;
inline constexpr uint16_t kItemEvent = 0x4000;
inline constexpr uint16_t kItemLast = 0x8000;
inline constexpr size_t kMaxItemLength = kItemLengthMask;

// Fixed part of a DATA packet: the bytes before the item area plus the 3-byte tail.
inline constexpr size_t kDataItemsOffset = 44;
inline constexpr size_t kDataOverhead = 47;

// Event tags.
inline constexpr uint8_t kTagStartTime = 0x21;
inline constexpr uint8_t kTagEndTime = 0x41;
inline constexpr uint8_t kTagStartPupilSize = 0x30;
inline constexpr uint8_t kTagEndPupilSize = 0x51;
inline constexpr uint8_t kTagAvgPupilSize = 0x72;
inline constexpr uint8_t kTagStartVelocity = 0x33;
inline constexpr uint8_t kTagEndVelocity = 0x53;
inline constexpr uint8_t kTagAvgVelocity = 0x73;
inline constexpr uint8_t kTagPeakVelocity = 0x93;
inline constexpr uint8_t kTagStartRes = 0x2B;
inline constexpr uint8_t kTagEndRes = 0x4B;
inline constexpr uint8_t kTagStartPupilXY = 0x28;
inline constexpr uint8_t kTagEndPupilXY = 0x48;
inline constexpr uint8_t kTagAvgPupilXY = 0x68;
inline constexpr uint8_t kTagStartGaze = 0x2A;
inline constexpr uint8_t kTagEndGaze = 0x4A;
inline constexpr uint8_t kTagAvgGaze = 0x6A;
inline constexpr uint8_t kTagStartHref = 0x29;
inline constexpr uint8_t kTagEndHref = 0x49;
inline constexpr uint8_t kTagAvgHref = 0x69;
inline constexpr uint8_t kTagStatus = 0xB4;
inline constexpr uint8_t kTagWord55 = 0x55;  // input data word; event-type flags on marker 17
inline constexpr uint8_t kTagWord56 = 0x56;  // button data word; pupil prescaler on markers
inline constexpr uint8_t kTagBytes = 0x5E;   // 16-bit length and that many bytes
inline constexpr uint8_t kTagEnd = 0x00;

// Tag meanings on block markers.
inline constexpr uint8_t kTagMarkerTime = kTagStartTime;
inline constexpr uint8_t kTagMarkerRate = kTagEndTime;     // type 15: rate x 10 x 6553
inline constexpr uint8_t kTagMarkerEndTime = kTagEndTime;  // types 16 and 18
inline constexpr uint8_t kTagMarkerPositionPrescaler = kTagStartPupilSize;
inline constexpr uint8_t kTagMarkerVelocityPrescaler = kTagEndPupilSize;
inline constexpr uint8_t kTagMarkerPupilPrescaler = kTagWord56;
inline constexpr uint8_t kTagMarkerBlockWord = kTagAvgPupilSize;
inline constexpr uint8_t kTagMarkerRateWord = kTagPeakVelocity;
inline constexpr uint8_t kTagMarkerModeWord = kTagEndRes;
inline constexpr uint8_t kTagMarkerDataFlags = kTagStatus;
inline constexpr uint8_t kTagMarkerEventTypes = kTagWord55;
// The 0x41 tag of a sample-block start carries the rate x 10 times this factor.
inline constexpr uint32_t kRateTagFactor = 6553;

struct XY {
  int16_t x = kMissing16;
  int16_t y = kMissing16;
  bool operator==(const XY &) const = default;
};

// --- sample items ---

// One extension block: a length byte (data.size()), a type byte and the data.
struct ExtensionBlock {
  uint8_t type = 0;
  std::vector<uint8_t> data;
  bool operator==(const ExtensionBlock &) const = default;
};

// Type 1: twelve signed 16-bit values.
ExtensionBlock block_type1(const std::array<int16_t, 12> &values);

// Type 2: twelve floats, a 32-bit word, six floats and the float gaze of both eyes.
struct Block2 {
  std::array<float, 12> values{};
  uint32_t word = 0;
  std::array<float, 6> values2{};
  float left_gaze_x = kMissingFloat;
  float left_gaze_y = kMissingFloat;
  float right_gaze_x = kMissingFloat;
  float right_gaze_y = kMissingFloat;
};
ExtensionBlock block_type2(const Block2 &b);

// Type 3: two lead floats, then either one point (x, y: 56 data bytes in all) or three candidate
// points given as x1, x2, x3, y1, y2, y3 (72 bytes), then five points as five x and five y.
// `middle` must hold 2 or 6 floats; any other count gives an empty block.
ExtensionBlock block_type3(const std::array<float, 2> &lead, std::span<const float> middle,
                           const std::array<float, 10> &points);

// The wire values of one sample item. Only the fields whose flag is set in `flags` are written;
// per-eye fields only for the eyes whose SF_LEFT / SF_RIGHT bit is set (index 0 left, 1 right).
struct SampleFields {
  uint16_t flags = 0x0001;  // SF_SAMPLE
  uint32_t time = 0;        // with SF_FULL_TIME
  uint8_t delta = 0;        // without it: added to the previous sample's time
  XY pupil[2];
  XY href[2];
  XY gaze[2];  // units of 1/position prescaler
  int16_t res_x = kMissing16;
  int16_t res_y = kMissing16;
  uint16_t pupil_size[2] = {0, 0};
  uint16_t status = 0;
  uint16_t input = 0;
  uint16_t buttons = 0;
  uint8_t aux_type = 0;  // low 4 bits: count of aux words (at most 8 are written)
  std::array<uint16_t, 8> aux{};
  std::vector<ExtensionBlock> blocks;             // with SF_BLOCKS
  std::vector<std::vector<uint8_t>> skip_chunks;  // with SF_SKIP_CHUNKS; 2..256 bytes each
  bool operator==(const SampleFields &) const = default;
};

// The bytes of a sample item after its header.
std::vector<uint8_t> sample_body(const SampleFields &s);

// --- event items ---

// First word of an event item: the record type in bits 8..13, the eye (0 left: bit 15; 1 right:
// bit 14; anything else: neither) and initial read bits (only 0x00C0 is kept).
uint16_t event_first_word(uint8_t type, int eye, uint16_t initial_read = 0);

// Writes an event item: the first word, then tagged values, then the zero end tag.
class TagWriter {
 public:
  explicit TagWriter(uint16_t first_word);
  TagWriter &u16(uint8_t tag, uint16_t value);
  TagWriter &u32(uint8_t tag, uint32_t value);
  TagWriter &pair(uint8_t tag, uint16_t first, uint16_t second);
  TagWriter &pair(uint8_t tag, XY v) {
    return pair(tag, static_cast<uint16_t>(v.x), static_cast<uint16_t>(v.y));
  }
  // A 16-bit length and the bytes (tag 0x5E); at most 65535 bytes are written.
  TagWriter &bytes(uint8_t tag, std::span<const uint8_t> data);
  // The item body with the end tag appended.
  std::vector<uint8_t> finish() const;

 private:
  std::vector<uint8_t> out_;
};

// A parsed event (types 1..10). Each value is written only when present; positions, sizes,
// velocities and resolutions are wire integers (gaze and resolutions in 1/position prescaler,
// velocities in 1/velocity prescaler).
struct ParsedEvent {
  uint8_t type = 0;
  int eye = 0;  // 0 left, 1 right
  std::optional<uint32_t> start_time;
  std::optional<uint32_t> end_time;
  std::optional<XY> start_gaze, end_gaze, avg_gaze;              // 0x2A, 0x4A, 0x6A
  std::optional<XY> start_pupil_xy, end_pupil_xy, avg_pupil_xy;  // 0x28, 0x48, 0x68
  std::optional<XY> start_href, end_href, avg_href;              // 0x29, 0x49, 0x69
  std::optional<uint16_t> start_pupil_size, end_pupil_size, avg_pupil_size;
  std::optional<int16_t> start_velocity, end_velocity, avg_velocity, peak_velocity;
  std::optional<XY> start_res, end_res;
  std::optional<uint16_t> status;
};

std::vector<uint8_t> parsed_event_body(const ParsedEvent &e);

// The read flags the display derives from the tags of a parsed event.
uint16_t parsed_event_read_flags(const ParsedEvent &e);

// The time the display gives the record: the end time for types 2, 4, 6, 8 and 9 when it is
// sent, else the start time (0 when that is not sent either).
uint32_t parsed_event_record_time(const ParsedEvent &e);

// Float values of a parsed event as the display reports them, given the prescalers. Absent
// pairs come out as -32768.0, absent pupil sizes as 32768.0 (they are read unsigned), an absent
// status as 0x8000.
struct EventFloats {
  float start_x, start_y, end_x, end_y, avg_x, avg_y;
  float start_href_x, start_href_y, end_href_x, end_href_y, avg_href_x, avg_href_y;
  float start_pupil_size, end_pupil_size, avg_pupil_size;
  float start_velocity, end_velocity, avg_velocity, peak_velocity;
  float start_res_x, start_res_y, end_res_x, end_res_y;
  uint16_t status;
};
EventFloats parsed_event_floats(const ParsedEvent &e, uint16_t position_prescaler,
                                uint16_t velocity_prescaler);

// A signed wire value divided by a prescaler as the display does it (-32768 stays -32768.0).
float scaled(int16_t wire, uint16_t prescaler);

// Block marker 15: opens the sample block with the stream's parameters.
struct SampleBlockStart {
  uint32_t time = 0;
  uint16_t rate_x10 = 10000;  // sent as rate_x10 x 6553 under tag 0x41
  uint16_t position_prescaler = 10;
  uint16_t velocity_prescaler = 10;
  uint16_t pupil_prescaler = 1;
  uint16_t block_word = 0;
  uint16_t rate_word = 1000;
  uint16_t mode_word = 0;
  uint16_t sample_flags = 0;  // includes the eye bits SF_LEFT (bit 15) and SF_RIGHT (bit 14)
};
std::vector<uint8_t> sample_block_start_body(const SampleBlockStart &m);

// Block marker 17: opens the event block. `event_type_flags` is the value as the display
// reports it, with bit 15 for the left eye and bit 14 for the right; the wire carries those two
// bits exchanged.
struct EventBlockStart {
  uint32_t time = 0;
  uint16_t mode_word = 0;
  uint16_t event_data_flags = 0;
  uint16_t event_type_flags = 0;
};
std::vector<uint8_t> event_block_start_body(const EventBlockStart &m);

// Exchanges bits 14 and 15 of a word.
uint16_t swap_eye_bits(uint16_t v);

// Block markers 16 and 18: close a block, with the time under tag 0x41.
std::vector<uint8_t> block_end_body(uint8_t type, uint32_t time);

// A message event (type 24): time, then the text under tag 0x5E. Texts longer than fit an item
// are cut.
std::vector<uint8_t> message_body(uint32_t time, std::string_view text);
// Button (type 25, data word under 0x56) and input (type 28, data word under 0x55) events.
std::vector<uint8_t> button_body(uint32_t time, uint16_t data);
std::vector<uint8_t> input_body(uint32_t time, uint16_t data);

// --- items and packets ---

uint16_t item_header(size_t length, bool event, bool last);

struct Item {
  bool event = false;
  std::vector<uint8_t> body;
};

// Header values of a DATA packet besides the items.
struct DataPacketFields {
  uint32_t sequence = 0;    // data sequence number, offset 4
  uint8_t item_offset = 0;  // offset 22: the items start at 44 + this
  uint16_t position_prescaler = 10;
  uint16_t velocity_prescaler = 10;
  uint16_t pupil_prescaler = 1;
  uint16_t packet_flags = 0;
  uint16_t rate_x10 = 0;
};

// The bytes all items take in the item area (headers included): the L of the packet.
size_t item_area_length(const std::vector<Item> &items);

// A whole DATA packet. Each item gets its header; the last one is marked. The packet is L + 47
// bytes, zero-padded; with an item offset above 3 it grows by the excess so that the items fit.
// Bytes 1..3 and 8..19 of the header are left for the sender to fill.
std::vector<uint8_t> data_packet(const DataPacketFields &f, const std::vector<Item> &items);

}  // namespace lvxsim::build
