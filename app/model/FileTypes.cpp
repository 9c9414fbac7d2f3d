#include "model/FileTypes.h"

#include "model/BrowserModel.h"
#include "model/Format.h"
#include "model/MainThread.h"

#include <tallyfox/SnapshotPaths.h>

#include <QLocale>
#include <QPointer>
#include <QtConcurrent>

namespace tallyfox {

namespace {

void stopPass(std::shared_ptr<std::atomic<bool>>& stop) {
  if (stop) stop->store(true);
  stop.reset();
}

}  // namespace

FileTypes::FileTypes(BrowserModel& browser) : QObject(&browser), browser_(browser) {
  connect(&browser, &BrowserModel::treeChanged, this, [this] {
    close();
    clearChoice();
  });
  connect(&browser, &BrowserModel::currentChanged, this, [this] {
    const NodeId here = browser_.current();
    if (chosenIn_ && here != *chosenIn_ && !browser_.isDescendant(here, *chosenIn_)) clearChoice();
  });
}

FileTypes::~FileTypes() {
  stopPass(stop_);
  stopPass(highlightStop_);
}

void FileTypes::show(std::optional<NodeId> folder) {
  const DiskTreePtr tree = browser_.tree();
  if (!tree) return;
  const NodeId scope = folder.value_or(browser_.current());
  if (!tree->contains(scope) || !tree->isDirectory(scope)) return;
  stopPass(stop_);
  stop_ = std::make_shared<std::atomic<bool>>(false);
  const unsigned pass = ++pass_;
  const bool opening = !scope_;
  scope_ = scope;
  totals_ = {};
  counting_ = true;
  if (opening) emit openChanged();
  emit changed();
  (void)QtConcurrent::run([self = QPointer<FileTypes>(this), tree, scope, pass, stop = stop_] {
    SubtreeStats::FileTypes totals = SubtreeStats::fileTypes(*tree, scope, stop.get());
    if (stop->load()) return;
    onMainThread([self, pass, totals = std::move(totals)]() mutable {
      if (!self || pass != self->pass_ || !self->scope_) return;
      self->totals_ = std::move(totals);
      self->counting_ = false;
      emit self->changed();
    });
  });
}

void FileTypes::close() {
  if (!scope_) return;
  stopPass(stop_);
  ++pass_;
  scope_.reset();
  totals_ = {};
  counting_ = false;
  emit openChanged();
  emit changed();
}

QString FileTypes::title() const {
  const DiskTreePtr& tree = browser_.tree();
  if (!tree || !scope_) return {};
  const std::string path = SnapshotPaths::canonical(tree->path(*scope_));
  return QStringLiteral("File types in ") + QString::fromStdString(PathText::abbreviateTilde(path));
}

QString FileTypes::summary() const {
  const DiskTreePtr& tree = browser_.tree();
  if (!tree || !scope_) return {};
  const QLocale locale;
  if (counting_)
    return QStringLiteral("Counting %1 entries…")
        .arg(locale.toString(qulonglong(tree->entryCount()[std::size_t(*scope_)])));
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
  stopPass(highlightStop_);
  highlightStop_ = std::make_shared<std::atomic<bool>>(false);
  const unsigned pass = ++highlightPass_;
  chosen_ = choice;
  chosenIn_ = scope_.value_or(browser_.current());
  highlight_ = {};
  close();
  emit chosenChanged();
  // The whole tree, so that the choice holds wherever the window goes next.
  (void)QtConcurrent::run([self = QPointer<FileTypes>(this), tree, choice, pass, stop = highlightStop_] {
    auto found = SubtreeStats::matching(
        *tree, DiskTree::root, [&](NodeId id) { return SubtreeStats::isOfType(tree->nameView(id), choice); },
        stop.get());
    if (stop->load()) return;
    onMainThread([self, pass, found = std::move(found)]() mutable {
      if (!self || pass != self->highlightPass_ || !self->chosen_) return;
      self->highlight_ = std::move(found);
      emit self->chosenChanged();
    });
  });
}

void FileTypes::clearChoice() {
  if (!chosen_) return;
  stopPass(highlightStop_);
  ++highlightPass_;
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
