#include "data/data_stream.h"

#include <cstring>

#include "common/byte_io.h"
#include "link/link_state.h"
#include "link/transport.h"

namespace lvx {

namespace {

// DATA_PKT layout.
constexpr size_t kItemAreaLength = 20;
constexpr size_t kItemAreaOffset = 22;
constexpr size_t kPositionPrescaler = 30;
constexpr size_t kVelocityPrescaler = 32;
constexpr size_t kPupilPrescaler = 34;
constexpr size_t kPacketFlags = 36;
constexpr size_t kSampleRate = 38;
constexpr size_t kItemsStart = 44;
constexpr int kPacketOverhead = 47;
// Item headers: the length in bits 0..13, an event in bit 14, the packet's last item in bit 15.
constexpr uint16_t kItemLengthMask = 0x3FFF;
constexpr uint16_t kItemIsEvent = 0x4000;
constexpr uint16_t kItemIsLast = 0x8000;

// The item the intake queues when data packets went missing: an event of type 63, no tags.
constexpr uint8_t kLostDataItem[] = {0x3F, 0x00, 0x00};

bool is_block_marker(int type) {
  return type >= EV_SAMPLE_BLOCK_START && type <= EV_EVENT_BLOCK_END;
}

// Queues an item (data_lock held). A block marker discarded to make room is decoded all the same,
// so that the block fields of the status stay right.
void queue_item(DataStream &d, const uint8_t *bytes, size_t length, uint16_t kind) {
  std::lock_guard lock(d.queue_lock);
  d.queue.put(bytes, length, kind, [&d](const uint8_t *marker, size_t n) {
    link_data_item scratch{};
    decode_event(marker, static_cast<int>(n), d.decoder, d.status, scratch);
  });
}

void notify(DataStream &d, int reason) {
  if (lumavex_data_ready_callback cb = d.callback.load()) cb(reason);
}

void take_event_item(DataStream &d, const uint8_t *item, size_t n) {
  if (n == 0) return;
  int type = item[0] & 0x3F;
  if (is_block_marker(type)) {
    queue_item(d, item, n, ITEM_MARKER);
  } else if (d.events_on) {
    queue_item(d, item, n, ITEM_EVENT);
    notify(d, 1);
  }
}

void take_sample_item(DataStream &d, const uint8_t *item, size_t n) {
  if (!d.samples_on) return;
  uint8_t copy[kSampleItemLimit];
  size_t kept = n < kSampleItemLimit ? n : kSampleItemLimit;
  std::memcpy(copy, item, kept);
  MutableBytes b(copy, kept);
  if (kept >= 6 && (get_u16(b, 0) & SF_FULL_TIME) != 0) {
    // Two samples with the same full time are half a millisecond apart: mark the second.
    uint32_t time = get_u32(b, 2);
    if (time == d.last_full_time) put_u16(b, 0, static_cast<uint16_t>(get_u16(b, 0) | SF_HALF_MS));
    d.last_full_time = time;
  }
  queue_item(d, copy, kept, ITEM_SAMPLE);
  std::memcpy(d.newest, copy, kept);
  d.newest_length = kept;
  d.newest_is_new = true;
  d.newest_decoded = false;
  notify(d, 2);
}

}  // namespace

DataStream &data_stream() {
  static auto *d = new DataStream;  // never destroyed: the receive thread may outlive statics
  return *d;
}

bool data_link_ready() {
  return system_open() && !dummy_mode();
}

int data_queue_init(uint32_t bytes) {
  DataStream &d = data_stream();
  size_t capacity = bytes < kSmallestQueueRequest ? kRaisedQueueSize : bytes;
  std::lock_guard data(d.data_lock);
  d.status = link_state{};
  d.snapshot = link_state{};
  d.decoder = DecoderState{};
  std::lock_guard queue(d.queue_lock);
  return d.queue.init(capacity) ? 0 : -1;
}

void data_queue_release() {
  DataStream &d = data_stream();
  std::lock_guard data(d.data_lock);
  std::lock_guard queue(d.queue_lock);
  d.queue.clear();
}

uint32_t data_queue_capacity() {
  DataStream &d = data_stream();
  std::lock_guard queue(d.queue_lock);
  return static_cast<uint32_t>(d.queue.capacity());
}

void data_status_refresh() {
  DataStream &d = data_stream();
  std::lock_guard data(d.data_lock);
  link_state &s = d.status;
  s.record_version = 2;
  s.samples_on = d.samples_on ? 1 : 0;
  s.events_on = d.events_on ? 1 : 0;
  std::lock_guard queue(d.queue_lock);
  s.queue_size = static_cast<uint32_t>(d.queue.capacity());
  s.queue_free = static_cast<uint32_t>(d.queue.free_space());
  s.queued_samples = static_cast<uint16_t>(d.samples_on ? d.queue.samples() : 0);
  s.queued_events = static_cast<uint16_t>(d.events_on ? d.queue.events() + d.queue.markers() : 0);
  s.gap_types = d.queue.gap_types();
}

void data_reset(int clear) {
  if (!system_open()) return;
  DataStream &d = data_stream();
  {
    std::lock_guard data(d.data_lock);
    link_state &s = d.status;
    d.last_data_sequence = -1;
    d.newest_length = 0;
    d.newest_is_new = false;
    d.newest_decoded = false;
    d.newest_polls = 0;
    s.block_number = 0;
    s.block_sample_count = 0;
    s.block_event_count = 0;
    s.in_sample_block = 0;
    s.in_event_block = 0;
    s.left_eye_present = 0;
    s.right_eye_present = 0;
    s.sample_data_flags = 0;
    s.event_data_flags = 0;
    s.event_type_flags = 0;
    s.control_read = 0;
    s.first_in_block = 0;
    s.position_prescaler = 10;
    s.velocity_prescaler = 10;
    s.pupil_prescaler = 1;
    s.rate_word = 1;
    s.last_res_x = 220;
    s.last_res_y = 220;
    s.last_pupil_size[0] = 0;
    s.last_pupil_size[1] = 0;
    s.last_status = 0;
    d.decoder = DecoderState{};
    // A sample without a resolution keeps reporting the reset value.
    d.decoder.last_res_x = 220;
    d.decoder.last_res_y = 220;
    {
      std::lock_guard queue(d.queue_lock);
      d.queue.clear_lost_pending();
      d.queue.clear_gaps();
      if (clear != 0) d.queue.clear();
    }
    s.gap_types = 0;
  }
  data_status_refresh();
}

int handle_data_packet(const LVXADDR & /*sender*/, Bytes packet) {
  const int remaining = static_cast<int>(packet.size());
  if (remaining < static_cast<int>(kItemAreaOffset)) return -1;
  Bytes p = packet;
  const int total = get_u16(p, kItemAreaLength) + kPacketOverhead;
  if (total > remaining) return -1;
  p = p.first(static_cast<size_t>(total));

  DataStream &d = data_stream();
  std::lock_guard lock(d.data_lock);
  // Data packets carry their own sequence: a repeat or an old packet is dropped whole, and a jump
  // means packets went missing, which the reader learns from a lost-data record.
  int64_t sequence = get_u32(p, 4);
  if (d.last_data_sequence != -1) {
    if (sequence <= d.last_data_sequence) return total;
    if (sequence - d.last_data_sequence > 1) {
      queue_item(d, kLostDataItem, sizeof kLostDataItem, ITEM_EVENT);
    }
  }
  d.last_data_sequence = sequence;

  link_state &s = d.status;
  s.last_receive_time = get_u32(p, 8);
  s.position_prescaler = get_u16(p, kPositionPrescaler);
  s.velocity_prescaler = get_u16(p, kVelocityPrescaler);
  s.pupil_prescaler = get_u16(p, kPupilPrescaler);
  s.packet_flags = get_u16(p, kPacketFlags);
  s.sample_rate_x10 = get_u16(p, kSampleRate);

  int left = get_u16(p, kItemAreaLength);
  if (left < 6) return total;
  size_t at = kItemsStart + get_u8(p, kItemAreaOffset);
  while (left >= 1 && at + 2 <= p.size()) {
    uint16_t header = get_u16(p, at);
    at += 2;
    left -= 2;
    size_t n = header & kItemLengthMask;
    if (left < static_cast<int>(n) || at + n > p.size()) break;
    if ((header & kItemIsEvent) != 0) {
      take_event_item(d, p.data() + at, n);
    } else {
      take_sample_item(d, p.data() + at, n);
    }
    at += n;
    left -= static_cast<int>(n);
    if ((header & kItemIsLast) != 0) break;
  }
  return total;
}

void set_playback_requester(PlaybackRequester requester) {
  data_stream().playback_requester = requester;
}

void request_playback_data() {
  if (PlaybackRequester requester = data_stream().playback_requester.load()) requester();
}

}  // namespace lvx

