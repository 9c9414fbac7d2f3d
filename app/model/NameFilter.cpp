#include "model/NameFilter.h"

#include <algorithm>

namespace tallyfox {

namespace {

bool isAscii(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b < 0x80; });
}

char lowerAscii(std::uint8_t b) {
  return char(b >= 'A' && b <= 'Z' ? b + ('a' - 'A') : b);
}

bool containsAsciiFolded(std::span<const std::uint8_t> hay, const std::string& needle) {
  if (needle.size() > hay.size()) return false;
  const std::size_t last = hay.size() - needle.size();
  for (std::size_t i = 0; i <= last; ++i) {
    std::size_t j = 0;
    while (j < needle.size() && lowerAscii(hay[i + j]) == needle[j]) ++j;
    if (j == needle.size()) return true;
  }
  return false;
}

}  // namespace

NameFilter::NameFilter(const QString& text, const QLocale& locale) : locale_(locale) {
  needle_ = locale_.toLower(text.trimmed().normalized(QString::NormalizationForm_C));
  const QByteArray utf8 = needle_.toUtf8();
  needleIsAscii_ = isAscii({reinterpret_cast<const std::uint8_t*>(utf8.data()), std::size_t(utf8.size())});
  if (needleIsAscii_) asciiNeedle_.assign(utf8.data(), std::size_t(utf8.size()));
  asciiLowersPlainly_ = locale_.toLower(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ")) ==
                        QLatin1String("abcdefghijklmnopqrstuvwxyz");
}

bool NameFilter::matches(std::span<const std::uint8_t> name) const {
  if (needle_.isEmpty()) return true;
  if (asciiLowersPlainly_ && isAscii(name)) {
    // An ASCII name lowers to ASCII, which cannot hold a text that is not ASCII.
    return needleIsAscii_ && containsAsciiFolded(name, asciiNeedle_);
  }
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(name.data()), qsizetype(name.size()));
  return locale_.toLower(text.normalized(QString::NormalizationForm_C)).contains(needle_);
}

}  // namespace tallyfox
