#include "model/DeleteList.h"

#include "model/BrowserModel.h"
#include "model/Format.h"
#include "model/MainThread.h"
#include "platform/LocalPath.h"

#include <tallyfox/AtomicFile.h>
#include <tallyfox/SnapshotPaths.h>

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>
#include <QtConcurrent>

#include <sys/stat.h>
#include <algorithm>
#include <exception>
#include <mutex>

namespace tallyfox {

namespace {

// Something is there, even a dangling symbolic link: that is what would go to the Trash.
bool existsOnDisk(const QByteArray& path) {
  struct stat st {};
  return ::lstat(path.constData(), &st) == 0;
}

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

// The length of the valid UTF-8 sequence at `at`, or 0 when the byte there starts none.
qsizetype utf8SequenceAt(const QByteArray& bytes, qsizetype at) {
  const auto byte = [&](qsizetype i) { return std::uint8_t(bytes[i]); };
  const std::uint8_t lead = byte(at);
  if (lead < 0x80) return 1;
  qsizetype length = 0;
  std::uint32_t min = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (bytes.size() - at < length) return 0;
  std::uint32_t code = lead & (0x7F >> length);
  for (qsizetype i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  // Overlong forms, surrogates and what lies beyond Unicode are not text either.
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

// Writes the mirror file in the thread pool, one write at a time and only the newest text:
// a burst of toggles costs one or two writes, and the main thread never waits for the disk.
struct DeleteList::Writer {
  std::mutex lock;
  std::optional<std::pair<std::filesystem::path, QByteArray>> pending;
  bool running = false;

  void write(std::filesystem::path file, QByteArray text, const std::shared_ptr<Writer>& self) {
    {
      std::lock_guard guard(lock);
      pending.emplace(std::move(file), std::move(text));
      if (running) return;
      running = true;
    }
    QThreadPool::globalInstance()->start([self] {
      for (;;) {
        std::pair<std::filesystem::path, QByteArray> next;
        {
          std::lock_guard guard(self->lock);
          if (!self->pending) {
            self->running = false;
            return;
          }
          next = std::move(*self->pending);
          self->pending.reset();
        }
        // The mirror is a courtesy to other tools: a home that cannot be written changes
        // nothing in the window.
        std::error_code ignored;
        std::filesystem::create_directories(next.first.parent_path(), ignored);
        try {
          writeFileAtomically(next.first, std::string_view(next.second.constData(), next.second.size()));
        } catch (const std::exception&) {
        }
      }
    });
  }
};

DeleteList::DeleteList(BrowserModel& browser)
    : QObject(&browser), browser_(browser), writer_(std::make_shared<Writer>()) {}

DeleteList::~DeleteList() = default;

// ---- The list

void DeleteList::toggleMark(std::optional<NodeId> node) {
  const DiskTreePtr& tree = browser_.tree();
  const std::optional<NodeId> target = node ? node : browser_.selection();
  if (!tree || !target || !tree->contains(*target) || *target == DiskTree::root) return;
  if (markedSet_.remove(*target)) {
    std::erase(markedOrder_, *target);
  } else {
    // A node out of view cannot be listed: it is in the Trash already.
    if (isHiddenByTrash(*target)) return;
    markedSet_.insert(*target);
    markedOrder_.push_back(*target);
  }
  listChanged();
}

bool DeleteList::isInsideMarked(NodeId node) const {
  const DiskTreePtr& tree = browser_.tree();
  if (!tree || markedSet_.isEmpty() || !tree->contains(node)) return false;
  for (NodeId n = tree->parentOf(node); n >= 0; n = tree->parentOf(n))
    if (markedSet_.contains(n)) return true;
  return false;
}

bool DeleteList::isHiddenByTrash(NodeId node) const {
  const DiskTreePtr& tree = browser_.tree();
  const SizeOverlay& overlay = browser_.overlay();
  if (!tree || overlay.hidden.empty() || !tree->contains(node)) return false;
  for (NodeId n = node; n >= 0; n = tree->parentOf(n))
    if (overlay.hidden.contains(n)) return true;
  return false;
}

std::vector<NodeId> DeleteList::topLevel() const {
  std::vector<NodeId> top;
  if (!browser_.tree()) return top;
  for (NodeId node : markedOrder_)
    if (!isInsideMarked(node)) top.push_back(node);
  return top;
}

std::vector<QByteArray> DeleteList::markedFilePaths() const {
  std::vector<QByteArray> paths;
  // A path the window refuses to act on is not handed to whoever acts on the list either.
  for (NodeId node : topLevel())
    if (auto path = browser_.filePath(node)) paths.push_back(std::move(*path));
  return paths;
}

QStringList DeleteList::markedPaths() const {
  QStringList paths;
  for (const QByteArray& path : markedFilePaths()) paths << displayPath(path);
  return paths;
}

std::uint64_t DeleteList::markedTotal() const {
  const DiskTreePtr& tree = browser_.tree();
  if (!tree) return 0;
  std::uint64_t total = 0;
  for (NodeId node : topLevel()) total += browser_.overlay().size(node, *tree);
  return total;
}

void DeleteList::clearMarks() {
  if (markedOrder_.empty()) return;
  markedOrder_.clear();
  markedSet_.clear();
  listChanged();
}

void DeleteList::restoreMarks(std::vector<NodeId> nodes) {
  if (nodes == markedOrder_) return;
  markedOrder_ = std::move(nodes);
  markedSet_ = QSet<NodeId>(markedOrder_.begin(), markedOrder_.end());
  emit marksChanged();
}

void DeleteList::listChanged() {
  writeListFile();
  emit marksChanged();
}

// ---- Exporting it

std::filesystem::path DeleteList::deleteListFile() {
  const std::optional<std::string> data = PathText::dataHome();
  if (!data) return {};
  return std::filesystem::path(*data) / "tallyfox" / "delete-list.txt";
}

QByteArray DeleteList::listText() const {
  QByteArray text;
  for (const QByteArray& path : markedFilePaths()) {
    if (path.contains('\n')) continue;
    text += path;
    text += '\n';
  }
  return text;
}

void DeleteList::writeListFile() {
  std::filesystem::path file = deleteListFile();
  if (file.empty()) return;
  writer_->write(std::move(file), listText(), writer_);
}

QString DeleteList::shellQuoted(const QByteArray& path) {
  QString words;
  QString quoted;
  const auto closeQuote = [&] {
    if (quoted.isNull()) return;
    words += QLatin1Char('\'') + quoted + QLatin1Char('\'');
    quoted = QString();
  };
  for (qsizetype at = 0; at < path.size();) {
    const qsizetype length = utf8SequenceAt(path, at);
    if (length == 0) {
      // A byte no text can hold: written as the shell's own escape, next to the quoted rest.
      closeQuote();
      words += QStringLiteral("$'\\x%1'").arg(std::uint8_t(path[at]), 2, 16, QLatin1Char('0'));
      ++at;
      continue;
    }
    if (quoted.isNull()) quoted = QLatin1String("");
    const QString piece = QString::fromUtf8(path.constData() + at, length);
    quoted += piece == QLatin1String("'") ? QStringLiteral("'\\''") : piece;
    at += length;
  }
  closeQuote();
  return words.isEmpty() ? QStringLiteral("''") : words;
}

void DeleteList::copyMarkedPaths(ListStyle style) {
  QString text;
  if (style == ListStyle::onePerLine) {
    text = markedPaths().join(QLatin1Char('\n'));
  } else {
    QStringList words;
    for (const QByteArray& path : markedFilePaths()) words << shellQuoted(path);
    text = words.join(QLatin1Char(' '));
  }
  if (const auto& clipboard = browser_.services().desktop.clipboard) clipboard->copyText(text);
}

void DeleteList::saveMarkedList() {
  const QPointer<DeleteList> self(this);
  auto request = std::make_shared<FileRequest>(FileRequest::Kind::save, [self](auto chosen) {
    if (!self || !chosen) return;
    // Written as the list is when the user confirms, not when the chooser opened.
    const QByteArray text = self->listText();
    (void)QtConcurrent::run([file = *chosen, text] {
      try {
        writeFileAtomically(file, std::string_view(text.constData(), text.size()));
      } catch (const std::exception&) {
      }
    });
  });
  request->message = QStringLiteral("Save Delete List");
  request->proposedName = QStringLiteral("delete-list.txt");
  request->nameFilters = {QStringLiteral("Text files (*.txt)")};
  browser_.requests().ask(request);
}

void DeleteList::setShowingDeleteList(bool value) {
  if (showingDeleteList_ == value) return;
  showingDeleteList_ = value;
  emit showingDeleteListChanged();
}

// ---- The Trash

void DeleteList::requestTrash() {
  if (isTrashing_ || isDeleting_) return;
  if (markedOrder_.empty() && browser_.selection()) toggleMark(browser_.selection());
  if (markedOrder_.empty()) {
    if (const auto& beep = browser_.services().desktop.beep) beep->beep();
    return;
  }
  trashMarked();
}

void DeleteList::trashMarked() {
  const DiskTreePtr tree = browser_.tree();
  if (!tree || isTrashing_ || isDeleting_) return;
  struct Item {
    NodeId node;
    QByteArray path;
  };
  std::vector<Item> items;
  QStringList refused;
  for (NodeId node : topLevel()) {
    if (auto path = browser_.filePath(node))
      items.push_back({node, std::move(*path)});
    else
      refused << QString::fromStdString(tree->name(node)) +
                     QStringLiteral(": left where it is, as its name in the snapshot could lead elsewhere");
  }
  if (items.empty() && refused.isEmpty()) return;
  setTrashing(true);
  const QPointer<DeleteList> self(this);
  (void)QtConcurrent::run([self, items = std::move(items), failures = std::move(refused),
                           trash = browser_.services().desktop.trash]() mutable {
    std::vector<NodeId> trashed;
    Refused refused;
    // One at a time, in list order: a folder listed before something inside it goes first.
    for (const Item& item : items) {
      if (!existsOnDisk(item.path)) {
        trashed.push_back(item.node);
        continue;
      }
      std::optional<QString> error =
          trash ? trash->moveToTrash(item.path) : std::optional(QStringLiteral("There is no Trash here"));
      if (!error || !existsOnDisk(item.path)) {
        trashed.push_back(item.node);  // moved, or gone meanwhile by someone else's hand
      } else {
        refused.emplace_back(item.node, failureLine(item.path, *error));
      }
    }
    onMainThread(
        [self, trashed = std::move(trashed), refused = std::move(refused), failures = std::move(failures)] {
          if (self) self->finishTrashing(trashed, refused, failures);
        });
  });
}

std::uint64_t DeleteList::takeOut(const std::vector<NodeId>& gone) {
  const DiskTreePtr tree = browser_.tree();
  std::uint64_t bytes = 0;
  if (tree && !gone.empty()) {
    SizeOverlay edited(browser_.overlay());
    for (NodeId node : gone) {
      if (isHiddenByTrash(node)) continue;  // counted when it went
      bytes += browser_.overlay().size(node, *tree);
      edited.hide(node, *tree);
    }
    browser_.setOverlay(SizeOverlay::share(std::move(edited)));
  }
  forgetHidden();
  writeListFile();
  emit marksChanged();

  // The window leaves a folder that went to the Trash, and a selection that did.
  NodeId current = browser_.current();
  if (isHiddenByTrash(current)) {
    while (current != DiskTree::root && isHiddenByTrash(current)) current = tree->parentOf(current);
    browser_.navigate(current);
  }
  if (const auto selection = browser_.selection(); selection && isHiddenByTrash(*selection))
    browser_.selectFirst();
  return bytes;
}

void DeleteList::finishTrashing(const std::vector<NodeId>& trashed, const Refused& refused,
                                const QStringList& unsafe) {
  TrashResult result;
  result.count = int(trashed.size());
  result.bytes = takeOut(trashed);
  if (lastTrash_ && !lastTrash_->emptied && !lastTrash_->permanent) {
    result.count += lastTrash_->count;
    result.bytes += lastTrash_->bytes;
  }
  // What was left for its unsafe name is never offered for deleting permanently.
  result.failures = unsafe;
  for (const auto& [node, line] : refused) result.failures << line;
  refused_ = refused;
  setLastTrash(result);
  setTrashing(false);
}

void DeleteList::forgetHidden() {
  const auto before = markedOrder_.size();
  std::erase_if(markedOrder_, [&](NodeId node) { return isHiddenByTrash(node); });
  if (markedOrder_.size() == before) return;
  markedSet_ = QSet<NodeId>(markedOrder_.begin(), markedOrder_.end());
}

void DeleteList::requestEmptyTrash() {
  if (isEmptyingTrash_) return;
  const QPointer<DeleteList> self(this);
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

void DeleteList::emptyTrash() {
  const auto& trash = browser_.services().desktop.trash;
  if (isEmptyingTrash_ || !trash) return;
  setEmptyingTrash(true);
  const QPointer<DeleteList> self(this);
  (void)QtConcurrent::run([self, trash] {
    EmptyingReport report;
    try {
      report = trash->empty();
    } catch (const std::exception& e) {
      report.error = QString::fromLocal8Bit(e.what());
    }
    onMainThread([self, report] {
      if (!self) return;
      TrashResult result;
      if (report.error) {
        result.failures << QStringLiteral("Couldn't empty the Trash: ") + *report.error;
      } else {
        // What went to the Trash is freed now; what was deleted for good never went there.
        if (const auto& last = self->lastTrash_; last && !last->permanent) {
          result.count = last->count;
          result.bytes = last->bytes;
        }
        result.emptied = true;
      }
      // A trash left alone is said, with why, rather than passed over as emptied.
      result.failures += report.refused;
      self->refused_.clear();
      self->setLastTrash(result);
      self->setEmptyingTrash(false);
    });
  });
}

void DeleteList::dismissResult() {
  refused_.clear();
  setLastTrash(std::nullopt);
}

// ---- Deleting for good what no trash takes

std::vector<NodeId> DeleteList::refusedByTrash() const {
  std::vector<NodeId> nodes;
  if (!lastTrash_ || lastTrash_->emptied || refused_.empty()) return nodes;
  const std::vector<NodeId> top = topLevel();
  for (const auto& [node, line] : refused_)
    if (std::find(top.begin(), top.end(), node) != top.end()) nodes.push_back(node);
  return nodes;
}

bool DeleteList::canDeletePermanently() const {
  return browser_.services().desktop.trash && !isTrashing_ && !isDeleting_ && !refusedByTrash().empty();
}

void DeleteList::requestDeletePermanently() {
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
  const QPointer<DeleteList> self(this);
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

void DeleteList::deletePermanently(const std::vector<NodeId>& nodes) {
  const DiskTreePtr tree = browser_.tree();
  const auto& trash = browser_.services().desktop.trash;
  if (!tree || !trash || isTrashing_ || isDeleting_) return;
  struct Item {
    NodeId node;
    QByteArray path;
  };
  // Only what is still listed: an item taken off the list while the question was open stays.
  const std::vector<NodeId> top = topLevel();
  std::vector<Item> items;
  for (NodeId node : nodes)
    if (std::find(top.begin(), top.end(), node) != top.end())
      if (auto path = browser_.filePath(node)) items.push_back({node, std::move(*path)});
  if (items.empty()) return;
  // Links above the snapshot's root are the person's own way to it; below it none is followed.
  const QByteArray base = QByteArray::fromStdString(tree->filePath(DiskTree::root));
  setDeleting(true);
  const QPointer<DeleteList> self(this);
  (void)QtConcurrent::run([self, items = std::move(items), base, trash] {
    std::vector<NodeId> deleted;
    Refused stayed;
    for (const Item& item : items) {
      std::optional<QString> error;
      if (existsOnDisk(item.path)) {
        try {
          error = trash->deletePermanently(item.path, base);
        } catch (const std::exception& e) {
          error = QString::fromLocal8Bit(e.what());
        }
      }
      if (!error || !existsOnDisk(item.path))
        deleted.push_back(item.node);
      else
        stayed.emplace_back(item.node, failureLine(item.path, *error));
    }
    onMainThread([self, deleted = std::move(deleted), stayed = std::move(stayed)] {
      if (self) self->finishDeleting(deleted, stayed);
    });
  });
}

void DeleteList::finishDeleting(const std::vector<NodeId>& deleted, const Refused& stayed) {
  TrashResult result;
  result.count = int(deleted.size());
  result.bytes = takeOut(deleted);
  for (const auto& [node, line] : stayed) result.failures << line;
  result.permanent = true;
  refused_ = stayed;
  setLastTrash(result);
  setDeleting(false);
}

QString DeleteList::summary() const {
  return QString::number(topLevel().size()) + QStringLiteral(" to delete · ") + Format::bytes(markedTotal());
}

QString DeleteList::resultText(const TrashResult& result) {
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

QString DeleteList::failuresText(const TrashResult& result) {
  const auto count = std::size_t(result.failures.size());
  if (count == 0) return {};
  if (result.emptied) return counted(count, "trash", "trashes") + QStringLiteral(" not emptied");
  if (result.permanent) return QString::number(count) + QStringLiteral(" couldn't be deleted");
  return QString::number(count) + QStringLiteral(" couldn't be moved");
}

void DeleteList::setTrashing(bool value) {
  if (isTrashing_ == value) return;
  isTrashing_ = value;
  emit isTrashingChanged();
}

void DeleteList::setDeleting(bool value) {
  if (isDeleting_ == value) return;
  isDeleting_ = value;
  emit isDeletingChanged();
}

void DeleteList::setEmptyingTrash(bool value) {
  if (isEmptyingTrash_ == value) return;
  isEmptyingTrash_ = value;
  emit isEmptyingTrashChanged();
}

void DeleteList::setLastTrash(std::optional<TrashResult> value) {
  if (lastTrash_ == value) return;
  lastTrash_ = std::move(value);
  emit lastTrashChanged();
}

}  // namespace tallyfox
