#include "model/EntryActions.h"

#include "model/BrowserCommands.h"
#include "model/BrowserModel.h"
#include "model/Comparison.h"
#include "model/DeleteList.h"
#include "model/Duplicates.h"
#include "model/FileActions.h"
#include "model/FileTypes.h"
#include "model/Labels.h"
#include "model/LargestFiles.h"
#include "model/OutsideModel.h"
#include "model/PartialScans.h"
#include "model/RemoteBrowsing.h"
#include "platform/LocalPath.h"

#include <algorithm>
#include <map>

namespace tallyfox {

EntryTarget EntryTarget::entry(BrowserModel& browser, NodeId node) {
  return {&browser, node, browser.filePath(node).value_or(QByteArray()), browser.services().desktop, true};
}

EntryTarget EntryTarget::folder(BrowserModel& browser, const QByteArray& path, std::optional<NodeId> node) {
  return {&browser, node, path, browser.services().desktop, true};
}

EntryTarget EntryTarget::file(const QByteArray& path, Desktop desktop) {
  return {nullptr, std::nullopt, path, std::move(desktop), false};
}

namespace {

// An entry of the window's loaded snapshot.
bool isEntry(const EntryTarget& t) {
  return t.browser && t.node && t.browser->tree() && t.browser->tree()->contains(*t.node);
}

bool isFolderEntry(const EntryTarget& t) {
  return isEntry(t) && (*t.node == DiskTree::root || t.browser->tree()->isDirectory(*t.node));
}

bool isExpandableEntry(const EntryTarget& t) {
  return isEntry(t) && t.browser->isExpandable(*t.node);
}

// A folder on disk beside a window's snapshot, with no entry of its own.
bool isOutsideFolder(const EntryTarget& t) {
  return t.browser && t.browser->tree() && !t.node && !t.path.isEmpty();
}

// The entry, or else the path: what the file actions reach.
bool isEntryOrPath(const EntryTarget& t) {
  return t.node ? isEntry(t) : !t.path.isEmpty();
}

bool canScan(const EntryTarget& t) {
  return t.browser->partialScans().canScan();
}

// The subtree views take the window's centre one at a time.
bool centreFree(const EntryTarget& t) {
  return BrowserCommands::find(QStringLiteral("largestFiles"))->isEnabled(*t.browser);
}

// What a target without a window, or a folder outside the snapshot, is called.
QString folderName(const EntryTarget& t) {
  if (isEntry(t)) return Labels::node(*t.browser->tree(), *t.node);
  return BrowserModel::displayName(displayPath(t.path));
}

// The effect on the entry in its window; nothing once the window is gone.
template <typename Work>
std::function<void(const EntryTarget&)> onEntry(Work work) {
  return [work](const EntryTarget& t) {
    if (isEntry(t)) work(*t.browser, *t.node);
  };
}

// A scan that starts from a folder outside the snapshot, shown first when it is not yet.
template <typename Start>
std::function<void(const EntryTarget&)> fromOutside(Start start) {
  return [start](const EntryTarget& t) {
    if (!isOutsideFolder(t)) return;
    const std::string folder = t.path.toStdString();
    OutsideModel& outside = t.browser->outside();
    if (outside.outsidePath() != folder) outside.showOutside(folder);
    start(t.browser->partialScans());
  };
}

std::vector<EntryAction> makeActionTable() {
  return {
      {.id = "openInTallyfox",
       .title = "Open in Tallyfox",
       .isOffered = isExpandableEntry,
       .run = onEntry([](BrowserModel& m, NodeId n) { m.navigate(n, std::nullopt); })},
      {.id = "toggleExpanded",
       .titleFor =
           [](const EntryTarget& t) {
             return t.browser->expanded().contains(*t.node) ? QStringLiteral("Collapse")
                                                            : QStringLiteral("Expand");
           },
       .isOffered = isExpandableEntry,
       .run = onEntry([](BrowserModel& m, NodeId n) { m.toggleExpanded(n); })},
      {.id = "rescanFolder",
       .title = "Rescan This Folder",
       .isOffered = isFolderEntry,
       .isEnabled = canScan,
       .run = onEntry([](BrowserModel& m, NodeId n) { m.partialScans().rescanFolder(n); })},
      // A folder a scan left partly unread, or a folder outside the snapshot: the rest of it
      // is scanned and merged.
      {.id = "scanRest",
       .titleFor = [](const EntryTarget& t) { return QStringLiteral("Scan the Rest of ") + folderName(t); },
       .isOffered =
           [](const EntryTarget& t) {
             if (!t.node) return isOutsideFolder(t);
             return isFolderEntry(t) && t.browser->tree()->isPartial(*t.node) &&
                    RemoteBrowsing::hasLocalFiles(*t.browser);
           },
       .isEnabled = canScan,
       .run =
           [](const EntryTarget& t) {
             if (t.node)
               onEntry([](BrowserModel& m, NodeId n) { m.partialScans().scanRest(n); })(t);
             else
               fromOutside([](PartialScans& scans) { scans.scanRestOfOutside(); })(t);
           }},
      {.id = "rescanAllOfOutside",
       .titleFor = [](const EntryTarget& t) { return QStringLiteral("Rescan All of ") + folderName(t); },
       .isOffered = isOutsideFolder,
       .isEnabled = canScan,
       .run = fromOutside([](PartialScans& scans) { scans.rescanAllOfOutside(); })},
      {.id = "openInTerminal",
       .title = "Open in Terminal",
       .isOffered =
           [](const EntryTarget& t) {
             return t.browser && !t.path.isEmpty() && (t.node ? isFolderEntry(t) : isOutsideFolder(t));
           },
       .needsLocalFile = true,
       .run =
           [](const EntryTarget& t) {
             if (t.browser && !t.path.isEmpty()) t.browser->files().openInTerminal(t.path);
           }},
      // One duplicates view per window: while one is open, it is the place to look.
      {.id = "findDuplicates",
       .title = "Find Duplicates Here",
       .isOffered = isFolderEntry,
       .isEnabled = [](const EntryTarget& t) { return !t.browser->duplicates().isOpen(); },
       .needsLocalFile = true,
       .run = onEntry([](BrowserModel& m, NodeId n) { m.duplicates().findDuplicates(n); })},
      {.id = "largestFilesHere",
       .title = "Largest Files Here",
       .isOffered = isFolderEntry,
       .isEnabled = centreFree,
       .run = onEntry([](BrowserModel& m, NodeId n) { m.largestFiles().show(n); })},
      {.id = "fileTypesHere",
       .title = "File Types Here",
       .isOffered = isFolderEntry,
       .isEnabled = centreFree,
       .run = onEntry([](BrowserModel& m, NodeId n) { m.fileTypes().show(n); })},
      {.id = "compareWithPrevious",
       .title = "Compare with Previous",
       .isOffered = isEntry,
       .isEnabled =
           [](const EntryTarget& t) { return t.browser->comparing().previousSnapshot().has_value(); },
       .run = onEntry([](BrowserModel& m, NodeId n) {
         const auto previous = m.comparing().previousSnapshot();
         if (!previous) return;
         m.navigate(n, std::nullopt);
         m.comparing().compare(*previous);
       })},
      // As Space does: a second time, or with another file's preview open, it closes.
      {.id = "togglePreview",
       .title = "Preview",
       .isOffered = isEntry,
       .needsLocalFile = true,
       .run = onEntry([](BrowserModel& m, NodeId n) { m.togglePreview(n); })},
      // The entry's preview in place of whatever preview is open.
      {.id = "showPreview",
       .title = "Preview",
       .isOffered = isEntry,
       .needsLocalFile = true,
       .run = onEntry([](BrowserModel& m, NodeId n) {
         m.setPreviewURL({});
         m.togglePreview(n);
       })},
      {.id = "reveal",
       .title = "Reveal in File Manager",
       .isOffered = isEntryOrPath,
       .needsLocalFile = true,
       .run =
           [](const EntryTarget& t) {
             if (t.node)
               onEntry([](BrowserModel& m, NodeId n) { m.files().revealInFinder(n); })(t);
             else if (t.desktop.fileManager)
               t.desktop.fileManager->reveal(t.path);
           }},
      {.id = "open",
       .titleFor =
           [](const EntryTarget& t) {
             return t.browser->isExpandable(*t.node) ? QStringLiteral("Open in File Manager")
                                                     : QStringLiteral("Open");
           },
       .isOffered = isEntry,
       .needsLocalFile = true,
       .run = onEntry([](BrowserModel& m, NodeId n) { m.files().openSelection(n); })},
      // Inside a listed folder an entry goes with it; it cannot be listed apart.
      {.id = "toggleMark",
       .titleFor =
           [](const EntryTarget& t) {
             return t.browser->deleteList().isMarked(*t.node) ? QStringLiteral("Remove from Delete List")
                                                              : QStringLiteral("Add to Delete List");
           },
       .isOffered = isEntry,
       .isEnabled = [](const EntryTarget& t) { return !t.browser->deleteList().isInsideMarked(*t.node); },
       .needsLocalFile = true,
       .run = onEntry([](BrowserModel& m, NodeId n) { m.deleteList().toggleMark(n); })},
      {.id = "showInTallyfox",
       .title = "Show in Tallyfox",
       .isOffered = isEntry,
       .run = onEntry([](BrowserModel& m, NodeId n) {
         m.deleteList().setShowingDeleteList(false);
         m.navigate(m.tree()->parentOf(n), n);
       })},
      {.id = "showInList",
       .title = "Show in List",
       .isOffered = isEntry,
       .run = onEntry([](BrowserModel& m, NodeId n) { m.largestFiles().showInList(n); })},
      {.id = "copy",
       .title = "Copy",
       .isOffered = isEntryOrPath,
       .needsLocalFile = true,
       .run =
           [](const EntryTarget& t) {
             if (t.node)
               onEntry([](BrowserModel& m, NodeId n) { m.files().copyFileReference(n); })(t);
             else if (t.desktop.clipboard)
               t.desktop.clipboard->copyFileReference(t.path);
           }},
      {.id = "copyPath",
       .title = "Copy Path",
       .isOffered = isEntryOrPath,
       .run =
           [](const EntryTarget& t) {
             if (t.node)
               onEntry([](BrowserModel& m, NodeId n) { m.files().copyPath(n); })(t);
             else if (t.desktop.clipboard)
               t.desktop.clipboard->copyText(displayPath(t.path));
           }},
      {.id = "copyName",
       .title = "Copy Name",
       .isOffered = isEntry,
       .run = onEntry([](BrowserModel& m, NodeId n) { m.files().copyName(n); })},
      {.id = "copyPathForShell",
       .title = "Copy Path for Shell",
       .isOffered = isEntry,
       .needsLocalFile = true,
       .run = onEntry([](BrowserModel& m, NodeId n) { m.files().copyPathForShell(n); })},
  };
}

using Groups = std::vector<std::vector<const char*>>;

const Groups& groupsOf(EntryActions::Menu menu) {
  using Menu = EntryActions::Menu;
  static const Groups entry = {
      {"openInTallyfox", "toggleExpanded"},
      {"rescanFolder", "scanRest", "openInTerminal", "findDuplicates", "largestFilesHere", "fileTypesHere"},
      {"togglePreview", "reveal", "open"},
      {"toggleMark"},
      {"copy", "copyPath", "copyName", "copyPathForShell"}};
  static const std::map<Menu, Groups> menus = {
      {Menu::entry, entry},
      {Menu::folderPath,
       {{"reveal", "openInTerminal", "copyPath", "copy"},
        {"rescanFolder", "scanRest", "rescanAllOfOutside", "findDuplicates", "largestFilesHere",
         "fileTypesHere", "compareWithPrevious"}}},
      {Menu::duplicate, {{"reveal", "showPreview", "copyPath"}}},
      {Menu::deleteListItem, {{"reveal", "showInTallyfox", "copyPath"}}},
      {Menu::largestFile,
       [] {
         Groups groups = {{"showInList"}};
         groups.insert(groups.end(), entry.begin(), entry.end());
         return groups;
       }()},
      {Menu::recentSnapshot, {{"reveal", "copyPath"}}},
  };
  return menus.at(menu);
}

bool offered(const EntryAction& action, const EntryTarget& target) {
  if (target.ofWindow && !target.browser) return false;
  return !action.isOffered || action.isOffered(target);
}

// Why an action on the file on this computer cannot be used in the target's window; empty
// when it can, or needs no such file.
QString localFileMissing(const EntryAction& action, const EntryTarget& target) {
  return action.needsLocalFile && target.browser ? RemoteBrowsing::whyNoLocalFile(*target.browser)
                                                 : QString();
}

bool enabled(const EntryAction& action, const EntryTarget& target) {
  return localFileMissing(action, target).isEmpty() && (!action.isEnabled || action.isEnabled(target));
}

}  // namespace

namespace EntryActions {

const std::vector<EntryAction>& all() {
  static const std::vector<EntryAction> table = makeActionTable();
  return table;
}

const EntryAction* find(const QString& id) {
  const auto& table = all();
  const auto it = std::find_if(table.begin(), table.end(), [&](const EntryAction& a) { return a.id == id; });
  return it == table.end() ? nullptr : &*it;
}

std::vector<EntryMenuItem> items(Menu menu, const EntryTarget& target) {
  std::vector<EntryMenuItem> shown;
  for (const auto& group : groupsOf(menu)) {
    bool first = true;
    for (const char* id : group) {
      const EntryAction* action = find(QLatin1String(id));
      if (!action || !offered(*action, target)) continue;
      shown.push_back({action, action->titleFor ? action->titleFor(target) : action->title,
                       enabled(*action, target), localFileMissing(*action, target), first && !shown.empty()});
      first = false;
    }
  }
  return shown;
}

bool run(const EntryAction& action, const EntryTarget& target) {
  if (!offered(action, target) || !enabled(action, target)) return false;
  action.run(target);
  return true;
}

}  // namespace EntryActions
}  // namespace tallyfox
