// Camera images from the tracker: the request that starts one, the IMAGE_PKT handler that files
// its segments, the two 5000-byte slots that hand them from the receive thread to the application
// thread, and the line decoding on the application side.
//
// One image is in flight at a time: idle -> (request) pending -> (first segment) receiving ->
// (last line decoded) idle. An abort, a first segment in the middle of an image or a segment out
// of order returns to idle. Each segment taken from its slot is acknowledged to the tracker
// (command type 50), which paces the tracker's sending.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "common/byte_io.h"
#include "display/image_codec.h"
#include "lumavex_core.h"

namespace lvx {

// The receive state and the decoder of one image stream. Not locked itself: the process-wide
// instance is guarded by the link lock (the receive thread holds it while it dispatches; the
// application thread takes it for every call below), so tests and fuzz targets can hold their own.
class ImageReceiver {
 public:
  // The IMAGE_PKT handler's work: files a segment (or refuses it) and returns the bytes the
  // packet counts for, or -1 for a packet shorter than 34 bytes. `is_connected` goes into the
  // log line of a refused segment.
  int on_packet(Bytes packet, int is_connected);

  // A request went out: waiting for the first segment of a new image.
  void set_pending();
  // Drops the image in flight: flags cleared, decoder back to the start of a line, slots empty.
  void abort();

  // -1 before the first segment of the current image; else copies the PaletteInfo (when out is
  // not null) and returns 1 for a palette that differs from the previous image's, 0 otherwise.
  int palette(PaletteInfo *out) const;
  // Decodes the next line into buffer (line length bytes). Returns its number from 1; 0 when the
  // data at hand completes none while the image is still coming; -1 when no image is being
  // received. *acks counts the slots taken, each of which the caller acknowledges.
  int next_line(uint8_t *buffer, int *acks);

  bool receiving() const { return receiving_; }
  bool pending() const { return pending_; }
  bool palette_valid() const { return palette_valid_; }
  int width() const { return width_; }
  int height() const { return height_; }
  int type() const { return type_; }
  int line_length() const { return decoder_.line_length(); }
  bool new_palette() const { return info_.palette_id != previous_id_; }

 private:
  void reset_slots();
  // Moves a filled write slot to the read side; false when there is none.
  bool take_slot();
  int extract_line(int *acks);

  bool pending_ = false;
  bool receiving_ = false;
  bool palette_valid_ = false;
  uint16_t last_segment_ = 0;
  uint8_t previous_id_ = 0;
  int type_ = 0;
  int width_ = 0;
  int height_ = 0;
  PaletteInfo info_{};

  std::array<std::array<uint8_t, kImageSlotBytes>, 2> slots_{};
  int write_index_ = 0;
  int write_count_ = 0;  // 0: the write slot is free
  const uint8_t *read_ = nullptr;
  size_t read_remaining_ = 0;
  LineDecoder decoder_;
};

// The camera-image record. The receiver is written by the receive thread (IMAGE_PKT) and by the
// application thread (requests, aborts, line decoding), always under the link lock; the count of
// acknowledgements is an atomic.
struct CameraRecord {
  ImageReceiver receiver;
  std::atomic<uint32_t> acks{0};
};
CameraRecord &camera_record();

// The IMAGE_PKT route (receive thread, link lock held); returns the bytes used.
int handle_image_packet(const LVXADDR &sender, Bytes packet);

// The exported functions' work, on the process-wide receiver.
int16_t request_image(int16_t kind, int16_t width, int16_t height);
void abort_image();
int16_t image_palette(PaletteInfo *out);
int16_t image_line(uint8_t *buffer);
int image_status();
int16_t image_data(int16_t *width, int16_t *height, int16_t *type);
// Image acknowledgements sent since the process started.
uint32_t image_acks_sent();

}  // namespace lvx
