// Messages meant for the user. Until the application installs an alert hook they go to standard
// error under the title "Lumavex Error".
#pragma once

namespace lvx {

// Formats a message (at most 1023 characters) and shows it to the user.
void alert(const char *format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace lvx
