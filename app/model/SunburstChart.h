#pragma once

#include "model/Background.h"
#include "model/SunburstLayout.h"

#include <tallyfox/DiskTree.h>

#include <QObject>

#include <memory>
#include <optional>

namespace tallyfox {

class BrowserModel;

// The chart's layout for the window's current folder, made in the thread pool whenever what
// it depends on changes (the tree, the folder, the sizes, the comparison, the measure, the age
// filter's answer), while a chart shows it. A newer request overtakes an older one, whose
// layout is never shown.
class SunburstChart : public QObject {
  Q_OBJECT

 public:
  explicit SunburstChart(BrowserModel& browser);

  // Layouts are made only while a chart is on screen.
  void setShown(bool value);
  bool isShown() const { return shown_; }

  // The newest layout made, or nothing before the first one arrives.
  const std::shared_ptr<const SunburstLayout>& layout() const { return layout_; }
  // A newer layout than `layout()` is being made.
  bool isPending() const { return lane_.isWaiting(); }

 signals:
  // A new layout arrived; always through the event loop, never in the middle of the change
  // notification that asked for it.
  void layoutChanged();

 private:
  struct Request {
    DiskTreePtr tree;
    SunburstLayout::LayoutKey key;
    bool operator==(const Request&) const = default;
  };

  void request();

  BrowserModel& browser_;
  bool shown_ = false;
  std::shared_ptr<const SunburstLayout> layout_;
  std::optional<Request> requested_;
  Background::Lane lane_;
};

}  // namespace tallyfox
