#include "display/camera_image.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "common/wire_reader.h"
#include "control/commands.h"
#include "link/link_state.h"
#include "link/log.h"
#include "link/transport.h"

namespace lvx {

namespace {

// How long the image request waits for the tracker's result.
constexpr uint32_t kRequestWaitMs = 1000;
constexpr int kMaxImageKind = 9;
// The number the log lines of a dropped segment carry beside the data length (the fixed part of
// a later segment, less one).
constexpr int kLogFixed = 33;

// Acknowledges taken segments to the connected tracker; nothing through the relay, while
// listening by broadcast, in dummy or in quiet mode.
void send_image_acks(int count) {
  LinkRecord &r = link_record();
  for (int i = 0; i < count; ++i) {
    if (r.is_connected != 1 || dummy_mode() || quiet_level() != 0) return;
    LVXADDR to;
    {
      LinkLockGuard lock;
      to = r.tracker_address;
    }
    if (send_cmd_pkt(CMD_IMAGE_ACK, nullptr, 0, to) > 0) camera_record().acks.fetch_add(1);
  }
}

}  // namespace

void ImageReceiver::reset_slots() {
  write_count_ = 0;
  read_ = nullptr;
  read_remaining_ = 0;
}

void ImageReceiver::set_pending() {
  pending_ = true;
  receiving_ = false;
  palette_valid_ = false;
}

void ImageReceiver::abort() {
  receiving_ = false;
  pending_ = false;
  palette_valid_ = false;
  decoder_.reset_line();
  reset_slots();
}

int ImageReceiver::on_packet(Bytes p, int is_connected) {
  const int len = static_cast<int>(p.size());
  if (len < image_pkt::kMinLength) return -1;
  // Every field of the description lies within the shortest packet taken; the info block and
  // the data are checked where they are read.
  WireReader r(p);
  const uint16_t segment = r.u16_at(image_pkt::kSegment);
  const int data_length = r.u16_at(image_pkt::kDataLength);
  const bool first = segment == 0;
  const int info_length = first ? r.u8_at(image_pkt::kInfoLength) : 0;
  const int used = first ? info_length + data_length + image_pkt::kFirstOverhead
                         : data_length + image_pkt::kLaterOverhead;

  if (!receiving_ && !pending_) {
    if (len <= image_pkt::kSmallRejected && len <= data_length + kLogFixed)
      return image_pkt::kRejectedUsed;
    log_printf(
        "API-2516  Rejecting img pkt. receiving_image=%d receive_pending=%d len=%d res=%d "
        "is_connected=%d\n",
        receiving_ ? 1 : 0, pending_ ? 1 : 0, len, 1, is_connected);
    if (first) {
      log_printf("API-2516  pkt len = %d dc=%d s=%d\n", len, data_length, segment);
    } else {
      log_printf("API-2516  len is too short. len = %d dc=%d s=%d\n", len, data_length, segment);
    }
    return used;
  }

  size_t data_at = image_pkt::kLaterData;
  if (first) {
    if (!pending_) {  // a new image in the middle of one
      abort();
      log_printf("API-2516 process_simimg_packetA len=%d %d %d %d \n", len, kLogFixed, data_length,
                 data_length + kLogFixed);
      return used;
    }
    // A first segment without a whole palette record is refused: its palette would be guessed.
    const Bytes info = r.bytes_at(image_pkt::kInfo, pal::kSize);
    if (!r.ok() || info_length < static_cast<int>(pal::kSize)) {
      abort();
      log_printf("Image packet of %d bytes: info block of %d bytes, %d needed; image dropped\n",
                 len, info_length, static_cast<int>(pal::kSize));
      return used;
    }
    type_ = r.u8_at(image_pkt::kImageType) & 0x0F;
    int line_length = r.u16_at(image_pkt::kLineLength);
    if (type_ == image_pkt::kTypeWide) line_length *= 4;
    width_ = r.u16_at(image_pkt::kWidth);
    height_ = r.u16_at(image_pkt::kHeight);
    decoder_.start_image(line_length, height_);
    reset_slots();
    pending_ = false;
    last_segment_ = 0;
    previous_id_ = info_.palette_id;
    receiving_ = true;
    palette_valid_ = true;
    info_ = palette_info_from_wire(info.first<pal::kSize>());
    data_at = image_pkt::kInfo + static_cast<size_t>(info_length);
  } else {
    if (segment != static_cast<uint16_t>(last_segment_ + 1)) {
      abort();
      log_printf("API-2516 process_simimg_packetA len=%d %d %d %d \n", len, kLogFixed, data_length,
                 data_length + kLogFixed);
      return used;
    }
  }
  last_segment_ = segment;

  // Data that does not fit a slot, or that the packet does not hold, is dropped like data that
  // finds the write slot full: the image is then corrupt, and its lines stop in time.
  const Bytes data = r.bytes_at(data_at, static_cast<size_t>(data_length));
  if (data_length > 0 && !r.ok()) {
    log_printf("Image packet of %d bytes: segment %d holds less than its %d data bytes\n", len,
               segment, data_length);
  }
  const bool fits = data_length <= kImageSlotBytes && r.ok();
  if (data_length > 0 && write_count_ == 0 && fits) {
    std::memcpy(slots_[static_cast<size_t>(write_index_)].data(), data.data(), data.size());
    write_count_ = data_length;
    return used;
  }
  log_printf("API-2516 process_simimg_packetC len=%d %d %d %d %d\n", len, kLogFixed, data_length,
             data_length + kLogFixed, used);
  return used;
}

int ImageReceiver::palette(PaletteInfo *out) const {
  if (!palette_valid_) return -1;
  if (out != nullptr) *out = info_;
  return new_palette() ? 1 : 0;
}

bool ImageReceiver::take_slot() {
  if (write_count_ == 0) return false;
  read_ = slots_[static_cast<size_t>(write_index_)].data();
  read_remaining_ = static_cast<size_t>(write_count_);
  write_count_ = 0;
  write_index_ ^= 1;
  return true;
}

int ImageReceiver::extract_line(int *acks) {
  if (read_remaining_ == 0) {
    if (!take_slot()) return -1;
    ++*acks;
  }
  const int line = decoder_.extract(&read_, &read_remaining_);
  if (line > 0 && decoder_.image_complete()) {
    receiving_ = false;
    pending_ = false;
  }
  return line;
}

int ImageReceiver::next_line(uint8_t *buffer, int *acks) {
  if (!receiving_) return -1;
  // The data at hand: what is left of the read slot, then a filled write slot.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int line = extract_line(acks);
    if (line > 0) {
      if (buffer != nullptr)
        std::memcpy(buffer, decoder_.line(), static_cast<size_t>(decoder_.line_length()));
      return line;
    }
    if (read_remaining_ == 0 && write_count_ == 0) break;
  }
  return receiving_ ? 0 : -1;
}

