// The application's hook tables: installing and returning them, and which hook each dispatch
// calls with which arguments. Fake tables record every call they receive.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hooks/graphic_hooks.h"
#include "link/alert.h"
#include "lumavex_core.h"

namespace {

// What the fake hooks saw. Hooks are plain functions, so the record is shared.
struct Recorder {
  std::vector<std::string> calls;
  int wrong_user_data = 0;
  std::vector<uint8_t> line;
  std::vector<uint32_t> image;
  int16_t open_result = 0;
  int16_t poll_result = 0;
  std::vector<std::string> alerts;
};
Recorder rec;
int user_tag;  // the address handed to version-2 tables as user_data

void call(const std::string &text) {
  rec.calls.push_back(text);
}
void check_user(void *user_data) {
  if (user_data != &user_tag) ++rec.wrong_user_data;
}
void ucall(void *user_data, const std::string &text) {
  check_user(user_data);
  call(text);
}
std::string num(int v) {
  return std::to_string(v);
}

std::string floats(float x, float y) {  // exact values, so any rounding on the way shows
  return std::to_string(double{x}) + " " + std::to_string(double{y});
}

GraphicHooks full_v1() {
  GraphicHooks t{};
  t.open_target_screen_hook = []() -> int16_t { return call("open_screen"), 7; };
  t.close_target_screen_hook = [] { call("close_screen"); };
  t.hide_for_abort_menu_hook = [] { call("hide_for_abort"); };
  t.open_camera_view_hook = [](int16_t w, int16_t h) {
    return call("open_camera " + num(w) + " " + num(h)), rec.open_result;
  };
  t.camera_title_hook = [](int16_t th, const char *s) { call("title " + num(th) + " " + s); };
  t.camera_line_hook = [](int16_t w, int16_t line, int16_t total, const uint8_t *px) {
    call("line " + num(w) + " " + num(line) + " " + num(total));
    rec.line.assign(px, px + w);
  };
  t.camera_palette_hook = [](int16_t n, const uint8_t *r, const uint8_t *g, const uint8_t *b) {
    call("palette " + num(n) + " " + num(r[n - 1]) + " " + num(g[n - 1]) + " " + num(b[n - 1]));
  };
  t.close_camera_view_hook = [] { call("close_camera"); };
  t.erase_target_hook = [] { call("erase"); };
  t.blank_target_screen_hook = [] { call("blank"); };
  t.draw_target_hook = [](int32_t x, int32_t y) { call("draw " + num(x) + " " + num(y)); };
  t.target_shown_sound_hook = [] { call("target_sound"); };
  t.calibration_end_sound_hook = [](int32_t e) { call("cal_end " + num(e)); };
  t.drift_end_sound_hook = [](int32_t e) { call("drift_end " + num(e)); };
  t.drift_target_sound_hook = [] { call("drift_target"); };
  t.poll_input_events_hook = [](InputEvent *ev) {
    ev[0].key = 13;
    return call("poll"), rec.poll_result;
  };
  t.alert_hook = [](const char *s) { rec.alerts.push_back(s); };
  return t;
}

// Every version-2 fake first checks that it was handed the table's user_data.
GraphicHooksV2 full_v2() {
  GraphicHooksV2 t{};
  t.major_version = 1;
  t.reserved1 = reinterpret_cast<void *>(0x1111);
  t.user_data = &user_tag;
  t.open_target_screen_hook = [](void *u) -> int16_t { return ucall(u, "open_screen"), 9; };
  t.close_target_screen_hook = [](void *u) { ucall(u, "close_screen"); };
  t.open_camera_view_hook = [](void *u, int16_t w, int16_t h) {
    return ucall(u, "open_camera " + num(w) + " " + num(h)), rec.open_result;
  };
  t.camera_title_hook = [](void *u, const char *s) { ucall(u, std::string("title ") + s); };
  t.camera_image_hook = [](void *u, int16_t w, int16_t h, const uint32_t *px) {
    ucall(u, "image " + num(w) + " " + num(h));
    rec.image.assign(px, px + w * h);
  };
  t.close_camera_view_hook = [](void *u) { ucall(u, "close_camera"); };
  t.erase_target_hook = [](void *u) { ucall(u, "erase"); };
  t.blank_target_screen_hook = [](void *u) { ucall(u, "blank"); };
  t.draw_target_hook = [](void *u, float x, float y) { ucall(u, "draw " + floats(x, y)); };
  t.play_sound_hook = [](void *u, int32_t code) { ucall(u, "sound " + num(code)); };
  t.poll_input_events_hook = [](void *u, InputEvent *ev) {
    ev[0].key = 27;
    return ucall(u, "poll"), rec.poll_result;
  };
  t.alert_hook = [](void *u, const char *s) { check_user(u), rec.alerts.push_back(s); };
  for (size_t i = 0; i < 4; ++i) t.reserved2[i] = reinterpret_cast<void *>(0x2220 + i);
  return t;
}

template <typename T>
bool all_zero(const T &table) {
  const T zero{};
  return std::memcmp(&table, &zero, sizeof table) == 0;
}

// A command sender that records what it was asked and answers with a set result.
struct CommandLog {
  std::vector<std::string> sent;
  int16_t result = 0;
};
CommandLog commands;
int16_t fake_command(uint32_t msec, const char *text) {
  commands.sent.push_back(std::to_string(msec) + " " + text);
  return commands.result;
}

// Tables installed into a state of the test's own; the image buffer is too large for the stack.
class HookDispatch : public testing::Test {
 protected:
  void SetUp() override { rec = Recorder{}; }
  std::unique_ptr<lvx::GraphicHookState> hooks = std::make_unique<lvx::GraphicHookState>();
};

// The public functions act on the process-wide hooks; each test leaves none installed.
class HookInstall : public HookDispatch {
 protected:
  void TearDown() override { setup_graphic_hook_functions(nullptr); }
};

TEST_F(HookInstall, EachFormIsCopiedReplacesTheOtherAndNullRemovesIt) {
  GraphicHooks v1 = full_v1();
  const int version = lumavex_get_tracker_version(nullptr);
  EXPECT_EQ(setup_graphic_hook_functions(&v1), version);
  v1.alert_hook = nullptr;  // the caller's table is not what is installed
  GraphicHooks *copy = get_all_hook_functions();
  EXPECT_EQ(copy->alert_hook, full_v1().alert_hook);
  // The returned copy is rewritten by every call, in the same place.
  copy->draw_target_hook = nullptr;
  EXPECT_EQ(get_all_hook_functions(), copy);
  EXPECT_EQ(copy->draw_target_hook, full_v1().draw_target_hook);

  GraphicHooksV2 v2 = full_v2();
  EXPECT_EQ(setup_graphic_hook_functions_V2(&v2), 0);
  EXPECT_TRUE(all_zero(*get_all_hook_functions()));
  EXPECT_EQ(std::memcmp(get_all_hook_functions_V2(), &v2, sizeof v2), 0);  // reserved words too
  v1 = full_v1();
  setup_graphic_hook_functions(&v1);
  EXPECT_TRUE(all_zero(*get_all_hook_functions_V2()));

  // An unsupported version 2, or none at all, leaves no hooks.
  for (int major : {2, -1}) {
    setup_graphic_hook_functions(&v1);
    v2.major_version = major;
    EXPECT_EQ(setup_graphic_hook_functions_V2(major < 0 ? nullptr : &v2), -1);
    EXPECT_TRUE(all_zero(*get_all_hook_functions()));
    EXPECT_TRUE(all_zero(*get_all_hook_functions_V2()));
  }
  EXPECT_STREQ(lumavex_get_error(-1, "setup_graphic_hook_functions_V2"), "Unsupported Version");
  setup_graphic_hook_functions(&v1);
  EXPECT_EQ(setup_graphic_hook_functions(nullptr), version);
  EXPECT_TRUE(all_zero(*get_all_hook_functions()));
}

// Version 1 truncates the target position; version 2 passes it unchanged, after user_data.
TEST_F(HookDispatch, EachFormCallsItsSlotsWithTheirArguments) {
  GraphicHooks t = full_v1();
  const struct {
    bool v2;
    int16_t opened, key;
    std::vector<std::string> calls;
  } forms[] = {{false,
                7,
                13,
                {"open_screen", "close_screen", "hide_for_abort", "erase", "blank",
                 "title -1 Eye: left", "draw 512 -3", "poll"}},
               {true,
                9,
                27,
                {"open_screen", "close_screen", "erase", "blank", "title Eye: left",
                 "draw 512.750000 -3.500000", "poll"}}};
  for (const auto &f : forms) {
    rec = Recorder{};
    f.v2 ? hooks->install_v2(full_v2(), 2) : hooks->install(&t, 2);
    InputEvent events[lvx::kPollEventCount] = {};
    rec.poll_result = 3;
    EXPECT_EQ(hooks->open_target_screen(), f.opened);
    hooks->close_target_screen();
    hooks->hide_for_abort_menu();  // no version-2 counterpart
    hooks->erase_target();
    hooks->blank_target_screen();
    for (const char *title : {"Eye: left", "", static_cast<const char *>(nullptr)}) {
      hooks->camera_title(title);
    }
    hooks->draw_target(512.75f, -3.5f);
    EXPECT_EQ(hooks->poll_input_events(events), 3);
    EXPECT_TRUE(hooks->alert("oops"));
    EXPECT_EQ(rec.calls, f.calls);
    EXPECT_EQ(events[0].key, f.key);
    EXPECT_EQ(rec.alerts, std::vector<std::string>{"oops"});
    EXPECT_EQ(rec.wrong_user_data, 0);
    // The caller never looks past the 20 records it offered, whatever the hook claims.
    rec.poll_result = 25;
    EXPECT_EQ(hooks->poll_input_events(events), 20);
    rec.poll_result = -4;
    EXPECT_EQ(hooks->poll_input_events(events), 0);
  }
}

TEST_F(HookDispatch, MissingHooksAreSkippedAndCountAsZero) {
  GraphicHooks empty_v1{};
  GraphicHooksV2 empty_v2{};
  empty_v2.major_version = 1;
  empty_v2.user_data = &user_tag;
  uint8_t pixels[2] = {0, 1};
  const uint8_t rgb[2] = {10, 20};
  InputEvent events[lvx::kPollEventCount] = {};

  for (int form = 0; form < 3; ++form) {
    SCOPED_TRACE(form);
    if (form == 0) hooks->install(nullptr, 4);
    if (form == 1) hooks->install(&empty_v1, 4);
    if (form == 2) hooks->install_v2(empty_v2, 4);
    commands = CommandLog{};
    EXPECT_EQ(hooks->open_target_screen(), 0);
    EXPECT_EQ(hooks->open_camera_view(192, 160, fake_command), 0);
    hooks->close_camera_view(fake_command);
    EXPECT_TRUE(commands.sent.empty()) << "ellipse commands belong to a camera view that is shown";
    hooks->camera_palette(2, rgb, rgb, rgb);
    hooks->camera_line(2, 1, 1, pixels);
    hooks->draw_target(1.0f, 2.0f);
    for (int code = -2; code <= 3; ++code) hooks->play_sound(code);
    rec.poll_result = 5;
    EXPECT_EQ(hooks->poll_input_events(events), 0);
    EXPECT_FALSE(hooks->alert("text"));
  }
  EXPECT_TRUE(rec.calls.empty());

  // One slot set: only that hook is called.
  empty_v1.drift_end_sound_hook = full_v1().drift_end_sound_hook;
  hooks->install(&empty_v1, 4);
  for (int code = -2; code <= 3; ++code) hooks->play_sound(code);
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"drift_end 1", "drift_end 0"}));
}

