// Synthetic camera pictures, their description, the line compression and the image segments.
#include "sim/camera.h"

#include <algorithm>
#include <cmath>

#include "common/byte_io.h"
#include "sim/link_codes.h"

namespace lvxsim {

namespace imgcode {

namespace {

constexpr int kMaxCount = 63;
constexpr uint8_t kRunBase = 0xC0;
constexpr uint8_t kCopyBase = 0x80;

int same_run(const uint8_t *p, int at, int width) {
  int n = 1;
  while (at + n < width && n < kMaxCount && p[at + n] == p[at]) ++n;
  return n;
}

int same_above(const uint8_t *p, const uint8_t *above, int at, int width) {
  int n = 0;
  while (at + n < width && n < kMaxCount && p[at + n] == above[at + n]) ++n;
  return n;
}

std::vector<uint8_t> raw_line(const uint8_t *p, int width) {
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(width) + 1);
  out.push_back(kRaw);
  out.insert(out.end(), p, p + width);
  return out;
}

// Mode 1, or mode 2 when `above` is given: copies where the line repeats the one above, runs
// where a value repeats, single pixels otherwise (those that would read as a code go as runs).
std::vector<uint8_t> coded_line(const uint8_t *p, int width, const uint8_t *above) {
  const uint8_t literal_limit = above != nullptr ? kCopyBase : kRunBase;
  std::vector<uint8_t> out;
  out.push_back(above != nullptr ? kRunsAndCopies : kRuns);
  int i = 0;
  while (i < width) {
    const int copy = above != nullptr ? same_above(p, above, i, width) : 0;
    const int run = same_run(p, i, width);
    if (copy >= 2 && copy >= run) {
      out.push_back(static_cast<uint8_t>(kCopyBase | copy));
      i += copy;
    } else if (run >= 2 || p[i] >= literal_limit) {
      out.push_back(static_cast<uint8_t>(kRunBase | run));
      out.push_back(p[i]);
      i += run;
    } else {
      out.push_back(p[i]);
      ++i;
    }
  }
  return out;
}

}  // namespace

std::vector<uint8_t> encode_line(const uint8_t *pixels, int width, const uint8_t *above, int mode) {
  static const std::vector<uint8_t> zeros(4096, 0);
  // The first line of an image copies from a line of zeros, as the reader starts with one.
  const uint8_t *up = above != nullptr ? above : zeros.data();
  if (mode == kRaw) return raw_line(pixels, width);
  if (mode == kRuns) return coded_line(pixels, width, nullptr);
  if (mode == kRunsAndCopies) return coded_line(pixels, width, up);
  std::vector<uint8_t> best = raw_line(pixels, width);
  for (const uint8_t *u : {static_cast<const uint8_t *>(nullptr), up}) {
    std::vector<uint8_t> c = coded_line(pixels, width, u);
    if (c.size() < best.size()) best = std::move(c);
  }
  return best;
}

std::vector<uint8_t> encode_image(const std::vector<uint8_t> &pixels, int width, int height,
                                  int mode) {
  std::vector<uint8_t> out;
  for (int y = 0; y < height; ++y) {
    const uint8_t *line = pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
    std::vector<uint8_t> l = encode_line(line, width, y > 0 ? line - width : nullptr, mode);
    out.insert(out.end(), l.begin(), l.end());
  }
  return out;
}

std::vector<std::vector<uint8_t>> segments(const std::vector<uint8_t> &stream,
                                           const std::array<uint8_t, 48> &info, int width,
                                           int height, int segment_bytes, uint8_t image_type) {
  // The fixed parts: header, segment number, data length; the first segment's description and
  // info block; and the padding that makes each packet as long as the display counts it.
  constexpr size_t kFirstData = 32 + 48;
  constexpr size_t kFirstPad = 12;
  constexpr size_t kLaterData = 24;
  constexpr size_t kLaterPad = 10;
  const size_t piece = static_cast<size_t>(std::max(1, segment_bytes));
  std::vector<std::vector<uint8_t>> out;
  size_t at = 0;
  uint16_t number = 0;
  do {
    const size_t n = std::min(piece, stream.size() - at);
    const bool first = number == 0;
    std::vector<uint8_t> pkt((first ? kFirstData + kFirstPad : kLaterData + kLaterPad) + n, 0);
    lvx::MutableBytes b(pkt);
    lvx::put_u8(b, 0, kImagePkt);
    lvx::put_u16(b, 20, number);
    lvx::put_u16(b, 22, static_cast<uint16_t>(n));
    if (first) {
      lvx::put_u8(b, 24, image_type);
      lvx::put_u8(b, 25, 48);
      lvx::put_u16(b, 26, static_cast<uint16_t>(width));
      lvx::put_u16(b, 28, static_cast<uint16_t>(width));
      lvx::put_u16(b, 30, static_cast<uint16_t>(height));
      std::copy(info.begin(), info.end(), pkt.begin() + 32);
    }
    std::copy(stream.begin() + static_cast<std::ptrdiff_t>(at),
              stream.begin() + static_cast<std::ptrdiff_t>(at + n),
              pkt.begin() + static_cast<std::ptrdiff_t>(first ? kFirstData : kLaterData));
    out.push_back(std::move(pkt));
    at += n;
    ++number;
  } while (at < stream.size());
  return out;
}

}  // namespace imgcode

