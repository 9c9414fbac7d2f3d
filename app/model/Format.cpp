#include "model/Format.h"

#include <tallyfox/ByteFormat.h>

#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace tallyfox::Format {

QString percent(std::uint64_t part, std::uint64_t whole, const QLocale& locale) {
  if (whole == 0) return {};
  const double ratio = double(part) / double(whole);
  if (ratio < 0.001) return QStringLiteral("<0.1%");
  return locale.toString(ratio * 100.0, 'f', 1) + locale.percent();
}

QString bytes(std::uint64_t bytes, const QLocale& locale) {
  QString text = QString::fromStdString(formatFileBytes(bytes));
  // The only point in the text is the decimal one.
  text.replace(QLatin1Char('.'), locale.decimalPoint());
  return text;
}

QString compactCount(std::uint64_t count, const QLocale& locale) {
  if (count < 1000) return locale.toString(qulonglong(count));
  static const char* const suffixes[] = {"K", "M", "B", "T", "Q"};
  double value = double(count);
  int unit = -1;
  while (value >= 999.5 && unit < 4) {
    value /= 1000.0;
    ++unit;
  }
  // One fraction digit below ten ("1.2K"), whole numbers above ("12K"); no trailing ".0".
  QString number;
  if (value < 9.95) {
    number = locale.toString(value, 'f', 1);
    const QString zero = locale.decimalPoint() + locale.zeroDigit();
    if (number.endsWith(zero)) number.chop(zero.size());
  } else {
    number = locale.toString(qlonglong(std::llround(value)));
  }
  return number + QLatin1String(suffixes[unit]);
}

QString signedBytes(std::int64_t delta, const QLocale& locale) {
  const std::uint64_t magnitude = delta < 0 ? std::uint64_t(0) - std::uint64_t(delta) : std::uint64_t(delta);
  return (delta < 0 ? QStringLiteral("\u2212") : QStringLiteral("+")) + bytes(magnitude, locale);
}

QString changeSizes(bool isNew, bool isGone, std::uint64_t oldSize, std::uint64_t newSize,
                    const QLocale& locale) {
  if (isNew) return QStringLiteral("new");
  if (isGone) return QStringLiteral("gone");
  return bytes(oldSize, locale) + QStringLiteral(" \u2192 ") + bytes(newSize, locale);
}

QDateTime dateTime(std::chrono::system_clock::time_point time) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  return QDateTime::fromMSecsSinceEpoch(qint64(ms));
}

QString abbreviatedDateFormat(const QLocale& locale) {
  // Qt names no medium style; the locale's long date without its weekday and with the
  // month abbreviated is one ("5 Jan 2024", "Jan 5, 2024", "5. Jan. 2024").
  QString format = locale.dateFormat(QLocale::LongFormat);
  static const QRegularExpression weekday(QStringLiteral("d{4}[,.\u060C]?\\s*|[,.\u060C]?\\s*d{4}"));
  format.remove(weekday);
  format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
  format = format.trimmed();
  // A long format without day, month and year in it is no base for a date.
  if (!format.contains(QLatin1Char('d')) || !format.contains(QLatin1Char('M')) ||
      !format.contains(QLatin1Char('y')))
    return locale.dateFormat(QLocale::ShortFormat);
  return format;
}

QString abbreviatedDate(const QDate& date, const QLocale& locale) {
  return locale.toString(date, abbreviatedDateFormat(locale));
}

QString abbreviatedDateTime(std::chrono::system_clock::time_point time, const QLocale& locale) {
  const QDateTime local = dateTime(time);
  return abbreviatedDate(local.date(), locale) + QStringLiteral(", ") +
         locale.toString(local.time(), QLocale::ShortFormat);
}

}  // namespace tallyfox::Format
