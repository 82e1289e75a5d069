#include "backdrop/link_transfer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "backdrop/backdrop_state.h"
#include "backdrop/link_protocol.h"
#include "control/commands.h"
#include "control/requests.h"
#include "link/clock.h"
#include "link/link_state.h"
#include "link/log.h"

namespace lvx::backdrop {

namespace {

constexpr uint32_t kScreenWaitMs = 500;
constexpr int kFailed = -2;
constexpr int kMaxTargetSize = 32767;
// The highest sequence number a resend request (-s, beside the codes -32000..-32002) can name.
constexpr size_t kMaxPackets = 31999;
constexpr uint16_t kGrey = 0x10;
constexpr uint16_t kCoarse = 0x08;

int screen_extent(float a, float b) {
  const double d = std::fabs(static_cast<double>(a) - static_cast<double>(b));
  return d < kMaxTargetSize ? static_cast<int>(d) : 0;  // NaN and absurd sizes: unknown
}

// Asks for the tracker's screen and waits the whole 500 ms, taking the reply when it comes.
ScreenSize request_screen_size() {
  ScreenSize screen;
  if (dummy_mode() || read_request("screen_pixel_coords") != 0) return screen;
  const uint32_t start = local_ms();
  bool answered = false;
  char reply[200] = {};
  while (local_ms() - start < kScreenWaitMs) {
    if (answered) {
      delay_ms(static_cast<int32_t>(kScreenWaitMs - (local_ms() - start)));
      break;
    }
    const uint32_t before = local_ms();
    if (read_reply(reply) == 0) {
      answered = true;
      if (std::optional<ScreenSize> s = parse_screen_size(reply)) screen = *s;
    } else if (local_ms() == before) {
      timer_sleep_usec(1000);  // no packet wait to block in: do not spin
    }
  }
  return screen;
}

int stop_transfer() {
  send_command("stop_bitmap_transfer");
  return kFailed;
}

}  // namespace

std::optional<ScreenSize> parse_screen_size(const char *reply) {
  float l, t, r, b;
  if (reply == nullptr || std::sscanf(reply, "%f,%f,%f,%f", &l, &t, &r, &b) != 4)
    return std::nullopt;
  return ScreenSize{screen_extent(l, r), screen_extent(t, b)};
}

std::optional<TransferAnswer> parse_transfer_answer(const char *text) {
  int v[6];
  if (text == nullptr ||
      std::sscanf(text, "%d %d %d %d %d %d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6)
    return std::nullopt;
  if (v[0] == 0 || v[1] == 0 || !known_format(v[4]) || v[5] < 0) return std::nullopt;
  return TransferAnswer{v[0], v[1], v[4]};
}

SendRect clip_send_rect(int image_width, int image_height, SendRect r, int xd, int yd,
                        ScreenSize screen) {
  if (r.width == 0) r.width = image_width;
  if (r.height == 0) r.height = image_height;
  if (r.xs < 0) {
    r.width += r.xs;
    r.xs = 0;
  }
  if (r.ys < 0) {
    r.height += r.ys;
    r.ys = 0;
  }
  if (r.xs + r.width > image_width) r.width = image_width - r.xs;
  if (r.ys + r.height > image_height) r.height = image_height - r.ys;
  if (screen.width != 0 && xd + r.width - 1 >= screen.width) r.width = screen.width - xd;
  if (screen.height != 0 && yd + r.height - 1 >= screen.height) r.height = screen.height - yd;
  return r;
}

bool target_fits(const TransferAnswer &a) {
  if (a.width < 1 || a.height < 1 || a.width > kMaxTargetSize || a.height > kMaxTargetSize)
    return false;
  return packed_size(a.levels, a.width, a.height) <= kMaxPackets * packet_payload(a.levels);
}

int link_transfer(const ImageView &image, SendRect rect, int xd, int yd, uint16_t options) {
  BackdropState &s = backdrop_state();
  std::lock_guard<LibraryMutex<std::mutex>> lock(s.link_lock);
  const ScreenSize screen = request_screen_size();
  rect = clip_send_rect(image.width, image.height, rect, xd, yd, screen);
  if (rect.width < 1 || rect.height < 1) return kFailed;

  // Acknowledgements left over from an earlier transfer must not count as credit for this one.
  take_bitmap_ack_count();
  take_bitmap_ack_count();
  s.packets.credit = 0;
  char start[96];
  std::snprintf(start, sizeof start, "start_bitmap_transfer %d %d %d %d %d",
                (options & kGrey) != 0 ? 1 : 0, xd, yd, rect.width, rect.height);
  const int16_t started = send_command_pieces(start);
  delay_ms(1);
  if (started != 0) return kFailed;
  char text[200] = {};
  last_command_message(text);
  const std::optional<TransferAnswer> answer = parse_transfer_answer(text);
  if (!answer) return stop_transfer();
  if (!target_fits(*answer)) {
    log_printf("start_bitmap_transfer: target %dx%d in format %d cannot be served\n", answer->width,
               answer->height, answer->levels);
    return stop_transfer();
  }

  std::vector<uint8_t> packed;
  {
    std::optional<Image> cut = make_image(rect.width, rect.height, 32);
    if (!cut) return stop_transfer();
    copy_rect(image, rect.xs, rect.ys, rect.width, rect.height, *cut);
    std::optional<Image> scaled = scale_bilinear(*cut, answer->width, answer->height);
    if (!scaled) return stop_transfer();
    cut.reset();
    packed =
        convert_and_pack(*scaled, answer->levels, (options & kGrey) != 0, (options & kCoarse) != 0);
  }
  return send_packets(packed, packet_payload(answer->levels)) == 0 ? 0 : kFailed;
}

}  // namespace lvx::backdrop
