#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

namespace tallyfox::Format {

// Share of a whole with one fraction digit: "" for a whole of 0, "<0.1%" below a thousandth.
QString percent(std::uint64_t part, std::uint64_t whole, const QLocale& locale = QLocale());
// Byte counts as file managers show them ("999 bytes", "840.0 kB"): the core's
// formatFileBytes with the locale's decimal point.
QString bytes(std::uint64_t bytes, const QLocale& locale = QLocale());
// Counts in compact notation: "999", "1.2K", "12K", "3.4M".
QString compactCount(std::uint64_t count, const QLocale& locale = QLocale());

// A change of size with its sign: "+" for growth or none, U+2212 for shrinking.
QString signedBytes(std::int64_t delta, const QLocale& locale = QLocale());
// What a change was: "new", "gone", or the old and the new size joined by " → ".
QString changeSizes(bool isNew, bool isGone, std::uint64_t oldSize, std::uint64_t newSize,
                    const QLocale& locale = QLocale());
QDateTime dateTime(std::chrono::system_clock::time_point time);
// The locale's date with the month abbreviated and no weekday or time ("5 Jan 2024" in
// Britain, "Jan 5, 2024" in the US).
QString abbreviatedDateFormat(const QLocale& locale = QLocale());
QString abbreviatedDate(const QDate& date, const QLocale& locale = QLocale());
// The locale's short time without seconds ("14:03", "2:03 PM"), or with them when `seconds`
// ("14:03:27"). Some locales' short style has seconds (the C locale's "HH:mm:ss"): a scan
// time to the second is noise unless it is what tells two snapshots apart.
QString shortTimeFormat(const QLocale& locale = QLocale(), bool seconds = false);
QString shortTime(const QTime& time, const QLocale& locale = QLocale(), bool seconds = false);
// Abbreviated date and short time ("5 Jan 2024, 14:03"), seconds only when asked for.
QString abbreviatedDateTime(std::chrono::system_clock::time_point time, const QLocale& locale = QLocale(),
                            bool seconds = false);
// Which of `count` items, named by `label(index)`, read the same as another.
std::vector<bool> readAlike(std::size_t count, const std::function<QString(std::size_t)>& label);
// The labels of `count` items made by `label(index, seconds)`: without seconds, except for
// the items whose label would read the same as another's.
std::vector<QString> labelsApart(std::size_t count, const std::function<QString(std::size_t, bool)>& label);

}  // namespace tallyfox::Format
