#include "views/BrowserView.h"

#include "model/BrowserCommands.h"
#include "model/OutsideModel.h"
#include "model/PartialScans.h"
#include "views/OutsideViews.h"

#include "views/Breadcrumbs.h"
#include "views/ChartListSplitter.h"
#include "views/CompareBar.h"
#include "views/DeleteListViews.h"
#include "views/DuplicatesView.h"
#include "views/EntryList.h"
#include "views/FilterField.h"
#include "views/HistoryStrip.h"
#include "views/Icons.h"
#include "views/ListHeader.h"
#include "views/MessageText.h"
#include "views/Preview.h"
#include "views/ShortcutSheet.h"
#include "views/StatusLine.h"
#include "views/SubtreeViews.h"
#include "views/SunburstView.h"
#include "views/TitleSwitcher.h"

#include "model/AgeFilter.h"
#include "model/DeleteList.h"
#include "model/Duplicates.h"
#include "model/FileTypes.h"
#include "model/LargestFiles.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedLayout>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace tallyfox {

namespace {

QFrame* divider(Qt::Orientation orientation, QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(orientation == Qt::Horizontal ? QFrame::HLine : QFrame::VLine);
  line->setFrameShadow(QFrame::Sunken);
  line->setStyleSheet(QStringLiteral("color: palette(mid);"));
  return line;
}

constexpr QSize viewMinimum(820, 520);
constexpr int chartMinimum = 320;
constexpr int chartInset = 16;
constexpr int listMinimum = ChartListSplitter::listMinimum;

}  // namespace

BrowserView::BrowserView(BrowserModel* browser, QWidget* parent) : QWidget(parent), browser_(browser) {
  setMinimumSize(viewMinimum);
  pages_ = new QStackedLayout(this);
  loadingPage_ = buildLoading();
  failedPage_ = buildFailed();
  browserPage_ = buildBrowser();
  pages_->addWidget(loadingPage_);
  pages_->addWidget(failedPage_);
  pages_->addWidget(browserPage_);

  connect(browser, &BrowserModel::stateChanged, this, &BrowserView::showState);
  connect(browser, &BrowserModel::isFilteringChanged, this, &BrowserView::showFiltering);
  connect(browser, &BrowserModel::showHelpChanged, this, &BrowserView::showHelp);
  connect(&browser->deleteList(), &DeleteList::showingDeleteListChanged, this, &BrowserView::showDeleteList);
  preview_ = new PreviewController(browser, this);
  showState();
  showFiltering();
}

QWidget* BrowserView::buildLoading() {
  auto* page = new QWidget(this);
  progress_ = new QProgressBar(page);
  progress_->setRange(0, 1000);
  progress_->setTextVisible(false);
  progress_->setFixedWidth(240);
  reading_ = new QLabel(page);
  QPalette dim = reading_->palette();
  QColor text = dim.color(QPalette::WindowText);
  text.setAlphaF(0.6f);
  dim.setColor(QPalette::WindowText, text);
  reading_->setPalette(dim);
  reading_->setAlignment(Qt::AlignCenter);
  auto* column = new QVBoxLayout(page);
  column->addStretch();
  column->addWidget(progress_, 0, Qt::AlignHCenter);
  column->addWidget(reading_, 0, Qt::AlignHCenter);
  column->addStretch();
  return page;
}

QWidget* BrowserView::buildFailed() {
  auto* page = new QWidget(this);
  auto* icon = new QLabel(page);
  icon->setPixmap(Icons::icon(Icons::Symbol::warning).pixmap(QSize(48, 48), devicePixelRatioF()));
  failedTitle_ = new QLabel(QStringLiteral("Couldn't open snapshot"), page);
  QFont titleFont = failedTitle_->font();
  titleFont.setBold(true);
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
  failedTitle_->setFont(titleFont);
  failedMessage_ = new MessageText(page);
  failedMessage_->setTextAlignment(Qt::AlignHCenter);
  failedMessage_->setMaximumWidth(520);
  auto* column = new QVBoxLayout(page);
  column->addStretch();
  column->addWidget(icon, 0, Qt::AlignHCenter);
  column->addSpacing(8);
  column->addWidget(failedTitle_, 0, Qt::AlignHCenter);
  column->addWidget(failedMessage_, 0, Qt::AlignHCenter);
  column->addStretch();
  return page;
}

