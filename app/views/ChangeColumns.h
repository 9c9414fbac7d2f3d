#pragma once

#include <tallyfox/SnapshotDiff.h>

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRectF>

#include <optional>

class QPainter;

namespace tallyfox {

// The columns that show one entry's change while comparing, in list rows and in the gone
// section alike: a mark when the change may not be real, a bar of its magnitude against the
// largest change among its siblings, the signed change, and what it was ("new", "gone",
// old → new).
namespace ChangeColumns {

constexpr double markWidth = 16;
constexpr double barWidth = 56;
constexpr double changeWidth = 84;
constexpr double sizesWidth = 132;
constexpr double gap = 6;
// What a name keeps before columns give way to it, in a list row and in the gone section.
constexpr double nameRoom = 140;

inline const QColor growth{52, 168, 83};
inline const QColor shrinking{217, 48, 37};

QString unreliableTooltip();

// Where the parts go in a row, right-aligned at `right`; the sizes text is left out when
// `roomy` is false (a narrow list keeps room for the name).
struct Layout {
  QRectF mark, bar, change, sizes;
  double left = 0;  // where the columns begin
};
Layout layout(double right, double top, double height, bool roomy);
// How much of a row the columns take.
double width(bool roomy);

// On a selected row the change takes the row's text colour (`onSelection`): green or red on
// the highlight would not read.
// The change is in entries rather than bytes when `entries` (CountMode).
void paint(QPainter& painter, const Layout& layout, const SnapshotDiff::Entry& change,
           std::uint64_t largestChange, const QFont& font, const QColor& secondaryText,
           std::optional<QColor> onSelection = std::nullopt, bool entries = false);

}  // namespace ChangeColumns

}  // namespace tallyfox
