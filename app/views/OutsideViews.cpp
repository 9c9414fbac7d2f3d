#include "views/OutsideViews.h"

#include "model/Format.h"
#include "model/PartialScans.h"
#include "views/Icons.h"

#include <tallyfox/SnapshotPaths.h>

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace tallyfox {

namespace {

using Relation = OutsideEntry::Relation;

const QColor warningOrange(240, 150, 20);

QString nameOf(const std::string& path) {
  return BrowserModel::displayName(QString::fromStdString(path));
}

// One outside row: icon, name and caption, and a file's size at the right.
class OutsideRowDelegate : public QStyledItemDelegate {
 public:
  explicit OutsideRowDelegate(OutsideList* list) : QStyledItemDelegate(list), list_(list) {}

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
    return {200, option.fontMetrics.height() * 2 + 10};
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const auto row = std::size_t(index.row());
    if (row >= list_->entries().size()) return;
    const OutsideEntry& entry = list_->entries()[row];
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    background.icon = QIcon();
    QApplication::style()->drawControl(QStyle::CE_ItemViewItem, &background, painter, list_);

    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = option.palette;
    const QColor text = palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    // Folders the snapshot does not cover are drawn fainter: they are not part of it yet.
    const bool faint = entry.isDirectory && entry.relation == Relation::notScanned && !selected;
    QRect r = option.rect.adjusted(8, 0, -10, 0);
    const int iconSize = 20;
    const QRect iconRect(r.left(), r.center().y() - iconSize / 2, iconSize, iconSize);
    const Icons::Symbol symbol = entry.isDirectory ? Icons::Symbol::folder : Icons::Symbol::file;
    painter->save();
    if (faint) painter->setOpacity(0.55);
    Icons::icon(symbol).paint(painter, iconRect);
    painter->restore();
    r.setLeft(iconRect.right() + 8);

    if (entry.fileSize) {
      const QString size = Format::bytes(*entry.fileSize);
      painter->setPen(text);
      painter->drawText(r, Qt::AlignRight | Qt::AlignVCenter, size);
      r.setRight(r.right() - option.fontMetrics.horizontalAdvance(size) - 12);
    }
    const int lineHeight = option.fontMetrics.height();
    const QRect nameRect(r.left(), r.center().y() - lineHeight, r.width(), lineHeight);
    const QRect captionRect(r.left(), r.center().y(), r.width(), lineHeight);
    QColor nameColor = text;
    if (faint) nameColor.setAlphaF(0.6f);
    painter->setPen(nameColor);
    QFont nameFont = option.font;
    if (entry.relation == Relation::scannedRoot) nameFont.setBold(true);
    painter->setFont(nameFont);
    const QString name = QString::fromStdString(entry.name);
    painter->drawText(nameRect, Qt::AlignLeft | Qt::AlignVCenter,
                      QFontMetrics(nameFont).elidedText(name, Qt::ElideMiddle, nameRect.width()));
    QFont small = option.font;
    small.setPointSizeF(small.pointSizeF() * 0.85);
    painter->setFont(small);
    QColor caption = text;
    caption.setAlphaF(selected ? 0.85f : 0.55f);
    painter->setPen(caption);
    painter->drawText(captionRect, Qt::AlignLeft | Qt::AlignVCenter, OutsideList::caption(entry.relation));
  }

 private:
  OutsideList* list_;
};

}  // namespace

// ---- OutsideList

OutsideList::OutsideList(BrowserModel* browser, QWidget* parent)
    : QListWidget(parent),
      browser_(browser),
      scanAndAdd_(new QPushButton(QStringLiteral("Scan && Add"), viewport())) {
  setItemDelegate(new OutsideRowDelegate(this));
  setMouseTracking(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformItemSizes(true);
  setFrameShape(QFrame::NoFrame);
  scanAndAdd_->hide();
  scanAndAdd_->setFocusPolicy(Qt::NoFocus);
  scanAndAdd_->setToolTip(QStringLiteral("Scan this folder and add it to the snapshot"));
  connect(scanAndAdd_, &QPushButton::clicked, this, [this] {
    if (const auto entry = buttonEntry(); entry && browser_) browser_->partialScans().scanAndAdd(entry->path);
  });
  connect(&browser->partialScans(), &PartialScans::addingScanPathChanged, this, &OutsideList::placeButton);
  connect(this, &QListWidget::itemSelectionChanged, this, &OutsideList::placeButton);
  connect(this, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    const int row = this->row(item);
    if (row >= 0 && std::size_t(row) < entries_.size()) emit entryChosen(entries_[std::size_t(row)]);
  });
  connect(this, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    const int row = this->row(item);
    if (row >= 0 && std::size_t(row) < entries_.size()) emit entryOpened(entries_[std::size_t(row)]);
  });
}