extern "C" {

int16_t lumavex_reset_data(int16_t clear) noexcept {
  lvx::data_reset(clear);
  return 0;
}

int16_t lumavex_data_switch(uint16_t flags) noexcept {
  lvx::DataStream &d = lvx::data_stream();
  d.samples_on = (flags & 0x04) != 0;
  d.events_on = (flags & 0x08) != 0;
  lvx::data_reset(0);
  return 0;
}

int16_t lumavex_set_data_ready_notify(lumavex_data_ready_callback callback) noexcept {
  lvx::data_stream().callback = callback;
  return 0;
}

lumavex_data_ready_callback lumavex_get_data_ready_notify(void) noexcept {
  return lvx::data_stream().callback.load();
}

link_state *lumavex_data_status(void) noexcept {
  lvx::DataStream &d = lvx::data_stream();
  // The header echo lives with the link; take it before the data lock (lock order).
  lvx::LinkStateFields echo;
  {
    lvx::LinkLockGuard lock;
    echo = lvx::link_record().state;
  }
  lvx::data_status_refresh();
  std::lock_guard lock(d.data_lock);
  d.status.header_word16 = echo.header_word16;
  d.status.header_word14 = echo.header_word14;
  d.status.header_byte18 = echo.header_byte18;
  d.status.header_byte19 = echo.header_byte19;
  d.snapshot = d.status;
  return &d.snapshot;
}

int16_t lumavex_mode_data(int16_t *rate, int16_t *mode_hi, int16_t *mode_mid,
                          int16_t *mode_lo) noexcept {
  lvx::DataStream &d = lvx::data_stream();
  uint16_t word;
  uint16_t rate_x10;
  {
    std::lock_guard lock(d.data_lock);
    word = d.status.tracker_mode_word;
    rate_x10 = d.status.sample_rate_x10;
  }
  int16_t r = 0;
  int16_t hi = 0;
  if (lvx::link_record().tracker_version < 2) {
    if (lvx::link_record().is_connected == 0) return -1;
    r = 250;
  } else {
    if ((word & 0x8000) == 0) return -1;
    r = static_cast<int16_t>(rate_x10 / 10);
    hi = static_cast<int16_t>((word >> 8) & 0x0F);
  }
  if (rate != nullptr) *rate = r;
  if (mode_hi != nullptr) *mode_hi = hi;
  if (mode_mid != nullptr) *mode_mid = static_cast<int16_t>((word >> 4) & 0x0F);
  if (mode_lo != nullptr) *mode_lo = static_cast<int16_t>(word & 0x0F);
  return 0;
}

int16_t lumavex2_mode_data(int16_t *rate, int16_t *mode_hi, int16_t *mode_mid,
                           int16_t *mode_lo) noexcept {
  return lumavex_mode_data(rate, mode_hi, mode_mid, mode_lo);
}

}  // extern "C"