TEST_F(HookDispatch, SoundCodesSelectTheVersionOneHook) {
  GraphicHooks t = full_v1();
  hooks->install(&t, 2);
  for (int code : {1, 0, -1, 3, 2, -2, 4, -3, 100}) hooks->play_sound(code);  // the last 3: none
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"target_sound", "cal_end 0", "cal_end 1",
                                                 "drift_target", "drift_end 0", "drift_end 1"}));

  // Version 2 receives every code unchanged.
  hooks->install_v2(full_v2(), 2);
  rec.calls.clear();
  for (int code : {-2, 1, 4}) hooks->play_sound(code);
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"sound -2", "sound 1", "sound 4"}));
  EXPECT_EQ(rec.wrong_user_data, 0);
}

TEST_F(HookDispatch, CameraViewAsksForEllipsesOnlyFromThirdGeneration) {
  // Accepted: the flag is set and the hook's result is returned.
  commands = CommandLog{};
  hooks->install_v2(full_v2(), 3);
  rec.open_result = 1;
  EXPECT_EQ(hooks->open_camera_view(384, 320, fake_command), 1);
  EXPECT_EQ(commands.sent, std::vector<std::string>{"1000 link_send_ellipse_parameters=1"});
  EXPECT_EQ(hooks->ellipse_flag(), 1);
  EXPECT_EQ(rec.calls, std::vector<std::string>{"open_camera 384 320"});

  // An older tracker: no commands, and the flag is left as it was until the view closes.
  commands = CommandLog{};
  GraphicHooks t = full_v1();
  hooks->install(&t, 2);
  rec.open_result = -1;
  EXPECT_EQ(hooks->open_camera_view(192, 160, fake_command), -1);
  EXPECT_EQ(hooks->ellipse_flag(), 1);
  hooks->close_camera_view(fake_command);
  EXPECT_EQ(hooks->ellipse_flag(), 0);
  EXPECT_TRUE(commands.sent.empty());

  // Refused: the request is withdrawn; closing withdraws it again.
  hooks->install(&t, 4);
  commands.result = -1;
  hooks->open_camera_view(192, 160, fake_command);
  EXPECT_EQ(hooks->ellipse_flag(), 0);
  hooks->close_camera_view(fake_command);
  const std::vector<std::string> expected = {"1000 link_send_ellipse_parameters=1",
                                             "1000 link_send_ellipse_parameters=0",
                                             "1000 link_send_ellipse_parameters=0"};
  EXPECT_EQ(commands.sent, expected);
  EXPECT_EQ(rec.calls.back(), "close_camera");
}

