#include "views/DeleteListViews.h"

#include "model/DeleteList.h"
#include "model/DeleteListExport.h"
#include "model/Format.h"
#include "model/TrashWork.h"
#include "views/EntryMenus.h"
#include "views/Icons.h"
#include "views/RowDelegate.h"

#include <QDialogButtonBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tallyfox {

namespace {

constexpr QColor warningColor(230, 126, 34);

QFrame* rule(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

QLabel* symbolLabel(Icons::Symbol symbol, const QColor& color, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setPixmap(Icons::tinted(symbol, QSize(16, 16), color, parent->devicePixelRatioF()));
  return label;
}

QToolButton* copyPathsButton(DeleteList& list, QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setText(QStringLiteral("Copy Paths"));
  button->setPopupMode(QToolButton::InstantPopup);
  button->setToolButtonStyle(Qt::ToolButtonTextOnly);
  button->setMenu(copyPathsMenu(list, button));
  return button;
}

}  // namespace

QMenu* copyPathsMenu(DeleteList& list, QWidget* parent) {
  auto* menu = new QMenu(parent);
  const QPointer<DeleteListExport> target(&list.exporting());
  QObject::connect(menu->addAction(QStringLiteral("One per Line")), &QAction::triggered, menu, [target] {
    if (target) target->copyMarkedPaths(DeleteListExport::ListStyle::onePerLine);
  });
  QObject::connect(menu->addAction(QStringLiteral("Shell-Quoted")), &QAction::triggered, menu, [target] {
    if (target) target->copyMarkedPaths(DeleteListExport::ListStyle::shellQuoted);
  });
  menu->addSeparator();
  QObject::connect(menu->addAction(QStringLiteral("Save List…")), &QAction::triggered, menu, [target] {
    if (target) target->saveMarkedList();
  });
  return menu;
}

// ---- DeleteListBar

DeleteListBar::DeleteListBar(BrowserModel* browser, QWidget* parent) : QWidget(parent), browser_(browser) {
  DeleteList& list = browser->deleteList();
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(rule(this));
  auto* row = new QHBoxLayout;
  row->setContentsMargins(8, 4, 8, 4);
  column->addLayout(row);
  text_ = new QLabel(this);
  review_ = new QPushButton(QStringLiteral("Review…"), this);
  copy_ = copyPathsButton(list, this);
  trash_ = new QPushButton(QStringLiteral("Move to Trash"), this);
  for (QWidget* button :
       {static_cast<QWidget*>(review_), static_cast<QWidget*>(copy_), static_cast<QWidget*>(trash_)})
    button->setFocusPolicy(Qt::TabFocus);
  row->addWidget(symbolLabel(Icons::Symbol::trash, RowDelegate::markColor(), this));
  row->addWidget(text_, 1);
  row->addWidget(review_);
  row->addWidget(copy_);
  row->addWidget(trash_);

  connect(review_, &QPushButton::clicked, this, [this] {
    if (browser_) browser_->deleteList().setShowingDeleteList(true);
  });
  connect(trash_, &QPushButton::clicked, this, [this] {
    if (browser_) browser_->deleteList().trash().requestTrash();
  });
  connect(&list, &DeleteList::marksChanged, this, &DeleteListBar::refresh);
  for (auto signal : {&TrashWork::isTrashingChanged, &TrashWork::isDeletingChanged})
    connect(&list.trash(), signal, this, &DeleteListBar::refresh);
  connect(browser, &BrowserModel::overlayChanged, this, &DeleteListBar::refresh);
  refresh();
}

QString DeleteListBar::text() const {
  return isVisibleTo(parentWidget()) ? text_->text() : QString();
}

void DeleteListBar::refresh() {
  if (!browser_) return;
  const DeleteList& list = browser_->deleteList();
  setVisible(!list.isEmpty());
  if (list.isEmpty()) return;
  text_->setText(list.summary());
  trash_->setEnabled(!list.trash().isTrashing() && !list.trash().isDeleting());
}

// ---- TrashResultRow

TrashResultRow::TrashResultRow(BrowserModel* browser, QWidget* parent) : QWidget(parent), browser_(browser) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(rule(this));

