#pragma once

#include <QLocale>
#include <QString>

#include <cstdint>
#include <span>
#include <string>

namespace tallyfox {

// "Contains", case-insensitive and locale-aware, of a filter text in raw entry names.
// Names and the text are compared in NFC, lowered by the locale. Pure ASCII names, the bulk
// of every disk, are matched on their bytes without building a string, which keeps a pass
// over a folder of a million entries short.
class NameFilter {
 public:
  // The text as typed; leading and trailing white space do not count.
  explicit NameFilter(const QString& text, const QLocale& locale = QLocale());

  // True when the trimmed text is empty: everything passes.
  bool isEmpty() const { return needle_.isEmpty(); }
  bool matches(std::span<const std::uint8_t> name) const;

 private:
  QLocale locale_;
  QString needle_;
  std::string asciiNeedle_;  // lowered bytes when the lowered text is ASCII
  bool needleIsAscii_ = false;
  bool asciiLowersPlainly_ = false;  // the locale lowers A-Z to a-z (not so in Turkish)
};

}  // namespace tallyfox