TEST_F(HookDispatch, VersionOneLinesAreClampedIntoThePalette) {
  GraphicHooks t = full_v1();
  hooks->install(&t, 2);
  uint8_t pixels[4] = {0, 15, 16, 200};
  hooks->camera_line(4, 1, 2, pixels);  // no palette yet
  EXPECT_TRUE(rec.calls.empty());

  uint8_t red[16] = {}, green[16] = {}, blue[16] = {};
  red[15] = 15, green[15] = 115, blue[15] = 215;
  hooks->camera_palette(16, red, green, blue);
  hooks->camera_line(4, 2, 2, pixels);
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"palette 16 15 115 215", "line 4 2 2"}));
  const std::vector<uint8_t> clamped = {0, 15, 15, 15};
  EXPECT_EQ(rec.line, clamped);
  EXPECT_EQ(std::vector<uint8_t>(pixels, pixels + 4), clamped);  // in place
}

// The bytes of a version-2 pixel in memory order.
std::vector<uint8_t> bytes_of(uint32_t pixel) {
  uint8_t b[4];
  std::memcpy(b, &pixel, 4);
  return {b[0], b[1], b[2], b[3]};
}

TEST_F(HookDispatch, VersionTwoImageIsDeliveredWhenItsLastLineArrives) {
  hooks->install_v2(full_v2(), 2);
  uint8_t red[16] = {}, green[16] = {}, blue[16] = {};
  red[1] = 10, green[1] = 20, blue[1] = 30;
  red[15] = 1, green[15] = 2, blue[15] = 3;
  hooks->camera_palette(16, red, green, blue);

  uint8_t first[3] = {1, 0, 1};
  uint8_t second[3] = {0, 200, 1};
  hooks->camera_line(3, 1, 2, first);
  EXPECT_TRUE(rec.calls.empty());
  hooks->camera_line(3, 2, 2, second);
  EXPECT_EQ(rec.calls, std::vector<std::string>{"image 3 2"});
  EXPECT_EQ(second[1], 15);
  ASSERT_EQ(rec.image.size(), 6u);
  EXPECT_EQ(bytes_of(rec.image[0]), (std::vector<uint8_t>{10, 20, 30, 255}));
  EXPECT_EQ(bytes_of(rec.image[1]), (std::vector<uint8_t>{0, 0, 0, 255}));
  EXPECT_EQ(bytes_of(rec.image[4]), (std::vector<uint8_t>{1, 2, 3, 255}));
  EXPECT_EQ(rec.wrong_user_data, 0);
}