  busy_ = new QWidget(this);
  auto* busyRow = new QHBoxLayout(busy_);
  busyRow->setContentsMargins(8, 6, 8, 6);
  auto* spinner = new QProgressBar(busy_);
  spinner->setRange(0, 0);  // no end known: the bar keeps moving
  spinner->setTextVisible(false);
  spinner->setFixedSize(48, 10);
  busyText_ = new QLabel(busy_);
  busyRow->addWidget(spinner);
  busyRow->addWidget(busyText_, 1);
  column->addWidget(busy_);

  result_ = new QWidget(this);
  auto* row = new QHBoxLayout(result_);
  row->setContentsMargins(8, 4, 8, 4);
  symbol_ = new QLabel(result_);
  text_ = new QLabel(result_);
  failures_ = new QWidget(result_);
  auto* failuresRow = new QHBoxLayout(failures_);
  failuresRow->setContentsMargins(0, 0, 0, 0);
  failuresRow->setSpacing(4);
  failuresRow->addWidget(symbolLabel(Icons::Symbol::warning, warningColor, failures_));
  failuresText_ = new QLabel(failures_);
  failuresText_->setStyleSheet(QStringLiteral("color: rgb(230, 126, 34)"));
  failuresRow->addWidget(failuresText_);
  empty_ = new QPushButton(QStringLiteral("Empty Trash"), result_);
  empty_->setFocusPolicy(Qt::TabFocus);
  delete_ = new QPushButton(QStringLiteral("Delete Permanently…"), result_);
  delete_->setFocusPolicy(Qt::TabFocus);
  delete_->setToolTip(QStringLiteral("Delete what the Trash couldn't take, after asking"));
  dismiss_ = new QToolButton(result_);
  dismiss_->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
  dismiss_->setAutoRaise(true);
  dismiss_->setToolTip(QStringLiteral("Dismiss"));
  dismiss_->setAccessibleName(QStringLiteral("Dismiss"));
  row->addWidget(symbol_);
  row->addWidget(text_);
  row->addWidget(failures_);
  row->addStretch(1);
  row->addWidget(delete_);
  row->addWidget(empty_);
  row->addWidget(dismiss_);
  column->addWidget(result_);

  TrashWork& trash = browser->deleteList().trash();
  connect(empty_, &QPushButton::clicked, &trash, &TrashWork::requestEmptyTrash);
  connect(delete_, &QPushButton::clicked, &trash, &TrashWork::requestDeletePermanently);
  connect(dismiss_, &QToolButton::clicked, &trash, &TrashWork::dismissResult);
  for (auto signal : {&TrashWork::lastTrashChanged, &TrashWork::isEmptyingTrashChanged,
                      &TrashWork::isTrashingChanged, &TrashWork::isDeletingChanged})
    connect(&trash, signal, this, &TrashResultRow::refresh);
  // The list counts too: an item taken off it is no longer offered for deleting.
  connect(&browser->deleteList(), &DeleteList::marksChanged, this, &TrashResultRow::refresh);
  refresh();
}

QString TrashResultRow::text() const {
  if (!isVisibleTo(parentWidget())) return {};
  return busy_->isVisibleTo(this) ? busyText_->text() : text_->text();
}

QString TrashResultRow::failuresText() const {
  return failures_->isVisibleTo(this) ? failuresText_->text() : QString();
}

QString TrashResultRow::failuresTooltip() const {
  return failures_->isVisibleTo(this) ? failures_->toolTip() : QString();
}

