#include "views/SubtreeViews.h"

#include "model/DeleteList.h"
#include "model/FileActions.h"
#include "model/FileTypes.h"
#include "model/Format.h"
#include "model/LargestFiles.h"
#include "views/EntryMenus.h"
#include "views/RowDelegate.h"

#include <tallyfox/SubtreeStats.h>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tallyfox {

namespace {

// Where an item keeps its node, or its kind of file.
constexpr int nodeRole = Qt::UserRole + 1;
constexpr int categoryRole = Qt::UserRole + 2;
constexpr int extensionRole = Qt::UserRole + 3;

QString dateText(std::uint32_t mtime) {
  return QLocale().toString(QDateTime::fromSecsSinceEpoch(mtime).date(), QLocale::ShortFormat);
}

}  // namespace

// ---- SubtreeView

SubtreeView::SubtreeView(BrowserModel* browser, QWidget* parent) : QWidget(parent), browser_(browser) {
  setFocusPolicy(Qt::StrongFocus);
  title_ = new QLabel(this);
  QFont bold = title_->font();
  bold.setBold(true);
  title_->setFont(bold);
  title_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  done_ = new QPushButton(QStringLiteral("Done"), this);
  connect(done_, &QPushButton::clicked, this, [this] { close(); });
  summary_ = new QLabel(this);
  summary_->setForegroundRole(QPalette::PlaceholderText);
  list_ = new QTreeWidget(this);
  list_->setUniformRowHeights(true);
  list_->setAllColumnsShowFocus(true);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  list_->installEventFilter(this);
  setFocusProxy(list_);

  auto* header = new QHBoxLayout;
  header->addWidget(title_, 1);
  header->addWidget(done_);
  auto* column = new QVBoxLayout(this);
  column->addLayout(header);
  column->addWidget(summary_);
  column->addWidget(list_, 1);
}

QString SubtreeView::titleText() const {
  return title_->text();
}

QString SubtreeView::summaryText() const {
  return summary_->text();
}

void SubtreeView::setTexts(const QString& title, const QString& summary) {
  title_->setText(title);
  summary_->setText(summary);
}

void SubtreeView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

// ---- LargestFilesView

LargestFilesView::LargestFilesView(BrowserModel* browser, QWidget* parent) : SubtreeView(browser, parent) {
  list_->setColumnCount(4);
  list_->setHeaderLabels(
      {QStringLiteral("Name"), QStringLiteral("Folder"), QStringLiteral("Size"), QStringLiteral("Modified")});
  list_->setRootIsDecorated(false);
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  list_->header()->setSectionResizeMode(1, QHeaderView::Stretch);
  // Fixed widths: measuring a thousand rows' contents after each change is what makes a
  // list slow.
  for (int c : {2, 3}) {
    list_->header()->setSectionResizeMode(c, QHeaderView::Fixed);
    list_->header()->resizeSection(c,
                                   list_->fontMetrics().horizontalAdvance(QStringLiteral("999.9 MB  ")) + 40);
  }
  connect(list_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
    if (browser_) browser_->largestFiles().showInList(NodeId(item->data(0, nodeRole).toInt()));
  });
  connect(list_, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    const auto file = currentFile();
    QTreeWidgetItem* item = list_->itemAt(at);
    if (!browser_ || !item || !file) return;
    QMenu menu;
    const NodeId node = NodeId(item->data(0, nodeRole).toInt());
    fillMenu(menu, EntryActions::Menu::largestFile, EntryTarget::entry(*browser_, node));
    menu.exec(list_->viewport()->mapToGlobal(at));
  });
  if (browser_) {
    connect(&browser_->largestFiles(), &LargestFiles::changed, this, &LargestFilesView::refresh);
    connect(&browser_->largestFiles(), &LargestFiles::openChanged, this, [this] {
      if (browser_ && browser_->largestFiles().isOpen()) list_->setFocus();
    });
  }
  refresh();
}

std::optional<NodeId> LargestFilesView::currentFile() const {
  QTreeWidgetItem* item = list_->currentItem();
  if (!item) return std::nullopt;
  return NodeId(item->data(0, nodeRole).toInt());
}

