// The tracker's command table: how it reads a command's name (any case, near misses unknown) and
// the sample rates it takes. (That it knows every command the library sends shows in the
// integration tests, which would see them refused.)
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "sim/command_table.h"

namespace {

using lvxsim::builtin_result;

TEST(SimCommandTable, BuiltinResults) {
  // The name is the first word, ending at a blank, '=' or the end; near misses are unknown. A
  // sample rate must be one the camera runs at, given as one whole number.
  const std::pair<const char *, int16_t> cases[] = {
      {"link_send_ellipse_parameters=0", lvxsim::kResultOk},
      {"echo\thello", lvxsim::kResultOk},
      {"clear_screen\ndraw_cross 1 2", lvxsim::kResultOk},
      {"  Set_Idle_Mode", lvxsim::kResultOk},
      {"START_RECORDING", lvxsim::kResultOk},
      {"set_idle_modes", lvxsim::kResultUnknownCommand},
      {"set_idle", lvxsim::kResultUnknownCommand},
      {"draw-cross 1 2", lvxsim::kResultUnknownCommand},
      {"echo_ hi", lvxsim::kResultUnknownCommand},
      {" ", lvxsim::kResultUnknownCommand},
      {"=1", lvxsim::kResultUnknownCommand},
      {"sample_rate 250", lvxsim::kResultOk},
      {"sample_rate = 500", lvxsim::kResultOk},
      {"SAMPLE_RATE=1000", lvxsim::kResultOk},
      {"sample_rate 2000 ", lvxsim::kResultOk},
      {"sample_rate 333", lvxsim::kResultBadValue},
      {"sample_rate", lvxsim::kResultBadValue},
      {"sample_rate = ", lvxsim::kResultBadValue},
      {"sample_rate 1000x", lvxsim::kResultBadValue},
      {"sample_rate -1000", lvxsim::kResultBadValue},
      {"sample_rate 1000 2000", lvxsim::kResultBadValue}};
  for (const auto &[text, result] : cases) EXPECT_EQ(builtin_result(text), result) << text;
}

}  // namespace
