#include "views/DuplicatesView.h"

#include "model/Duplicates.h"
#include "model/FileActions.h"
#include "model/Format.h"
#include "views/Icons.h"

#include <tallyfox/SnapshotPaths.h>

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedLayout>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tallyfox {

namespace {

constexpr QColor replacedColor(40, 160, 70);
constexpr QColor skippedColor(230, 126, 34);
// Where a path item keeps the path's exact bytes.
constexpr int pathRole = Qt::UserRole + 1;

QLabel* boldLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  return label;
}

QLabel* secondaryLabel(QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setForegroundRole(QPalette::PlaceholderText);
  label->setWordWrap(true);
  return label;
}

// A page of one or two centred lines: the failed and the empty state.
QWidget* messagePage(QWidget* parent, const QString& title, QLabel* message) {
  auto* page = new QWidget(parent);
  auto* column = new QVBoxLayout(page);
  column->addStretch(1);
  column->addWidget(boldLabel(title, page), 0, Qt::AlignHCenter);
  message->setParent(page);
  message->setAlignment(Qt::AlignHCenter);
  column->addWidget(message, 0, Qt::AlignHCenter);
  column->addStretch(1);
  return page;
}

}  // namespace

// ---- DuplicateGroupRow

DuplicateGroupRow::DuplicateGroupRow(const DuplicatesState& state, int index) : index_(index) {
  const auto& group = state.groups()[std::size_t(index)];
  setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
  setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  setText(0, state.groupTitle(index));
  for (std::size_t k = 0; k < group.paths.size(); ++k) {
    auto* copy = new QTreeWidgetItem(this);
    const QString shown = QString::fromStdString(PathText::abbreviateTilde(group.paths[k]));
    copy->setText(0, shown);
    copy->setToolTip(0, shown);
    copy->setData(0, pathRole, QByteArray::fromStdString(group.paths[k]));
    copy->setText(1, k == 0 ? QStringLiteral("keep") : QStringLiteral("clone"));
    copy->setForeground(1, QPalette().brush(QPalette::PlaceholderText));
    copy->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  }
}

void DuplicateGroupRow::refresh(const DuplicatesState& state) {
  const Shown now{state.selected().contains(index_), state.expanded().contains(index_),
                  state.statusOf(index_)};
  if (shown_ == now) return;
  const bool statusChanged = !shown_ || shown_->status != now.status;
  shown_ = now;
  setCheckState(0, now.selected ? Qt::Checked : Qt::Unchecked);
  setExpanded(now.expanded);
  if (!statusChanged) return;
  const auto& status = now.status;
  setIcon(1, QIcon());
  setToolTip(1, {});
  setForeground(1, QPalette().brush(QPalette::Text));
  if (!status) {
    setText(1, {});
    return;
  }
  using Kind = DuplicatesState::GroupStatus::Kind;
  switch (status->kind) {
    case Kind::pending:
      setText(1, QStringLiteral("replacing…"));
      break;
    case Kind::replaced:
      setText(1, QStringLiteral("✔ ") + Format::bytes(status->bytes) + QStringLiteral(" freed"));
      setForeground(1, replacedColor);
      break;
    case Kind::failed:
      setText(1, QStringLiteral("skipped"));
      setIcon(1, QIcon(Icons::tinted(Icons::Symbol::warning, QSize(14, 14), skippedColor,
                                     treeWidget() ? treeWidget()->devicePixelRatioF() : 1.0)));
      setForeground(1, skippedColor);
      setToolTip(1, status->message);
      break;
  }
}

// ---- DuplicatesView

