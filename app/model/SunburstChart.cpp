#include "model/SunburstChart.h"

#include "model/AgeFilter.h"
#include "model/BrowserModel.h"
#include "model/Comparison.h"
#include "model/CountMode.h"

namespace tallyfox {

SunburstChart::SunburstChart(BrowserModel& browser) : QObject(&browser), browser_(browser) {
  for (auto signal :
       {&BrowserModel::treeChanged, &BrowserModel::currentChanged, &BrowserModel::overlayChanged})
    connect(&browser, signal, this, &SunburstChart::request);
  connect(&browser.comparing(), &ComparisonModel::comparisonChanged, this, &SunburstChart::request);
  connect(&browser.countMode(), &CountMode::measureChanged, this, &SunburstChart::request);
  connect(&AgeFilter::of(browser), &AgeFilter::matchingChanged, this, &SunburstChart::request);
}

void SunburstChart::setShown(bool value) {
  if (shown_ == value) return;
  shown_ = value;
  if (shown_) {
    request();
    return;
  }
  lane_.stop();
  requested_.reset();
}

void SunburstChart::request() {
  const DiskTreePtr tree = browser_.tree();
  if (!shown_ || !tree) return;
  const SizeOverlay::Ptr overlay = browser_.sharedOverlay();
  const ComparisonPtr comparison = browser_.comparing().comparison();
  // While comparing the chart shows growth, in bytes or entries; the age filter does not hold.
  const CountMode::Amounts amounts = comparison
                                         ? CountMode::Amounts{.entries = browser_.countMode().countsEntries(),
                                                              .only = nullptr,
                                                              .onlyGeneration = 0}
                                         : browser_.countMode().amounts();
  Request request{tree,
                  {browser_.current(), overlay->generation(), comparison ? comparison->id() : 0,
                   amounts.entries, amounts.onlyGeneration}};
  if (requested_ == request) return;
  requested_ = request;
  const NodeId center = request.key.center;
  const auto take = [this](std::shared_ptr<const SunburstLayout> layout) {
    layout_ = std::move(layout);
    emit layoutChanged();
  };
  if (comparison) {
    // The compared entry is looked up here, where the caches live; the task reads only the
    // immutable diff.
    Background::run(
        this, lane_,
        [diff = comparison->sharedDiff(), entry = comparison->entry(center), center, id = comparison->id(),
         entries = amounts.entries] {
          return entry ? std::make_shared<const SunburstLayout>(*diff, *entry, center, id, entries)
                       : std::make_shared<const SunburstLayout>();
        },
        take);
    return;
  }
  Background::run(
      this, lane_,
      [tree, center, overlay, amounts] {
        return std::make_shared<const SunburstLayout>(*tree, center, overlay, amounts);
      },
      take);
}

}  // namespace tallyfox
