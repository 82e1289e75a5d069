// Exported tracker-control functions: mode changes and queries, the state of the data stream,
// requests and what the tracker reports back, keys and buttons exchanged with the tracker, and
// backdrop bitmap packets.
#include "api/guard.h"
#include "control/keys.h"
#include "control/requests.h"
#include "control/tracker_mode.h"
#include "lumavex_core.h"

using lvx::api::guard;

namespace {

constexpr int16_t kFailed = LINK_TERMINATED_RESULT;

}  // namespace

extern "C" {

// ---- Mode changes ----

int16_t lumavex_abort(void) noexcept {
  return guard(kFailed, [] { return lvx::abort_to_idle(); });
}

int16_t lumavex_start_setup(void) noexcept {
  return guard(kFailed, [] { return lvx::start_setup(); });
}

int16_t lumavex_set_tracker_setup_default(int16_t mode) noexcept {
  return guard(mode, [&] { return lvx::set_setup_default(mode); });
}

int16_t lumavex_accept_trigger(void) noexcept {
  return guard(kFailed, [] { return lvx::accept_trigger(); });
}

int16_t lumavex_driftcorr_startf(float x, float y) noexcept {
  return guard(kFailed, [&] { return lvx::start_drift_correction(x, y); });
}

int16_t lumavex_driftcorr_start(int16_t x, int16_t y) noexcept {
  return guard(kFailed, [&] {
    return lvx::start_drift_correction(static_cast<float>(x), static_cast<float>(y));
  });
}

int16_t lumavex_apply_driftcorr(void) noexcept {
  return guard(kFailed, [] { return lvx::apply_drift_correction(); });
}

int16_t lumavex_data_start(uint16_t flags, int16_t lock) noexcept {
  return guard(kFailed, [&] { return lvx::start_recording(flags, lock != 0); });
}

int16_t lumavex_data_stop(void) noexcept {
  return guard(kFailed, [] { return lvx::stop_recording(); });
}

int16_t lumavex_playback_start(void) noexcept {
  return guard(kFailed, [] { return lvx::start_playback(); });
}

int16_t lumavex_playback_stop(void) noexcept {
  return guard(kFailed, [] { return lvx::stop_playback(); });
}

// ---- Mode queries ----

int16_t lumavex_current_mode(void) noexcept {
  return guard(int16_t{IN_DISCONNECT_MODE},
               [] { return static_cast<int16_t>(lvx::current_mode_bits()); });
}

int16_t lumavex_in_setup(void) noexcept {
  return guard(int16_t{0}, [] { return lvx::in_setup(); });
}

int16_t lumavex_wait_for_mode_ready(uint32_t maxwait) noexcept {
  return guard(kFailed, [&] { return lvx::wait_for_mode_ready(maxwait); });
}

int16_t lumavex_eye_available(void) noexcept {
  return guard(kFailed, [] { return lvx::eye_available(); });
}

// ---- Data-stream queries ----

int16_t lumavex_data_count(int16_t samples, int16_t events) noexcept {
  return guard(int16_t{0}, [&] { return lvx::data_count(samples != 0, events != 0); });
}

uint16_t lumavex_sample_data_flags(void) noexcept {
  return guard(uint16_t{0}, [] { return lvx::sample_data_flags(); });
}

uint16_t lumavex_event_type_flags(void) noexcept {
  return guard(uint16_t{0}, [] { return lvx::event_type_flags(); });
}

int16_t lumavex_event_data_flags(void) noexcept {
  return guard(int16_t{0}, [] { return lvx::event_data_flags(); });
}

int16_t lumavex_position_prescaler(void) noexcept {
  return guard(int16_t{10}, [] { return lvx::position_prescaler(); });
}

int16_t lumavex_in_data_block(int16_t samples, int16_t events) noexcept {
  return guard(int16_t{0}, [&] { return lvx::in_data_block(samples != 0, events != 0); });
}

int16_t lumavex_wait_for_block_start(uint32_t maxwait, int16_t samples, int16_t events) noexcept {
  return guard(int16_t{0},
               [&] { return lvx::wait_for_block_start(maxwait, samples != 0, events != 0); });
}

int16_t lumavex_wait_for_data(uint32_t maxwait, int16_t samples, int16_t events) noexcept {
  return guard(int16_t{0}, [&] { return lvx::wait_for_data(maxwait, samples != 0, events != 0); });
}

// ---- Requests ----

int16_t lumavex_read_request(const char *text) noexcept {
  return guard(kFailed, [&] { return lvx::read_request(text); });
}

int16_t lumavex_read_reply(char *buf) noexcept {
  return guard(int16_t{NO_REPLY}, [&] { return lvx::read_reply(buf); });
}

int16_t lumavex_request_time(void) noexcept {
  return guard(kFailed, [] { return lvx::request_tracker_time(); });
}

int16_t lumavex_node_request_time(const LVXADDR *node) noexcept {
  return guard(kFailed, [&] { return lvx::request_node_time(node); });
}

uint32_t lumavex_read_time(void) noexcept {
  return guard(uint32_t{0}, [] { return lvx::read_tracker_time(); });
}

int16_t lumavex_cal_message(char *buf) noexcept {
  return guard(int16_t{0}, [&] { return lvx::calibration_message(buf); });
}

int16_t lumavex_cal_result(void) noexcept {
  return guard(int16_t{NO_REPLY}, [] { return lvx::take_calibration_result(); });
}

int16_t lumavex_target_check(int16_t *x, int16_t *y) noexcept {
  return guard(int16_t{0}, [&] { return lvx::calibration_target(x, y); });
}

int16_t lumavex_target_checkf(float *x, float *y) noexcept {
  return guard(int16_t{0}, [&] { return lvx::calibration_target(x, y); });
}

int16_t lumavex_user_menu_selection(void) noexcept {
  return guard(int16_t{0}, [] { return lvx::take_user_menu_selection(); });
}

// ---- Bitmap packets ----

int16_t lumavex_bitmap_packet(const void *data, uint16_t size, uint16_t seq) noexcept {
  return guard(kFailed, [&] { return lvx::send_bitmap_packet(data, size, seq); });
}

int16_t lumavex_bitmap_ack_count(void) noexcept {
  return guard(int16_t{0}, [] { return lvx::take_bitmap_ack_count(); });
}

// ---- Keys and buttons with the tracker ----

int16_t lumavex_send_keybutton(uint16_t code, uint16_t mods, uint8_t state) noexcept {
  return guard(kFailed, [&] { return lvx::send_keybutton(code, mods, state); });
}

int16_t lumavex_flush_keybuttons(int16_t enable_buttons) noexcept {
  return guard(kFailed, [&] { return lvx::flush_keybuttons(enable_buttons != 0); });
}

uint16_t lumavex_button_states(void) noexcept {
  return guard(uint16_t{0}, [] { return lvx::tracker_button_states(); });
}

uint16_t lumavex_last_button_states(uint32_t *time) noexcept {
  return guard(uint16_t{0}, [&] { return lvx::take_button_change(time); });
}

uint16_t lumavex_read_keybutton(int16_t *mods, int16_t *state, uint16_t *kcode,
                                uint32_t *time) noexcept {
  return guard(uint16_t{0}, [&] { return lvx::read_tracker_key(mods, state, kcode, time); });
}

uint16_t lumavex_last_button_press(uint32_t *time) noexcept {
  return guard(uint16_t{0}, [&] { return lvx::take_last_button_press(time); });
}

}  // extern "C"