void LargestFilesView::close() {
  if (browser_) browser_->largestFiles().close();
}

void LargestFilesView::refresh() {
  if (!browser_) return;
  const LargestFiles& largest = browser_->largestFiles();
  setTexts(largest.title(), largest.summary());
  const DiskTreePtr tree = browser_->tree();
  const std::optional<NodeId> keep = currentFile();
  list_->clear();
  if (!tree || largest.isFinding()) return;
  const DeleteList& marks = browser_->deleteList();
  QList<QTreeWidgetItem*> items;
  for (const NodeId file : largest.files()) {
    auto* item = new QTreeWidgetItem;
    item->setText(0, QString::fromStdString(tree->name(file)));
    item->setToolTip(0, QString::fromStdString(tree->path(file)));
    item->setData(0, nodeRole, file);
    item->setText(1, largest.folderOf(file));
    item->setText(2, Format::bytes(browser_->overlay().size(file, *tree)));
    item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    item->setText(3, dateText(tree->mtime()[std::size_t(file)]));
    if (marks.isMarked(file) || marks.isInsideMarked(file)) {
      QFont struck = item->font(0);
      struck.setStrikeOut(true);
      item->setFont(0, struck);
      item->setForeground(0, RowDelegate::markColor());
    }
    items.append(item);
  }
  list_->addTopLevelItems(items);
  for (QTreeWidgetItem* item : items)
    if (keep && item->data(0, nodeRole).toInt() == *keep) list_->setCurrentItem(item);
  if (!list_->currentItem() && !items.isEmpty()) list_->setCurrentItem(items.front());
}

bool LargestFilesView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    const auto file = currentFile();
    if (file && runKey(key, *file)) return true;
  }
  return SubtreeView::eventFilter(watched, event);
}

// The list's keys for a file, on the row's file rather than the list's selection.
bool LargestFilesView::runKey(QKeyEvent* event, NodeId file) {
  if (!browser_) return false;
  BrowserModel& m = *browser_;
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  if (ctrl && event->key() == Qt::Key_C) {
    m.files().copyFileReference(file);
    return true;
  }
  if (ctrl) return false;
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      m.largestFiles().showInList(file);
      return true;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
      m.deleteList().toggleMark(file);
      return true;
    default:
      break;
  }
  const QString text = event->text();
  if (text == QLatin1String(" ")) {
    m.togglePreview(file);
  } else if (text == QLatin1String("r")) {
    m.files().revealInFinder(file);
  } else if (text == QLatin1String("o")) {
    m.files().openSelection(file);
  } else if (text == QLatin1String("c") || text == QLatin1String("y")) {
    m.files().copyPath(file);
  } else if (text == QLatin1String("d")) {
    m.deleteList().toggleMark(file);
  } else if (text == QLatin1String("j") || text == QLatin1String("k")) {
    const int row = list_->indexOfTopLevelItem(list_->currentItem()) + (text == QLatin1String("j") ? 1 : -1);
    if (QTreeWidgetItem* item = list_->topLevelItem(row)) list_->setCurrentItem(item);
  } else {
    return false;
  }
  return true;
}

// ---- FileTypesView

FileTypesView::FileTypesView(BrowserModel* browser, QWidget* parent) : SubtreeView(browser, parent) {
  list_->setColumnCount(4);
  list_->setHeaderLabels(
      {QStringLiteral("Kind"), QStringLiteral("Size"), QStringLiteral("Share"), QStringLiteral("Files")});
  list_->setRootIsDecorated(true);
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  for (int c : {1, 2, 3}) {
    list_->header()->setSectionResizeMode(c, QHeaderView::Fixed);
    list_->header()->resizeSection(c,
                                   list_->fontMetrics().horizontalAdvance(QStringLiteral("999.9 MB  ")) + 32);
  }
  list_->setToolTip(QStringLiteral("Return or double click: pick these files out in the list and the chart"));
  connect(list_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem*) { chooseCurrent(); });
  if (browser_) {
    connect(&browser_->fileTypes(), &FileTypes::changed, this, &FileTypesView::refresh);
    connect(&browser_->fileTypes(), &FileTypes::openChanged, this, [this] {
      if (browser_ && browser_->fileTypes().isOpen()) list_->setFocus();
    });
  }
  refresh();
}

