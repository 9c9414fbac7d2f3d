#include "views/EntryMenus.h"

#include "model/BrowserCommands.h"
#include "model/Comparison.h"
#include "model/DeleteList.h"
#include "model/Duplicates.h"
#include "model/FileActions.h"
#include "model/FileTypes.h"
#include "model/LargestFiles.h"
#include "model/OutsideModel.h"
#include "model/PartialScans.h"
#include "model/RemoteBrowsing.h"
#include "platform/LocalPath.h"
#include "views/Icons.h"
#include "views/Labels.h"

#include <QDrag>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QWidget>

#include <sys/stat.h>

namespace tallyfox {

namespace {

bool isFolder(const BrowserModel& browser, NodeId node) {
  const DiskTreePtr& tree = browser.tree();
  return tree && (node == DiskTree::root || tree->isDirectory(node));
}

// An item that needs the file on this computer: disabled, saying why, in a window of a
// snapshot scanned elsewhere.
QAction* needsLocalFile(QMenu& menu, const BrowserModel& browser, QAction* action) {
  const QString why = RemoteBrowsing::whyNoLocalFile(browser);
  if (why.isEmpty()) return action;
  menu.setToolTipsVisible(true);
  action->setEnabled(false);
  action->setToolTip(why);
  return action;
}

// "Rescan This Folder", and "Scan the Rest of" for a folder a scan left partly unread.
void addRescanItems(QMenu& menu, BrowserModel& browser, NodeId node) {
  QPointer<BrowserModel> model(&browser);
  const bool idle = browser.partialScans().canScan();
  QAction* rescan = menu.addAction(QStringLiteral("Rescan This Folder"), &menu, [model, node] {
    if (model) model->partialScans().rescanFolder(node);
  });
  rescan->setEnabled(idle);
  if (!browser.tree()->isPartial(node) || !RemoteBrowsing::hasLocalFiles(browser)) return;
  const QString name = Labels::node(*browser.tree(), node);
  menu.addAction(QStringLiteral("Scan the Rest of ") + name, &menu,
                 [model, node] {
                   if (model) model->partialScans().scanRest(node);
                 })
      ->setEnabled(idle);
}

// The views of a folder's subtree that take the window's centre; one at a time, so they wait
// while another is open.
void addSubtreeViewItems(QMenu& menu, BrowserModel& browser, NodeId node) {
  QPointer<BrowserModel> model(&browser);
  const bool free = BrowserCommands::find(QStringLiteral("largestFiles"))->isEnabled(browser);
  menu.addAction(QStringLiteral("Largest Files Here"), &menu,
                 [model, node] {
                   if (model) model->largestFiles().show(node);
                 })
      ->setEnabled(free);
  menu.addAction(QStringLiteral("File Types Here"), &menu,
                 [model, node] {
                   if (model) model->fileTypes().show(node);
                 })
      ->setEnabled(free);
}

}  // namespace

void fillEntryMenu(QMenu& menu, BrowserModel& browser, NodeId node) {
  const DiskTreePtr tree = browser.tree();
  if (!tree || !tree->contains(node)) return;
  QPointer<BrowserModel> model(&browser);
  // Every action checks the model is still there: a menu can outlive its window.
  const auto act = [&](const QString& text, auto work) {
    return menu.addAction(text, &menu, [model, work] {
      if (model) work(*model);
    });
  };

  if (browser.isExpandable(node)) {
    act(QStringLiteral("Open in Tallyfox"), [node](BrowserModel& m) { m.navigate(node, std::nullopt); });
    act(browser.expanded().contains(node) ? QStringLiteral("Collapse") : QStringLiteral("Expand"),
        [node](BrowserModel& m) { m.toggleExpanded(node); });
    menu.addSeparator();
  }
  if (isFolder(browser, node)) {
    addRescanItems(menu, browser, node);
    needsLocalFile(menu, browser, act(QStringLiteral("Open in Terminal"), [node](BrowserModel& m) {
                     if (const auto path = m.filePath(node)) m.files().openInTerminal(*path);
                   }));
    // One duplicates view per window: while one is open, it is the place to look.
    act(QStringLiteral("Find Duplicates Here"), [node](BrowserModel& m) {
      m.duplicates().findDuplicates(node);
    })->setEnabled(!browser.duplicates().isOpen());
    needsLocalFile(menu, browser, menu.actions().last());
    addSubtreeViewItems(menu, browser, node);
    menu.addSeparator();
  }
  needsLocalFile(menu, browser,
                 act(QStringLiteral("Preview"), [node](BrowserModel& m) { m.togglePreview(node); }));
  needsLocalFile(menu, browser, act(QStringLiteral("Reveal in File Manager"), [node](BrowserModel& m) {
                   m.files().revealInFinder(node);
                 }));
  needsLocalFile(
      menu, browser,
      act(browser.isExpandable(node) ? QStringLiteral("Open in File Manager") : QStringLiteral("Open"),
          [node](BrowserModel& m) { m.files().openSelection(node); }));
  menu.addSeparator();

  DeleteList& list = browser.deleteList();
  QAction* mark = act(
      list.isMarked(node) ? QStringLiteral("Remove from Delete List") : QStringLiteral("Add to Delete List"),
      [node](BrowserModel& m) { m.deleteList().toggleMark(node); });
  mark->setEnabled(!list.isInsideMarked(node));
  needsLocalFile(menu, browser, mark);
  menu.addSeparator();

  needsLocalFile(menu, browser,
                 act(QStringLiteral("Copy"), [node](BrowserModel& m) { m.files().copyFileReference(node); }));
  act(QStringLiteral("Copy Path"), [node](BrowserModel& m) { m.files().copyPath(node); });
  act(QStringLiteral("Copy Name"), [node](BrowserModel& m) { m.files().copyName(node); });
  needsLocalFile(menu, browser, act(QStringLiteral("Copy Path for Shell"), [node](BrowserModel& m) {
                   m.files().copyPathForShell(node);
                 }));
}

void fillFolderPathMenu(QMenu& menu, BrowserModel& browser, const QByteArray& path,
                        std::optional<NodeId> node) {
  QPointer<BrowserModel> model(&browser);
  const auto act = [&](const QString& text, auto work) {
    return menu.addAction(text, &menu, [model, work] {
      if (model) work(*model);
    });
  };
  const Desktop& desktop = browser.services().desktop;
  act(QStringLiteral("Reveal in File Manager"), [path, fileManager = desktop.fileManager](BrowserModel&) {
    if (fileManager) fileManager->reveal(path);
  });
  act(QStringLiteral("Open in Terminal"), [path](BrowserModel& m) { m.files().openInTerminal(path); });
  act(QStringLiteral("Copy Path"), [path, clipboard = desktop.clipboard](BrowserModel&) {
    if (clipboard) clipboard->copyText(displayPath(path));
  });
  act(QStringLiteral("Copy"), [path, clipboard = desktop.clipboard](BrowserModel&) {
    if (clipboard) clipboard->copyFileReference(path);
  });
  if (!browser.tree()) return;
  menu.addSeparator();
  if (!node) {
    // A folder outside the snapshot: scanned from there, with or without the snapshot's part.
    const std::string folder = path.toStdString();
    const QString name = BrowserModel::displayName(displayPath(path));
    const bool idle = browser.partialScans().canScan();
    act(QStringLiteral("Scan the Rest of ") + name, [folder](BrowserModel& m) {
      if (m.outside().outsidePath() != folder) m.outside().showOutside(folder);
      m.partialScans().scanRestOfOutside();
    })->setEnabled(idle);
    act(QStringLiteral("Rescan All of ") + name, [folder](BrowserModel& m) {
      if (m.outside().outsidePath() != folder) m.outside().showOutside(folder);
      m.partialScans().rescanAllOfOutside();
    })->setEnabled(idle);
    return;
  }
  addRescanItems(menu, browser, *node);
  act(QStringLiteral("Find Duplicates Here"), [node](BrowserModel& m) {
    m.duplicates().findDuplicates(*node);
  })->setEnabled(!browser.duplicates().isOpen());
  addSubtreeViewItems(menu, browser, *node);
  QAction* compare = act(QStringLiteral("Compare with Previous"), [node](BrowserModel& m) {
    const auto previous = m.comparing().previousSnapshot();
    if (!previous) return;
    m.navigate(*node, std::nullopt);
    m.comparing().compare(*previous);
  });
  compare->setEnabled(browser.comparing().previousSnapshot().has_value());
}

// ---- Dragging out

DragOut::DragOut(BrowserModel* browser) : browser_(browser) {
  start_ = [](QWidget* source, QMimeData* data, const QByteArray& path) {
    auto* drag = new QDrag(source);
    drag->setMimeData(data);
    struct stat info {};
    const bool folder = ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
    const QPixmap pixmap = Icons::icon(folder ? Icons::Symbol::folder : Icons::Symbol::file).pixmap(32, 32);
    drag->setPixmap(pixmap);
    drag->setHotSpot(QPoint(16, 16));
    // Another application copies or links the file; no window of ours takes drops, so a drop
    // back onto one does nothing.
    drag->exec(Qt::CopyAction | Qt::LinkAction, Qt::CopyAction);
  };
}

void DragOut::press(QPointF position, std::optional<NodeId> node) {
  position_ = position;
  node_ = node;
}

bool DragOut::move(QWidget* source, const QMouseEvent& event) {
  if (!node_ || !(event.buttons() & Qt::LeftButton) || !browser_) return false;
  const QPointF delta = event.position() - position_;
  if (QPointF::dotProduct(delta, delta) <= 25) return false;
  const NodeId node = *std::exchange(node_, std::nullopt);
  // A file that is gone by now gives nothing to drag; the press is spent all the same.
  const std::optional<QByteArray> path = browser_->filePath(node);
  struct stat info {};
  if (path && ::lstat(path->constData(), &info) == 0) start_(source, mimeData(*path), *path);
  return true;
}

std::optional<NodeId> DragOut::release() {
  return std::exchange(node_, std::nullopt);
}

QMimeData* DragOut::mimeData(const QByteArray& path) {
  auto* data = new QMimeData;
  data->setData(QStringLiteral("text/uri-list"), fileUri(path) + "\r\n");
  data->setText(displayPath(path));
  return data;
}

}  // namespace tallyfox