QWidget* BrowserView::buildBrowser() {
  auto* page = new QWidget(this);
  breadcrumbs_ = new Breadcrumbs(browser_, page);
  chart_ = new SunburstView(browser_, page);
  list_ = new EntryList(browser_, page);
  filter_ = new FilterField(browser_, page);
  status_ = new StatusLine(browser_, page);
  connect(filter_, &FilterField::focusListRequested, list_,
          [this] { list_->setFocus(Qt::OtherFocusReason); });
  connect(browser_, &BrowserModel::filterRequested, filter_,
          [this] { filter_->setFocus(Qt::OtherFocusReason); });

  auto* chartBox = new QWidget(page);
  auto* chartLayout = new QVBoxLayout(chartBox);
  chartLayout->setContentsMargins(chartInset, chartInset, chartInset, chartInset);
  chartLayout->addWidget(chart_);
  chartBox->setMinimumWidth(chartMinimum + 2 * chartInset);
  chartBox->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  chartBox_ = chartBox;

  auto* listColumn = new QWidget(page);
  listColumn->setMinimumWidth(listMinimum);
  listColumn_ = listColumn;
  listColumn->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
  auto* listLayout = new QVBoxLayout(listColumn);
  listLayout->setContentsMargins(0, 0, 0, 0);
  listLayout->setSpacing(0);
  auto* filterBox = new QWidget(listColumn);
  auto* filterLayout = new QHBoxLayout(filterBox);
  filterLayout->setContentsMargins(8, 6, 8, 6);
  filterLayout->setSpacing(6);
  filterLayout->addWidget(filter_, 1);
  ageControls_ = new AgeControls(browser_, filterBox);
  filterLayout->addWidget(ageControls_);
  // A chosen age holds from folder to folder, and the bar stays to say so.
  connect(&AgeFilter::of(*browser_), &AgeFilter::choiceChanged, this, &BrowserView::showFiltering);
  listLayout->addWidget(filterBox);
  header_ = new ListHeader(browser_, list_, listColumn);
  listLayout->addWidget(header_);
  listLayout->addWidget(list_, 1);
  listLayout->addWidget(new NotScannedSection(browser_, listColumn));
  listLayout->addWidget(new GoneSection(browser_, listColumn));
  filterBox_ = filterBox;

  splitter_ = new ChartListSplitter(chartBox, listColumn, page);
  chartAndList_ = splitter_;

  auto* column = new QVBoxLayout(page);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  auto* top = new QHBoxLayout;
  top->setContentsMargins(4, 0, 0, 0);
  top->setSpacing(0);
  auto* switcher = new TitleSwitcher(browser_, page);
  top->addWidget(switcher);
  top->addWidget(breadcrumbs_, 1);
  top->addWidget(buildRescanButton(page));
  // Tab goes along the window as it reads: the bar above, the chart, then the list.
  QWidget::setTabOrder(switcher, breadcrumbs_);
  QWidget::setTabOrder(breadcrumbs_, rescanButton_);
  QWidget::setTabOrder(rescanButton_, chart_);
  QWidget::setTabOrder(chart_, list_);
  column->addLayout(top);
  column->addWidget(divider(Qt::Horizontal, page));
  centre_ = new QStackedWidget(page);
  centre_->addWidget(chartAndList_);
  for (auto& bars : bars_) {
    bars = new QVBoxLayout;
    bars->setContentsMargins(0, 0, 0, 0);
    bars->setSpacing(0);
  }
  // The bars stand in the list column, below the list, in this order.
  for (auto& bars : bars_) listLayout->addLayout(bars);
  column->addWidget(centre_, 1);
  // Across the whole width, under whatever the centre shows: the folder's size over time.
  historyStrip_ = new HistoryStrip(browser_, page);
  column->addWidget(historyStrip_);
  column->addWidget(divider(Qt::Horizontal, page));
  column->addWidget(status_);
  addBar(BarSlot::compare, new CompareBar(browser_, listColumn));
  deleteListBar_ = new DeleteListBar(browser_, listColumn);
  addBar(BarSlot::deleteList, deleteListBar_);
  trashResult_ = new TrashResultRow(browser_, listColumn);
  addBar(BarSlot::result, trashResult_);
  addBar(BarSlot::scanProgress, new AddScanProgress(browser_, listColumn));
  duplicatesView_ = new DuplicatesView(browser_, page);
  addCentre(duplicatesView_);
  outsideView_ = new OutsideView(browser_, page);
  addCentre(outsideView_);
  connect(&browser_->duplicates(), &Duplicates::stateChanged, this, &BrowserView::showCentreForState);
  largestFilesView_ = new LargestFilesView(browser_, page);
  addCentre(largestFilesView_);
  fileTypesView_ = new FileTypesView(browser_, page);
  addCentre(fileTypesView_);
  addBar(BarSlot::compare, new FileTypeBar(browser_, listColumn));
  connect(&browser_->largestFiles(), &LargestFiles::openChanged, this, &BrowserView::showCentreForState);
  connect(&browser_->fileTypes(), &FileTypes::openChanged, this, &BrowserView::showCentreForState);
  connect(&browser_->outside(), &OutsideModel::outsidePathChanged, this, &BrowserView::showCentreForState);
  return page;
}

