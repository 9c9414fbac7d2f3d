#include "views/RelativeDate.h"

#include <QDateTime>

namespace tallyfox {

namespace {

struct Unit {
  std::int64_t seconds;
  const char* one;
  const char* many;
  const char* lastNamed;  // the one-step past, when a name exists ("yesterday")
  const char* nextNamed;
};

constexpr Unit units[] = {
    {365 * 86400, "year", "years", "last year", "next year"},
    {30 * 86400, "month", "months", "last month", "next month"},
    {7 * 86400, "week", "weeks", "last week", "next week"},
    {86400, "day", "days", "yesterday", "tomorrow"},
    {3600, "hour", "hours", nullptr, nullptr},
    {60, "minute", "minutes", nullptr, nullptr},
    {1, "second", "seconds", nullptr, nullptr},
};

}  // namespace

QString relativeDate(std::chrono::system_clock::time_point when, std::chrono::system_clock::time_point now) {
  const std::int64_t delta = std::chrono::duration_cast<std::chrono::seconds>(now - when).count();
  const bool past = delta >= 0;
  const std::int64_t magnitude = past ? delta : -delta;

  // Days are counted by calendar day, so a scan at 23:00 reads "yesterday" at 08:00.
  const QDate today = QDateTime::fromSecsSinceEpoch(std::chrono::system_clock::to_time_t(now)).date();
  const QDate day = QDateTime::fromSecsSinceEpoch(std::chrono::system_clock::to_time_t(when)).date();
  const qint64 calendarDays = day.daysTo(today);

  for (const Unit& unit : units) {
    std::int64_t count = magnitude / unit.seconds;
    if (unit.seconds == 86400) {
      count = calendarDays < 0 ? -calendarDays : calendarDays;
      if (count == 0) continue;
    }
    if (count < 1) continue;
    if (count == 1 && unit.lastNamed) return QLatin1String(past ? unit.lastNamed : unit.nextNamed);
    const QString amount =
        QString::number(count) + QLatin1Char(' ') + QLatin1String(count == 1 ? unit.one : unit.many);
    return past ? amount + QStringLiteral(" ago") : QStringLiteral("in ") + amount;
  }
  return QStringLiteral("now");
}

}  // namespace tallyfox
