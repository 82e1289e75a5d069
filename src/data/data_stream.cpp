#include "data/data_stream.h"

#include <cstring>

#include "common/byte_io.h"
#include "common/wire_reader.h"
#include "data/velocity_history.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/packets.h"
#include "link/transport.h"

namespace lvx {

namespace {

// DATA_PKT layout, after the 20-byte packet header (whose sequence field carries the data
// sequence number and whose millisecond time is the tracker's send time).
namespace pkt {
constexpr size_t kSequence = hdr::kSequence;  // u32
constexpr size_t kSendTime = hdr::kTimeMs;    // u32
constexpr size_t kItemAreaLength = 20;        // u16: L, the bytes of the item area
constexpr size_t kItemAreaOffset = 22;        // u8: the items start this far after kItemsStart
constexpr size_t kPositionPrescaler = 30;     // u16
constexpr size_t kVelocityPrescaler = 32;     // u16
constexpr size_t kPupilPrescaler = 34;        // u16
constexpr size_t kPacketFlags = 36;           // u16
constexpr size_t kSampleRate = 38;            // u16, Hz x 10
constexpr size_t kItemsStart = 44;
// The packet takes L + kOverhead bytes: its fixed fields, the item area and a 3-byte tail.
constexpr size_t kOverhead = 47;
// An item area shorter than this holds no item worth reading.
constexpr uint16_t kMinItemArea = 6;
}  // namespace pkt

// Item headers: the length in bits 0..13, an event in bit 14, the packet's last item in bit 15.
constexpr size_t kItemHeader = 2;
constexpr uint16_t kItemLengthMask = 0x3FFF;
constexpr uint16_t kItemIsEvent = 0x4000;
constexpr uint16_t kItemIsLast = 0x8000;

// The item the intake queues when data packets went missing: an event of type 63, no tags.
constexpr uint8_t kLostDataItem[] = {EV_LOST_DATA, 0x00, 0x00};

// The fixed fields of one data packet.
struct DataPacket {
  size_t total = 0;  // bytes the packet takes
  uint32_t sequence = 0;
  uint32_t send_time = 0;
  uint16_t position_prescaler = 0;
  uint16_t velocity_prescaler = 0;
  uint16_t pupil_prescaler = 0;
  uint16_t flags = 0;
  uint16_t rate_x10 = 0;
  uint16_t area_length = 0;
  size_t items_at = 0;  // where the first item starts
};

// Reads the fixed fields. False when the packet is shorter than they are or than its own length
// says; `need` is then the least it would have to hold.
bool read_data_packet(Bytes packet, DataPacket &p, size_t &need) {
  WireReader r(packet);
  p.area_length = r.u16_at(pkt::kItemAreaLength);
  p.total = p.area_length + pkt::kOverhead;
  need = r.ok() ? p.total : pkt::kItemAreaLength + sizeof(uint16_t);
  if (!r.ok() || p.total > packet.size()) return false;
  p.sequence = r.u32_at(pkt::kSequence);
  p.send_time = r.u32_at(pkt::kSendTime);
  p.position_prescaler = r.u16_at(pkt::kPositionPrescaler);
  p.velocity_prescaler = r.u16_at(pkt::kVelocityPrescaler);
  p.pupil_prescaler = r.u16_at(pkt::kPupilPrescaler);
  p.flags = r.u16_at(pkt::kPacketFlags);
  p.rate_x10 = r.u16_at(pkt::kSampleRate);
  p.items_at = pkt::kItemsStart + r.u8_at(pkt::kItemAreaOffset);
  // Every fixed field lies before the tail that L + kOverhead includes.
  return r.ok();
}

// A data packet cut short stops the walk; the rest of the buffer is carried over. Logged the
// first time only, so that a broken stream does not flood the log.
void refuse_short_packet(DataStream &d, size_t have, size_t need) {
  if (d.short_packet_logged.exchange(true)) return;
  log_printf("Short data packet: %d bytes, %d needed\n", static_cast<int>(have),
             static_cast<int>(need));
}

// Queues an item (data_lock held). A block marker discarded to make room is decoded all the same,
// so that the block fields of the status stay right.
void queue_item(DataStream &d, Bytes item, uint16_t kind) {
  std::lock_guard lock(d.queue_lock);
  d.queue.put(item, kind, [&d](Bytes marker) {
    link_data_item scratch{};
    decode_event(marker, d.decoder, d.status, scratch);
  });
}

// Makes one data-ready notice, through the callback installed at that moment.
void call_data_ready(int reason, const char * /*text*/) {
  if (lumavex_data_ready_callback cb = data_stream().callback.load()) cb(reason);
}

// Raised under the link lock and data_lock: made once the receive thread has released them.
void notify(DataStream &d, int reason) {
  if (d.callback.load(std::memory_order_relaxed) != nullptr) user_call(call_data_ready, reason);
}

void take_event_item(DataStream &d, Bytes item) {
  const int type = event_item_type(item);
  if (type < 0) return;
  if (is_block_marker(type)) {
    queue_item(d, item, ITEM_MARKER);
  } else if (d.events_on) {
    queue_item(d, item, ITEM_EVENT);
    notify(d, 1);
  }
}

void take_sample_item(DataStream &d, Bytes item) {
  if (!d.samples_on) return;
  uint8_t copy[kSampleItemLimit];
  const size_t kept = item.size() < kSampleItemLimit ? item.size() : kSampleItemLimit;
  std::memcpy(copy, item.data(), kept);
  MutableBytes b(copy, kept);
  WireReader r(b);
  const uint16_t flags = r.u16_at(item::kSampleFlags);
  const uint32_t time = r.u32_at(item::kSampleFullTime);
  if (r.ok() && (flags & SF_FULL_TIME) != 0) {
    // Two samples with the same full time are half a millisecond apart: mark the second.
    if (time == d.last_full_time) {
      put_u16(b, item::kSampleFlags, static_cast<uint16_t>(flags | SF_HALF_MS));
    }
    d.last_full_time = time;
  }
  queue_item(d, b, ITEM_SAMPLE);
  std::memcpy(d.newest, copy, kept);
  d.newest_length = kept;
  d.newest_is_new = true;
  d.newest_decoded = false;
  // The velocity history takes the item as it came, uncut: a copy under its own lock.
  velocity_history_put(item, d.status.position_prescaler);
  notify(d, 2);
}

// Walks the item area, each item to the queue, until the last item, the end of the area or the
// end of the packet.
void take_items(DataStream &d, Bytes packet, const DataPacket &p) {
  int left = p.area_length;
  if (left < pkt::kMinItemArea) return;
  WireReader r(packet);
  r.seek(p.items_at);
  while (left >= 1 && r.fits(kItemHeader)) {
    uint16_t header = 0;
    r.u16(header);
    left -= static_cast<int>(kItemHeader);
    const size_t n = header & kItemLengthMask;
    if (left < static_cast<int>(n) || !r.fits(n)) return;
    const Bytes item = r.take_bytes(n);
    if ((header & kItemIsEvent) != 0) {
      take_event_item(d, item);
    } else {
      take_sample_item(d, item);
    }
    left -= static_cast<int>(n);
    if ((header & kItemIsLast) != 0) return;
  }
}

// A packet at most this many numbers behind the last one is a repeat or arrived late (its
// successors came first, and its place was reported as lost then); it is dropped. One further
// behind cannot be late, and is taken as a restart of the stream.
constexpr int32_t kLateWindow = 64;
// This many packets in a row that all look late or repeated are a stream that restarted within
// the window (a tracker restarted a few packets into its stream): the next is taken as a restart.
constexpr uint32_t kBehindRunLimit = 8;

// The data sequence check (data_lock held): true when the packet is to be taken. Sequence numbers
// are compared modulo 2^32, so that the stream goes on across their wrap.
//
// Lost data is never silent. The next number is taken as it is. A packet a little behind (a
// repeat, or one that came late) is dropped. Anything else breaks the stream: packets went
// missing (a jump ahead), or the stream restarted (a tracker restart, a new connection without a
// data reset, one stray far-off number). The packet is then taken, after a lost-data record, and
// the check goes on from its number. Were a far jump instead kept as the last number, as a plain
// "newer than the last" rule does, every later packet would look old and be dropped unreported
// until the next data reset.
//
// A packet a little behind that was sent later than the last one taken (its time, the tracker's
// send time, is later) is neither a repeat nor a late packet, which were both sent before it: the
// tracker restarted its numbering, perhaps only a few packets after it began, and the packet is
// taken at once as a restart. (A tracker whose clock restarted with its numbering is recognised
// by the run of packets behind, as before.)
bool take_data_sequence(DataStream &d, uint32_t sequence, uint32_t send_time) {
  if (d.last_data_sequence != -1) {
    const auto ahead = static_cast<int32_t>(sequence - static_cast<uint32_t>(d.last_data_sequence));
    const bool sent_later = static_cast<int32_t>(send_time - d.last_data_time) > 0;
    if (ahead <= 0 && ahead >= -kLateWindow && !sent_later && ++d.behind_run < kBehindRunLimit)
      return false;
    if (ahead != 1) queue_item(d, kLostDataItem, ITEM_EVENT);
  }
  d.behind_run = 0;
  d.last_data_sequence = sequence;
  d.last_data_time = send_time;
  return true;
}

}  // namespace

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
  // gap_types is the readers' to set: a batch names every kind its loss took.
}