TEST_F(HookDispatch, VersionTwoKeepsWithinItsBuffers) {
  hooks->install_v2(full_v2(), 2);
  // A palette larger than the RGBA palette: entries past 132 are dropped, and their indexes show
  // the last stored entry.
  std::vector<uint8_t> red(200), green(200, 0), blue(200, 0);
  for (size_t i = 0; i < red.size(); ++i) red[i] = static_cast<uint8_t>(i);
  hooks->camera_palette(200, red.data(), green.data(), blue.data());

  std::vector<uint8_t> line(640, 150);
  hooks->camera_line(640, 768, 768, line.data());  // the last line that fits 640 x 768
  ASSERT_EQ(rec.calls, std::vector<std::string>{"image 640 768"});
  EXPECT_EQ(bytes_of(rec.image.back()), (std::vector<uint8_t>{131, 0, 0, 255}));

  rec.calls.clear();
  hooks->camera_line(640, 769, 769, line.data());  // ends past the buffer: dropped
  hooks->camera_line(-5, 1, 1, line.data());
  hooks->camera_line(640, 0, 0, line.data());
  EXPECT_TRUE(rec.calls.empty());
}

TEST_F(HookInstall, AlertsReachTheHookCutTo1023CharactersOrElseStandardError) {
  testing::internal::CaptureStderr();
  alert_printf("code %d", 5);
  lvx::alert("link %s", "lost");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Lumavex Error: code 5\nLumavex Error: link lost\n");

  GraphicHooks t{};
  t.alert_hook = full_v1().alert_hook;
  setup_graphic_hook_functions(&t);
  const std::string long_text(2000, 'x');
  alert_printf("%s", long_text.c_str());
  lvx::alert("library %d", 1);
  ASSERT_EQ(rec.alerts.size(), 2u);
  EXPECT_EQ(rec.alerts[0], long_text.substr(0, 1023));
  EXPECT_EQ(rec.alerts[1], "library 1");

  GraphicHooksV2 v2{};
  v2.major_version = 1;
  v2.user_data = &user_tag;
  v2.alert_hook = full_v2().alert_hook;
  setup_graphic_hook_functions_V2(&v2);
  testing::internal::CaptureStderr();
  alert_printf("v%d", 2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(rec.alerts.back(), "v2");
  EXPECT_EQ(rec.wrong_user_data, 0);
}

}  // namespace