QWidget* BrowserView::buildRescanButton(QWidget* parent) {
  auto* rescan = new QToolButton(parent);
  rescan->setAutoRaise(true);
  rescan->setIcon(
      QIcon::fromTheme(QStringLiteral("view-refresh"), style()->standardIcon(QStyle::SP_BrowserReload)));
  rescan->setToolTip(QStringLiteral("Rescan this folder into the snapshot (Ctrl+Shift+R)"));
  rescan->setAccessibleName(QStringLiteral("Rescan"));
  rescan->setFocusPolicy(Qt::TabFocus);
  const BrowserCommand* command = BrowserCommands::find(QStringLiteral("rescan"));
  connect(rescan, &QToolButton::clicked, this, [this, command] {
    if (browser_ && command) BrowserCommands::run(*command, *browser_);
  });
  auto refresh = [this, rescan, command] {
    rescan->setEnabled(browser_ && command && command->isEnabled(*browser_));
  };
  connect(browser_, &BrowserModel::treeChanged, rescan, refresh);
  connect(&browser_->partialScans(), &PartialScans::addingScanPathChanged, rescan, refresh);
  refresh();
  rescanButton_ = rescan;
  return rescan;
}

void BrowserView::showCentreForState() {
  if (!browser_) return;
  // The duplicates, the largest files and the file types take the window while open; the outside view stands
  // in for the snapshot while a folder outside it is shown.
  QWidget* wanted = browser_->duplicates().isOpen()     ? duplicatesView_
                    : browser_->largestFiles().isOpen() ? largestFilesView_
                    : browser_->fileTypes().isOpen()    ? fileTypesView_
                    : browser_->outside().isShown()     ? outsideView_
                                                        : chartAndList_;
  if (currentCentre() == wanted) return;
  centre_->setCurrentWidget(wanted);
  if (wanted == chartAndList_)
    list_->setFocus();
  else
    wanted->setFocus();
}

void BrowserView::limitMinimumSize(QSize most) {
  // Back to the full minimums first, to learn what the whole page needs with them.
  chart_->setMinimumSize(chartMinimum, chartMinimum);
  chartBox_->setMinimumWidth(chartMinimum + 2 * chartInset);
  listColumn_->setMinimumWidth(listMinimum);
  const QSize needed = browserPage_->layout()->totalMinimumSize();
  const double fx = std::min(1.0, double(most.width()) / std::max(1, needed.width()));
  const double fy = std::min(1.0, double(most.height()) / std::max(1, needed.height()));
  if (fx < 1 || fy < 1) {
    // Shared out in proportion, so that neither the chart nor the list vanishes.
    chart_->setMinimumSize(int(chartMinimum * fx), int(chartMinimum * fy));
    chartBox_->setMinimumWidth(int((chartMinimum + 2 * chartInset) * fx));
    listColumn_->setMinimumWidth(int(listMinimum * fx));
  }
  setMinimumSize(viewMinimum.boundedTo(most));
}

