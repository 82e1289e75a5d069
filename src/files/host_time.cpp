#include "files/host_time.h"

#include <cstdio>

#include "platform/files.h"

namespace lvx {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

struct Civil {
  int64_t year;
  unsigned month;
  unsigned day;
};

// The inverse of days_from_civil.
Civil civil_from_days(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {m <= 2 ? y + 1 : y, m, d};
}

bool leap(int64_t y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned days_in_month(int64_t y, unsigned m) {
  static constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : kDays[m - 1];
}

}  // namespace

int64_t days_from_civil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

std::string format_host_time(int64_t utc_seconds) {
  int64_t days = utc_seconds / kSecondsPerDay;
  int64_t rest = utc_seconds % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  Civil c = civil_from_days(days);
  // 1970-01-01 was a Thursday.
  int weekday = static_cast<int>(((days % 7) + 11) % 7);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02u-%02d@%02d:%02d:%02d",
                static_cast<long long>(c.year), c.month, c.day, weekday,
                static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
  return text;
}

std::optional<int64_t> parse_host_time(std::string_view text) {
  if (text.empty() || text.find('@') == std::string_view::npos || text.size() > 63)
    return std::nullopt;
  std::string copy(text);
  int year, month, day, weekday, hour, minute, second;
  if (std::sscanf(copy.c_str(), "%d-%d-%d-%d@%d:%d:%d", &year, &month, &day, &weekday, &hour,
                  &minute, &second) != 7)
    return std::nullopt;
  if (year < 1900 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      static_cast<unsigned>(day) > days_in_month(year, static_cast<unsigned>(month)) || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
    return std::nullopt;
  return days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) *
             kSecondsPerDay +
         hour * 3600 + minute * 60 + second;
}

std::string host_time_of_file(const std::string &path) {
  std::optional<int64_t> t = platform::file_write_time(path);
  return t ? format_host_time(*t) : std::string();
}

}  // namespace lvx
