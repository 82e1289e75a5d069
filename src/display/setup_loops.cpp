#include "display/setup_loops.h"

#include <algorithm>
#include <cmath>

#include "control/commands.h"
#include "control/control_state.h"
#include "control/input.h"
#include "control/keys.h"
#include "control/requests.h"
#include "control/tracker_mode.h"
#include "display/setup_kernel.h"
#include "hooks/graphic_hooks.h"
#include "link/clock.h"
#include "link/connection.h"
#include "link/transport.h"

namespace lvx {

namespace {

constexpr uint16_t kKeyEnter = 13;
constexpr uint16_t kKeyEscape = 27;
constexpr uint16_t kKeySpace = 32;
constexpr uint8_t kForwardState = 10;
constexpr uint16_t kModeDriftCorrection = 13;
constexpr int kTargetPauseMs = 100;
constexpr uint32_t kKeySettleWaitMs = 100;
// A target drawn with this "draw" value or more stays on the screen when drift correction ends.
constexpr int16_t kKeepTarget = 256;
// Reads that empty the key queue before a screen starts (a break yields a 0 every fourth read).
constexpr int kMaxFlushReads = 64;
constexpr int kCalResultNone = NO_REPLY;

// The key code of a key read (the modifiers travel in the high half).
uint16_t key_code(uint32_t key) {
  return static_cast<uint16_t>(key & 0xFFFF);
}

uint32_t take_key() {
  return pump_and_read_key(nullptr);
}

void flush_keys() {
  for (int i = 0; i < kMaxFlushReads && take_key() != 0; ++i) {
  }
}

void forward_key(uint16_t code) {
  send_keybutton(code, 0, kForwardState);
}

bool ended_from_outside() {
  return calibration_exit_requested() || application_terminated_flag();
}

bool heuristic_filter_needed() {
  return tracker_version(nullptr) < 2;
}

// Polls the calibration result for up to `ms`, waiting for packets between polls.
int16_t poll_cal_result(uint32_t ms) {
  const uint32_t start = local_ms();
  do {
    const int16_t r = take_calibration_result();
    if (r != kCalResultNone) return r;
    wait_for_packet();
  } while (local_ms() - start <= ms);
  return kCalResultNone;
}

int cal_sound(int result) {
  return result <= 0 ? kSoundCalDone : kSoundCalFailed;
}

}  // namespace

bool same_target_position(float x1, float y1, float x2, float y2) {
  auto hundredths = [](float v) { return static_cast<int64_t>(static_cast<double>(v) * 100.0); };
  return hundredths(x1) == hundredths(x2) && hundredths(y1) == hundredths(y2);
}

int16_t tracker_setup() {
  clear_calibration_exit();
  if (connection_state() == 0) return -1;
  if (heuristic_filter_needed()) send_command_pieces("heuristic_filter = ON");
  start_setup();
  hook_open_target_screen();
  flush_keys();
  if ((current_mode_bits() & IN_SETUP_MODE) == 0) {
    hook_close_target_screen();
    return 0;
  }
  for (;;) {
    const uint16_t mode = current_mode_bits();
    if (ended_from_outside() || connection_state() == 0) {
      set_offline();
      hook_close_target_screen();
      return kEscapeResult;
    }
    if ((mode & IN_TARGET_MODE) != 0) {
      target_screen();
    } else {
      if ((mode & IN_IMAGE_MODE) != 0) {
        if (camera_screen(true) == TERMINATE_KEY) return TERMINATE_KEY;
        hook_open_target_screen();
      }
      const uint16_t key = key_code(take_key());
      if (key == 0 || key == kNonKey) {
        wait_for_packet();
      } else if (key == kKeyEscape && connection_state() == -1) {
        set_offline();
        hook_close_target_screen();
        return 0;
      } else if (key == TERMINATE_KEY) {
        hook_close_target_screen();
        return TERMINATE_KEY;
      } else {
        forward_key(key);
      }
    }
    // A screen ended from outside or by a lost link ends setup as the top of the loop does.
    if (ended_from_outside() || connection_state() == 0) continue;
    if ((current_mode_bits() & IN_SETUP_MODE) == 0) {
      hook_close_target_screen();
      return 0;
    }
  }
}

int16_t target_screen() {
  bool drawn = false;
  float drawn_x = -32768, drawn_y = -32768;
  int16_t result = kCalResultNone;
  int16_t last_result = kEscapeResult;
  const bool drift = (current_mode_bits() & IN_DRIFTCORR_MODE) != 0;
  clear_calibration_exit();
  hook_open_target_screen();
  flush_keys();
  bool left = false;  // the tracker left the target screen
  for (;;) {
    if (connection_state() == 0) return kEndedResult;
    if ((current_mode_bits() & IN_TARGET_MODE) == 0) {
      delay_ms(kTargetPauseMs);
      if ((current_mode_bits() & IN_TARGET_MODE) == 0) {
        left = true;
        break;
      }
    }
    if (ended_from_outside()) {
      if (connection_state() > 0) set_offline();
      result = kEndedResult;
      break;
    }
    const uint16_t key = key_code(take_key());
    if (key == 0 || key == kNonKey) {
      wait_for_packet();
    } else if (key == kKeySpace) {
      accept_trigger();
    } else if (key == kKeyEscape && connection_state() == -1) {
      break;
    } else if (key == TERMINATE_KEY) {
      hook_erase_target();
      return TERMINATE_KEY;
    } else {
      forward_key(key);
    }
    const int16_t r = take_calibration_result();
    result = r;
    if (r != kCalResultNone) {
      last_result = r;
      hook_play_sound(cal_sound(r));
    }
    float x = 0, y = 0;
    const bool visible = calibration_target(&x, &y) != 0;
    if (drawn && !visible) {
      hook_blank_target_screen();
      drawn = false;
    } else if (!same_target_position(x, y, drawn_x, drawn_y)) {
      hook_blank_target_screen();
      drawn = false;
    }
    if (visible && !drawn) {
      hook_draw_target(x, y);
      drawn_x = x;
      drawn_y = y;
      drawn = true;
      hook_play_sound(kSoundTargetShown);
      delay_ms(kTargetPauseMs);
    }
  }
  if (left) {
    if (!drift) {
      hook_play_sound(cal_sound(last_result));
    } else if (last_result == kEscapeResult) {
      hook_play_sound(kSoundCalFailed);
    }
  }
  if (drawn) hook_blank_target_screen();
  hook_close_target_screen();
  return result;
}

int16_t camera_screen(bool end_from_outside) {
  if ((current_mode_bits() & IN_IMAGE_MODE) == 0) return 0;
  const int16_t init = kernel_init(1);
  if (init != 0) return init;
  // Inside setup, exit_calibration ends the view too, so that it can end the setup around it.
  // (The flag is left set by every link reset; only the loops that clear it first may read it.)
  while ((current_mode_bits() & IN_IMAGE_MODE) != 0 &&
         !(end_from_outside && ended_from_outside())) {
    if (pump_and_echo_key() == TERMINATE_KEY) {
      kernel_iterate(-1);
      return TERMINATE_KEY;
    }
    kernel_iterate(0);
  }
  kernel_iterate(-1);
  return 0;
}

namespace {

// Ends a drift correction's screen: the target goes (unless it is to stay) and the screen closes.
void close_drift_screen(int16_t draw) {
  if (draw == 0 || application_terminated_flag()) return;
  if (draw < kKeepTarget) hook_blank_target_screen();
  hook_close_target_screen();
}

// Accepts the fixation; on a dummy link that ends the drift correction with 0.
bool accept_fixation(int16_t *result) {
  accept_trigger();
  if (connection_state() == -1) {
    *result = 0;
    return true;
  }
  return false;
}

}  // namespace

int16_t drift_correct(float x, float y, int16_t draw, int16_t allow_setup) {
  clear_calibration_exit();
  if (connection_state() == 0 || application_terminated_flag()) return 0;
  if (heuristic_filter_needed()) send_command_pieces("heuristic_filter = ON");
  if (draw != 0) {
    hook_open_target_screen();
    hook_draw_target(x, y);
  }
  flush_keys();
  hook_play_sound(kSoundDriftTarget);
  start_drift_correction(x, y);
  const uint32_t start = local_ms();
  while (tracker_mode_word() != kModeDriftCorrection && local_ms() - start <= kKeySettleWaitMs)
    wait_for_packet();
  if (tracker_mode_word() != kModeDriftCorrection) {
    close_drift_screen(draw);
    return kEndedResult;
  }
  KeyOptionTable ends{}, accepts{};
  keyboard().get_option(1, ends.masks.data(), ends.keys.data(), nullptr);
  keyboard().get_option(2, accepts.masks.data(), accepts.keys.data(), nullptr);

  int16_t result = kCalResultNone;
  for (;;) {
    if (connection_state() == 0) return 0;
    if (tracker_mode_word() != kModeDriftCorrection) {
      const int16_t r = poll_cal_result(kKeySettleWaitMs);
      result = r != kCalResultNone ? r : kEscapeResult;
      break;
    }
    if (ended_from_outside()) {
      set_offline();
      result = kEndedResult;
      break;
    }
    const int16_t r = take_calibration_result();
    if (r != kCalResultNone) {
      result = r;
      break;
    }
    const uint16_t key = key_code(take_key());
    if (key == 0 || key == kNonKey) {
      wait_for_packet();
    } else if (key == kKeyEscape) {
      // A space just after Escape still accepts; otherwise Escape ends the drift correction.
      result = kEscapeResult;
      const uint32_t escape_at = local_ms();
      bool done = false;
      while (!done && local_ms() - escape_at <= kKeySettleWaitMs) {
        const int16_t c = take_calibration_result();
        if (c != kCalResultNone) {
          result = c;
          break;
        }
        if (key_code(take_key()) == kKeySpace) done = accept_fixation(&result);
        if (!done) wait_for_packet();
      }
      break;
    } else if (key == kKeyEnter || key == kKeySpace) {
      const bool allowed =
          accepts.keys[0] == 0 ||
          std::find(accepts.keys.begin(), accepts.keys.end(), key) != accepts.keys.end();
      if (allowed && accept_fixation(&result)) break;
    } else if (key == TERMINATE_KEY) {
      hook_close_target_screen();
      return TERMINATE_KEY;
    } else {
      bool ends_drift = false;
      for (size_t i = 0; i < ends.keys.size(); ++i) {
        if (ends.keys[i] != 0 && ends.keys[i] == key) {
          ends_drift = true;
          break;
        }
        if (accepts.keys[i] != 0 && accepts.keys[i] == key) {
          accept_trigger();
          break;
        }
      }
      if (ends_drift) {
        hook_close_target_screen();
        return 1;
      }
      forward_key(key);
    }
  }
  close_drift_screen(draw);
  if (result != kEscapeResult && result != kEndedResult) {
    hook_play_sound(kSoundDriftDone);
    apply_drift_correction();
    return result;
  }
  if (ended_from_outside()) return kEndedResult;
  take_calibration_result();
  hook_play_sound(kSoundDriftFailed);
  if (allow_setup != 0) {
    tracker_setup();
    return kEscapeResult;
  }
  set_offline();
  return kEscapeResult;
}

}  // namespace lvx
