#include "model/AgeFilter.h"

#include "model/Background.h"
#include "model/BrowserModel.h"
#include "model/Format.h"

#include <QDateTime>
#include <QLocale>

namespace tallyfox {

AgeFilter::AgeFilter(BrowserModel& browser) : QObject(&browser), browser_(browser) {
  // Another tree in the window: the same question, asked of it.
  connect(&browser, &BrowserModel::treeChanged, this, [this] {
    if (choice_) find();
  });
}

AgeFilter& AgeFilter::of(const BrowserModel& browser) {
  if (auto* found = browser.findChild<AgeFilter*>(QString(), Qt::FindDirectChildrenOnly)) return *found;
  // Part of the window's state like its name filter: asking of a window seen as const
  // still makes it.
  return *new AgeFilter(const_cast<BrowserModel&>(browser));
}

AgeFilter::~AgeFilter() = default;

void AgeFilter::set(const Choice& choice) {
  if (choice.span == Span::date && !choice.date.isValid()) return;
  if (choice_ == choice) return;
  choice_ = choice;
  find();
  emit choiceChanged();
}

void AgeFilter::clear() {
  if (!choice_) return;
  lane_.stop();
  choice_.reset();
  matching_.reset();
  ++generation_;
  emit choiceChanged();
  emit matchingChanged();
}

std::int64_t AgeFilter::cutOf(const Choice& choice, std::chrono::system_clock::time_point scanStart) {
  if (choice.span == Span::date) return QDateTime(choice.date, QTime(0, 0)).toSecsSinceEpoch();
  const QDateTime taken = QDateTime::fromSecsSinceEpoch(
      std::chrono::duration_cast<std::chrono::seconds>(scanStart.time_since_epoch()).count());
  switch (choice.span) {
    case Span::days30:
      return taken.addDays(-30).toSecsSinceEpoch();
    case Span::years3:
      return taken.addYears(-3).toSecsSinceEpoch();
    case Span::year:
    case Span::date:
      break;
  }
  return taken.addYears(-1).toSecsSinceEpoch();
}

bool AgeFilter::isOld(const DiskTree& tree, NodeId node, std::int64_t cut) {
  if (!tree.contains(node) || (tree.flags(node) & EntryFlags::error)) return false;
  return std::int64_t(tree.mtime()[std::size_t(node)]) < cut;
}

void AgeFilter::find() {
  lane_.stop();
  const bool hadAnswer = matching_ != nullptr;
  matching_.reset();
  ++generation_;
  if (hadAnswer) emit matchingChanged();
  const DiskTreePtr tree = browser_.tree();
  if (!tree || !choice_) return;
  cut_ = cutOf(*choice_, tree->scanStart());
  Background::run(
      this, lane_,
      [tree, cut = cut_](const Background::StopFlag& stop) {
        return std::make_shared<const SubtreeStats::Matching>(SubtreeStats::matching(
            *tree, DiskTree::root, [&](NodeId id) { return isOld(*tree, id, cut); }, &stop));
      },
      [this](std::shared_ptr<const SubtreeStats::Matching> found) {
        matching_ = std::move(found);
        ++generation_;
        emit matchingChanged();
      });
}

bool AgeFilter::keeps(NodeId node) const {
  if (!matching_) return true;
  return matching_->filesOf(node) > 0;
}

QString AgeFilter::label(const Choice& choice) {
  switch (choice.span) {
    case Span::days30:
      return QStringLiteral("Not modified for 30 days");
    case Span::year:
      return QStringLiteral("Not modified for 1 year");
    case Span::years3:
      return QStringLiteral("Not modified for 3 years");
    case Span::date:
      break;
  }
  return QStringLiteral("Not modified since ") + QLocale().toString(choice.date, QLocale::ShortFormat);
}

QString AgeFilter::summary() const {
  if (!choice_) return {};
  if (!matching_) return QStringLiteral("Finding…");
  const NodeId here = browser_.current();
  const std::uint32_t files = matching_->filesOf(here);
  if (files == 0) return QStringLiteral("None here");
  return QStringLiteral("%1 in %2 %3 here")
      .arg(Format::bytes(matching_->bytesOf(here)), QLocale().toString(qulonglong(files)),
           files == 1 ? QStringLiteral("file") : QStringLiteral("files"));
}

}  // namespace tallyfox
