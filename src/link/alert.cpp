#include "link/alert.h"

#include <cstdarg>
#include <cstdio>

#include "link/user_calls.h"

namespace lvx {

namespace {

// Shows one alert: through the sink installed when it is made, else on standard error.
void show_alert(int /*code*/, const char *text) {
  AlertSink sink = alert_record().sink.load();
  if (sink != nullptr && sink(text)) return;
  std::fprintf(stderr, "Lumavex Error: %s\n", text);
  std::fflush(stderr);
}

}  // namespace

void set_alert_sink(AlertSink sink) {
  alert_record().sink.store(sink);
}

void alert_text(const char *text) {
  user_call(show_alert, 0, text != nullptr ? text : "");
}

void alert(const char *format, ...) {
  // A buffer of its own, so that alerts raised from several threads at once each stay whole.
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  alert_text(text);
}

}  // namespace lvx
