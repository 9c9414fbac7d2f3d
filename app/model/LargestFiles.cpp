#include "model/LargestFiles.h"

#include "model/BrowserModel.h"
#include "model/DeleteList.h"

#include <tallyfox/SnapshotPaths.h>
#include <tallyfox/SubtreeStats.h>

#include <QLocale>

#include <algorithm>

namespace tallyfox {

LargestFiles::LargestFiles(BrowserModel& browser)
    : SubtreeQuery(browser, QStringLiteral("Largest files in ")) {
  // The sizes and the delete list change what the rows show.
  connect(&browser, &BrowserModel::overlayChanged, this, [this] {
    if (isOpen()) emit changed();
  });
  connect(&browser.deleteList(), &DeleteList::marksChanged, this, [this] {
    if (isOpen()) emit changed();
  });
}

void LargestFiles::show(std::optional<NodeId> folder) {
  open(
      folder,
      [](const DiskTree& tree, NodeId scope, const Background::StopFlag& stop) {
        return SubtreeStats::largestFiles(tree, scope, limit, &stop);
      },
      [this](std::vector<NodeId> files) { files_ = std::move(files); });
}

std::vector<NodeId> LargestFiles::files() const {
  const auto& hidden = browser_.overlay().hidden;
  if (hidden.empty()) return files_;
  std::vector<NodeId> shown;
  std::copy_if(files_.begin(), files_.end(), std::back_inserter(shown),
               [&](NodeId id) { return !hidden.contains(id); });
  return shown;
}

QString LargestFiles::summary() const {
  const DiskTreePtr& tree = browser_.tree();
  if (!tree || !scope()) return {};
  if (isFinding())
    return QStringLiteral("Looking through %1 entries…")
        .arg(QLocale().toString(qulonglong(tree->entryCount()[std::size_t(*scope())])));
  const std::size_t count = files().size();
  if (count == 0) return QStringLiteral("No files");
  const QString shown = QLocale().toString(qulonglong(count));
  if (files_.size() < limit) return count == 1 ? QStringLiteral("1 file") : shown + QStringLiteral(" files");
  return QStringLiteral("The %1 largest of %2 entries")
      .arg(shown, QLocale().toString(qulonglong(tree->entryCount()[std::size_t(*scope())])));
}

QString LargestFiles::folderOf(NodeId file) const {
  const DiskTreePtr& tree = browser_.tree();
  const std::optional<NodeId> scope = this->scope();
  if (!tree || !scope) return {};
  const std::vector<NodeId> lineage = tree->lineage(tree->parentOf(file));
  auto step = std::find(lineage.begin(), lineage.end(), *scope);
  step = step == lineage.end() ? (*scope == DiskTree::root ? lineage.begin() : lineage.end()) : step + 1;
  QString folder;
  for (; step != lineage.end(); ++step) {
    if (!folder.isEmpty()) folder += QLatin1Char('/');
    folder += QString::fromStdString(tree->name(*step));
  }
  return folder;
}

void LargestFiles::showInList(NodeId file) {
  const DiskTreePtr tree = browser_.tree();
  if (!tree || !tree->contains(file)) return;
  const NodeId folder = tree->parentOf(file);
  close();
  if (folder >= 0) browser_.navigate(folder, file);
}

}  // namespace tallyfox