void data_reset(int clear) {
  if (!system_open()) return;
  DataStream &d = data_stream();
  {
    std::lock_guard data(d.data_lock);
    link_state &s = d.status;
    d.last_data_sequence = -1;
    d.behind_run = 0;
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
    // The status shows 220 until the first sample is decoded; the decoder's remembered values
    // start from 0, so a sample that carries no resolution then reports 0.
    s.last_res_x = 220;
    s.last_res_y = 220;
    s.last_pupil_size[0] = 0;
    s.last_pupil_size[1] = 0;
    s.last_status = 0;
    d.decoder = DecoderState{};
    {
      std::lock_guard queue(d.queue_lock);
      d.queue.clear_lost_pending();
      d.queue.clear_gaps();
      if (clear != 0) d.queue.clear();
    }
    if (clear != 0) velocity_history_reset();
    s.gap_types = 0;
  }
  publish_status();
}

int handle_data_packet(const LVXADDR & /*sender*/, Bytes packet) {
  DataStream &d = data_stream();
  DataPacket p;
  size_t need = 0;
  if (!read_data_packet(packet, p, need)) {
    refuse_short_packet(d, packet.size(), need);
    return -1;
  }
  const int total = static_cast<int>(p.total);

  std::lock_guard lock(d.data_lock);
  if (!take_data_sequence(d, p.sequence, p.send_time)) return total;

  link_state &s = d.status;
  s.last_receive_time = p.send_time;
  s.position_prescaler = p.position_prescaler;
  s.velocity_prescaler = p.velocity_prescaler;
  s.pupil_prescaler = p.pupil_prescaler;
  s.packet_flags = p.flags;
  s.sample_rate_x10 = p.rate_x10;
  take_items(d, packet.first(p.total), p);
  return total;
}

