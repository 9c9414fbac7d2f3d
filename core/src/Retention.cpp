#include <tallyfox/Retention.h>

#include <ctime>
#include <map>
#include <tuple>

namespace tallyfox::Retention {

namespace {

// Calendar positions of one moment in local time: days, Monday-based weeks and months since
// 1970, each a plain count so that "the last n" is a subtraction.
struct CalendarPlace {
  std::int64_t week = 0;
  std::int64_t month = 0;
};

enum Period { weekly, monthly };

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
  return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

// Days from 1970-01-01 to a proleptic Gregorian date (Howard Hinnant's days_from_civil).
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = floorDiv(year, 400);
  const auto yearOfEra = unsigned(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + std::int64_t(dayOfEra) - 719468;
}

CalendarPlace placeOf(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  ::localtime_r(&seconds, &local);
  const std::int64_t year = std::int64_t(local.tm_year) + 1900;
  const std::int64_t days = daysFromCivil(year, unsigned(local.tm_mon + 1), unsigned(local.tm_mday));
  // 1970-01-01 was a Thursday: three days after the Monday that starts week 0.
  return {floorDiv(days + 3, 7), year * 12 + local.tm_mon};
}

}  // namespace

std::vector<std::size_t> expired(std::span<const Snapshot> snapshots,
                                 std::chrono::system_clock::time_point now, const Policy& policy) {
  const auto recent = std::chrono::hours(24) * policy.days;
  const CalendarPlace today = placeOf(now);
  std::vector<bool> keep(snapshots.size(), false);
  // The first snapshot of each (place, week) and (place, month) within reach.
  std::map<std::tuple<std::string, int, std::int64_t>, std::size_t> first;
  for (std::size_t k = 0; k < snapshots.size(); ++k) {
    const Snapshot& s = snapshots[k];
    if (s.taken > now || now - s.taken < recent) {
      keep[k] = true;
      continue;
    }
    const auto compete = [&](int kind, std::int64_t period) {
      const auto [it, inserted] = first.try_emplace({s.place, kind, period}, k);
      if (!inserted && s.taken < snapshots[it->second].taken) it->second = k;
    };
    const CalendarPlace at = placeOf(s.taken);
    if (today.week - at.week < policy.weeks) compete(weekly, at.week);
    if (today.month - at.month < policy.months) compete(monthly, at.month);
  }
  for (const auto& [key, k] : first) keep[k] = true;
  std::vector<std::size_t> out;
  for (std::size_t k = 0; k < snapshots.size(); ++k)
    if (!keep[k]) out.push_back(k);
  return out;
}

}  // namespace tallyfox::Retention
