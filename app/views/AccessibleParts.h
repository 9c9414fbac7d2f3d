#pragma once

#include <QAccessible>
#include <QRect>
#include <QString>

#include <cstdint>

class QWidget;

namespace tallyfox {

// A widget that paints several things a person acts on one at a time (the crumbs of the
// path, the segments of the chart) and hands them to assistive technology as children of
// its own, each with a name, a place and a press action.
class AccessibleParts {
 public:
  virtual ~AccessibleParts() = default;

  virtual int partCount() const = 0;
  virtual QString partName(int part) const = 0;
  virtual QString partDescription(int) const { return {}; }
  // In the widget's coordinates; empty for a part not drawn for lack of room.
  virtual QRect partRect(int part) const = 0;
  // The part the keyboard is on, or -1.
  virtual int focusedPart() const = 0;
  virtual bool isPartSelected(int) const { return false; }
  virtual void pressPart(int part) = 0;
  // Changes whenever the parts are made anew: a child handed out before then is stale.
  virtual std::uint64_t partsGeneration() const = 0;

  // Makes the widget's interface hand out its parts, with `role` for the widget and
  // `partRole` for each part. Called from the widget's constructor.
  static void expose(QWidget* widget, QAccessible::Role role, QAccessible::Role partRole);
  // Tells assistive technology that the keyboard moved to `part` of `widget`.
  static void announceFocus(QWidget* widget, int part);
};

}  // namespace tallyfox
