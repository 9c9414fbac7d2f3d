#include "model/TrashWork.h"

#include "model/Background.h"
#include "model/BrowserModel.h"
#include "model/DeleteList.h"
#include "model/Format.h"
#include "platform/LocalPath.h"

#include <QPointer>

#include <sys/stat.h>
#include <algorithm>
#include <exception>

namespace tallyfox {

namespace {

// "name: reason" for an item that stayed. The reason may start with the path itself; the
// name says which item already.
QString failureLine(const QByteArray& path, const QString& error) {
  QString reason = error;
  const QString prefix = displayPath(path) + QStringLiteral(": ");
  if (reason.startsWith(prefix)) reason = reason.mid(prefix.size());
  return displayLastComponent(path) + QStringLiteral(": ") + reason;
}

QString counted(std::size_t count, const char* one, const char* many) {
  return QString::number(count) + QLatin1Char(' ') + QLatin1String(count == 1 ? one : many);
}

struct Item {
  NodeId node;
  QByteArray path;
};

}  // namespace

TrashWork::TrashWork(BrowserModel& browser, DeleteList& list)
    : QObject(&list), browser_(browser), list_(list) {}

namespace {

// Acts on one item after another, in list order: a folder listed before something inside it
// goes first. An item that is not there by the end counts as gone, whoever took it.
template <typename Act>
TrashWork::Moved actOnEach(const std::vector<Item>& items, Act act) {
  TrashWork::Moved moved;
  for (const Item& item : items) {
    std::optional<QString> error;
    if (existsOnDisk(item.path)) {
      try {
        error = act(item.path);
      } catch (const std::exception& e) {
        error = QString::fromLocal8Bit(e.what());
      }
    }
    if (!error || !existsOnDisk(item.path))
      moved.gone.push_back(item.node);
    else
      moved.stayed.emplace_back(item.node, failureLine(item.path, *error));
  }
  return moved;
}

}  // namespace

void TrashWork::requestTrash() {
  if (isTrashing_ || isDeleting_) return;
  if (list_.isEmpty() && browser_.selection()) list_.toggleMark(browser_.selection());
  if (list_.isEmpty()) {
    if (const auto& beep = browser_.services().desktop.beep) beep->beep();
    return;
  }
  trashMarked();
}

void TrashWork::trashMarked() {
  const DiskTreePtr tree = browser_.tree();
  if (!tree || isTrashing_ || isDeleting_) return;
  std::vector<Item> items;
  QStringList unsafe;
  for (NodeId node : list_.topLevel()) {
    if (auto path = browser_.filePath(node))
      items.push_back({node, std::move(*path)});
    else
      unsafe << QString::fromStdString(tree->name(node)) +
                    QStringLiteral(": left where it is, as its name in the snapshot could lead elsewhere");
  }
  if (items.empty() && unsafe.isEmpty()) return;
  setTrashing(true);
  Background::run(
      this,
      [items = std::move(items), trash = browser_.services().desktop.trash] {
        return actOnEach(items, [&](const QByteArray& path) {
          return trash ? trash->moveToTrash(path) : std::optional(QStringLiteral("There is no Trash here"));
        });
      },
      [this, unsafe = std::move(unsafe)](const Moved& moved) { finishTrashing(moved, unsafe); });
}

std::uint64_t TrashWork::takeOut(const std::vector<NodeId>& gone) {
  const DiskTreePtr tree = browser_.tree();
  std::uint64_t bytes = 0;
  if (tree && !gone.empty()) {
    SizeOverlay edited(browser_.overlay());
    for (NodeId node : gone) {
      if (list_.isHiddenByTrash(node)) continue;  // counted when it went
      bytes += browser_.overlay().size(node, *tree);
      edited.hide(node, *tree);
    }
    browser_.setOverlay(SizeOverlay::share(std::move(edited)));
  }
  list_.forgetHidden();

  // The window leaves a folder that went to the Trash, and a selection that did.
  NodeId current = browser_.current();
  if (list_.isHiddenByTrash(current)) {
    while (current != DiskTree::root && list_.isHiddenByTrash(current)) current = tree->parentOf(current);
    browser_.navigate(current);
  }
  if (const auto selection = browser_.selection(); selection && list_.isHiddenByTrash(*selection))
    browser_.selectFirst();
  return bytes;
}

void TrashWork::finishTrashing(const Moved& moved, const QStringList& unsafe) {
  TrashResult result;
  result.count = int(moved.gone.size());
  result.bytes = takeOut(moved.gone);
  if (lastTrash_ && !lastTrash_->emptied && !lastTrash_->permanent) {
    result.count += lastTrash_->count;
    result.bytes += lastTrash_->bytes;
  }
  // What was left for its unsafe name is never offered for deleting permanently.
  result.failures = unsafe;
  for (const auto& [node, line] : moved.stayed) result.failures << line;
  refused_ = moved.stayed;
  setLastTrash(result);
  setTrashing(false);
}

void TrashWork::requestEmptyTrash() {
  if (isEmptyingTrash_) return;
  const QPointer<TrashWork> self(this);
  auto request = std::make_shared<ConfirmationRequest>([self](bool confirmed) {
    if (self && confirmed) self->emptyTrash();
  });
  request->title = QStringLiteral("Empty the Trash?");
  request->message = QStringLiteral(
      "This permanently deletes everything in the Trash, including items that didn't come from Tallyfox. "
      "It can't be undone.");
  request->confirmText = QStringLiteral("Empty Trash");
  request->destructive = true;
  browser_.requests().ask(request);
}

void TrashWork::emptyTrash() {
  const auto& trash = browser_.services().desktop.trash;
  if (isEmptyingTrash_ || !trash) return;
  setEmptyingTrash(true);
  Background::run(
      this,
      [trash] {
        EmptyingReport report;
        try {
          report = trash->empty();
        } catch (const std::exception& e) {
          report.error = QString::fromLocal8Bit(e.what());
        }
        return report;
      },
      [this](const EmptyingReport& report) {
        TrashResult result;
        if (report.error) {
          result.failures << QStringLiteral("Couldn't empty the Trash: ") + *report.error;
        } else {
          // What went to the Trash is freed now; what was deleted for good never went there.
          if (lastTrash_ && !lastTrash_->permanent) {
            result.count = lastTrash_->count;
            result.bytes = lastTrash_->bytes;
          }
          result.emptied = true;
        }
        // A trash left alone is said, with why, rather than passed over as emptied.
        result.failures += report.refused;
        refused_.clear();
        setLastTrash(result);
        setEmptyingTrash(false);
      });
}

void TrashWork::dismissResult() {
  refused_.clear();
  setLastTrash(std::nullopt);
}

// ---- Deleting for good what no trash takes

std::vector<NodeId> TrashWork::refusedByTrash() const {
  std::vector<NodeId> nodes;
  if (!lastTrash_ || lastTrash_->emptied || refused_.empty()) return nodes;
  const std::vector<NodeId> top = list_.topLevel();
  for (const auto& [node, line] : refused_)
    if (std::find(top.begin(), top.end(), node) != top.end()) nodes.push_back(node);
  return nodes;
}

bool TrashWork::canDeletePermanently() const {
  return browser_.services().desktop.trash && !isTrashing_ && !isDeleting_ && !refusedByTrash().empty();
}

void TrashWork::requestDeletePermanently() {
  const DiskTreePtr tree = browser_.tree();
  if (!tree || !canDeletePermanently()) return;
  const std::vector<NodeId> nodes = refusedByTrash();
  std::uint64_t bytes = 0;
  QStringList reasons;
  for (const auto& [node, line] : refused_) {
    if (std::find(nodes.begin(), nodes.end(), node) == nodes.end()) continue;
    bytes += browser_.overlay().size(node, *tree);
    reasons << QStringLiteral("• ") + line;
  }
  // The reasons are for reading, not for scrolling: a long list names the first few.
  constexpr qsizetype shownReasons = 8;
  if (reasons.size() > shownReasons) {
    const qsizetype more = reasons.size() - shownReasons;
    reasons.resize(shownReasons);
    reasons << QStringLiteral("and ") + QString::number(more) + QStringLiteral(" more");
  }
  const bool one = nodes.size() == 1;
  const QPointer<TrashWork> self(this);
  auto request = std::make_shared<ConfirmationRequest>([self, nodes](bool confirmed) {
    if (self && confirmed) self->deletePermanently(nodes);
  });
  request->title =
      QStringLiteral("Delete ") + counted(nodes.size(), "item", "items") + QStringLiteral(" permanently?");
  request->message =
      (one ? QStringLiteral("No trash could take it (") : QStringLiteral("No trash could take them (")) +
      Format::bytes(bytes) + (one ? QStringLiteral("):\n") : QStringLiteral(" in all):\n")) +
      reasons.join(QLatin1Char('\n')) +
      (one ? QStringLiteral("\n\nIt will be deleted immediately. ")
           : QStringLiteral("\n\nThey will be deleted immediately. ")) +
      QStringLiteral("You can't undo this.");
  request->confirmText = QStringLiteral("Delete Permanently");
  request->destructive = true;
  browser_.requests().ask(request);
}

void TrashWork::deletePermanently(const std::vector<NodeId>& nodes) {
  const DiskTreePtr tree = browser_.tree();
  const auto& trash = browser_.services().desktop.trash;
  if (!tree || !trash || isTrashing_ || isDeleting_) return;
  // Only what is still listed: an item taken off the list while the question was open stays.
  const std::vector<NodeId> top = list_.topLevel();
  std::vector<Item> items;
  for (NodeId node : nodes)
    if (std::find(top.begin(), top.end(), node) != top.end())
      if (auto path = browser_.filePath(node)) items.push_back({node, std::move(*path)});
  if (items.empty()) return;
  // Links above the snapshot's root are the person's own way to it; below it none is followed.
  const QByteArray base = QByteArray::fromStdString(tree->filePath(DiskTree::root));
  setDeleting(true);
  Background::run(
      this,
      [items = std::move(items), base, trash] {
        return actOnEach(items, [&](const QByteArray& path) { return trash->deletePermanently(path, base); });
      },
      [this](const Moved& moved) { finishDeleting(moved); });
}

void TrashWork::finishDeleting(const Moved& moved) {
  TrashResult result;
  result.count = int(moved.gone.size());
  result.bytes = takeOut(moved.gone);
  for (const auto& [node, line] : moved.stayed) result.failures << line;
  result.permanent = true;
  refused_ = moved.stayed;
  setLastTrash(result);
  setDeleting(false);
}

QString TrashWork::resultText(const TrashResult& result) {
  if (result.emptied) {
    QString text = QStringLiteral("Trash emptied");
    if (result.bytes > 0)
      text += QStringLiteral(" · ") + Format::bytes(result.bytes) + QStringLiteral(" freed");
    return text;
  }
  if (result.count < 1) return {};
  if (result.permanent)
    return QStringLiteral("Deleted ") + counted(result.count, "item", "items") +
           QStringLiteral(" permanently · ") + Format::bytes(result.bytes);
  return QStringLiteral("Moved ") + counted(result.count, "item", "items") +
         QStringLiteral(" to the Trash · ") + Format::bytes(result.bytes);
}

QString TrashWork::failuresText(const TrashResult& result) {
  const auto count = std::size_t(result.failures.size());
  if (count == 0) return {};
  if (result.emptied) return counted(count, "trash", "trashes") + QStringLiteral(" not emptied");
  if (result.permanent) return QString::number(count) + QStringLiteral(" couldn't be deleted");
  return QString::number(count) + QStringLiteral(" couldn't be moved");
}

void TrashWork::setTrashing(bool value) {
  if (isTrashing_ == value) return;
  isTrashing_ = value;
  emit isTrashingChanged();
}

void TrashWork::setDeleting(bool value) {
  if (isDeleting_ == value) return;
  isDeleting_ = value;
  emit isDeletingChanged();
}

void TrashWork::setEmptyingTrash(bool value) {
  if (isEmptyingTrash_ == value) return;
  isEmptyingTrash_ = value;
  emit isEmptyingTrashChanged();
}

void TrashWork::setLastTrash(std::optional<TrashResult> value) {
  if (lastTrash_ == value) return;
  lastTrash_ = std::move(value);
  emit lastTrashChanged();
}

}  // namespace tallyfox