int handle_image_packet(const LVXADDR & /*sender*/, Bytes packet) {
  return camera_record().receiver.on_packet(packet, link_record().is_connected);
}

int16_t request_image(int16_t kind, int16_t width, int16_t height) {
  if (kind < 0 || kind > kMaxImageKind) return -1;
  if (dummy_mode() || quiet_level() != 0) return 0;
  {
    LinkLockGuard lock;
    camera_record().receiver.set_pending();
  }
  char text[64];
  std::snprintf(text, sizeof text, "send_camera_image 0x1%d %d %d", kind, width, height);
  return timed_command(kRequestWaitMs, text);
}

void abort_image() {
  LinkLockGuard lock;
  camera_record().receiver.abort();
}

int16_t image_palette(PaletteInfo *out) {
  LinkLockGuard lock;
  return static_cast<int16_t>(camera_record().receiver.palette(out));
}

int16_t image_line(uint8_t *buffer) {
  int acks = 0;
  int line;
  {
    LinkLockGuard lock;
    line = camera_record().receiver.next_line(buffer, &acks);
  }
  send_image_acks(acks);
  return static_cast<int16_t>(line);
}

int image_status() {
  if (!system_open()) return 0;
  LinkLockGuard lock;
  return camera_record().receiver.receiving() ? 1 : 0;
}

int16_t image_data(int16_t *width, int16_t *height, int16_t *type) {
  if (!system_open()) return -1;
  LinkLockGuard lock;
  const ImageReceiver &r = camera_record().receiver;
  if (width != nullptr) *width = static_cast<int16_t>(r.width());
  if (height != nullptr) *height = static_cast<int16_t>(r.height());
  if (type != nullptr) *type = static_cast<int16_t>(r.type());
  if (!r.receiving()) return -1;
  return r.new_palette() ? 1 : 0;
}

uint32_t image_acks_sent() {
  return camera_record().acks.load();
}

}  // namespace lvx
