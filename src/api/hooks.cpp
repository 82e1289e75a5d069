// Exported graphic-hook functions: installing and returning the application's hook tables, the
// image writer, and alert_printf.
#include <cstdarg>
#include <cstdio>

#include "api/guard.h"
#include "hooks/graphic_hooks.h"
#include "link/alert.h"
#include "link/connection.h"
#include "lumavex_core.h"

using lvx::api::guard;

extern "C" {

int setup_graphic_hook_functions(GraphicHooks *table) noexcept {
  return guard(0,
               [&] { return lvx::graphic_hooks().install(table, lvx::tracker_version(nullptr)); });
}

int16_t setup_graphic_hook_functions_V2(GraphicHooksV2 *table) noexcept {
  return guard(int16_t{-1}, [&] {
    const int version = lvx::tracker_version(nullptr);
    if (table == nullptr) {
      // No table has no supported version: everything is removed, as for a wrong version.
      lvx::graphic_hooks().install(nullptr, version);
      return int16_t{-1};
    }
    return lvx::graphic_hooks().install_v2(*table, version);
  });
}

// The returned copies belong to the library and stay valid until the next call.
GraphicHooks *get_all_hook_functions(void) noexcept {
  return guard<GraphicHooks *>(nullptr, [] {
    GraphicHooks &copy = lvx::hooks_record().v1_copy;
    copy = lvx::graphic_hooks().v1_table();
    return &copy;
  });
}

GraphicHooksV2 *get_all_hook_functions_V2(void) noexcept {
  return guard<GraphicHooksV2 *>(nullptr, [] {
    GraphicHooksV2 &copy = lvx::hooks_record().v2_copy;
    copy = lvx::graphic_hooks().v2_table();
    return &copy;
  });
}

int set_write_image_hook(lumavex_write_image_hook hook, int /*options*/) noexcept {
  return guard(-1, [&] {
    lvx::replace_write_image_hook(hook);
    return 0;
  });
}

void alert_printf(const char *format, ...) noexcept {
  // Each thread formats into its own buffer (in its thread record), so alerts raised at once on
  // the receive thread and the application thread do not overwrite each other; the text stays
  // valid after the hook returns, until that thread's next alert.
  char *text = lvx::thread_alert_text();
  text[0] = '\0';
  if (format != nullptr) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, lvx::kAlertTextBytes, format, args);
    va_end(args);
  }
  lvx::api::guard_void([&] { lvx::alert_text(text); });
}

}  // extern "C"
