// Messages meant for the user. They go to the application's alert hook; until one is installed, to
// standard error under the title "Lumavex Error".
#pragma once

namespace lvx {

// Formats a message (at most 1023 characters) and shows it to the user.
void alert(const char *format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace lvx