void FileTypesView::close() {
  if (browser_) browser_->fileTypes().close();
}

void FileTypesView::chooseCurrent() {
  QTreeWidgetItem* item = list_->currentItem();
  if (!browser_ || !item) return;
  FileTypes::Choice choice;
  choice.category = SubtreeStats::Category(item->data(0, categoryRole).toInt());
  const QVariant extension = item->data(0, extensionRole);
  if (extension.isValid()) choice.extension = extension.toByteArray().toStdString();
  browser_->fileTypes().choose(choice);
}

void FileTypesView::refresh() {
  if (!browser_) return;
  const FileTypes& types = browser_->fileTypes();
  setTexts(types.title(), types.summary());
  list_->clear();
  if (types.isCounting()) return;
  const auto& totals = types.totals();
  const QLocale locale;
  const auto fill = [&](QTreeWidgetItem* item, std::uint64_t bytes, std::uint64_t files) {
    item->setText(1, Format::bytes(bytes));
    item->setText(2, Format::percent(bytes, totals.bytes));
    item->setText(3, locale.toString(qulonglong(files)));
    for (int c : {1, 2, 3}) item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
  };
  QList<QTreeWidgetItem*> items;
  for (const auto& category : totals.categories) {
    auto* item = new QTreeWidgetItem;
    item->setText(0, FileTypes::label({category.category, std::nullopt}));
    item->setData(0, categoryRole, int(category.category));
    fill(item, category.bytes, category.files);
    for (const auto& type : category.types) {
      auto* child = new QTreeWidgetItem(item);
      child->setText(0, FileTypes::label({category.category, type.extension}));
      child->setData(0, categoryRole, int(category.category));
      child->setData(0, extensionRole, QByteArray::fromStdString(type.extension));
      fill(child, type.bytes, type.files);
    }
    items.append(item);
  }
  list_->addTopLevelItems(items);
  if (!items.isEmpty()) list_->setCurrentItem(items.front());
}

bool FileTypesView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      chooseCurrent();
      return true;
    }
  }
  return SubtreeView::eventFilter(watched, event);
}

// ---- FileTypeBar

FileTypeBar::FileTypeBar(BrowserModel* browser, QWidget* parent) : QWidget(parent), browser_(browser) {
  label_ = new QLabel(this);
  auto* clear = new QPushButton(QStringLiteral("Clear"), this);
  clear->setToolTip(QStringLiteral("Show every kind of file again"));
  connect(clear, &QPushButton::clicked, this, [this] {
    if (browser_) browser_->fileTypes().clearChoice();
  });
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(8, 4, 8, 4);
  row->addWidget(label_, 1);
  row->addWidget(clear);
  if (browser_) {
    connect(&browser_->fileTypes(), &FileTypes::chosenChanged, this, &FileTypeBar::refresh);
    connect(browser_, &BrowserModel::currentChanged, this, &FileTypeBar::refresh);
  }
  refresh();
}

QString FileTypeBar::text() const {
  return label_->text();
}

void FileTypeBar::refresh() {
  const auto chosen = browser_ ? browser_->fileTypes().chosen() : std::nullopt;
  setVisible(chosen.has_value());
  if (!chosen) return;
  const FileTypes& types = browser_->fileTypes();
  QString text = QStringLiteral("Showing ") + FileTypes::label(*chosen);
  if (types.isHighlightReady()) {
    const DiskTreePtr& tree = browser_->tree();
    const NodeId here = browser_->current();
    text += QStringLiteral(": ") + Format::bytes(types.chosenBytes(here)) + QStringLiteral(" here");
    if (tree)
      text += QStringLiteral(" (") + Format::percent(types.chosenBytes(here), tree->sizeOf(here)) +
              QLatin1Char(')');
  } else {
    text += QStringLiteral("…");
  }
  label_->setText(text);
}

}  // namespace tallyfox
