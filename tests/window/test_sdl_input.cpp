// The live window's pure pieces: the key codes the library gets for SDL's keys, key scripts,
// where the picture goes in the window and back, and the tones.
#include <SDL.h>
#include <gtest/gtest.h>

#include "lumavex_sdl.h"

namespace {

using lvxsdl::ScriptStep;

TEST(SdlKeys, CodesAsTheTrackerReadsThem) {
  EXPECT_EQ(lvxsdl::key_code(SDLK_RETURN, 0), 13);
  EXPECT_EQ(lvxsdl::key_code(SDLK_KP_ENTER, 0), 13);
  EXPECT_EQ(lvxsdl::key_code(SDLK_ESCAPE, 0), 27);
  EXPECT_EQ(lvxsdl::key_code(SDLK_SPACE, 0), ' ');
  EXPECT_EQ(lvxsdl::key_code(SDLK_c, 0), 'c');
  EXPECT_EQ(lvxsdl::key_code(SDLK_c, KMOD_LSHIFT), 'C');
  EXPECT_EQ(lvxsdl::key_code(SDLK_c, KMOD_CAPS | KMOD_RSHIFT), 'c');
  EXPECT_EQ(lvxsdl::key_code(SDLK_1, KMOD_LSHIFT), '1');
  EXPECT_EQ(lvxsdl::key_code(SDLK_UP, 0), 0x4800);
  EXPECT_EQ(lvxsdl::key_code(SDLK_LEFT, 0), 0x4B00);
  EXPECT_EQ(lvxsdl::key_code(SDLK_F1, 0), 0x3B00);
  EXPECT_EQ(lvxsdl::key_code(SDLK_F10, 0), 0x4400);
  EXPECT_EQ(lvxsdl::key_code(SDLK_F12, 0), 0x8600);
  EXPECT_EQ(lvxsdl::key_code(SDLK_PAGEDOWN, 0), 0x5100);
  EXPECT_EQ(lvxsdl::key_code(SDLK_LSHIFT, KMOD_LSHIFT), 0);
}

TEST(SdlScript, WordsBecomeStepsAndStrangeWordsAreRefused) {
  std::vector<ScriptStep> s;
  std::string error;
  ASSERT_TRUE(
      lvxsdl::parse_script("1.5s Enter @camera C 250ms mouse:200,150 @target f3", &s, &error))
      << error;
  ASSERT_EQ(s.size(), 8u);
  EXPECT_EQ(s[0].kind, ScriptStep::Kind::kPause);
  EXPECT_EQ(s[0].ms, 1500);
  EXPECT_EQ(s[1].kind, ScriptStep::Kind::kKey);
  EXPECT_EQ(s[1].key, SDLK_RETURN);
  EXPECT_EQ(s[2].kind, ScriptStep::Kind::kWaitCamera);
  EXPECT_EQ(s[3].key, SDLK_c);
  EXPECT_EQ(lvxsdl::key_code(s[3].key, s[3].modifiers), 'C');
  EXPECT_EQ(s[4].ms, 250);
  EXPECT_EQ(s[5].kind, ScriptStep::Kind::kPointer);
  EXPECT_EQ(s[5].x, 200);
  EXPECT_EQ(s[5].y, 150);
  EXPECT_EQ(s[6].kind, ScriptStep::Kind::kWaitTarget);
  EXPECT_EQ(s[7].key, SDLK_F3);
  EXPECT_TRUE(lvxsdl::parse_script("", &s, &error));
  EXPECT_TRUE(s.empty());
  for (const char *bad : {"enterr", "500", "-1s", "mouse:1", "mouse:1,2,3", "mouse:-1,2", "@cam"}) {
    EXPECT_FALSE(lvxsdl::parse_script(std::string("esc ") + bad, &s, &error)) << bad;
    EXPECT_NE(error.find(bad), std::string::npos) << error;
  }
}

TEST(SdlPicture, ScaledToFitCentredAndMappedBack) {
  // A 1024 x 768 picture on a 1920 x 1080 screen: bars left and right.
  const lvxsdl::Rect r = lvxsdl::fit(1920, 1080, 1024, 768);
  EXPECT_EQ(r.h, 1080);
  EXPECT_EQ(r.w, 1440);
  EXPECT_EQ(r.x, 240);
  EXPECT_EQ(r.y, 0);
  EXPECT_EQ(lvxsdl::to_picture(r, 1024, 768, 240, 0), std::make_pair(0, 0));
  EXPECT_EQ(lvxsdl::to_picture(r, 1024, 768, 240 + 720, 540), std::make_pair(512, 384));
  EXPECT_EQ(lvxsdl::to_picture(r, 1024, 768, 1679, 1079), std::make_pair(1023, 767));
  EXPECT_EQ(lvxsdl::to_picture(r, 1024, 768, 239, 500), std::nullopt);
  EXPECT_EQ(lvxsdl::to_picture(r, 1024, 768, 1680, 500), std::nullopt);
  // Taller than wide: bars above and below; the same size: the picture as it is.
  const lvxsdl::Rect tall = lvxsdl::fit(800, 1000, 1024, 768);
  EXPECT_EQ(tall.w, 800);
  EXPECT_EQ(tall.h, 600);
  EXPECT_EQ(tall.y, 200);
  const lvxsdl::Rect same = lvxsdl::fit(800, 600, 800, 600);
  EXPECT_EQ(lvxsdl::to_picture(same, 800, 600, 123, 456), std::make_pair(123, 456));
}

TEST(SdlTones, OneForEachSoundCodeAndNoneForOthers) {
  const auto shown = lvxsdl::tone(LUMAVEX_SOUND_TARGET_SHOWN, 44100);
  const auto done = lvxsdl::tone(LUMAVEX_SOUND_CAL_DONE, 44100);
  const auto failed = lvxsdl::tone(LUMAVEX_SOUND_DRIFT_FAILED, 44100);
  EXPECT_EQ(shown.size(), 44100u * 60 / 1000);
  EXPECT_GT(done.size(), shown.size());
  EXPECT_GT(failed.size(), done.size());
  EXPECT_FALSE(lvxsdl::tone(LUMAVEX_SOUND_DRIFT_TARGET, 44100).empty());
  EXPECT_TRUE(lvxsdl::tone(7, 44100).empty());
  // Faded in and out, loud in between.
  EXPECT_EQ(shown.front(), 0);
  EXPECT_LE(std::abs(shown.back()), 200);
  int peak = 0;
  for (int16_t v : shown) peak = std::max(peak, std::abs(int{v}));
  EXPECT_GT(peak, 8000);
}

}  // namespace
