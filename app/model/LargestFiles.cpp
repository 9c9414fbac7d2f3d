#include "model/LargestFiles.h"

#include "model/BrowserModel.h"
#include "model/DeleteList.h"
#include "model/MainThread.h"

#include <tallyfox/SnapshotPaths.h>
#include <tallyfox/SubtreeStats.h>

#include <QLocale>
#include <QPointer>
#include <QtConcurrent>

#include <algorithm>

namespace tallyfox {

LargestFiles::LargestFiles(BrowserModel& browser) : QObject(&browser), browser_(browser) {
  // Another tree (a switch, a rescan) makes the answer another tree's.
  connect(&browser, &BrowserModel::treeChanged, this, &LargestFiles::close);
  connect(&browser, &BrowserModel::overlayChanged, this, [this] {
    if (isOpen()) emit changed();
  });
  connect(&browser.deleteList(), &DeleteList::marksChanged, this, [this] {
    if (isOpen()) emit changed();
  });
}

LargestFiles::~LargestFiles() {
  if (stop_) stop_->store(true);
}

void LargestFiles::show(std::optional<NodeId> folder) {
  const DiskTreePtr tree = browser_.tree();
  if (!tree) return;
  const NodeId scope = folder.value_or(browser_.current());
  if (!tree->contains(scope) || !tree->isDirectory(scope)) return;
  if (stop_) stop_->store(true);
  stop_ = std::make_shared<std::atomic<bool>>(false);
  const unsigned pass = ++pass_;
  const bool opening = !scope_;
  scope_ = scope;
  files_.clear();
  finding_ = true;
  if (opening) emit openChanged();
  emit changed();
  (void)QtConcurrent::run([self = QPointer<LargestFiles>(this), tree, scope, pass, stop = stop_] {
    std::vector<NodeId> files = SubtreeStats::largestFiles(*tree, scope, limit, stop.get());
    if (stop->load()) return;
    onMainThread([self, pass, files = std::move(files)]() mutable {
      if (self) self->finish(pass, std::move(files));
    });
  });
}

void LargestFiles::finish(unsigned pass, std::vector<NodeId> files) {
  if (pass != pass_ || !scope_) return;
  files_ = std::move(files);
  finding_ = false;
  emit changed();
}

void LargestFiles::close() {
  if (!scope_) return;
  if (stop_) stop_->store(true);
  stop_.reset();
  ++pass_;
  scope_.reset();
  files_.clear();
  finding_ = false;
  emit openChanged();
  emit changed();
}

std::vector<NodeId> LargestFiles::files() const {
  const auto& hidden = browser_.overlay().hidden;
  if (hidden.empty()) return files_;
  std::vector<NodeId> shown;
  std::copy_if(files_.begin(), files_.end(), std::back_inserter(shown),
               [&](NodeId id) { return !hidden.contains(id); });
  return shown;
}

QString LargestFiles::title() const {
  const DiskTreePtr& tree = browser_.tree();
  if (!tree || !scope_) return {};
  const std::string path = SnapshotPaths::canonical(tree->path(*scope_));
  return QStringLiteral("Largest files in ") + QString::fromStdString(PathText::abbreviateTilde(path));
}

QString LargestFiles::summary() const {
  const DiskTreePtr& tree = browser_.tree();
  if (!tree || !scope_) return {};
  if (finding_)
    return QStringLiteral("Looking through %1 entries…")
        .arg(QLocale().toString(qulonglong(tree->entryCount()[std::size_t(*scope_)])));
  const std::size_t count = files().size();
  if (count == 0) return QStringLiteral("No files");
  const QString shown = QLocale().toString(qulonglong(count));
  if (files_.size() < limit) return count == 1 ? QStringLiteral("1 file") : shown + QStringLiteral(" files");
  return QStringLiteral("The %1 largest of %2 entries")
      .arg(shown, QLocale().toString(qulonglong(tree->entryCount()[std::size_t(*scope_)])));
}

QString LargestFiles::folderOf(NodeId file) const {
  const DiskTreePtr& tree = browser_.tree();
  if (!tree || !scope_) return {};
  const std::vector<NodeId> lineage = tree->lineage(tree->parentOf(file));
  auto step = std::find(lineage.begin(), lineage.end(), *scope_);
  step = step == lineage.end() ? (*scope_ == DiskTree::root ? lineage.begin() : lineage.end()) : step + 1;
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