void TrashResultRow::refresh() {
  if (!browser_) return;
  const TrashWork& trash = browser_->deleteList().trash();
  const bool working = trash.isBusy();
  const auto& last = trash.lastTrash();
  setVisible(working || last);
  busy_->setVisible(working);
  result_->setVisible(!working && last);
  if (working) {
    busyText_->setText(trash.isEmptyingTrash() ? QStringLiteral("Emptying the Trash…")
                       : trash.isDeleting()    ? QStringLiteral("Deleting…")
                                               : QStringLiteral("Moving to the Trash…"));
    return;
  }
  if (!last) return;
  QColor secondary = palette().color(QPalette::WindowText);
  secondary.setAlphaF(0.6f);
  // Emptied: a check; moved: the arrow into the Trash.
  symbol_->setText(last->emptied ? QStringLiteral("\u2714") : QStringLiteral("\u2935"));
  symbol_->setStyleSheet(last->emptied ? QStringLiteral("color: rgb(52, 168, 83)") : QString());
  text_->setText(TrashWork::resultText(*last));
  text_->setVisible(!text_->text().isEmpty());
  failuresText_->setText(TrashWork::failuresText(*last));
  failures_->setToolTip(last->failures.join(QLatin1Char('\n')));
  failures_->setVisible(!last->failures.isEmpty());
  empty_->setVisible(!last->emptied);
  delete_->setVisible(trash.canDeletePermanently());
}

// ---- DeleteListDialog

DeleteListDialog::DeleteListDialog(BrowserModel* browser, QWidget* parent)
    : QDialog(parent), browser_(browser) {
  setWindowTitle(QStringLiteral("Delete List"));
  setWindowModality(Qt::WindowModal);
  resize(640, 420);
  auto* column = new QVBoxLayout(this);
  headline_ = new QLabel(this);
  QFont bold = headline_->font();
  bold.setBold(true);
  headline_->setFont(bold);
  column->addWidget(headline_);

  items_ = new QTreeWidget(this);
  items_->setColumnCount(3);
  items_->setHeaderHidden(true);
  items_->setRootIsDecorated(false);
  items_->setUniformRowHeights(true);
  items_->setContextMenuPolicy(Qt::CustomContextMenu);
  items_->header()->setStretchLastSection(false);
  items_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  items_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  items_->header()->setSectionResizeMode(2, QHeaderView::Fixed);
  items_->header()->resizeSection(2, 28);
  items_->setTextElideMode(Qt::ElideMiddle);
  column->addWidget(items_, 1);

  note_ = new QLabel(this);
  note_->setWordWrap(true);
  note_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QColor dim = note_->palette().color(QPalette::WindowText);
  dim.setAlphaF(0.6f);
  QPalette notePalette = note_->palette();
  notePalette.setColor(QPalette::WindowText, dim);
  note_->setPalette(notePalette);
  const std::filesystem::path listFile = DeleteListExport::deleteListFile();
  note_->setText(listFile.empty()
                     ? QStringLiteral("Not kept in a file: there is no home folder to keep it in")
                     : QStringLiteral("Also kept up to date at ") +
                           QString::fromStdString(listFile.string()));
  column->addWidget(note_);

  auto* buttons = new QHBoxLayout;
  clear_ = new QPushButton(QStringLiteral("Clear List"), this);
  auto* copy = copyPathsButton(browser->deleteList(), this);
  trash_ = new QPushButton(QStringLiteral("Move to Trash"), this);
  auto* done = new QPushButton(QStringLiteral("Done"), this);
  done->setDefault(true);
  buttons->addWidget(clear_);
  buttons->addWidget(copy);
  buttons->addStretch(1);
  buttons->addWidget(trash_);
  buttons->addWidget(done);
  column->addLayout(buttons);

  connect(clear_, &QPushButton::clicked, this, [this] {
    if (browser_) browser_->deleteList().clearMarks();
  });
  connect(trash_, &QPushButton::clicked, this, [this] {
    if (browser_) browser_->deleteList().trash().requestTrash();
  });
  connect(done, &QPushButton::clicked, this, &QDialog::accept);
  connect(items_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    const QModelIndex index = items_->indexAt(at);
    if (!index.isValid()) return;
    QMenu* menu = menuFor(index.row());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(items_->viewport()->mapToGlobal(at));
  });
  items_->installEventFilter(this);
  DeleteList& list = browser->deleteList();
  connect(&list, &DeleteList::marksChanged, this, &DeleteListDialog::refresh);
  for (auto signal : {&TrashWork::isTrashingChanged, &TrashWork::isDeletingChanged})
    connect(&list.trash(), signal, this, &DeleteListDialog::refresh);
  connect(browser, &BrowserModel::overlayChanged, this, &DeleteListDialog::refresh);
  refresh();
}

