// Backdrop images: each step of the pixel pipeline on small images with hand-computed results,
// the BMP file, the rectangle rules, the tracker's answers, and the packet protocol's decisions.
#include <gtest/gtest.h>

#include <cstring>

#include "backdrop/backdrop.h"
#include "backdrop/bmp_writer.h"
#include "backdrop/link_protocol.h"
#include "backdrop/link_transfer.h"
#include "backdrop/pixel_pipeline.h"

namespace {

using namespace lvx::backdrop;

// A 32-bit image from pixels given as {byte0, byte1, byte2, byte3}, rows from the top.
Image image32(int w, int h, std::initializer_list<std::array<uint8_t, 4>> px) {
  Image img = *make_image(w, h, 32);
  size_t i = 0;
  for (const auto &p : px) std::memcpy(img.pixels.data() + 4 * i++, p.data(), 4);
  return img;
}

std::array<uint8_t, 4> at(const Image &img, int x, int y) {
  std::array<uint8_t, 4> p{};
  std::memcpy(p.data(), img.row(y) + 4 * x, 4);
  return p;
}

using Px = std::array<uint8_t, 4>;

TEST(BackdropPixels, CopyConvertsEachDepthAndStaysInsideBothImages) {
  // 32 to 24: the fourth byte goes; 24 to 32: a zero fourth byte comes.
  Image src32 = image32(2, 1, {{1, 2, 3, 4}, {5, 6, 7, 8}});
  Image rgb = *make_image(2, 1, 24);
  copy_rect(view_of(src32), 0, 0, 2, 1, rgb);
  EXPECT_EQ(rgb.pixels, (std::vector<uint8_t>{1, 2, 3, 5, 6, 7}));
  Image back = *make_image(2, 1, 32);
  copy_rect(view_of(rgb), 0, 0, 2, 1, back);
  EXPECT_EQ(back.pixels, (std::vector<uint8_t>{1, 2, 3, 0, 5, 6, 7, 0}));

  // 16 bits: red 31 (bits 15-11), green 16 (10-6), blue 1 (5-1), each x 7.96875 truncated.
  const uint16_t v = (31 << 11) | (16 << 6) | (1 << 1);
  Image src16 = *make_image(1, 1, 16);
  std::memcpy(src16.pixels.data(), &v, 2);
  Image out = *make_image(1, 1, 32);
  copy_rect(view_of(src16), 0, 0, 1, 1, out);
  EXPECT_EQ(at(out, 0, 0), (Px{7, 127, 247, 0}));

  // A 24-bit rectangle starting at x = 1 converts its own two pixels.
  Image row24 = *make_image(3, 1, 24);
  for (uint8_t i = 0; i < 9; ++i) row24.pixels[i] = static_cast<uint8_t>(10 + i);
  Image cut = *make_image(2, 1, 32);
  copy_rect(view_of(row24), 1, 0, 2, 1, cut);
  EXPECT_EQ(cut.pixels, (std::vector<uint8_t>{13, 14, 15, 0, 16, 17, 18, 0}));

  // Same depth: rows of a padded source from x = 1, clipped at the source's right and bottom
  // edges; what lies outside stays zero.
  std::vector<uint8_t> padded = {1, 2,  3,  4,  5,  6,  7,  8,  0xEE, 0xEE,  //
                                 9, 10, 11, 12, 13, 14, 15, 16, 0xEE, 0xEE};
  bitmap_record rec{2, 2, 10, 32, padded.data(), nullptr};
  Image part = *make_image(2, 2, 32);
  copy_rect(*view_of(&rec), 1, 1, 5, 5, part);
  EXPECT_EQ(part.pixels,
            (std::vector<uint8_t>{13, 14, 15, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

  // Records that cannot be read safely.
  bitmap_record bad_depth{2, 2, 0, 8, padded.data(), nullptr};
  bitmap_record short_pitch{2, 2, 7, 32, padded.data(), nullptr};
  bitmap_record no_pixels{2, 2, 0, 32, nullptr, nullptr};
  EXPECT_FALSE(view_of(&bad_depth) || view_of(&short_pitch) || view_of(&no_pixels));
  EXPECT_EQ(view_of(&rec)->pitch, 10u);
}

TEST(BackdropPixels, BilinearScalingInSixteenSixteenFixedPoint) {
  // Steps of 1/3: blended along the rows first, then between them.
  Image src = image32(2, 2, {{0, 0, 0, 0}, {255, 0, 0, 0}, {255, 0, 0, 0}, {0, 0, 0, 0}});
  Image big = *scale_bilinear(src, 3, 3);
  const uint8_t want[3][3] = {{0, 84, 169}, {84, 112, 141}, {169, 141, 113}};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(at(big, x, y)[0], want[y][x]) << x << "," << y;
  // The same size is resampled too (steps of 3/4).
  Image line = image32(4, 1, {{0, 0, 0, 0}, {100, 0, 0, 0}, {200, 0, 0, 0}, {50, 0, 0, 0}});
  Image same = *scale_bilinear(line, 4, 1);
  EXPECT_EQ((std::array<uint8_t, 4>{at(same, 0, 0)[0], at(same, 1, 0)[0], at(same, 2, 0)[0],
                                    at(same, 3, 0)[0]}),
            (std::array<uint8_t, 4>{0, 75, 150, 162}));
  // A one-pixel-wide source never reads a second column.
  Image column = image32(1, 2, {{10, 20, 30, 40}, {250, 240, 230, 220}});
  Image wide = *scale_bilinear(column, 3, 2);
  for (int x = 0; x < 3; ++x) {
    EXPECT_EQ(at(wide, x, 0), (Px{10, 20, 30, 40}));
    EXPECT_EQ(at(wide, x, 1), (Px{130, 130, 130, 130}));
  }
  EXPECT_FALSE(scale_bilinear(column, 0, 2));
}

TEST(BackdropPixels, GreyRangeAndLevelTables) {
  // Grey and range skip the last column and row.
  Image img = image32(2, 2, {{10, 20, 30, 40}, {1, 2, 3, 250}, {0, 0, 0, 255}, {9, 9, 9, 9}});
  convert_to_grey(img);
  EXPECT_EQ(at(img, 0, 0), (Px{(3 * 10 + 8 * 20 + 5 * 30) >> 4, 20, 30, 40}));
  EXPECT_EQ(at(img, 1, 0)[0], 1);
  const ByteRange r = byte_range(img);
  EXPECT_EQ(r.smallest, 20);
  EXPECT_EQ(r.largest, 40);

  // Two levels: gamma 1.25; thresholds 6 % or twice the step.
  LevelTables two = make_level_tables({0, 255}, 2, false);
  EXPECT_EQ(two.stretch[128], 107);
  EXPECT_EQ(two.level[128], 0);
  EXPECT_EQ(two.level[255], 1);
  EXPECT_EQ(two.output[255], 255);
  EXPECT_EQ(two.threshold, 15);
  EXPECT_EQ(make_level_tables({0, 255}, 2, true).threshold, 510);
  // Five levels over the range 50..150, stretched with integer division and held to 0..255.
  LevelTables five = make_level_tables({50, 150}, 5, false);
  EXPECT_EQ(five.stretch[100], 127);
  EXPECT_EQ(five.stretch[40], 0);
  EXPECT_EQ(five.stretch[200], 255);
  EXPECT_EQ(five.level[100], 2);
  EXPECT_EQ(five.output[100], 127);
  EXPECT_EQ(five.threshold, 3);
  EXPECT_EQ(make_level_tables({0, 255}, 32, false).threshold, 0);
  EXPECT_EQ(make_level_tables({0, 255}, 32, true).threshold, 16);
}

TEST(BackdropPixels, DitheringOfAFourByThreeImage) {
  // Range 0..200 (the fourth bytes are 0), five levels. The last column and row are not dithered.
  const Px edge{7, 7, 7, 0}, a{100, 60, 30, 0}, b{100, 60, 200, 0};
  auto make = [&] { return image32(4, 3, {a, a, a, edge, b, a, a, edge, edge, edge, edge, edge}); };
  Image fine = make();
  dither(fine, make_level_tables(byte_range(fine), 5, false));
  const Px want[2][3] = {{{3, 1, 1, 0}, {2, 1, 0, 0}, {2, 1, 1, 0}},
                         {{2, 1, 4, 0}, {2, 2, 0, 0}, {2, 1, 1, 0}}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(at(fine, x, y), want[y][x]) << x << "," << y;
  EXPECT_EQ(at(fine, 3, 0), edge);
  EXPECT_EQ(at(fine, 0, 2), edge);

  // The coarse threshold drops every error here: each byte is its own level.
  Image coarse = make();
  const LevelTables coarse_tables = make_level_tables(byte_range(coarse), 5, true);
  dither(coarse, coarse_tables);
  EXPECT_EQ(at(coarse, 1, 0), (Px{3, 2, 1, 0}));
  EXPECT_EQ(at(coarse, 0, 1), (Px{3, 2, 4, 0}));

  // The edges are mapped through the same tables: 7 stretches to 8, level 0.
  finish_edges(coarse, coarse_tables, false);
  EXPECT_EQ(at(coarse, 3, 1), (Px{0, 0, 0, 0}));
  EXPECT_EQ(at(coarse, 2, 2), (Px{0, 0, 0, 0}));
}

TEST(BackdropPixels, PackingOfEachFormat) {
  // 2: per row but the last, red, green and blue planes of every pixel but the last.
  Image two = *make_image(10, 2, 32);
  two.row(0)[4 * 0 + 2] = 1;
  two.row(0)[4 * 8 + 2] = 1;
  two.row(0)[4 * 1 + 1] = 1;
  two.row(0)[4 * 9 + 0] = 1;  // the last pixel: not sent
  EXPECT_EQ(pack(two, 2), (std::vector<uint8_t>{0x80, 0x80, 0x40, 0x00, 0x00, 0x00}));
  EXPECT_EQ(packed_size(2, 10, 2), 6u);
  // 4: bit 1, then bit 0 of the first byte.
  Image four = image32(
      3, 2, {{3, 0, 0, 0}, {2, 0, 0, 0}, {1, 0, 0, 0}, {3, 3, 3, 3}, {3, 3, 3, 3}, {3, 3, 3, 3}});
  EXPECT_EQ(pack(four, 4), (std::vector<uint8_t>{0xC0, 0x80}));
  // 5: 7-bit codes from the bottom row up.
  Image five = image32(2, 2, {{0, 0, 1, 0}, {0, 1, 0, 0}, {4, 4, 4, 0}, {1, 0, 0, 0}});
  EXPECT_EQ(pack(five, 5), (std::vector<uint8_t>{0xF8, 0x04, 0xC8, 0x50}));
  EXPECT_EQ(packed_size(5, 2, 2), 4u);
  // 32: 5-bit levels of the first byte.
  Image grey = image32(2, 1, {{31, 0, 0, 0}, {1, 0, 0, 0}});
  EXPECT_EQ(pack(grey, 32), (std::vector<uint8_t>{0xF8, 0x40}));
  EXPECT_TRUE(pack(grey, 3).empty());
  EXPECT_EQ(packet_payload(5), 511u);
}

TEST(BackdropFile, BmpHeaderAndBottomUpRowsAndTheUploadName) {
  Image img = image32(2, 2, {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}});
  std::vector<uint8_t> bmp = encode_bmp(view_of(img));
  const std::vector<uint8_t> header = {
      'B', 'M', 66, 0, 0, 0, 0, 0,  0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1,
      0,   24,  0,  0, 0, 0, 0, 12, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(bmp.size(), 66u);
  EXPECT_EQ(std::vector<uint8_t>(bmp.begin(), bmp.begin() + 54), header);
  EXPECT_EQ(std::vector<uint8_t>(bmp.begin() + 54, bmp.end()),
            (std::vector<uint8_t>{9, 10, 11, 13, 14, 15, 1, 2, 3, 5, 6, 7}));

  EXPECT_EQ(upload_name("shots/trial 1.png"), "trial 1.bmp");
  EXPECT_EQ(upload_name("a.b\\scene"), "scene.bmp");
  EXPECT_EQ(upload_name("x.y.z"), "x.y.bmp");
}

TEST(BackdropRules, RectanglesForSavingAndSending) {
  const ImageView img{100, 50, 32, 400, nullptr};
  EXPECT_FALSE(save_rect(img, {0, 0, 0, 0}));     // the whole image
  EXPECT_FALSE(save_rect(img, {90, 0, 20, 10}));  // past the right edge
  EXPECT_FALSE(save_rect(img, {-1, 0, 10, 10}));  // left of the image
  EXPECT_FALSE(save_rect(img, {100, 10, 0, 0}));  // nothing left at the edge
  const std::optional<Rect> edge = save_rect(img, {60, 40, 0, 0});
  ASSERT_TRUE(edge);
  EXPECT_EQ(edge->width, 40);
  EXPECT_EQ(edge->height, 10);

  // Sending: to the image's edge, then to the screen (1023 x 767 as the tracker reports it).
  SendRect r = clip_send_rect(100, 50, {10, 5, 0, 0}, 0, 0, {});
  EXPECT_EQ(r.width, 90);
  EXPECT_EQ(r.height, 45);
  r = clip_send_rect(2000, 1000, {0, 0, 0, 0}, 1000, 0, {1023, 767});
  EXPECT_EQ(r.width, 23);
  EXPECT_EQ(r.height, 767);
  r = clip_send_rect(100, 50, {-10, 0, 30, 10}, 0, 0, {});
  EXPECT_EQ(r.xs, 0);
  EXPECT_EQ(r.width, 20);
  EXPECT_LT(clip_send_rect(100, 50, {0, 0, 0, 0}, 1100, 0, {1023, 767}).width, 1);
}

TEST(BackdropRules, TheTrackersAnswers) {
  const std::optional<ScreenSize> screen = parse_screen_size("0,0,1023,767");
  ASSERT_TRUE(screen);
  EXPECT_EQ(screen->width, 1023);
  EXPECT_EQ(screen->height, 767);
  EXPECT_EQ(parse_screen_size("800.5,600,0,0.2")->height, 599);
  EXPECT_FALSE(parse_screen_size("0 0 1023 767"));

  const std::optional<TransferAnswer> a = parse_transfer_answer("640 480 0 0 5 0");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->width, 640);
  EXPECT_EQ(a->levels, 5);
  EXPECT_FALSE(parse_transfer_answer("640 480 0 0 3 0"));  // format 3
  EXPECT_FALSE(parse_transfer_answer("0 480 0 0 32 0"));   // no width
  EXPECT_FALSE(parse_transfer_answer("640 480 0 0 32 -1"));
  EXPECT_FALSE(parse_transfer_answer("640 480 0 0 32"));
  EXPECT_TRUE(target_fits({1920, 1080, 5}));
  EXPECT_FALSE(target_fits({-5, 10, 32}));
  EXPECT_FALSE(target_fits({10000, 10000, 32}));  // more packets than a resend can name
}

TEST(BackdropProtocol, CreditEndMarkerAndCompletion) {
  PacketState state{7, 0};
  PacketProtocol p(state, 1000, 512, 0);
  EXPECT_FALSE(p.next_packet());  // no credit yet
  EXPECT_EQ(p.take_ack(2, 10), AckOutcome::kGoOn);
  auto first = p.next_packet();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->sequence, 1);
  EXPECT_EQ(first->size, 512u);
  p.packet_sent(*first);
  EXPECT_EQ(p.take_ack(-32002, 15), AckOutcome::kIncomplete);  // bytes are still to go
  auto second = p.next_packet();
  EXPECT_EQ(second->offset, 512u);
  EXPECT_EQ(second->size, 488u);
  p.packet_sent(*second);
  EXPECT_FALSE(p.next_packet());  // credit used up
  p.take_ack(1, 20);
  auto end = p.next_packet();
  EXPECT_EQ(end->sequence, 3);
  EXPECT_EQ(end->size, 0u);
  p.packet_sent(*end);
  p.take_ack(5, 30);
  EXPECT_FALSE(p.next_packet());  // everything is out
  EXPECT_EQ(p.take_ack(-32002, 40), AckOutcome::kComplete);
}

TEST(BackdropProtocol, ResendsErrorsAndSilence) {
  PacketState state;
  PacketProtocol p(state, 1022, 511, 1000);
  p.take_ack(10, 1000);
  for (int i = 0; i < 3; ++i) p.packet_sent(*p.next_packet());  // 1, 2 and the end marker
  EXPECT_EQ(p.take_ack(-2, 1100), AckOutcome::kGoOn);
  auto again = p.next_packet();
  EXPECT_EQ(again->sequence, 2);
  EXPECT_EQ(again->offset, 511u);
  p.packet_sent(*again);
  EXPECT_EQ(p.next_packet()->size, 0u);                // the end marker goes again
  EXPECT_EQ(p.take_ack(-9, 1200), AckOutcome::kJunk);  // beyond the next packet: ignored
  EXPECT_EQ(p.next_packet()->sequence, 3);
  EXPECT_EQ(p.take_ack(-32000, 1200), AckOutcome::kAborted);
  EXPECT_EQ(p.take_ack(-32001, 1200), AckOutcome::kOverflow);
  // 500 ms without acknowledgement activity; a zero reading is no activity.
  p.take_ack(0, 1600);
  EXPECT_FALSE(p.silent_too_long(1700));
  EXPECT_TRUE(p.silent_too_long(1701));
}

}  // namespace