QString OutsideList::caption(Relation relation) {
  switch (relation) {
    case Relation::scannedRoot:
      return QStringLiteral("in this snapshot");
    case Relation::containsScan:
      return QStringLiteral("contains the snapshot");
    case Relation::notScanned:
      break;
  }
  return QStringLiteral("not scanned");
}

void OutsideList::setEntries(const std::vector<OutsideEntry>& entries) {
  const QSignalBlocker quiet(this);
  entries_ = entries;
  hoveredRow_ = -1;
  clear();
  for (const OutsideEntry& entry : entries_) {
    auto* item = new QListWidgetItem(QString::fromStdString(entry.name), this);
    item->setToolTip(QString::fromStdString(entry.path));
    item->setData(Qt::AccessibleDescriptionRole, caption(entry.relation));
  }
  placeButton();
}

void OutsideList::setSelectedPath(const std::optional<std::string>& path) {
  const QSignalBlocker quiet(this);
  int found = -1;
  for (std::size_t k = 0; path && k < entries_.size(); ++k)
    if (entries_[k].path == *path) found = int(k);
  if (found < 0) {
    clearSelection();
  } else {
    setCurrentRow(found);
    scrollToItem(item(found));
  }
  placeButton();
}

std::optional<OutsideEntry> OutsideList::selectedEntry() const {
  const int row = currentRow();
  if (row < 0 || std::size_t(row) >= entries_.size() || !item(row)->isSelected()) return std::nullopt;
  return entries_[std::size_t(row)];
}

std::optional<OutsideEntry> OutsideList::buttonEntry() const {
  const auto addable = [&](int row) {
    return row >= 0 && std::size_t(row) < entries_.size() && entries_[std::size_t(row)].isDirectory &&
           entries_[std::size_t(row)].relation == Relation::notScanned;
  };
  if (addable(hoveredRow_)) return entries_[std::size_t(hoveredRow_)];
  const std::optional<OutsideEntry> selected = selectedEntry();
  if (selected && selected->isDirectory && selected->relation == Relation::notScanned) return selected;
  return std::nullopt;
}

void OutsideList::placeButton() {
  const std::optional<OutsideEntry> entry = buttonEntry();
  int row = -1;
  for (std::size_t k = 0; entry && k < entries_.size(); ++k)
    if (entries_[k].path == entry->path) row = int(k);
  if (row < 0) {
    scanAndAdd_->hide();
    return;
  }
  const QRect rect = visualItemRect(item(row));
  const QSize size = scanAndAdd_->sizeHint();
  scanAndAdd_->setGeometry(rect.right() - size.width() - 8, rect.center().y() - size.height() / 2,
                           size.width(), size.height());
  scanAndAdd_->setEnabled(browser_ && browser_->partialScans().canScan());
  scanAndAdd_->show();
}

void OutsideList::mouseMoveEvent(QMouseEvent* event) {
  QListWidget::mouseMoveEvent(event);
  const QPoint at = viewport()->mapFromGlobal(QCursor::pos());
  const int row = indexAt(at).row();
  if (row != hoveredRow_ && !scanAndAdd_->geometry().contains(at)) {
    hoveredRow_ = row;
    placeButton();
  }
}

void OutsideList::leaveEvent(QEvent* event) {
  QListWidget::leaveEvent(event);
  if (scanAndAdd_->underMouse()) return;
  hoveredRow_ = -1;
  placeButton();
}

void OutsideList::resizeEvent(QResizeEvent* event) {
  QListWidget::resizeEvent(event);
  placeButton();
}

void OutsideList::scrollContentsBy(int dx, int dy) {
  QListWidget::scrollContentsBy(dx, dy);
  placeButton();
}

// ---- AddScanProgress

