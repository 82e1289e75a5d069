// The time text the tracker's file service uses for a file's last write:
// "YYYY-MM-DD-W@hh:mm:ss" in UTC, W being the day of the week (0 = Sunday). The reader accepts
// fields without leading zeros.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lvx {

// The text for a moment given as seconds since 1970-01-01 UTC.
std::string format_host_time(int64_t utc_seconds);
// The moment a time text names, in seconds since 1970-01-01 UTC; nothing when the text is empty,
// has no "@", does not hold seven numbers, or names no real date and time (year before 1900,
// month outside 1..12, day outside the month, hour, minute or second out of range). The day of
// the week is not checked: it adds nothing to the date.
std::optional<int64_t> parse_host_time(std::string_view text);
// The host text of a local file's last write, or "" when it cannot be read.
std::string host_time_of_file(const std::string &path);

// Days since 1970-01-01 of a civil date (proleptic Gregorian calendar).
int64_t days_from_civil(int64_t year, unsigned month, unsigned day);

}  // namespace lvx
