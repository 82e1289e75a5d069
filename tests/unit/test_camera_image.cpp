// Camera-image reception without a link: the line decompressor against streams made by the
// simulated tracker's encoder, the IMAGE_PKT handler's rules, the palette build and the marker
// points.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "display/camera_image.h"
#include "display/image_codec.h"
#include "sim/camera.h"

namespace {

using lvx::ImageReceiver;
using lvx::LineDecoder;

// Decodes a whole stream fed in pieces of `piece` bytes; returns the lines in order.
std::vector<std::vector<uint8_t>> decode(const std::vector<uint8_t> &stream, int width, int height,
                                         size_t piece) {
  LineDecoder d;
  d.start_image(width, height);
  std::vector<std::vector<uint8_t>> lines;
  for (size_t at = 0; at < stream.size(); at += piece) {
    const uint8_t *p = stream.data() + at;
    size_t n = std::min(piece, stream.size() - at);
    while (n > 0) {
      const int line = d.extract(&p, &n);
      if (line < 0) break;
      EXPECT_EQ(line, static_cast<int>(lines.size()) + 1);
      lines.emplace_back(d.line(), d.line() + d.line_bytes());
    }
  }
  return lines;
}

TEST(LineDecoder, CodesOfEveryMode) {
  struct Case {
    const char *what;
    std::vector<uint8_t> stream;
    std::vector<uint8_t> above;  // the line decoded first (mode 0), when not empty
    std::vector<uint8_t> expect;
  };
  const Case cases[] = {
      {"raw", {0, 5, 0xC3, 0x80, 9}, {}, {5, 0xC3, 0x80, 9}},
      {"run then pixels", {1, 0xC5, 7, 1, 2}, {}, {7, 7, 7, 7, 7, 1, 2}},
      {"mode 1 keeps 0x80..0xBF as pixels",
       {1, 0x85, 0xBF, 0xC2, 0xC9, 3},
       {},
       {0x85, 0xBF, 0xC9, 0xC9, 3}},
      {"run of 0 writes nothing", {1, 0xC0, 4, 1, 2, 3, 4}, {}, {1, 2, 3, 4}},
      {"run past the end is cut", {1, 0xFF, 6}, {}, {6, 6, 6, 6}},
      {"copy from above", {2, 0x83, 0x40}, {0, 10, 11, 12, 13}, {10, 11, 12, 0x40}},
      {"copy and run", {2, 9, 0x82, 0xC1, 0x90}, {0, 1, 2, 3, 4}, {9, 2, 3, 0x90}},
  };
  for (const Case &c : cases) {
    const int width = static_cast<int>(c.expect.size());
    std::vector<uint8_t> stream;
    if (!c.above.empty()) stream = c.above;
    stream.insert(stream.end(), c.stream.begin(), c.stream.end());
    auto lines = decode(stream, width, 2, stream.size());
    ASSERT_EQ(lines.size(), c.above.empty() ? 1u : 2u) << c.what;
    EXPECT_EQ(lines.back(), c.expect) << c.what;
  }
  // Image type 1: two pixels a byte, high nibble first; an odd width ends on a high nibble.
  const uint8_t packed[2] = {0x12, 0x3F};
  uint8_t pixels[3] = {};
  lvx::expand_nibbles(packed, 3, pixels);
  EXPECT_EQ(std::vector<uint8_t>(pixels, pixels + 3), (std::vector<uint8_t>{1, 2, 3}));
}

// The simulated tracker's encoder and the library's decoder were written apart: every picture
// it compresses, in any mode, fed in pieces of any size, comes back unchanged.
TEST(LineDecoder, MatchesTheTrackersEncoderInPiecesOfAnySize) {
  std::mt19937 rng(3);
  for (int mode = -1; mode <= 2; ++mode) {
    for (int trial = 0; trial < 6; ++trial) {
      const int width = 1 + static_cast<int>(rng() % 300),
                height = 1 + static_cast<int>(rng() % 20);
      std::vector<uint8_t> pixels(static_cast<size_t>(width * height));
      // Flat patches, repeats of the line above and noise over all byte values.
      for (size_t i = 0; i < pixels.size(); ++i) {
        const auto r = rng() % 10;
        pixels[i] = r < 4 && i > 0 ? pixels[i - 1]
                    : r < 7 && i >= static_cast<size_t>(width)
                        ? pixels[i - static_cast<size_t>(width)]
                        : static_cast<uint8_t>(rng());
      }
      const auto stream = lvxsim::imgcode::encode_image(pixels, width, height, mode);
      for (size_t piece : {size_t{1}, size_t{2}, size_t{7}, size_t{1200}}) {
        auto lines = decode(stream, width, height, piece);
        ASSERT_EQ(lines.size(), static_cast<size_t>(height));
        for (int y = 0; y < height; ++y) {
          EXPECT_TRUE(std::equal(lines[static_cast<size_t>(y)].begin(),
                                 lines[static_cast<size_t>(y)].end(), pixels.begin() + y * width))
              << "mode " << mode << " line " << y << " piece " << piece;
        }
      }
    }
  }
  // A synthetic eye picture, noise and all, comes out smaller than its pixels.
  lvxsim::CameraScene scene;
  auto pic = lvxsim::render_camera(scene, 192, 160);
  auto stream = lvxsim::imgcode::encode_image(pic.pixels, 192, 160);
  EXPECT_LT(stream.size(), pic.pixels.size());
  EXPECT_EQ(decode(stream, 192, 160, 1200).size(), 160u);
}

// A first segment (type 6 packet) of an image, with the picture description.
std::vector<uint8_t> first_segment(const std::vector<uint8_t> &data, int width, int height,
                                   uint8_t palette_id = 1) {
  std::array<uint8_t, 48> info{};
  info[0] = palette_id;
  return lvxsim::imgcode::segments(data, info, width, height, 5000).front();
}

std::vector<uint8_t> later_segment(uint16_t number, const std::vector<uint8_t> &data) {
  // The 34-byte frame first, then the data inserted after its 24-byte header.
  std::vector<uint8_t> p(34, 0);
  p[0] = IMAGE_PKT;
  p[20] = static_cast<uint8_t>(number >> 8);
  p[21] = static_cast<uint8_t>(number);
  p[22] = static_cast<uint8_t>(data.size() >> 8);
  p[23] = static_cast<uint8_t>(data.size());
  p.insert(p.begin() + 24, data.begin(), data.end());
  return p;
}

TEST(ImageReceiver, PacketRulesAndLineDelivery) {
  ImageReceiver r;
  uint8_t line[512];
  int acks = 0;
  // Too short; and unwanted segments count 20 bytes when small, else their full length.
  EXPECT_EQ(r.on_packet(std::vector<uint8_t>(30, 0), 1), -1);
  auto small = later_segment(1, std::vector<uint8_t>(80, 0));
  EXPECT_EQ(r.on_packet(lvx::Bytes(small).first(100), 1), 20);
  auto rejected = later_segment(1, std::vector<uint8_t>(50, 0));
  rejected.resize(100);
  EXPECT_EQ(r.on_packet(rejected, 1), 84);
  EXPECT_EQ(r.next_line(line, &acks), -1);
  EXPECT_EQ(r.palette(nullptr), -1);

  // A requested image of three 4-pixel lines in three segments; a run code ends the first.
  r.set_pending();
  const std::vector<uint8_t> a = {1, 0xC4, 9, 1, 0xC3}, b = {5, 2, 0x81, 6}, c = {0, 1, 2, 3, 4};
  const auto first = first_segment(a, 4, 3);
  EXPECT_EQ(r.on_packet(first, 1), static_cast<int>(48 + a.size() + 44));
  EXPECT_TRUE(r.receiving());
  EXPECT_EQ(r.palette(nullptr), 1);  // 1 differs from the 0 before it
  EXPECT_EQ(r.next_line(line, &acks), 1);
  EXPECT_EQ(std::vector<uint8_t>(line, line + 4), (std::vector<uint8_t>{9, 9, 9, 9}));
  EXPECT_EQ(acks, 1);
  EXPECT_EQ(r.next_line(line, &acks), 0);  // the run's value is in the next segment
  EXPECT_EQ(r.on_packet(later_segment(1, b), 1), static_cast<int>(b.size() + 34));
  EXPECT_EQ(r.on_packet(later_segment(2, c), 1), static_cast<int>(c.size() + 34));  // slot full
  EXPECT_EQ(r.next_line(line, &acks), 2);
  EXPECT_EQ(std::vector<uint8_t>(line, line + 4), (std::vector<uint8_t>{5, 5, 5, 2}));
  EXPECT_EQ(r.next_line(line, &acks), 0);  // segment 2 was dropped: the write slot was full
  EXPECT_TRUE(r.receiving());

  // Out of order: the image is aborted.
  EXPECT_EQ(r.on_packet(later_segment(5, c), 1), static_cast<int>(c.size() + 34));
  EXPECT_FALSE(r.receiving());
  EXPECT_EQ(r.next_line(line, &acks), -1);

  // Two images with the same palette: the second reports it as old; its last line ends it.
  for (int image = 0; image < 2; ++image) {
    r.set_pending();
    EXPECT_EQ(r.palette(nullptr), -1);
    r.on_packet(first_segment(c, 4, 1, 7), 1);
    EXPECT_EQ(r.palette(nullptr), image == 0 ? 1 : 0);
    EXPECT_EQ(r.next_line(line, &acks), 1);
    EXPECT_FALSE(r.receiving());
  }
  // A first segment in the middle of an image aborts it.
  r.set_pending();
  r.on_packet(first_segment(a, 4, 3), 1);
  r.on_packet(first_segment(a, 4, 3), 1);
  EXPECT_FALSE(r.receiving());

  // A first segment without a whole palette record (cut inside it, or with an info block shorter
  // than it) drops the image rather than show it with a palette of zeros or of image data.
  auto short_info = first_segment(c, 4, 1);
  short_info[lvx::image_pkt::kInfoLength] = 40;
  const auto whole = first_segment(c, 4, 1);
  for (const auto &bad : {std::vector<uint8_t>(whole.begin(), whole.begin() + 60), short_info}) {
    r.set_pending();
    r.on_packet(bad, 1);
    EXPECT_FALSE(r.receiving() || r.pending());
    EXPECT_EQ(r.palette(nullptr), -1);
  }
}

TEST(CameraPalette, RampsEntriesAndMarkers) {
  PaletteInfo info{};
  info.grey_first = 0;
  info.grey_first_level = 0;
  info.grey_last = 63;
  info.grey_last_level = 252;
  auto p = lvx::build_palette(info);
  EXPECT_EQ(p.count, 64);
  for (int i : {0, 1, 31, 63}) EXPECT_EQ(p.red[static_cast<size_t>(i)], 4 * i);

  // A ramp of one index, ramp 1 capped at 255, explicit entries overwriting.
  info.flags = LUMAVEX_PAL_RAMP1 | LUMAVEX_PAL_RAMP2;
  const uint8_t ramp1[8] = {64, 250, 0, 10, 67, 30, 255, 3};
  const uint8_t ramp2[8] = {70, 1, 2, 3, 70, 0, 0, 0};
  std::copy(ramp1, ramp1 + 8, info.ramp1);
  std::copy(ramp2, ramp2 + 8, info.ramp2);
  info.colour_count = 2;
  const uint8_t colours[8] = {5, 1, 2, 3, 250, 9, 9, 9};  // the second index is beyond the palette
  std::copy(colours, colours + 8, info.colours);
  p = lvx::build_palette(info);
  EXPECT_EQ(p.count, 64 + 4 + 1 + 2);
  EXPECT_EQ(p.red[64], 250);
  EXPECT_EQ(p.red[66], 255);    // 250 + 2 * 30 / 3, capped
  EXPECT_EQ(p.green[67], 255);  // 0 + 3 * 255 / 3
  EXPECT_EQ(p.blue[65], 11);
  EXPECT_EQ(p.blue[70], 3);
  EXPECT_EQ(p.red[5], 1);

  // PaletteInfo byte order: host-order words at 4, 6, 22; markers big-endian; marker modes.
  std::array<uint8_t, 48> wire{};
  wire[4] = 0x00;
  wire[5] = LUMAVEX_PAL_MARKERS | LUMAVEX_PAL_MARKER_BOX;
  wire[24] = 0x10;  // point 1 x = 4096
  wire[26] = 0x08;  // point 1 y = 2048
  wire[28] = 0x80;  // point 2 x missing
  wire[30] = 0x01;
  wire[31] = 0xF4;  // point 2 y = 500
  const PaletteInfo got = lvx::palette_info_from_wire(wire);
  EXPECT_EQ(got.flags, LUMAVEX_PAL_MARKERS | LUMAVEX_PAL_MARKER_BOX);
  EXPECT_EQ(lvx::palette_info_to_wire(got), wire);
  auto m = lvx::marker_points(got);
  EXPECT_EQ(m.mode, 1);
  EXPECT_EQ(m.x[0], 4096);
  EXPECT_EQ(m.y[0], 2048);
  EXPECT_EQ(m.x[1], MISSING_VALUE);
  EXPECT_EQ(m.y[1], 500);
  const struct {
    uint16_t flags;
    int mode;
  } modes[] = {{0x60, 0}, {0x10, 0}, {0x30, 1}, {0x50, 2}, {0x70, 2}};
  for (const auto &c : modes) EXPECT_EQ(lvx::marker_mode(c.flags), c.mode) << c.flags;
  PaletteInfo no_markers = got;
  no_markers.flags = 0;
  EXPECT_EQ(lvx::marker_points(no_markers).x[0], MISSING_VALUE);
}

}  // namespace
