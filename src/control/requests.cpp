#include "control/requests.h"

#include <cmath>
#include <cstring>

#include "common/byte_io.h"
#include "control/commands.h"
#include "control/control_state.h"
#include "link/clock.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/packets.h"
#include "link/transport.h"
#include "lumavex_core.h"
#include "relay/relay.h"

namespace lvx {

namespace {

constexpr int16_t kBadBitmap = -1;
constexpr int16_t kCalNotOpen = 27;
constexpr uint32_t kCalPollIntervalMs = 1000;
// Bit of the tracker's mode code (header byte 18) set while it plays a recording back.
constexpr uint8_t kPlayingBackBit = 0x02;

// A target coordinate truncated towards zero and held to the 16-bit range (NaN reads as 0).
int16_t truncate_coordinate(float v) {
  if (std::isnan(v)) return 0;
  if (v >= 32767.0f) return INT16_MAX;
  if (v <= -32768.0f) return INT16_MIN;
  return static_cast<int16_t>(v);
}

// Sends a time request to `to` and makes its serial the pending one. The serial is filed as it
// is drawn, under the link lock and before the packet leaves, so that a reply handled by the
// receive thread always finds the serial it answers.
int16_t send_time_request(const LVXADDR *to) {
  LVXADDR dest;
  if (to != nullptr) {
    dest = *to;
  } else {
    LinkLockGuard lock;
    LinkRecord &r = link_record();
    dest = r.is_connected != 0 ? r.tracker_address : r.tracker_node;
  }
  int64_t sent = send_cmd_pkt(CMD_TIME_REQUEST, nullptr, 0, dest, [](uint32_t serial, void *) {
    ControlState &s = control_state();
    s.time_serial = serial;
    s.tracker_time = 0;
  });
  return sent < 0 ? static_cast<int16_t>(sent) : int16_t{0};
}

}  // namespace

std::vector<uint8_t> encode_bitmap_packet(const void *data, uint16_t size, uint16_t seq) {
  std::vector<uint8_t> packet(size + bitmap_pkt::kOverhead, 0);
  MutableBytes b(packet);
  encode_plain_header(b, IMAGE_PKT);
  put_u16(b, bitmap_pkt::kSequence, seq);
  put_u16(b, bitmap_pkt::kDataSize, size);
  if (data != nullptr && size > 0) std::memcpy(packet.data() + bitmap_pkt::kData, data, size);
  return packet;
}

bool wants_link_sync_status(bool host_v5, double version_value) {
  if (!host_v5) return false;
  return (version_value > 5.16 && version_value < 6.0) || version_value > 6.12;
}

int16_t send_to_tracker(const void *packet, int size) {
  LVXADDR to;
  {
    LinkLockGuard lock;
    to = link_record().tracker_address;
  }
  return xlink_send(&to, packet, size);
}

void send_playback_request() {
  LinkRecord &r = link_record();
  if (r.is_connected <= 0 || r.is_connected == 2 || dummy_mode() || quiet_level() != 0) return;
  // Only while the tracker's packets say that it plays a recording back: the first request of a
  // playback, like those the readers make as they drain the queue.
  if ((r.mode_code & kPlayingBackBit) == 0) return;
  LVXADDR to;
  {
    LinkLockGuard lock;
    to = r.tracker_address;
  }
  send_cmd_pkt(CMD_PLAYBACK_REQUEST, nullptr, 0, to);
}

namespace {

// The common step of a read request to the tracker.
int16_t send_read_request(const char *text, void (*announce)(uint32_t serial)) {
  ControlState &s = control_state();
  LinkRecord &r = link_record();
  s.reply_state = kNoReplyYet;
  if (dummy_mode() || quiet_level() > 1) return 0;
  if (r.is_connected < 0) return static_cast<int16_t>(relay_read_request(text));
  if (r.is_connected == 0) return LINK_TERMINATED_RESULT;
  if (text == nullptr) return 0;
  if (static_cast<int>(std::strlen(text)) + 1 > max_text_length()) return kBadText;
  LVXADDR to;
  {
    LinkLockGuard lock;
    to = r.tracker_address;
  }
  // The serial is made the pending one as it is drawn, before the packet leaves, so that the
  // reply cannot be handled before its serial is pending.
  // A relay master's request for a slave also announces the serial to that slave.
  int64_t sent = send_cmd_pkt(
      CMD_READ_REQUEST, text, 0, to,
      [](uint32_t serial, void *context) {
        auto announce_to = *static_cast<void (**)(uint32_t)>(context);
        if (announce_to != nullptr) announce_to(serial);
        control_state().request_serial = serial;
      },
      &announce);
  // A request that never left cannot be answered: reporting the failed send tells the caller
  // at once, instead of leaving it to poll a reply state that stays 1000.
  if (sent < 0) return LINK_TERMINATED_RESULT;
  wait_for_packet();
  return 0;
}

}  // namespace

int16_t read_request(const char *text) {
  return send_read_request(text, nullptr);
}

int16_t read_request_for_slave(const char *text, void (*announce)(uint32_t serial)) {
  return send_read_request(text, announce);
}

void set_request_serial(uint32_t serial) {
  control_state().request_serial = serial;
}

int16_t read_reply(char *buf) {
  ControlState &s = control_state();
  if (dummy_mode() || !system_open()) return static_cast<int16_t>(kNoReplyYet);
  if (s.reply_state == kNoReplyYet) {
    wait_for_packet();
    return static_cast<int16_t>(kNoReplyYet);
  }
  LinkLockGuard lock;
  if (buf != nullptr) std::memcpy(buf, s.reply_text, std::strlen(s.reply_text) + 1);
  return static_cast<int16_t>(s.reply_state.load());
}

int16_t request_tracker_time() {
  if (link_record().is_connected < 0 || dummy_mode() || quiet_level() > 1) return 0;
  return send_time_request(nullptr);
}

int16_t request_node_time(const LVXADDR *node) {
  if (dummy_mode() || quiet_level() > 1) return 0;
  return send_time_request(node);
}

uint32_t read_tracker_time() {
  ControlState &s = control_state();
  if (dummy_mode() || !system_open()) return 0;
  if (s.tracker_time == 0) wait_for_packet();
  return s.tracker_time;
}

int16_t calibration_message(char *buf) {
  ControlState &s = control_state();
  LinkRecord &r = link_record();
  size_t n;
  bool poll = false;
  {
    LinkLockGuard lock;
    n = std::strlen(s.cal_message);
    if (buf != nullptr) std::memcpy(buf, s.cal_message, n + 1);
    uint32_t now = local_ms();
    if (n == 0 && now - s.last_cal_poll >= kCalPollIntervalMs) {
      s.last_cal_poll = now;
      poll = true;
    }
  }
  // Some trackers report calibration progress only when asked; the answer arrives as a status
  // packet, so the command is not waited for.
  if (poll && wants_link_sync_status(r.host_v5, r.version_value)) send_command("link_sync_status");
  return static_cast<int16_t>(n);
}

int16_t take_calibration_result() {
  if (dummy_mode()) return static_cast<int16_t>(kNoReplyYet);
  if (!system_open()) return kCalNotOpen;
  LinkLockGuard lock;
  ControlState &s = control_state();
  int16_t result = s.cal_result;
  s.cal_result = static_cast<int16_t>(kNoReplyYet);
  return result;
}

int16_t calibration_target(int16_t *x, int16_t *y) {
  if (!system_open()) return 0;
  ControlState &s = control_state();
  LinkLockGuard lock;
  if (x != nullptr) *x = truncate_coordinate(s.target_x);
  if (y != nullptr) *y = truncate_coordinate(s.target_y);
  return s.target_visible;
}

int16_t calibration_target(float *x, float *y) {
  if (!system_open()) return 0;
  ControlState &s = control_state();
  LinkLockGuard lock;
  if (x != nullptr) *x = s.target_x;
  if (y != nullptr) *y = s.target_y;
  return s.target_visible;
}

int16_t take_user_menu_selection() {
  if (dummy_mode() || !system_open()) return 0;
  ControlState &s = control_state();
  if (s.menu_selection_count == 0) return 0;
  s.menu_selection_count = 0;
  return s.menu_selection;
}

int16_t send_bitmap_packet(const void *data, uint16_t size, uint16_t seq) {
  LinkRecord &r = link_record();
  if (r.is_connected < 0 || dummy_mode() || quiet_level() > 1) return 0;
  if (r.is_connected == 0) return LINK_TERMINATED_RESULT;
  if (size > kMaxBitmapData || (data == nullptr && size > 0)) return kBadBitmap;
  std::vector<uint8_t> packet = encode_bitmap_packet(data, size, seq);
  int n = static_cast<int>(packet.size());
  log_printf("lumavex_bitmap_packet: size=%d\n", n);
  return send_to_tracker(packet.data(), n);
}

int16_t take_bitmap_ack_count() {
  LinkLockGuard lock;
  ControlState &s = control_state();
  if (s.ack_error < 0) {
    int16_t error = s.ack_error;
    s.ack_error = 0;
    return error;
  }
  int16_t count = s.ack_count;
  s.ack_count = 0;
  return count;
}

bool bitmap_ack_pending() {
  LinkLockGuard lock;
  const ControlState &s = control_state();
  return s.ack_count != 0 || s.ack_error != 0;
}

}  // namespace lvx
