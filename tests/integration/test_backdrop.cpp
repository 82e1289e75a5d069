// Backdrop images against the simulated tracker: over the link in each pixel format the tracker
// may ask for (the tracker's reassembled image against the one the pipeline made), with a lost
// packet and a tracker that falls silent; as a BMP file over the file service, with the upload
// refused (falling back to the link) or stalled (then a format the link refuses); and the
// save-and-draw form.
// Trackers 127.0.2.218 .. (test numbers 730..769).
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "backdrop/pixel_pipeline.h"
#include "files/file_service.h"
#include "sim/tracker_control.h"
#include "sim_fixture.h"

namespace fs = std::filesystem;
using namespace lvx::backdrop;

namespace {

size_t idx(int i) {
  return static_cast<size_t>(i);
}

struct Colour {
  uint8_t r, g, b;
};

// A 64 x 48 scene in 32-bit pixels: on black, red and green blocks above, blue and white below.
struct Scene {
  static constexpr int kW = 64, kH = 48;
  std::vector<uint8_t> pixels = std::vector<uint8_t>(4 * kW * kH, 0);
  bitmap_record record{kW, kH, 0, 32, pixels.data(), nullptr};
  Scene() {
    fill(8, 8, 16, 12, {255, 0, 0});
    fill(40, 8, 16, 12, {0, 255, 0});
    fill(8, 28, 16, 12, {0, 0, 255});
    fill(40, 28, 16, 12, {255, 255, 255});
  }
  void fill(int x0, int y0, int w, int h, Colour c) {
    for (int y = y0; y < y0 + h; ++y)
      for (int x = x0; x < x0 + w; ++x) {
        uint8_t *p = &pixels[idx(4 * (y * kW + x))];
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
      }
  }
};

// What the link pipeline makes of a whole image for a target: the packed bytes, and the level
// image they were packed from.
struct Expected {
  std::vector<uint8_t> packed;
  Image levels;
};
Expected expected_for(const bitmap_record &rec, int tw, int th, int levels, bool grey) {
  Image cut = *make_image(rec.width, rec.height, 32);
  copy_rect(*view_of(&rec), 0, 0, rec.width, rec.height, cut);
  Expected e;
  e.levels = *scale_bilinear(cut, tw, th);
  e.packed = convert_and_pack(e.levels, levels, grey, false);
  return e;
}

// The mean of one channel (0 red, 1 green, 2 blue) over a block of a backdrop.
double mean(const lvxsim::Backdrop &b, int x0, int y0, int x1, int y1, int channel) {
  double sum = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) sum += b.rgb[idx(3 * (y * b.width + x) + channel)];
  return sum / ((x1 - x0) * (y1 - y0));
}

size_t count(const std::vector<std::string> &log, const std::string &text) {
  return static_cast<size_t>(std::count(log.begin(), log.end(), text));
}

class Backdrop : public simtest::SimTest {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("lvx_backdrop_" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "tracker");
  }
  void TearDown() override {
    SimTest::TearDown();
    lvx::set_file_service_wait_ms_for_testing(0);
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  void connect(int n, lvxsim::ControlConfig cc = {}) {
    lvxsim::Config c;
    c.control = cc;
    c.control.enabled = true;
    c.control.link_interval_ms = 0;
    c.data_dir = (root_ / "tracker").string();
    c.enable_file_service = true;
    start_tracker(n, c);
    lvx::transport_options().file_service_port = sim().file_service_port();
    ASSERT_EQ(open_lumavex_connection(0), 0);
    ASSERT_EQ(lumavex_wait_for_command_result(2000), 0);  // "link_update_interval = 50"
    ASSERT_TRUE(sim().wait_for_commands(1, 2000));
    sim().clear_received();
  }
  lvxsim::TrackerControl &tracker() { return sim().control(); }

  fs::path root_;
};

struct FormatCase {
  int levels;
  bool grey;
  int tracker;
};

void PrintTo(const FormatCase &f, std::ostream *os) {
  *os << "format " << f.levels << (f.grey ? ", grey" : "");
}

class BackdropFormats : public Backdrop, public testing::WithParamInterface<FormatCase> {};