DuplicatesView::DuplicatesView(BrowserModel* browser, QWidget* parent) : QWidget(parent), browser_(browser) {
  setFocusPolicy(Qt::StrongFocus);
  title_ = boldLabel({}, this);
  title_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  done_ = new QPushButton(QStringLiteral("Done"), this);
  connect(done_, &QPushButton::clicked, this, [this] {
    if (browser_) browser_->duplicates().close();
  });
  auto* header = new QHBoxLayout;
  header->addWidget(title_, 1);
  header->addWidget(done_);

  findingPage_ = new QWidget(this);
  {
    auto* column = new QVBoxLayout(findingPage_);
    column->addStretch(1);
    column->addWidget(boldLabel(QStringLiteral("Checking files…"), findingPage_), 0, Qt::AlignHCenter);
    progress_ = new QProgressBar(findingPage_);
    progress_->setTextVisible(false);
    progress_->setFixedWidth(320);
    column->addWidget(progress_, 0, Qt::AlignHCenter);
    progressLine_ = secondaryLabel(findingPage_);
    // One line whose width follows its text; wrapping would fix the width at the first text.
    progressLine_->setWordWrap(false);
    column->addWidget(progressLine_, 0, Qt::AlignHCenter);
    column->addStretch(1);
  }
  failedMessage_ = secondaryLabel(this);
  failedMessage_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  failedPage_ = messagePage(this, QStringLiteral("Couldn't finish"), failedMessage_);
  emptyPage_ = messagePage(this, QStringLiteral("No duplicates"),
                           new QLabel(QStringLiteral("Nothing here could share storage as clones.")));

  groupsPage_ = new QWidget(this);
  {
    summary_ = new QLabel(groupsPage_);
    applied_ = secondaryLabel(groupsPage_);
    refusal_ = new QLabel(groupsPage_);
    refusal_->setWordWrap(true);
    QPalette warning = refusal_->palette();
    warning.setColor(QPalette::WindowText, skippedColor);
    refusal_->setPalette(warning);
    list_ = new QTreeWidget(groupsPage_);
    list_->setColumnCount(2);
    list_->setHeaderHidden(true);
    list_->setRootIsDecorated(true);
    list_->setUniformRowHeights(true);
    list_->header()->setStretchLastSection(false);
    list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    // Sized once for the longest status: measuring the column's contents again after every
    // change of a row costs a pass over all rows.
    list_->header()->setSectionResizeMode(1, QHeaderView::Fixed);
    list_->header()->resizeSection(
        1, list_->fontMetrics().horizontalAdvance(QStringLiteral("✔ 999.9 MB freed")) + 32);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QTreeWidget::customContextMenuRequested, this, &DuplicatesView::showPathMenu);
    connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
      auto* row = dynamic_cast<DuplicateGroupRow*>(item);
      if (refreshing_ || !row || column != 0 || !shown_) return;
      shown_->setSelected(row->index(), row->checkState(0) == Qt::Checked);
    });
    connect(list_, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
      auto* row = dynamic_cast<DuplicateGroupRow*>(item);
      if (!refreshing_ && row && shown_) shown_->setExpanded(row->index(), true);
    });
    connect(list_, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) {
      auto* row = dynamic_cast<DuplicateGroupRow*>(item);
      if (!refreshing_ && row && shown_) shown_->setExpanded(row->index(), false);
    });

    includeApps_ = new QCheckBox(QStringLiteral("Include apps"), groupsPage_);
    connect(includeApps_, &QCheckBox::toggled, this, [this](bool on) {
      if (!refreshing_ && shown_) shown_->setIncludeApps(on);
    });
    addToDeleteList_ = new QPushButton(QStringLiteral("Add Extras to Delete List"), groupsPage_);
    addToDeleteList_->setToolTip(QStringLiteral("Delete the extra copies instead of cloning them"));
    connect(addToDeleteList_, &QPushButton::clicked, this, [this] {
      if (browser_) browser_->duplicates().addDuplicateExtrasToDeleteList();
    });
    replace_ = new QPushButton(QStringLiteral("Replace Selected with Clones"), groupsPage_);
    replace_->setToolTip(
        QStringLiteral("Each extra copy becomes a clone of the kept one: same contents, attributes and "
                       "dates, storage shared"));
    connect(replace_, &QPushButton::clicked, this, [this] {
      if (browser_) browser_->duplicates().applyDuplicates();
    });

    auto* actions = new QHBoxLayout;
    actions->addWidget(includeApps_);
    actions->addStretch(1);
    actions->addWidget(addToDeleteList_);
    actions->addWidget(replace_);
    auto* column = new QVBoxLayout(groupsPage_);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(summary_);
    column->addWidget(applied_);
    column->addWidget(refusal_);
    column->addWidget(list_, 1);
    column->addLayout(actions);
  }

  pages_ = new QStackedLayout;
  pages_->addWidget(findingPage_);
  pages_->addWidget(failedPage_);
  pages_->addWidget(emptyPage_);
  pages_->addWidget(groupsPage_);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(16, 12, 16, 12);
  column->addLayout(header);
  column->addLayout(pages_, 1);

  if (browser_) {
    connect(&browser_->duplicates(), &Duplicates::stateChanged, this, &DuplicatesView::stateChanged);
    connect(&browser_->duplicates(), &Duplicates::contentChanged, this, &DuplicatesView::refresh);
  }
  stateChanged();
}

QString DuplicatesView::titleText() const {
  return title_->text();
}