bool DeleteListDialog::eventFilter(QObject* watched, QEvent* event) {
  // Delete or Backspace takes the current row off the list, as the button on it does.
  if (watched == items_ && event->type() == QEvent::KeyPress && browser_) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    const QTreeWidgetItem* item = items_->currentItem();
    if ((key == Qt::Key_Delete || key == Qt::Key_Backspace) && item) {
      browser_->deleteList().toggleMark(item->data(0, Qt::UserRole).toInt());
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

QString DeleteListDialog::headline() const {
  return headline_->text();
}

QString DeleteListDialog::note() const {
  return note_->text();
}

QMenu* DeleteListDialog::menuFor(int row) {
  auto* menu = new QMenu(this);
  const QTreeWidgetItem* item = items_->topLevelItem(row);
  if (!item || !browser_) return menu;
  fillMenu(*menu, EntryActions::Menu::deleteListItem,
           EntryTarget::entry(*browser_, item->data(0, Qt::UserRole).toInt()));
  return menu;
}

void DeleteListDialog::refresh() {
  if (!browser_) return;
  const DeleteList& list = browser_->deleteList();
  const DiskTreePtr tree = browser_->tree();
  const std::vector<NodeId> top = list.topLevel();
  const std::size_t count = top.size();
  headline_->setText(QString::number(count) +
                     (count == 1 ? QStringLiteral(" item · ") : QStringLiteral(" items · ")) +
                     Format::bytes(list.markedTotal()));
  const int currentRow = items_->currentIndex().row();
  items_->clear();
  if (tree) {
    for (NodeId node : top) {
      auto* item = new QTreeWidgetItem(items_);
      const QString path = QString::fromStdString(tree->path(node));
      item->setText(0, path);
      item->setToolTip(0, path);
      item->setIcon(0, Icons::icon(tree->isDirectory(node) ? Icons::Symbol::folder : Icons::Symbol::file));
      item->setData(0, Qt::UserRole, node);
      item->setText(1, Format::bytes(browser_->overlay().size(node, *tree)));
      item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
      auto* remove = new QToolButton(items_);
      remove->setIcon(style()->standardIcon(QStyle::SP_LineEditClearButton));
      remove->setAutoRaise(true);
      remove->setToolTip(QStringLiteral("Remove from the list"));
      remove->setAccessibleName(QStringLiteral("Remove from the list"));
      const QPointer<BrowserModel> browser(browser_);
      // Queued: the change rebuilds the rows, this button among them.
      connect(
          remove, &QToolButton::clicked, this,
          [browser, node] {
            if (browser) browser->deleteList().toggleMark(node);
          },
          Qt::QueuedConnection);
      items_->setItemWidget(item, 2, remove);
    }
  }
  // The row that took the place of one removed is current, so that keys go on down the list.
  if (currentRow >= 0 && items_->topLevelItemCount() > 0)
    items_->setCurrentItem(items_->topLevelItem(std::min(currentRow, items_->topLevelItemCount() - 1)));
  clear_->setEnabled(count > 0);
  trash_->setEnabled(count > 0 && !list.trash().isTrashing() && !list.trash().isDeleting());
}

}  // namespace tallyfox