TEST_P(BackdropFormats, TheTrackerReassemblesThePipelinesImage) {
  const FormatCase fc = GetParam();
  lvxsim::ControlConfig cc;
  cc.bitmap_format = fc.levels;
  cc.bitmap_target_width = 48;  // the tracker asks for a smaller image
  cc.bitmap_target_height = 36;
  connect(fc.tracker, cc);
  Scene scene;
  const uint16_t options = fc.grey ? BACKDROP_GREY : 0;
  ASSERT_EQ(lv_bitmap_to_backdrop(&scene.record, 0, 0, 0, 0, 10, 20, options), 0);

  const lvxsim::ReceivedBitmap got = tracker().bitmap();
  EXPECT_EQ(got.start_command,
            std::string("start_bitmap_transfer ") + (fc.grey ? "1" : "0") + " 10 20 64 48");
  EXPECT_TRUE(got.complete);
  Expected want = expected_for(scene.record, 48, 36, fc.levels, fc.grey);
  EXPECT_EQ(got.bytes, want.packed);

  // Each pixel the format carries shows its level; codes 2 and 4 carry no last column and row.
  ASSERT_TRUE(simtest::wait_until([&] { return tracker().backdrops_shown() == 1; }));
  const std::optional<lvxsim::Backdrop> shown = tracker().backdrop();
  ASSERT_TRUE(shown);
  ASSERT_EQ(shown->width, 48);
  ASSERT_EQ(shown->height, 36);
  EXPECT_EQ(shown->x, 10);
  EXPECT_EQ(shown->y, 20);
  const bool colour = fc.levels == 2 || fc.levels == 5;
  const int step = 255 / (fc.levels - 1);
  const int edge = fc.levels <= 4 ? 1 : 0;
  int wrong = 0;
  for (int y = 0; y < 36 - edge; ++y) {
    for (int x = 0; x < 48 - edge; ++x) {
      const uint8_t *lv = want.levels.row(y) + 4 * x;
      const uint8_t *px = &shown->rgb[idx(3 * (y * 48 + x))];
      for (int c = 0; c < 3; ++c) {
        const int level = colour ? lv[2 - c] : lv[0];
        wrong += px[c] != std::min(255, level * 255 / (fc.levels - 1)) ? 1 : 0;
      }
    }
  }
  EXPECT_EQ(wrong, 0);

  // And the picture is the scene: each block's colour (grey when asked), the right way up.
  const Colour blocks[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  const int bx[2] = {8, 32}, by[2] = {8, 23};
  for (int i = 0; i < 4; ++i) {
    const Colour c = blocks[i];
    const int x0 = bx[i % 2], y0 = by[i / 2];
    const uint8_t wanted[3] = {c.r, c.g, c.b};
    const int grey_value = std::min(255, (3 * c.b + 8 * c.g + 5 * c.r) >> 4);
    for (int ch = 0; ch < 3; ++ch) {
      const double expect = colour ? wanted[ch] : grey_value;
      EXPECT_NEAR(mean(*shown, x0, y0, x0 + 8, y0 + 5, ch), expect, step / 2.0 + 8)
          << "block " << i << " channel " << ch;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Backdrop, BackdropFormats,
                         testing::Values(FormatCase{2, false, 730}, FormatCase{4, true, 731},
                                         FormatCase{5, false, 732}, FormatCase{32, true, 733}),
                         [](const testing::TestParamInfo<FormatCase> &p) {
                           return "Format" + std::to_string(p.param.levels);
                         });

TEST_F(Backdrop, ALostPacketIsSentAgainAndASilentTrackerIsLeftWithin500Ms) {
  lvxsim::ControlConfig cc;
  cc.bitmap_format = 5;  // 64 x 48 in 6 packets of 511 bytes
  connect(734, cc);
  Scene scene;
  lvxsim::BitmapFaults lost;
  lost.drop_sequence = 2;
  tracker().set_bitmap_faults(lost);
  ASSERT_EQ(lv_bitmap_to_backdrop(&scene.record, 0, 0, 0, 0, 0, 0, 0), 0);
  lvxsim::ReceivedBitmap got = tracker().bitmap();
  EXPECT_EQ(got.dropped, 1u);
  EXPECT_EQ(got.resend_requests, 1u);
  EXPECT_EQ(got.bytes, expected_for(scene.record, 64, 48, 5, false).packed);

  lvxsim::BitmapFaults silent;
  silent.silent_after = 2;
  tracker().set_bitmap_faults(silent);
  sim().clear_received();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(lv_bitmap_to_backdrop(&scene.record, 0, 0, 0, 0, 0, 0, 0), -2);
  const int64_t ms = simtest::ms_since(start);
  EXPECT_GE(ms, 1000);  // the screen request's 500 ms, then 500 ms of silence
  EXPECT_LT(ms, 2500);
  ASSERT_TRUE(sim().wait_for_commands(2, 2000));
  EXPECT_EQ(sim().command_log().back(), "stop_bitmap_transfer");
}

// Reads a PNG back with libpng: its size and RGB bytes.
std::optional<lvxsim::Backdrop> read_png(const std::string &path) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, path.c_str())) return std::nullopt;
  img.format = PNG_FORMAT_RGB;
  lvxsim::Backdrop out;
  out.width = static_cast<int>(img.width);
  out.height = static_cast<int>(img.height);
  out.rgb.resize(PNG_IMAGE_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, out.rgb.data(), 0, nullptr)) return std::nullopt;
  return out;
}