namespace {

constexpr int kUnits = 8192;
constexpr int16_t kMissing = -32768;
constexpr uint16_t kFlagCr = 0x01, kFlagRamp1 = 0x02, kFlagRamp2 = 0x04, kFlagMarkers = 0x10,
                   kFlagBox = 0x20, kLostPupil = 0x100, kLostCr = 0x200;
// Extended eye records: where they start, their length, and the words within one.
constexpr int kRecordsStart = 4, kRecordWords = 29;
constexpr int kTargetDistanceMm = 550;

// Grey levels of the scene.
constexpr double kSkin = 150, kSclera = 205, kIris = 95, kPupil = 15, kCr = 250, kBackground = 45,
                 kFace = 140;

uint32_t noise_hash(int x, int y, uint32_t frame) {
  uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u +
               frame * 2246822519u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return h ^ (h >> 16);
}

int16_t units(double v, int size) {
  return static_cast<int16_t>(std::clamp(v * kUnits / size, 0.0, 8191.0));
}

void put_be(std::array<uint8_t, 48> &info, size_t off, int16_t v) {
  info[off] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
  info[off + 1] = static_cast<uint8_t>(v);
}

// The PaletteInfo: grey ramp 0..63 (levels 0..252), a blue ramp for the pupil threshold and a
// cyan one for the corneal reflection, thresholds and flags. Marker points are added by the
// caller.
std::array<uint8_t, 48> base_info(const CameraScene &s, uint16_t flags) {
  std::array<uint8_t, 48> info{};
  info[0] = s.palette_id;
  info[2] = s.camera;
  info[3] = static_cast<uint8_t>(std::clamp(s.pupil_threshold, 0, 255));
  info[4] = static_cast<uint8_t>(flags >> 8);
  info[5] = static_cast<uint8_t>(flags);
  info[8] = static_cast<uint8_t>(std::clamp(s.cr_threshold, 0, 255));
  const uint8_t grey[4] = {0, 0, 63, 252};
  std::copy(grey, grey + 4, info.begin() + 18);
  const uint8_t ramp1[8] = {64, 0, 0, 120, 71, 0, 60, 135};
  const uint8_t ramp2[8] = {72, 0, 160, 160, 79, 0, 95, 95};
  std::copy(ramp1, ramp1 + 8, info.begin() + 32);
  std::copy(ramp2, ramp2 + 8, info.begin() + 40);
  return info;
}

uint8_t grey_index(double level) {
  return static_cast<uint8_t>(std::clamp(static_cast<int>(level) / 4, 0, 63));
}

struct Eye {
  double cx, cy;         // centre of the eye opening
  double a, b;           // half width and height of the opening
  double px, py, pr;     // pupil centre and radius
  double ir;             // iris radius
  double crx, cry, crr;  // corneal reflection
};

// The pixel of one eye at (x, y); false when (x, y) is not within its opening.
bool eye_pixel(const Eye &e, double blink, const CameraScene &s, double x, double y, double noise,
               uint8_t *out) {
  const double dx = (x - e.cx) / e.a;
  if (std::fabs(dx) >= 1) return false;
  const double k = std::sqrt(1 - dx * dx);
  const double top = e.cy - e.b * k + 2 * e.b * k * blink;  // the upper lid comes down
  if (y <= top || y >= e.cy + e.b * k) return false;
  const double dcr = std::hypot(x - e.crx, y - e.cry);
  const double dp = std::hypot((x - e.px) / e.pr, (y - e.py) / (e.pr * 0.92));
  const double di = std::hypot(x - e.px, y - e.py);
  double level = kSclera + noise;
  if (dcr <= e.crr) {
    level = kCr + noise / 2;
    if (level > s.cr_threshold) {
      *out = kCrColour;
      return true;
    }
  } else if (dp <= 1) {
    level = kPupil + noise;
    if (level < s.pupil_threshold) {
      *out = kPupilColour;
      return true;
    }
  } else if (di <= e.ir) {
    level = kIris - 12 * di / e.ir + noise;
  }
  *out = grey_index(level);
  return true;
}

// Gaze on the screen as a shift of the pupil, -1..1 each way.
std::pair<double, double> gaze_shift(const CameraScene &s) {
  const double gx = (s.gaze_x - s.screen_width / 2.0) / (s.screen_width / 2.0);
  const double gy = (s.gaze_y - s.screen_height / 2.0) / (s.screen_height / 2.0);
  return {std::clamp(gx, -1.5, 1.5), std::clamp(gy, -1.5, 1.5)};
}

void put_word(std::vector<uint8_t> &line, int word, int value) {
  const auto at = static_cast<size_t>(2 * word);
  if (at + 1 >= line.size()) return;
  line[at] = static_cast<uint8_t>(static_cast<uint16_t>(value) >> 8);
  line[at + 1] = static_cast<uint8_t>(value);
}

}  // namespace