QString DuplicatesView::pageText() const {
  QStringList lines;
  for (QLabel* label : pages_->currentWidget()->findChildren<QLabel*>())
    if (label->isVisibleTo(pages_->currentWidget()) && !label->text().isEmpty()) lines << label->text();
  return lines.join(QLatin1Char('\n'));
}

DuplicateGroupRow* DuplicatesView::row(int index) const {
  for (int k = 0; k < list_->topLevelItemCount(); ++k)
    if (auto* row = dynamic_cast<DuplicateGroupRow*>(list_->topLevelItem(k)); row && row->index() == index)
      return row;
  return nullptr;
}

void DuplicatesView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && browser_) {
    browser_->duplicates().close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void DuplicatesView::stateChanged() {
  DuplicatesState* state = browser_ ? browser_->duplicates().state() : nullptr;
  if (state == shown_) return;
  shown_ = state;
  if (shown_) connect(shown_, &DuplicatesState::progressChanged, this, &DuplicatesView::refreshProgress);
  list_->clear();
  refresh();
}

void DuplicatesView::refreshProgress() {
  if (!shown_) return;
  const auto& progress = shown_->progress();
  // A bar of int: large counts are scaled down together.
  const std::int64_t total = std::max<std::int64_t>(progress.total, 0);
  const int shift = total > INT32_MAX ? 16 : 0;
  progress_->setRange(0, int(total >> shift));
  progress_->setValue(int(std::clamp<std::int64_t>(progress.done, 0, total) >> shift));
  // Nothing until the finder has said what it is doing.
  progressLine_->setText(progress.phase.empty() ? QString() : shown_->progressLine());
}

void DuplicatesView::refresh() {
  if (!shown_) return;
  refreshing_ = true;
  title_->setText(shown_->title());
  using Kind = DuplicatesState::Phase::Kind;
  switch (shown_->phase().kind) {
    case Kind::finding:
      pages_->setCurrentWidget(findingPage_);
      refreshProgress();
      break;
    case Kind::failed:
      failedMessage_->setText(shown_->phase().message);
      pages_->setCurrentWidget(failedPage_);
      break;
    case Kind::ready:
      if (shown_->visibleGroups().empty()) {
        pages_->setCurrentWidget(emptyPage_);
      } else {
        pages_->setCurrentWidget(groupsPage_);
        if (list_->topLevelItemCount() != int(shown_->visibleGroups().size())) rebuildRows();
        for (int k = 0; k < list_->topLevelItemCount(); ++k)
          if (auto* row = dynamic_cast<DuplicateGroupRow*>(list_->topLevelItem(k))) row->refresh(*shown_);
        summary_->setText(shown_->summary());
        applied_->setText(shown_->appliedLine());
        applied_->setVisible(!shown_->appliedLine().isEmpty());
        refusal_->setText(shown_->refusal());
        refusal_->setVisible(!shown_->refusal().isEmpty());
        includeApps_->setChecked(shown_->includeApps());
        const bool hasWork = !shown_->selectedVisible().empty();
        replace_->setEnabled(hasWork && !shown_->isApplying());
        addToDeleteList_->setEnabled(hasWork);
      }
      break;
  }
  refreshing_ = false;
}

void DuplicatesView::rebuildRows() {
  list_->clear();
  QList<QTreeWidgetItem*> rows;
  for (int index : shown_->visibleGroups()) rows.append(new DuplicateGroupRow(*shown_, index));
  list_->addTopLevelItems(rows);
}

void DuplicatesView::showPathMenu(const QPoint& at) {
  QTreeWidgetItem* item = list_->itemAt(at);
  if (!item || !browser_ || !browser_->tree() || dynamic_cast<DuplicateGroupRow*>(item)) return;
  const auto node =
      SnapshotPaths::node(item->data(0, pathRole).toByteArray().toStdString(), *browser_->tree());
  if (!node) return;
  QMenu menu(this);
  const QPointer<BrowserModel> browser(browser_);
  const NodeId n = *node;
  connect(menu.addAction(QStringLiteral("Reveal in File Manager")), &QAction::triggered, this, [browser, n] {
    if (browser) browser->files().revealInFinder(n);
  });
  connect(menu.addAction(QStringLiteral("Preview")), &QAction::triggered, this, [browser, n] {
    if (!browser) return;
    browser->setPreviewURL({});
    browser->togglePreview(n);
  });
  connect(menu.addAction(QStringLiteral("Copy Path")), &QAction::triggered, this, [browser, n] {
    if (browser) browser->files().copyPath(n);
  });
  menu.exec(list_->viewport()->mapToGlobal(at));
}

}  // namespace tallyfox
