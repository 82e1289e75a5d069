// Messages meant for the user. The library raises them from any layer through alert(); they go to
// the sink the owner installs (the application's alert hook), and until one is installed, or when
// the sink declines, to standard error as "Lumavex Error: <text>".
#pragma once

#include <atomic>

namespace lvx {

// Formats a message (at most 1023 characters) and shows it to the user. The sink runs the
// application's code, so an alert raised while the thread holds a library lock is shown once it
// has released the last one (user_calls.h).
void alert(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Shows an already formatted text.
void alert_text(const char *text);

// The sink: shows the text and returns true, or returns false to let the text go to standard
// error. Null restores the default.
using AlertSink = bool (*)(const char *text);
void set_alert_sink(AlertSink sink);

// The alert service's process-wide record: the sink, set by the owner, read by any thread.
struct AlertRecord {
  std::atomic<AlertSink> sink{nullptr};
};
AlertRecord &alert_record();

}  // namespace lvx
