#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <chrono>
#include <cstdint>

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
// Abbreviated date and short time ("5 Jan 2024, 14:03").
QString abbreviatedDateTime(std::chrono::system_clock::time_point time, const QLocale& locale = QLocale());

}  // namespace tallyfox::Format
