// Exported real-time mode functions.
#include "api/guard.h"
#include "control/realtime.h"
#include "lumavex_core.h"

using lvx::api::guard;
using lvx::api::guard_void;

extern "C" {

void begin_realtime_mode(uint32_t delay) noexcept {
  guard_void([&] { lvx::begin_realtime(delay); });
}

void end_realtime_mode(void) noexcept {
  guard_void([] { lvx::end_realtime(); });
}

int32_t set_high_priority(void) noexcept {
  return guard(int32_t{0}, [] { return int32_t{lvx::raise_to_high_priority()}; });
}

int32_t set_normal_priority(void) noexcept {
  return guard(int32_t{0}, [] { return int32_t{lvx::drop_to_normal_priority()}; });
}

int32_t set_application_priority(int32_t priority) noexcept {
  (void)priority;
  return 0;
}

int32_t in_realtime_mode(void) noexcept {
  return guard(int32_t{0}, [] { return lvx::realtime_flag(); });
}

int32_t lumavex_in_realtime_mode(void) noexcept {
  return guard(int32_t{0}, [] { return lvx::realtime_flag(); });
}

void lumavex_enable_extended_realtime(void) noexcept {
  guard_void([] { lvx::enable_extended_realtime(); });
}

int32_t lumavex_check_mmcss(void) noexcept {
  return guard(int32_t{0}, [] { return int32_t{lvx::check_registration()}; });
}

}  // extern "C"
