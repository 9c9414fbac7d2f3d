#include <tallyfox/IsoTime.h>

#include <cstdint>
#include <ctime>
#include <limits>

namespace tallyfox::IsoTime {

namespace {

using Clock = std::chrono::system_clock;

// Reads exactly `digits` decimal digits at `at`, advancing past them.
std::optional<int> number(std::string_view text, std::size_t& at, int digits) {
  if (text.size() - at < std::size_t(digits)) return std::nullopt;
  int value = 0;
  for (int k = 0; k < digits; ++k) {
    const char c = text[at + std::size_t(k)];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  at += std::size_t(digits);
  return value;
}

bool take(std::string_view text, std::size_t& at, char c) {
  if (at >= text.size() || text[at] != c) return false;
  ++at;
  return true;
}

bool isLeap(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysIn(int year, int month) {
  static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeap(year) ? 29 : days[month - 1];
}

// The zone's offset from UTC in seconds, or nothing when the text there is not a zone.
std::optional<int> zone(std::string_view text, std::size_t& at) {
  if (take(text, at, 'Z') || take(text, at, 'z')) return 0;
  int sign = 0;
  if (take(text, at, '+'))
    sign = 1;
  else if (take(text, at, '-'))
    sign = -1;
  else
    return std::nullopt;
  const auto hours = number(text, at, 2);
  if (!hours) return std::nullopt;
  int minutes = 0;
  if (at < text.size()) {
    take(text, at, ':');
    const auto m = number(text, at, 2);
    if (!m) return std::nullopt;
    minutes = *m;
  }
  if (*hours > 14 || minutes > 59) return std::nullopt;
  return sign * (*hours * 3600 + minutes * 60);
}

}  // namespace

std::optional<Clock::time_point> parse(std::string_view text) {
  std::size_t at = 0;
  const auto year = number(text, at, 4);
  if (!year || !take(text, at, '-')) return std::nullopt;
  const auto month = number(text, at, 2);
  if (!month || !take(text, at, '-')) return std::nullopt;
  const auto day = number(text, at, 2);
  if (!day || *month < 1 || *month > 12 || *day < 1 || *day > daysIn(*year, *month)) return std::nullopt;

  std::tm fields{};
  fields.tm_year = *year - 1900;
  fields.tm_mon = *month - 1;
  fields.tm_mday = *day;
  std::chrono::nanoseconds fraction{0};
  if (at < text.size() && (text[at] == 'T' || text[at] == 't' || text[at] == ' ')) {
    ++at;
    const auto hour = number(text, at, 2);
    if (!hour || !take(text, at, ':')) return std::nullopt;
    const auto minute = number(text, at, 2);
    if (!minute) return std::nullopt;
    int second = 0;
    if (take(text, at, ':')) {
      const auto s = number(text, at, 2);
      if (!s) return std::nullopt;
      second = *s;
      if (take(text, at, '.') || take(text, at, ',')) {
        std::int64_t scale = 100'000'000;
        const std::size_t first = at;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, scale /= 10)
          fraction += std::chrono::nanoseconds((text[at] - '0') * scale);
        if (at == first) return std::nullopt;
      }
    }
    // A leap second is not a moment the clock counts.
    if (*hour > 23 || *minute > 59 || second > 59) return std::nullopt;
    fields.tm_hour = *hour;
    fields.tm_min = *minute;
    fields.tm_sec = second;
  }

  std::int64_t seconds = 0;
  if (at == text.size()) {
    fields.tm_isdst = -1;  // whatever the local rules say for that day
    // mktime's error value is also a real second (one before 1970): a day of the week set
    // tells success apart.
    fields.tm_wday = -1;
    seconds = std::mktime(&fields);
    if (fields.tm_wday < 0) return std::nullopt;
  } else {
    const auto offset = zone(text, at);
    if (!offset || at != text.size()) return std::nullopt;
    const std::chrono::sys_days date{std::chrono::year(*year) / std::chrono::month(unsigned(*month)) /
                                     std::chrono::day(unsigned(*day))};
    seconds = std::int64_t(date.time_since_epoch().count()) * 86400 + fields.tm_hour * 3600 +
              fields.tm_min * 60 + fields.tm_sec - *offset;
  }
  // The clock counts nanoseconds in 64 bits: a few hundred years either side of 1970.
  constexpr auto limit = std::chrono::duration_cast<std::chrono::seconds>(Clock::duration::max()).count() - 1;
  if (seconds >= limit || seconds < -limit) return std::nullopt;
  return Clock::time_point(
      std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(seconds) + fraction));
}

std::string formatUtc(Clock::time_point when) {
  const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(
                                  std::chrono::floor<std::chrono::seconds>(when).time_since_epoch())
                                  .count();
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

}  // namespace tallyfox::IsoTime