AddScanProgress::AddScanProgress(BrowserModel* browser, QWidget* parent)
    : QWidget(parent),
      browser_(browser),
      running_(new QWidget(this)),
      label_(new QLabel(running_)),
      speed_(new QComboBox(running_)),
      failed_(new QWidget(this)),
      error_(new QLabel(failed_)) {
  auto* spinner = new QProgressBar(running_);
  spinner->setRange(0, 0);
  spinner->setTextVisible(false);
  spinner->setFixedSize(48, 10);
  for (ScanSpeed speed : allScanSpeeds) speed_->addItem(QString::fromStdString(title(speed)), int(speed));
  speed_->setAccessibleName(QStringLiteral("Speed"));
  auto* runningRow = new QHBoxLayout(running_);
  runningRow->setContentsMargins(10, 4, 10, 4);
  runningRow->addWidget(spinner);
  runningRow->addWidget(label_, 1);
  runningRow->addWidget(new QLabel(QStringLiteral("Speed"), running_));
  runningRow->addWidget(speed_);
  connect(speed_, &QComboBox::activated, this, [this](int index) {
    if (browser_) browser_->partialScans().setAddingScanSpeed(ScanSpeed(speed_->itemData(index).toInt()));
  });

  auto* warning = new QLabel(failed_);
  warning->setPixmap(
      Icons::tinted(Icons::Symbol::warning, QSize(14, 14), warningOrange, devicePixelRatioF()));
  error_->setWordWrap(true);
  error_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QPalette orange = error_->palette();
  orange.setColor(QPalette::WindowText, warningOrange);
  error_->setPalette(orange);
  auto* failedRow = new QHBoxLayout(failed_);
  failedRow->setContentsMargins(10, 4, 10, 4);
  failedRow->addWidget(warning, 0, Qt::AlignTop);
  failedRow->addWidget(error_, 1);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(running_);
  column->addWidget(failed_);
  PartialScans& scans = browser->partialScans();
  for (auto signal : {&PartialScans::addingScanPathChanged, &PartialScans::addingScanEntriesChanged,
                      &PartialScans::addingScanErrorChanged, &PartialScans::addingScanSpeedChanged})
    connect(&scans, signal, this, &AddScanProgress::refresh);
  refresh();
}

QString AddScanProgress::text() const {
  return running_->isVisibleTo(this) ? label_->text() : QString();
}

QString AddScanProgress::errorText() const {
  return failed_->isVisibleTo(this) ? error_->text() : QString();
}

void AddScanProgress::refresh() {
  if (!browser_) return;
  const PartialScans& scans = browser_->partialScans();
  const auto& path = scans.addingScanPath();
  running_->setVisible(path.has_value());
  if (path)
    label_->setText(QStringLiteral("Scanning ") + nameOf(*path) + QStringLiteral("… ") +
                    QLocale().toString(qulonglong(scans.addingScanEntries())) + QStringLiteral(" entries"));
  speed_->setCurrentIndex(speed_->findData(int(scans.addingScanSpeed())));
  const auto& error = scans.addingScanError();
  failed_->setVisible(!path && error.has_value());
  if (error) error_->setText(*error);
  setVisible(running_->isVisibleTo(this) || failed_->isVisibleTo(this));
}

// ---- OutsideView

OutsideView::OutsideView(BrowserModel* browser, QWidget* parent)
    : QWidget(parent),
      browser_(browser),
      explanation_(new QLabel(this)),
      scanRest_(new QPushButton(this)),
      rescanAll_(new QPushButton(this)),
      backInside_(new QPushButton(this)),
      list_(new OutsideList(browser, this)) {
  explanation_->setWordWrap(true);
  QFont bold = scanRest_->font();
  bold.setBold(true);
  scanRest_->setFont(bold);
  scanRest_->setDefault(true);
  rescanAll_->setToolTip(
      QStringLiteral("A fresh scan of the whole folder, including the part already in this snapshot"));
  backInside_->setFlat(true);
  backInside_->setCursor(Qt::PointingHandCursor);
  QPalette link = backInside_->palette();
  link.setColor(QPalette::ButtonText, link.color(QPalette::Link));
  backInside_->setPalette(link);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(scanRest_);
  buttons->addWidget(rescanAll_);
  buttons->addStretch();
  buttons->addWidget(backInside_);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(16, 12, 16, 0);
  column->addWidget(explanation_);
  column->addLayout(buttons);
  column->addWidget(new AddScanProgress(browser, this));
  column->addWidget(list_, 1);

  OutsideModel& outside = browser->outside();
  connect(scanRest_, &QPushButton::clicked, this, [this] {
    if (browser_) browser_->partialScans().scanRestOfOutside();
  });
  connect(rescanAll_, &QPushButton::clicked, this, [this] {
    if (browser_) browser_->partialScans().rescanAllOfOutside();
  });
  connect(backInside_, &QPushButton::clicked, this, [this] {
    if (browser_) browser_->outside().backInside();
  });
  connect(list_, &OutsideList::entryChosen, this, [this](const OutsideEntry& entry) {
    if (browser_) browser_->outside().setOutsideSelection(entry.path);
  });
  connect(list_, &OutsideList::entryOpened, this, [this](const OutsideEntry& entry) {
    if (browser_) browser_->outside().openOutside(entry);
  });
  connect(&outside, &OutsideModel::outsidePathChanged, this, &OutsideView::refreshTexts);
  connect(&outside, &OutsideModel::entriesChanged, this, [this] {
    if (!browser_) return;
    list_->setEntries(browser_->outside().outsideEntries());
    list_->setSelectedPath(browser_->outside().outsideSelection());
  });
  connect(&outside, &OutsideModel::outsideSelectionChanged, this, [this] {
    if (browser_) list_->setSelectedPath(browser_->outside().outsideSelection());
  });
  connect(&browser->partialScans(), &PartialScans::addingScanPathChanged, this, &OutsideView::refreshEnabled);
  list_->installEventFilter(this);
  setFocusProxy(list_);
  refreshTexts();
}

