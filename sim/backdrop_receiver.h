// The tracker's backdrop: images the display sends for the operator's screen, over the link (a
// transfer started by "start_bitmap_transfer", in the pixel format the tracker announces, as
// numbered image packets paced by acknowledgements) or as a BMP file uploaded to the file service
// and shown by "draw_image". The last image shown is kept, and can be written out as a PNG.
//
// The receiver makes the decisions and keeps the state; TrackerControl sends what it answers.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/byte_io.h"

namespace lvxsim {

// An image as the operator sees it: 8-bit RGB, rows from the top.
struct Backdrop {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  int x = 0, y = 0;    // where on the screen (the transfer's target position)
  std::string source;  // "link format N" or the file's path
};

// The image of a link transfer of a width x height target in format `levels`, from its packed
// bytes: 2 one bit per channel and 4 two-bit grey, rows from the top with the last row and column
// not sent (they stay black); 5 125 colours (red x 25 + green x 5 + blue, 7 bits) and 32 grey
// levels (5 bits), every pixel from the bottom row up. Each level shows as level x 255 / (levels
// - 1). Nothing for another format, too few bytes or a colour code above 124.
std::optional<Backdrop> decode_link_image(int levels, int width, int height, lvx::Bytes packed);

// The image of a BMP file as the display uploads it: 24 bits, no compression, rows from the
// bottom (or from the top for a negative height), without or with padding to 4 bytes. Nothing for
// any other file.
std::optional<Backdrop> decode_bmp(lvx::Bytes file);

// The backdrop packets received in the current (or last) link transfer.
struct ReceivedBitmap {
  std::string start_command;  // the "start_bitmap_transfer ..." text
  std::vector<uint8_t> bytes;
  uint32_t packets = 0;   // image packets with data taken
  bool complete = false;  // the empty end packet arrived
  uint32_t resend_requests = 0;
  uint32_t dropped = 0;  // packets lost on purpose (BitmapFaults)
};

// Faults for later link transfers.
struct BitmapFaults {
  uint16_t drop_sequence = 0;  // this packet is lost once (0: none), so a resend is asked for
  int64_t silent_after = -1;   // after this many data packets nothing more is answered
};

struct BitmapSettings {
  int format = 32;    // the pixel format announced (any number: tests announce unknown ones)
  int window = 8;     // the credit granted at the start
  int ack_every = 1;  // data packets per acknowledgement
  int target_width = 0, target_height = 0;  // the size asked for; 0: the size the display offers
};

class BackdropReceiver {
 public:
  explicit BackdropReceiver(BitmapSettings settings) : settings_(settings) {}

  // "start_bitmap_transfer grey x y width height": a new transfer. Returns the answer text
  // ("target_width target_height 0 0 format 0") and the credit to grant.
  struct Start {
    std::string answer;
    int16_t credit = 1;
  };
  Start start(const std::string &command_text);
  // "stop_bitmap_transfer": the display gave up; the transfer ends without an image.
  void stop();
  // One image packet: the acknowledgement to send, if any. Packets are taken in sequence from 1;
  // the first one out of order asks for a resend from the expected number and later ones are
  // ignored until it comes; the empty packet ends the transfer (-32002).
  std::optional<int16_t> on_packet(uint16_t sequence, lvx::Bytes data);
  // After the acknowledgement of a completed transfer has gone: decodes its image and shows it.
  // False when there was nothing to show (no completed transfer, or bytes that do not decode).
  bool show_completed();
  // Shows an image (from a file): it becomes the backdrop.
  void show(Backdrop image);

  void set_faults(const BitmapFaults &faults);
  ReceivedBitmap bitmap() const;
  std::optional<Backdrop> backdrop() const;
  // Backdrops shown so far (each link transfer completed and each file drawn).
  uint64_t shown() const;

 private:
  const BitmapSettings settings_;
  mutable std::mutex mu_;
  ReceivedBitmap bitmap_;
  BitmapFaults faults_;
  bool active_ = false;
  uint16_t expected_ = 1;
  int unacked_ = 0;
  bool resend_pending_ = false;
  int target_width_ = 0, target_height_ = 0, x_ = 0, y_ = 0;
  bool completed_ = false;  // a transfer completed and waits for show_completed()
  std::optional<Backdrop> backdrop_;
  uint64_t shown_ = 0;
};

}  // namespace lvxsim
