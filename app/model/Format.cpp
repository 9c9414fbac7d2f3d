#include "model/Format.h"

#include <tallyfox/ByteFormat.h>

#include <QHash>
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

QString shortTimeFormat(const QLocale& locale, bool seconds) {
  QString format = locale.timeFormat(QLocale::ShortFormat);
  // Seconds with what separates them from the minutes, and any fraction after them.
  static const QRegularExpression secondsPart(QStringLiteral("[^A-Za-z' ]?s{1,2}(?:[^A-Za-z' ]?z+)?"));
  format.remove(secondsPart);
  format = format.trimmed();
  if (!seconds) return format;
  // After the minutes, with the separator the locale puts before them.
  static const QRegularExpression minutes(QStringLiteral("([^A-Za-z' ]?)(m{1,2})"));
  const QRegularExpressionMatch found = minutes.match(format);
  if (!found.hasMatch()) return format + QStringLiteral(":ss");
  const QString separator = found.captured(1).isEmpty() ? QStringLiteral(":") : found.captured(1);
  format.insert(found.capturedEnd(2), separator + QStringLiteral("ss"));
  return format;
}

QString shortTime(const QTime& time, const QLocale& locale, bool seconds) {
  return locale.toString(time, shortTimeFormat(locale, seconds));
}

QString abbreviatedDateTime(std::chrono::system_clock::time_point time, const QLocale& locale, bool seconds) {
  const QDateTime local = dateTime(time);
  return abbreviatedDate(local.date(), locale) + QStringLiteral(", ") +
         shortTime(local.time(), locale, seconds);
}

std::vector<bool> readAlike(std::size_t count, const std::function<QString(std::size_t)>& label) {
  std::vector<QString> labels;
  labels.reserve(count);
  QHash<QString, int> uses;
  for (std::size_t i = 0; i < count; ++i) {
    labels.push_back(label(i));
    ++uses[labels.back()];
  }
  std::vector<bool> alike(count);
  for (std::size_t i = 0; i < count; ++i) alike[i] = uses.value(labels[i]) > 1;
  return alike;
}

std::vector<QString> labelsApart(std::size_t count, const std::function<QString(std::size_t, bool)>& label) {
  const std::vector<bool> alike = readAlike(count, [&](std::size_t i) { return label(i, false); });
  std::vector<QString> labels;
  labels.reserve(count);
  for (std::size_t i = 0; i < count; ++i) labels.push_back(label(i, alike[i]));
  return labels;
}

}  // namespace tallyfox::Format
