#include "model/FileTypes.h"

#include "model/BrowserModel.h"
#include "model/Format.h"

#include <tallyfox/SnapshotPaths.h>

#include <QLocale>

namespace tallyfox {

FileTypes::FileTypes(BrowserModel& browser) : SubtreeQuery(browser, QStringLiteral("File types in ")) {
  connect(&browser, &BrowserModel::treeChanged, this, &FileTypes::clearChoice);
  connect(&browser, &BrowserModel::currentChanged, this, [this] {
    const NodeId here = browser_.current();
    if (chosenIn_ && here != *chosenIn_ && !browser_.isDescendant(here, *chosenIn_)) clearChoice();
  });
}

void FileTypes::show(std::optional<NodeId> folder) {
  open(
      folder,
      [](const DiskTree& tree, NodeId scope, const Background::StopFlag& stop) {
        return SubtreeStats::fileTypes(tree, scope, &stop);
      },
      [this](SubtreeStats::FileTypes totals) { totals_ = std::move(totals); });
}

QString FileTypes::summary() const {
  const DiskTreePtr& tree = browser_.tree();
  if (!tree || !scope()) return {};
  const QLocale locale;
  if (isCounting())
    return QStringLiteral("Counting %1 entries…")
        .arg(locale.toString(qulonglong(tree->entryCount()[std::size_t(*scope())])));
  if (totals_.files == 0) return QStringLiteral("No files");
  return QStringLiteral("%1 in %2 %3")
      .arg(Format::bytes(totals_.bytes), locale.toString(qulonglong(totals_.files)),
           totals_.files == 1 ? QStringLiteral("file") : QStringLiteral("files"));
}

QString FileTypes::label(const Choice& choice) {
  if (!choice.extension) {
    const auto name = SubtreeStats::categoryName(choice.category);
    return QString::fromUtf8(name.data(), qsizetype(name.size()));
  }
  if (choice.extension->empty()) return QStringLiteral("(no extension)");
  return QLatin1Char('.') + QString::fromUtf8(choice.extension->data(), qsizetype(choice.extension->size()));
}

void FileTypes::choose(const Choice& choice) {
  const DiskTreePtr tree = browser_.tree();
  if (!tree) return;
  chosen_ = choice;
  chosenIn_ = scope().value_or(browser_.current());
  highlight_ = {};
  close();
  emit chosenChanged();
  // The whole tree, so that the choice holds wherever the window goes next.
  Background::run(
      this, highlightLane_,
      [tree, choice](const Background::StopFlag& stop) {
        return SubtreeStats::matching(
            *tree, DiskTree::root,
            [&](NodeId id) { return SubtreeStats::isOfType(tree->nameView(id), choice); }, &stop);
      },
      [this](SubtreeStats::Matching found) {
        highlight_ = std::move(found);
        emit chosenChanged();
      });
}

void FileTypes::clearChoice() {
  if (!chosen_) return;
  highlightLane_.stop();
  chosen_.reset();
  chosenIn_.reset();
  highlight_ = {};
  emit chosenChanged();
}

bool FileTypes::isHighlighted(NodeId node) const {
  if (!chosen_) return true;
  const DiskTreePtr& tree = browser_.tree();
  if (!tree || !tree->contains(node)) return false;
  if (!tree->isDirectory(node)) return SubtreeStats::isOfType(tree->nameView(node), *chosen_);
  // Files of the kind that hold no bytes still make their folder worth looking into.
  return highlight_.filesOf(node) > 0;
}

std::uint64_t FileTypes::chosenBytes(NodeId node) const {
  return highlight_.bytesOf(node);
}

}  // namespace tallyfox