void BrowserView::addCentre(QWidget* view) {
  centre_->addWidget(view);
}

void BrowserView::showCentre(QWidget* view) {
  if (centre_->indexOf(view) < 0) addCentre(view);
  centre_->setCurrentWidget(view);
}

void BrowserView::showChartAndList() {
  centre_->setCurrentWidget(chartAndList_);
}

QWidget* BrowserView::currentCentre() const {
  return centre_->currentWidget();
}

void BrowserView::addBar(BarSlot slot, QWidget* bar) {
  bars_[int(slot)]->addWidget(bar);
}

void BrowserView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (browser_) browser_->load();
}

void BrowserView::showState() {
  if (!browser_) return;
  const LoadState& state = browser_->state();
  switch (state.kind) {
    case LoadState::Kind::loading: {
      progress_->setValue(int(std::clamp(state.fraction, 0.0, 1.0) * 1000));
      const auto& file = browser_->fileURL();
      reading_->setText(
          QStringLiteral("Reading ") +
          (file ? QString::fromStdString(file->filename().string()) : QStringLiteral("snapshot")) +
          QStringLiteral("…"));
      pages_->setCurrentWidget(loadingPage_);
      break;
    }
    case LoadState::Kind::failed:
      failedMessage_->setText(state.message);
      pages_->setCurrentWidget(failedPage_);
      break;
    case LoadState::Kind::ready: {
      const bool hadFocus = hasFocus() || !focusWidget();
      pages_->setCurrentWidget(browserPage_);
      if (hadFocus || isActiveWindow()) list_->setFocus(Qt::OtherFocusReason);
      break;
    }
  }
}

void BrowserView::showFiltering() {
  if (!browser_) return;
  const bool filtering = browser_->isFiltering();
  filterBox_->setVisible(filtering || AgeFilter::of(*browser_).isSet());
  if (filtering) {
    filter_->setFocus(Qt::OtherFocusReason);
    filter_->selectAll();
  } else if (filter_->hasFocus() || !list_->hasFocus()) {
    list_->setFocus(Qt::OtherFocusReason);
  }
}

void BrowserView::showHelp() {
  if (!browser_) return;
  if (!browser_->showHelp()) {
    if (sheet_) sheet_->close();
    return;
  }
  if (!sheet_) {
    // Over the whole window, menu bar included: the sheet is what the window is about now.
    sheet_ = new ShortcutSheet(window());
    connect(sheet_, &ShortcutSheet::closed, this, [this] {
      if (browser_) browser_->setShowHelp(false);
      if (isShowingBrowser()) list_->setFocus(Qt::OtherFocusReason);
    });
  }
  sheet_->show();
  sheet_->raise();
  sheet_->doneButton()->setFocus(Qt::OtherFocusReason);
}

void BrowserView::showDeleteList() {
  if (!browser_) return;
  if (!browser_->deleteList().showingDeleteList()) {
    if (deleteListDialog_) deleteListDialog_->close();
    return;
  }
  if (!deleteListDialog_) {
    deleteListDialog_ = new DeleteListDialog(browser_, window());
    deleteListDialog_->setAttribute(Qt::WA_DeleteOnClose);
    connect(deleteListDialog_, &QDialog::finished, this, [this] {
      if (browser_) browser_->deleteList().setShowingDeleteList(false);
      if (isShowingBrowser()) list_->setFocus(Qt::OtherFocusReason);
    });
  }
  deleteListDialog_->open();
}

DeleteListDialog* BrowserView::deleteListDialog() const {
  return deleteListDialog_;
}

ShortcutSheet* BrowserView::shortcutSheet() const {
  return sheet_;
}
QString BrowserView::loadingText() const {
  return reading_->text();
}
QString BrowserView::failureTitle() const {
  return failedTitle_->text();
}
QString BrowserView::failureMessage() const {
  return failedMessage_->text();
}
bool BrowserView::isShowingBrowser() const {
  return pages_->currentWidget() == browserPage_;
}

}  // namespace tallyfox