TEST_F(Backdrop, AFileTransferShowsTheRectangleExactlyAndThePngHoldsIt) {
  lvxsim::ControlConfig cc;
  cc.backdrop_png = (root_ / "backdrop.png").string();  // written as each backdrop is shown
  connect(737, cc);
  // A 24-bit image whose every byte differs; the rectangle starts at x = 4.
  constexpr int kW = 40, kH = 30;
  std::vector<uint8_t> bgr(3 * kW * kH);
  for (size_t i = 0; i < bgr.size(); ++i) bgr[i] = static_cast<uint8_t>(i * 7 + i / 3);
  bitmap_record rec{kW, kH, 0, 24, bgr.data(), nullptr};
  ASSERT_EQ(lv_bitmap_to_backdrop(&rec, 4, 2, 20, 10, 0, 0, BACKDROP_VIA_FILE), 0);
  ASSERT_TRUE(simtest::wait_until([&] { return tracker().backdrops_shown() == 1; }));
  EXPECT_EQ(sim().command_log(),
            std::vector<std::string>{"draw_image /lvrx/data/recv/tmp_img.bmp 0 0 20 10"});

  const lvxsim::Backdrop shown = *tracker().backdrop();
  ASSERT_EQ(shown.width, 20);
  ASSERT_EQ(shown.height, 10);
  std::vector<uint8_t> want;
  for (int y = 2; y < 12; ++y)
    for (int x = 4; x < 24; ++x)
      for (int c = 2; c >= 0; --c) want.push_back(bgr[idx(3 * (y * kW + x) + c)]);
  EXPECT_EQ(shown.rgb, want);

  std::optional<lvxsim::Backdrop> back;
  EXPECT_TRUE(simtest::wait_until([&] {
    back = read_png(cc.backdrop_png);
    return back && back->width == 20 && back->rgb == want;
  }));
}

TEST_F(Backdrop, FailedUploadsFallBackToTheLinkAndTheSecondStopsTheFileService) {
  lvxsim::ControlConfig cc;
  cc.bitmap_target_width = 16;
  cc.bitmap_target_height = 12;
  connect(738, cc);
  lvxsim::FileFaults refuse;
  refuse.refuse_put = true;
  sim().set_file_faults(refuse);
  Scene scene;
  for (uint64_t i = 1; i <= 3; ++i) {
    EXPECT_EQ(lv_bitmap_to_backdrop(&scene.record, 0, 0, 0, 0, 0, 0, BACKDROP_VIA_FILE), 0);
    // Over the link, each time.
    EXPECT_TRUE(simtest::wait_until([&] { return tracker().backdrops_shown() == i; })) << i;
    EXPECT_EQ(sim().file_stats().service_requests, std::min<uint64_t>(i, 2)) << i;
  }
}

