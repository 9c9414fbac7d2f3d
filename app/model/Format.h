#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <chrono>
#include <cstdint>

namespace tallyfox::Format {

// Share of a whole with one fraction digit: "" for a whole of 0, "<0.1%" below a thousandth.
QString percent(std::uint64_t part, std::uint64_t whole, const QLocale& locale = QLocale());
// Byte counts in the file managers' decimal units ("999 bytes", "1.23 kB"); in the C locale
// the same text as the core's formatFileBytes.
QString bytes(std::uint64_t bytes, const QLocale& locale = QLocale());
// Counts in compact notation: "999", "1.2K", "12K", "3.4M".
QString compactCount(std::uint64_t count, const QLocale& locale = QLocale());

QDateTime dateTime(std::chrono::system_clock::time_point time);
// A date with the month abbreviated and no time ("5 Jan 2024").
QString abbreviatedDate(const QDate& date, const QLocale& locale = QLocale());
// Abbreviated date and short time ("5 Jan 2024, 14:03").
QString abbreviatedDateTime(std::chrono::system_clock::time_point time, const QLocale& locale = QLocale());

}  // namespace tallyfox::Format