void data_switch(uint16_t flags) {
  DataStream &d = data_stream();
  d.samples_on = (flags & 0x04) != 0;
  d.events_on = (flags & 0x08) != 0;
  data_reset(0);
}

void set_data_ready_callback(lumavex_data_ready_callback callback) {
  data_stream().callback = callback;
}

lumavex_data_ready_callback data_ready_callback() {
  return data_stream().callback.load();
}

link_state *data_status_snapshot() {
  DataStream &d = data_stream();
  // The link's fields (addresses, names, poll replies, header echo) live with the link; take a
  // copy under the link lock before the data lock (lock order).
  LinkStateFields echo;
  {
    LinkLockGuard lock;
    echo = link_record().state;
  }
  data_status_refresh();
  std::lock_guard lock(d.data_lock);
  link_state &s = d.status;
  s.tracker_address = echo.tracker_address;
  static_assert(sizeof s.tracker_name == sizeof echo.tracker_name &&
                sizeof s.own_name == sizeof echo.own_name &&
                sizeof s.poll_responses == sizeof echo.poll_responses);
  std::memcpy(s.tracker_name, echo.tracker_name, sizeof s.tracker_name);
  std::memcpy(s.own_name, echo.own_name, sizeof s.own_name);
  s.own_address = echo.own_address;
  s.tracker_broadcast = echo.tracker_broadcast;
  s.remote_broadcast = echo.remote_broadcast;
  s.poll_mode = echo.poll_mode;
  s.poll_count = echo.poll_count;
  std::memcpy(s.poll_responses, echo.poll_responses, sizeof s.poll_responses);
  s.header_word16 = echo.header_word16;
  s.header_word14 = echo.header_word14;
  s.header_byte18 = echo.header_byte18;
  s.header_byte19 = echo.header_byte19;
  d.snapshot = s;
  return &d.snapshot;
}

void publish_status() {
  DataStream &d = data_stream();
  std::lock_guard lock(d.data_lock);
  data_status_refresh();
  d.snapshot = d.status;
}

int16_t read_mode_data(int16_t *rate, int16_t *mode_hi, int16_t *mode_mid, int16_t *mode_lo) {
  DataStream &d = data_stream();
  uint16_t word;
  uint16_t rate_x10;
  {
    std::lock_guard lock(d.data_lock);
    word = d.status.tracker_mode_word;
    rate_x10 = d.status.sample_rate_x10;
  }
  int16_t r = 0;
  int16_t hi = 0;
  // Trackers before the second generation send no mode word: a fixed 250 Hz while connected.
  if (link_record().tracker_version < 2) {
    if (link_record().is_connected == 0) return -1;
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

void set_playback_requester(PlaybackRequester requester) {
  data_stream().playback_requester = requester;
}

void request_playback_data() {
  if (PlaybackRequester requester = data_stream().playback_requester.load()) requester();
}

}  // namespace lvx