void OutsideView::refreshTexts() {
  if (!browser_) return;
  const auto& path = browser_->outside().outsidePath();
  const std::string root = browser_->outside().canonicalRoot();
  const QString here = path ? nameOf(*path) : QString();
  const QString rootName = nameOf(root);
  explanation_->setText(
      QStringLiteral("This snapshot covers ") + QString::fromStdString(PathText::abbreviateTilde(root)) +
      QStringLiteral(". Other folders here haven't been scanned; add them with Scan & Add."));
  scanRest_->setText(QStringLiteral("Scan the Rest of ") + here);
  scanRest_->setToolTip(QStringLiteral("Scans everything here except ") + rootName +
                        QStringLiteral(", which this snapshot already has"));
  rescanAll_->setText(QStringLiteral("Rescan All of ") + here);
  backInside_->setText(QStringLiteral("Back into ") + rootName);
  list_->setEntries(browser_->outside().outsideEntries());
  list_->setSelectedPath(browser_->outside().outsideSelection());
  refreshEnabled();
}

void OutsideView::refreshEnabled() {
  if (!browser_) return;
  const bool idle = browser_->partialScans().canScan();
  scanRest_->setEnabled(idle);
  rescanAll_->setEnabled(idle);
}

bool OutsideView::eventFilter(QObject* watched, QEvent* event) {
  if (watched != list_ || event->type() != QEvent::KeyPress || !browser_)
    return QWidget::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
  OutsideModel& outside = browser_->outside();
  switch (key->key()) {
    case Qt::Key_Down:
      outside.moveOutside(1);
      return true;
    case Qt::Key_Up:
      outside.moveOutside(-1);
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (const auto entry = list_->selectedEntry()) outside.openOutside(*entry);
      return true;
    case Qt::Key_Escape:
      browser_->goUp();
      return true;
    default:
      return false;
  }
}

// ---- NotScannedSection

NotScannedSection::NotScannedSection(BrowserModel* browser, QWidget* parent)
    : QWidget(parent),
      browser_(browser),
      heading_(new QLabel(this)),
      scanRest_(new QPushButton(this)),
      list_(new OutsideList(browser, this)) {
  QFont bold = heading_->font();
  bold.setBold(true);
  heading_->setFont(bold);
  auto* top = new QHBoxLayout;
  top->setContentsMargins(10, 6, 10, 2);
  top->addWidget(heading_, 1);
  top->addWidget(scanRest_);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addLayout(top);
  column->addWidget(list_);
  connect(scanRest_, &QPushButton::clicked, this, [this] {
    if (browser_) browser_->partialScans().scanRest(browser_->current());
  });
  connect(&browser->outside(), &OutsideModel::unscannedChanged, this, &NotScannedSection::refresh);
  connect(&browser->outside(), &OutsideModel::outsidePathChanged, this, &NotScannedSection::refresh);
  connect(&browser->partialScans(), &PartialScans::addingScanPathChanged, this, &NotScannedSection::refresh);
  refresh();
}

void NotScannedSection::refresh() {
  if (!browser_) return;
  const auto& entries = browser_->outside().unscannedEntries();
  const DiskTreePtr& tree = browser_->tree();
  const bool shown = tree && !entries.empty() && !browser_->outside().isShown();
  setVisible(shown);
  if (!shown) return;
  heading_->setText(QStringLiteral("Not in this snapshot (") +
                    QLocale().toString(qulonglong(entries.size())) + QStringLiteral(")"));
  scanRest_->setText(QStringLiteral("Scan the Rest of ") +
                     nameOf(SnapshotPaths::canonical(tree->filePath(browser_->current()))));
  scanRest_->setEnabled(browser_->partialScans().canScan());
  list_->setEntries(entries);
  const int row = list_->sizeHintForRow(0);
  list_->setFixedHeight(std::min<int>(5, int(entries.size())) * std::max(row, 1) + 2);
}

}  // namespace tallyfox