TEST_F(Backdrop, AnUploadToATrackerThatStopsReadingEndsWithinTheServiceWait) {
  lvxsim::ControlConfig cc;
  cc.bitmap_format = 3;  // the link transfer that follows is refused at once
  connect(739, cc);
  lvx::set_file_service_wait_ms_for_testing(1000);
  lvxsim::FileFaults stall;
  stall.stall_upload_after_bytes = 0;
  sim().set_file_faults(stall);
  // 36 MB of BMP: more than the connection's buffers hold. Without a bound the send would block
  // for good; the bound here is the 1 s service wait and 2 s for room, far below the limit
  // below, which leaves room for slow (sanitizer) builds.
  std::vector<uint8_t> pixels(4u * 4000 * 3000, 0x40);
  bitmap_record rec{4000, 3000, 0, 32, pixels.data(), nullptr};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(lv_bitmap_to_backdrop(&rec, 0, 0, 0, 0, 0, 0, BACKDROP_VIA_FILE), -2);
  EXPECT_LT(simtest::ms_since(start), 30000);
  // The failed upload was counted, so the link was tried after it: the tracker asked for a
  // format there is none of, and was told to stop before any packet.
  EXPECT_TRUE(
      simtest::wait_until([&] { return count(sim().command_log(), "stop_bitmap_transfer") == 1; }));
  EXPECT_EQ(tracker().bitmap().packets, 0u);
  EXPECT_EQ(tracker().backdrops_shown(), 0u);
}

// The application's image writer, as the tests see it.
struct Saved {
  std::string name;
  int options = 0;
  int width = 0, height = 0, depth = 0;
  std::vector<uint8_t> first_row;
  const void *image = nullptr;
};
std::vector<Saved> g_saved;

int record_save(const char *name, int options, void *image) {
  const auto *rec = static_cast<const bitmap_record *>(image);
  const auto *row = static_cast<const uint8_t *>(rec->pixels);
  g_saved.push_back({name ? name : "", options, rec->width, rec->height, rec->depth,
                     std::vector<uint8_t>(row, row + 3 * rec->width), image});
  return 7;
}

TEST_F(Backdrop, SaveAndDrawSavesTheRectangleInItsFolderAndHasTheTrackerDrawIt) {
  connect(740);
  g_saved.clear();
  ASSERT_EQ(set_write_image_hook(record_save, 0), 0);
  constexpr int kW = 40, kH = 30;
  std::vector<uint8_t> bgr(3 * kW * kH);
  for (size_t i = 0; i < bgr.size(); ++i) bgr[i] = static_cast<uint8_t>(i);
  bitmap_record rec{kW, kH, 0, 24, bgr.data(), nullptr};
  const std::string folder = (root_ / "shots" / "day1").string();

  EXPECT_EQ(lv_bitmap_save_and_backdrop(&rec, 4, 2, 8, 6, "scene.bmp", folder.c_str(),
                                        BACKDROP_SAVE_AND_DRAW | 0x01, 100, 100, 0),
            7);  // the tracker's 0 gives way to the writer's result
  ASSERT_EQ(g_saved.size(), 1u);
  EXPECT_EQ(g_saved[0].name, folder + "/scene.bmp");
  EXPECT_EQ(g_saved[0].options, BACKDROP_SAVE_AND_DRAW | 0x01);
  EXPECT_EQ(g_saved[0].width, 8);
  EXPECT_EQ(g_saved[0].height, 6);
  EXPECT_EQ(g_saved[0].depth, 24);
  EXPECT_EQ(g_saved[0].first_row,
            std::vector<uint8_t>(bgr.begin() + 3 * (2 * kW + 4), bgr.begin() + 3 * (2 * kW + 12)));
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(sim().command_log(), std::vector<std::string>{"draw_image scene.bmp"});

  // Saving alone: nothing with options 0; a rectangle of size 0 reaches to the image's edges.
  EXPECT_EQ(lv_bitmap_save(&rec, 0, 0, 0, 0, "none.bmp", nullptr, 0), 0);
  EXPECT_EQ(lv_bitmap_save(&rec, 30, 20, 0, 0, "corner.bmp", nullptr, 2), 7);
  ASSERT_EQ(g_saved.size(), 2u);
  EXPECT_EQ(g_saved[1].width, 10);
  EXPECT_EQ(g_saved[1].height, 10);
  EXPECT_EQ(lv_set_backdrop(""), -1);
  EXPECT_EQ(lv_set_backdrop("scene.bmp"), 0);
  EXPECT_EQ(count(sim().command_log(), "draw_image scene.bmp"), 2u);
  set_write_image_hook(nullptr, 0);
}

}  // namespace