CameraPicture render_camera(const CameraScene &s, int width, int height) {
  CameraPicture pic;
  pic.width = width;
  pic.height = height;
  pic.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  const double W = width, H = height;
  const auto [gx, gy] = gaze_shift(s);
  const bool head = s.camera == kCameraHead;
  const double blink = std::clamp(s.blink, 0.0, 1.0);

  std::vector<Eye> eyes;
  if (head) {
    for (double ex : {0.4, 0.6}) {
      Eye e{};
      e.cx = ex * W;
      e.cy = 0.42 * H;
      e.a = 0.055 * W;
      e.b = 0.035 * H;
      e.px = e.cx + gx * 0.02 * W;
      e.py = e.cy + gy * 0.012 * H;
      e.pr = std::max(1.0, 0.011 * W);
      e.ir = 0.022 * W;
      e.crx = e.cx - 0.004 * W + 0.3 * (e.px - e.cx);
      e.cry = e.cy - 0.006 * H + 0.3 * (e.py - e.cy);
      e.crr = std::max(1.0, 0.004 * W);
      eyes.push_back(e);
    }
  } else {
    Eye e{};
    e.cx = 0.5 * W;
    e.cy = 0.55 * H;
    e.a = 0.42 * W;
    e.b = 0.30 * H;
    e.px = e.cx + gx * 0.2 * W;
    e.py = e.cy + gy * 0.14 * H;
    e.pr = 0.065 * W;
    e.ir = 0.17 * W;
    e.crx = e.cx - 0.04 * W + 0.3 * (e.px - e.cx);
    e.cry = e.cy - 0.06 * H + 0.3 * (e.py - e.cy);
    e.crr = std::max(1.5, 0.015 * W);
    eyes.push_back(e);
  }

  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double noise = static_cast<double>(noise_hash(x, y, s.frame) % 7) - 3.0;
      const double fx = x + 0.5, fy = y + 0.5;
      uint8_t v = 0;
      bool in_eye = false;
      for (const Eye &e : eyes) {
        if (eye_pixel(e, blink, s, fx, fy, noise, &v)) {
          in_eye = true;
          break;
        }
      }
      if (!in_eye) {
        double level = kSkin + 20 * fy / H + noise;
        if (head) {
          const double d = std::hypot((fx - 0.5 * W) / (0.3 * W), (fy - 0.5 * H) / (0.42 * H));
          level = d <= 1 ? kFace + noise : kBackground + 10 * fy / H + noise;
        }
        v = grey_index(level);
      }
      pic.pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = v;
    }
  }

  // The search area, as the operator placed it, and whether the first eye's pupil lies in it.
  const Eye &e0 = eyes.front();
  const double half_w = head ? 0.07 * W : 0.3 * W, half_h = head ? 0.06 * H : 0.35 * H;
  const double scx = head ? e0.cx + (s.search_x - 0.5) * W : s.search_x * W;
  const double scy = head ? e0.cy + (s.search_y - 0.5) * H : s.search_y * H;
  pic.search_left = (scx - half_w) / W;
  pic.search_top = (scy - half_h) / H;
  pic.search_right = (scx + half_w) / W;
  pic.search_bottom = (scy + half_h) / H;
  pic.pupil_found =
      blink < 0.5 && std::fabs(e0.px - scx) <= half_w && std::fabs(e0.py - scy) <= half_h;
  pic.pupil_x = e0.px;
  pic.pupil_y = e0.py;
  pic.cr_x = e0.crx;
  pic.cr_y = e0.cry;

  uint16_t flags = kFlagCr | kFlagRamp1 | kFlagRamp2 | kFlagMarkers | kFlagBox;
  if (!pic.pupil_found && !head) flags |= kLostPupil | kLostCr;
  pic.info = base_info(s, flags);
  put_be(pic.info, 24, pic.pupil_found ? units(e0.px, width) : kMissing);
  put_be(pic.info, 26, pic.pupil_found ? units(e0.py, height) : kMissing);
  put_be(pic.info, 28, pic.pupil_found ? units(e0.crx, width) : kMissing);
  put_be(pic.info, 30, pic.pupil_found ? units(e0.cry, height) : kMissing);
  put_be(pic.info, 10, units(scx - half_w, width));
  put_be(pic.info, 12, units(scy - half_h, height));
  put_be(pic.info, 14, units(scx + half_w, width));
  put_be(pic.info, 16, units(scy + half_h, height));

  if (head && s.extended && height > 0 && width >= 8) {
    // The last line: a header, then an eye record per eye (both eyes, kind 2) and an empty third.
    std::vector<uint8_t> line(static_cast<size_t>(width), 0);
    const uint8_t header[4] = {255, 1, 1, 2};
    std::copy(header, header + 4, line.begin());
    put_word(line, 3, 0);  // plain search boxes
    for (int r = 0; r < 3; ++r) {
      const int s0 = kRecordsStart + kRecordWords * r;
      for (int w = 0; w < kRecordWords; ++w) put_word(line, s0 + w, kMissing);
      if (r >= static_cast<int>(eyes.size())) continue;
      const Eye &e = eyes[static_cast<size_t>(r)];
      const double sx = e.cx + (s.search_x - 0.5) * W, sy = e.cy + (s.search_y - 0.5) * H;
      const bool found =
          blink < 0.5 && std::fabs(e.px - sx) <= half_w && std::fabs(e.py - sy) <= half_h;
      if (found) {
        put_word(line, s0, units(e.px, width));
        put_word(line, s0 + 1, units(e.py, height));
        put_word(line, s0 + 2, units(e.crx, width));
        put_word(line, s0 + 3, units(e.cry, height));
        const double q = 1.6 * e.pr;
        const double qx[4] = {e.px - q, e.px + q, e.px - q, e.px + q};
        const double qy[4] = {e.py - q, e.py - q, e.py + q, e.py + q};
        for (int c = 0; c < 4; ++c) {
          put_word(line, s0 + 9 + 2 * c, units(qx[c], width));
          put_word(line, s0 + 10 + 2 * c, units(qy[c], height));
        }
      }
      put_word(line, s0 + 8, kTargetDistanceMm);
      put_word(line, s0 + 17, units(sx - half_w, width));
      put_word(line, s0 + 18, units(sy - half_h, height));
      put_word(line, s0 + 19, units(sx + half_w, width));
      put_word(line, s0 + 20, units(sy + half_h, height));
      put_word(line, s0 + 21, s.pupil_threshold);
      put_word(line, s0 + 22, s.cr_threshold);
      for (int w = 23; w < kRecordWords; ++w) put_word(line, s0 + w, 0);
    }
    put_word(line, kRecordsStart + 3 * kRecordWords, 0);  // no position line
    std::copy(line.begin(), line.end(),
              pic.pixels.begin() + static_cast<std::ptrdiff_t>(height - 1) * width);
  }
  return pic;
}

std::vector<TargetPoint> calibration_targets(int points, int screen_width, int screen_height) {
  // The pattern covers 88% x 83% of the screen around its centre, in grid steps of half of it.
  const float left = 0.06f * static_cast<float>(screen_width);
  const float top = 0.085f * static_cast<float>(screen_height);
  const float step_x = 0.44f * static_cast<float>(screen_width);
  const float step_y = 0.415f * static_cast<float>(screen_height);
  auto at = [&](float i, float j) { return TargetPoint{left + i * step_x, top + j * step_y}; };
  std::vector<TargetPoint> t;
  switch (points) {
    case 3:
      t = {at(1, 0), at(0, 2), at(2, 2)};
      break;
    case 5:
      t = {at(1, 1), at(1, 0), at(1, 2), at(0, 1), at(2, 1)};
      break;
    default:
      t = {at(1, 1), at(1, 0), at(1, 2), at(0, 1), at(2, 1),
           at(0, 0), at(2, 0), at(0, 2), at(2, 2)};
      if (points == 13) {
        for (float i : {0.5f, 1.5f})
          for (float j : {0.5f, 1.5f}) t.push_back(at(i, j));
      }
      break;
  }
  return t;
}

}  // namespace lvxsim
