#include "views/EntryMenus.h"

#include "platform/LocalPath.h"
#include "views/Icons.h"

#include <QDrag>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QWidget>

#include <sys/stat.h>

namespace tallyfox {

void fillMenu(QMenu& menu, EntryActions::Menu which, const EntryTarget& target) {
  for (const EntryMenuItem& item : EntryActions::items(which, target)) {
    if (item.separatorBefore) menu.addSeparator();
    QAction* action = menu.addAction(
        item.title, &menu, [entryAction = item.action, target] { EntryActions::run(*entryAction, target); });
    action->setObjectName(item.action->id);
    action->setEnabled(item.enabled);
    if (item.whyDisabled.isEmpty()) continue;
    menu.setToolTipsVisible(true);
    action->setToolTip(item.whyDisabled);
  }
}

void fillEntryMenu(QMenu& menu, BrowserModel& browser, NodeId node) {
  fillMenu(menu, EntryActions::Menu::entry, EntryTarget::entry(browser, node));
}

void fillFolderPathMenu(QMenu& menu, BrowserModel& browser, const QByteArray& path,
                        std::optional<NodeId> node) {
  fillMenu(menu, EntryActions::Menu::folderPath, EntryTarget::folder(browser, path, node));
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
