#include "views/WelcomeView.h"

#include "model/DocumentController.h"
#include "model/Format.h"
#include "views/EntryMenus.h"
#include "views/Icons.h"
#include "views/SnapshotsFolder.h"

#include <tallyfox/SnapshotFile.h>
#include "model/Settings.h"

#include <algorithm>

#include <QButtonGroup>
#include <QContextMenuEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedLayout>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <exception>

namespace tallyfox {

namespace {

// The start window lists this many snapshots, newest first.
constexpr std::size_t recentsShownAtMost = 12;

QColor dimmed(const QColor& color, float alpha = 0.6f) {
  QColor c = color;
  c.setAlphaF(alpha);
  return c;
}

QLabel* heading(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont f = label->font();
  f.setBold(true);
  f.setPointSizeF(f.pointSizeF() * 1.2);
  label->setFont(f);
  return label;
}

QLabel* secondaryLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, dimmed(p.color(QPalette::WindowText)));
  label->setPalette(p);
  return label;
}

}  // namespace

// ---- TargetButton

TargetButton::TargetButton(const QIcon& icon, const QString& title, const QString& detail, QWidget* parent)
    : QAbstractButton(parent), detail_(detail) {
  setIcon(icon);
  setText(title);
  setIconSize(QSize(28, 28));
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::StrongFocus);
  setAccessibleName(title);
  setAccessibleDescription(detail);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize TargetButton::sizeHint() const {
  const QFontMetrics m(font());
  return {260, std::max(iconSize().height(), 2 * m.height() + 2) + 14};
}

void TargetButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  QColor fill = palette().color(QPalette::Button);
  if (hovered_ || isDown()) fill = palette().color(QPalette::Highlight).lighter(isDown() ? 150 : 175);
  painter.setPen(QPen(palette().color(hasFocus() ? QPalette::Highlight : QPalette::Mid), 1));
  painter.setBrush(fill);
  painter.drawRoundedRect(r, 8, 8);
  const QSize is = iconSize();
  const QRect iconRect(12, (height() - is.height()) / 2, is.width(), is.height());
  icon().paint(&painter, iconRect);
  QFont bold = font();
  bold.setBold(true);
  const QFontMetrics m(font());
  const int x = iconRect.right() + 12;
  const int top = (height() - 2 * m.height()) / 2;
  painter.setFont(bold);
  painter.setPen(palette().color(QPalette::ButtonText));
  painter.drawText(QRect(x, top, width() - x - 8, m.height()), Qt::AlignLeft | Qt::AlignVCenter, text());
  painter.setFont(font());
  painter.setPen(dimmed(palette().color(QPalette::ButtonText)));
  painter.drawText(QRect(x, top + m.height(), width() - x - 8, m.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   m.elidedText(detail_, Qt::ElideMiddle, width() - x - 8));
}

void TargetButton::enterEvent(QEnterEvent* event) {
  hovered_ = true;
  update();
  QAbstractButton::enterEvent(event);
}

void TargetButton::leaveEvent(QEvent* event) {
  hovered_ = false;
  update();
  QAbstractButton::leaveEvent(event);
}

// ---- SpeedPicker

SpeedPicker::SpeedPicker(QWidget* parent) : QWidget(parent), group_(new QButtonGroup(this)) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  for (ScanSpeed speed : allScanSpeeds) {
    auto* segment = new QToolButton(this);
    segment->setText(QString::fromStdString(title(speed)));
    segment->setCheckable(true);
    segment->setAutoRaise(false);
    segment->setMinimumWidth(76);
    segment->setAccessibleName(segment->text());
    group_->addButton(segment, int(speed));
    row->addWidget(segment);
  }
  group_->setExclusive(true);
  group_->button(int(speed_))->setChecked(true);
  connect(group_, &QButtonGroup::idClicked, this, [this](int id) {
    const auto speed = ScanSpeed(id);
    if (speed == speed_) return;
    speed_ = speed;
    emit picked(speed);
  });
}

void SpeedPicker::setSpeed(ScanSpeed speed) {
  speed_ = speed;
  if (QAbstractButton* b = group_->button(int(speed))) b->setChecked(true);
}

void SpeedPicker::pick(ScanSpeed speed) {
  if (QAbstractButton* b = group_->button(int(speed))) b->click();
}

// ---- Spinner

Spinner::Spinner(QWidget* parent) : QWidget(parent) {
  setFixedSize(20, 20);
  timer_.setInterval(80);
  connect(&timer_, &QTimer::timeout, this, [this] {
    step_ = (step_ + 1) % 12;
    update();
  });
}

void Spinner::showEvent(QShowEvent* event) {
  timer_.start();
  QWidget::showEvent(event);
}

void Spinner::hideEvent(QHideEvent* event) {
  timer_.stop();
  QWidget::hideEvent(event);
}

void Spinner::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.translate(width() / 2.0, height() / 2.0);
  const QColor ink = palette().color(QPalette::WindowText);
  for (int i = 0; i < 12; ++i) {
    const int age = (step_ - i + 12) % 12;
    painter.setPen(QPen(dimmed(ink, float(1.0 - age / 13.0)), 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(0, -5), QPointF(0, -9));
    painter.rotate(30);
  }
}

// ---- RecentRow

RecentRow::RecentRow(RecentSnapshot recent, QString time, Desktop desktop, QWidget* parent)
    : QWidget(parent), recent_(std::move(recent)), time_(std::move(time)), desktop_(std::move(desktop)) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::StrongFocus);
  setToolTip(QString::fromStdString(recent_.url.string()));
  setAccessibleName(time_.isEmpty() ? recent_.name() : recent_.name() + QStringLiteral(", ") + time_);
  setAccessibleDescription(recent_.detail());
  setMinimumHeight(QFontMetrics(font()).height() * 2 + 12);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void RecentRow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  if (hovered_ || hasFocus()) {
    painter.setPen(hasFocus() ? QPen(palette().color(QPalette::Highlight), 1.5) : QPen(Qt::NoPen));
    painter.setBrush(dimmed(palette().color(QPalette::Highlight), 0.12f));
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 6, 6);
  }
  const Icons::Symbol symbol = recent_.isVok ? Icons::Symbol::vokSnapshot : Icons::Symbol::snapshot;
  const QRect iconRect(8, (height() - 22) / 2, 22, 22);
  Icons::icon(symbol).paint(&painter, iconRect);
  const QFontMetrics m(font());
  const int x = iconRect.right() + 10;
  const int top = (height() - 2 * m.height()) / 2;
  QFont bold = font();
  bold.setBold(true);
  // The time keeps its place at the right; the name gives way to it.
  const int timeWidth = time_.isEmpty() ? 0 : m.horizontalAdvance(time_) + 8;
  painter.setFont(font());
  painter.setPen(dimmed(palette().color(QPalette::WindowText)));
  painter.drawText(QRect(width() - 6 - timeWidth, top, timeWidth, m.height()),
                   Qt::AlignRight | Qt::AlignVCenter, time_);
  painter.setFont(bold);
  painter.setPen(palette().color(QPalette::WindowText));
  const int nameWidth = std::max(0, width() - x - 6 - timeWidth);
  painter.drawText(QRect(x, top, nameWidth, m.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetrics(bold).elidedText(recent_.name(), Qt::ElideMiddle, nameWidth));
  painter.setFont(font());
  painter.setPen(dimmed(palette().color(QPalette::WindowText)));
  painter.drawText(QRect(x, top + m.height(), width() - x - 6, m.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   m.elidedText(recent_.detail(), Qt::ElideRight, width() - x - 6));
}

void RecentRow::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
    emit activated(recent_);
}

void RecentRow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      emit activated(recent_);
      return;
    case Qt::Key_Up:
    case Qt::Key_Down: {
      // The neighbouring row, skipping the day headings between rows.
      const auto rows = parentWidget()->findChildren<RecentRow*>(Qt::FindDirectChildrenOnly);
      const qsizetype at = rows.indexOf(this) + (event->key() == Qt::Key_Down ? 1 : -1);
      if (at >= 0 && at < rows.size()) rows[at]->setFocus(Qt::OtherFocusReason);
      return;
    }
    default:
      QWidget::keyPressEvent(event);
  }
}

void RecentRow::focusInEvent(QFocusEvent* event) {
  for (QWidget* w = parentWidget(); w; w = w->parentWidget())
    if (auto* scroll = qobject_cast<QScrollArea*>(w)) {
      scroll->ensureWidgetVisible(this, 0, 4);
      break;
    }
  update();
  QWidget::focusInEvent(event);
}

void RecentRow::focusOutEvent(QFocusEvent* event) {
  update();
  QWidget::focusOutEvent(event);
}

void RecentRow::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  fillMenu(menu, EntryActions::Menu::recentSnapshot,
           EntryTarget::file(QByteArray::fromStdString(recent_.url.native()), desktop_));
  menu.exec(event->globalPos());
}

void RecentRow::enterEvent(QEnterEvent* event) {
  hovered_ = true;
  update();
  QWidget::enterEvent(event);
}

void RecentRow::leaveEvent(QEvent* event) {
  hovered_ = false;
  update();
  QWidget::leaveEvent(event);
}

// ---- WelcomeView

WelcomeView::WelcomeView(ScanController& scans, DocumentController& documents, Settings& settings,
                         QWidget* parent)
    : QWidget(parent),
      scans_(scans),
      documents_(documents),
      settings_(settings),
      recents_(settings, documents, recentsShownAtMost) {
  auto* leftBox = new QWidget(this);
  left_ = new QStackedLayout(leftBox);
  targetsPage_ = buildTargets();
  progressPage_ = buildProgress();
  left_->addWidget(targetsPage_);
  left_->addWidget(progressPage_);

  auto* folderRow = new QHBoxLayout;
  folder_ = secondaryLabel(QString(), this);
  folder_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* change = new QPushButton(QStringLiteral("Change…"), this);
  connect(change, &QPushButton::clicked, this, &WelcomeView::chooseSnapshotsFolder);
  folderRow->addWidget(folder_, 1);
  folderRow->addWidget(change);

  auto* leftColumn = new QVBoxLayout;
  leftColumn->addWidget(leftBox, 1);
  leftColumn->addSpacing(8);
  leftColumn->addLayout(folderRow);

  auto* leftWidget = new QWidget(this);
  leftWidget->setLayout(leftColumn);
  leftWidget->setMinimumWidth(340);
  leftWidget->setMaximumWidth(420);

  auto* divider = new QFrame(this);
  divider->setFrameShape(QFrame::VLine);
  divider->setStyleSheet(QStringLiteral("color: palette(mid);"));

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(20, 20, 20, 20);
  row->setSpacing(20);
  row->addWidget(leftWidget);
  row->addWidget(divider);
  row->addWidget(buildRecents(), 1);

  tick_.setInterval(1000);
  connect(&tick_, &QTimer::timeout, this, &WelcomeView::tick);
  connect(&scans_, &ScanController::phaseChanged, this, [this] {
    showPhase();
    // Only a scan that ended well leaves a new snapshot behind.
    if (scans_.phase().kind == ScanController::Phase::Kind::idle) recents_.read();
  });
  connect(&scans_, &ScanController::speedOverrideChanged, this,
          [this] { runningSpeed_->setSpeed(scans_.speed()); });
  connect(&recents_, &RecentSnapshotList::changed, this, [this] {
    fillRecents();
    emit recentsShown();
  });
  showPhase();
  // The recent snapshots are read when the view is shown, not here as well.
}

QWidget* WelcomeView::buildTargets() {
  auto* page = new QWidget(this);
  auto* column = new QVBoxLayout(page);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(8);
  column->addWidget(heading(QStringLiteral("Scan something"), page));
  for (const ScanController::Preset& preset : ScanController::presets()) {
    auto* button =
        new TargetButton(Icons::icon(Icons::forSymbolName(preset.symbol)), preset.title, preset.detail, page);
    const QString path = preset.path;
    connect(button, &QAbstractButton::clicked, this, [this, path] { scans_.scan(path); });
    column->addWidget(button);
  }
  auto* choose = new TargetButton(Icons::icon(Icons::Symbol::chooseFolder), QStringLiteral("Choose…"),
                                  QStringLiteral("Any folder"), page);
  connect(choose, &QAbstractButton::clicked, this, &WelcomeView::chooseFolderRequested);
  column->addWidget(choose);
  auto* remote = new TargetButton(Icons::icon(Icons::Symbol::cloud), QStringLiteral("Remote Folder…"),
                                  QStringLiteral("On another machine, over SSH"), page);
  connect(remote, &QAbstractButton::clicked, this, &WelcomeView::remoteFolderRequested);
  column->addWidget(remote);
  auto* administrator =
      new TargetButton(Icons::icon(Icons::Symbol::disk), QStringLiteral("Whole Disk as Administrator…"),
                       QStringLiteral("reads every folder, asks for your password"), page);
  connect(administrator, &QAbstractButton::clicked, this, [this] { scans_.scanAsAdministrator(); });
  column->addWidget(administrator);

  failureBox_ = new QWidget(page);
  auto* failureRow = new QHBoxLayout(failureBox_);
  failureRow->setContentsMargins(0, 4, 0, 4);
  auto* triangle = new QLabel(failureBox_);
  triangle->setPixmap(Icons::bundled(Icons::Symbol::warning).pixmap(QSize(16, 16), devicePixelRatioF()));
  failure_ = new QLabel(failureBox_);
  failure_->setWordWrap(true);
  // Failures quote other programs (ssh, a far host's tfscan): shown as text, never markup.
  failure_->setTextFormat(Qt::PlainText);
  failure_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QPalette red = failure_->palette();
  red.setColor(QPalette::WindowText, QColor(200, 40, 40));
  failure_->setPalette(red);
  failureRow->addWidget(triangle, 0, Qt::AlignTop);
  failureRow->addWidget(failure_, 1);
  column->addWidget(failureBox_);

  column->addSpacing(6);
  auto* speedRow = new QHBoxLayout;
  speedRow->addWidget(new QLabel(QStringLiteral("Speed"), page));
  savedSpeed_ = new SpeedPicker(page);
  speedRow->addWidget(savedSpeed_);
  speedRow->addStretch();
  column->addLayout(speedRow);
  gentleCaption_ = secondaryLabel(QStringLiteral("barely noticeable, ~3× slower"), page);
  column->addWidget(gentleCaption_);
  connect(savedSpeed_, &SpeedPicker::picked, this, [this](ScanSpeed speed) {
    settings_.setScanSpeed(speed);
    gentleCaption_->setVisible(speed == ScanSpeed::gentle);
  });
  column->addStretch();
  return page;
}

QWidget* WelcomeView::buildProgress() {
  auto* page = new QWidget(this);
  auto* column = new QVBoxLayout(page);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(10);

  scanningBox_ = new QWidget(page);
  auto* scanning = new QVBoxLayout(scanningBox_);
  scanning->setContentsMargins(0, 0, 0, 0);
  scanning->setSpacing(10);
  auto* titleRow = new QHBoxLayout;
  titleRow->addWidget(new Spinner(scanningBox_));
  progressTitle_ = heading(QString(), scanningBox_);
  progressTitle_->setWordWrap(true);
  titleRow->addWidget(progressTitle_, 1);
  scanning->addLayout(titleRow);
  progressLine_ = secondaryLabel(QString(), scanningBox_);
  scanning->addWidget(progressLine_);
  runningSpeedRow_ = new QWidget(scanningBox_);
  auto* speedRow = new QHBoxLayout(runningSpeedRow_);
  speedRow->setContentsMargins(0, 0, 0, 0);
  speedRow->addWidget(new QLabel(QStringLiteral("Speed"), runningSpeedRow_));
  runningSpeed_ = new SpeedPicker(runningSpeedRow_);
  runningSpeed_->setToolTip(QStringLiteral("changes take effect right away"));
  speedRow->addWidget(runningSpeed_);
  speedRow->addStretch();
  scanning->addWidget(runningSpeedRow_);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), scanningBox_);
  cancel_ = cancel;
  scanning->addWidget(cancel, 0, Qt::AlignLeft);
  connect(runningSpeed_, &SpeedPicker::picked, this, [this](ScanSpeed speed) { scans_.setSpeed(speed); });
  connect(cancel, &QPushButton::clicked, this, [this] { scans_.cancel(); });

  savingBox_ = new QWidget(page);
  auto* saving = new QHBoxLayout(savingBox_);
  saving->setContentsMargins(0, 0, 0, 0);
  saving->addWidget(new Spinner(savingBox_));
  saving->addWidget(heading(QStringLiteral("Saving snapshot…"), savingBox_), 1);

  column->addWidget(scanningBox_);
  column->addWidget(savingBox_);
  column->addStretch();
  return page;
}

QWidget* WelcomeView::buildRecents() {
  auto* box = new QWidget(this);
  auto* column = new QVBoxLayout(box);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(8);
  column->addWidget(heading(QStringLiteral("Recent"), box));
  auto* scroll = new QScrollArea(box);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* list = new QWidget(scroll);
  recentList_ = new QVBoxLayout(list);
  recentList_->setContentsMargins(0, 0, 6, 0);
  recentList_->setSpacing(2);
  scroll->setWidget(list);
  column->addWidget(scroll, 1);
  box->setMinimumWidth(340);
  return box;
}

void WelcomeView::showEvent(QShowEvent* event) {
  refresh();
  QWidget::showEvent(event);
}

void WelcomeView::refresh() {
  folder_->setText(QStringLiteral("Snapshots save to ") + settings_.snapshotsFolderText());
  const ScanSpeed speed = settings_.scanSpeed();
  savedSpeed_->setSpeed(speed);
  gentleCaption_->setVisible(speed == ScanSpeed::gentle);
  recents_.read();
}

void WelcomeView::showPhase() {
  const ScanController::Phase& phase = scans_.phase();
  using Kind = ScanController::Phase::Kind;
  const bool busy = phase.kind == Kind::scanning || phase.kind == Kind::saving;
  left_->setCurrentWidget(busy ? progressPage_ : targetsPage_);
  scanningBox_->setVisible(phase.kind == Kind::scanning);
  savingBox_->setVisible(phase.kind == Kind::saving);
  failureBox_->setVisible(phase.kind == Kind::failed);
  failure_->setText(phase.kind == Kind::failed ? phase.text : QString());
  if (phase.kind == Kind::scanning) {
    progressTitle_->setText(QStringLiteral("Scanning ") + phase.text);
    runningSpeed_->setSpeed(scans_.speed());
    // A scan in another process (over SSH, as administrator) runs at that side's speed.
    runningSpeedRow_->setVisible(scans_.canChangeSpeed());
    tick();
    tick_.start();
  } else {
    tick_.stop();
  }
}

void WelcomeView::tick() {
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::seconds>(ScanController::Clock::now() - scans_.started());
  progressLine_->setText(QLocale().toString(qulonglong(scans_.entries())) + QStringLiteral(" entries · ") +
                         QString::number(std::max<std::int64_t>(0, elapsed.count())) + QStringLiteral("s"));
}

void WelcomeView::fillRecents() {
  const std::vector<RecentSnapshot>& recents = recents_.recents();
  while (QLayoutItem* item = recentList_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  QWidget* list = recentList_->parentWidget();
  if (recents.empty()) {
    recentList_->addWidget(secondaryLabel(QStringLiteral("No snapshots yet."), list));
    recentList_->addStretch();
    return;
  }
  const QDateTime now = QDateTime::currentDateTime();
  const std::vector<QString> times = RecentSnapshot::times(recents, now);
  bool first = true;
  auto addHeading = [&](const QString& text, const char* name) {
    auto* label = secondaryLabel(text, list);
    label->setObjectName(QString::fromLatin1(name));
    QFont f = label->font();
    f.setBold(true);
    label->setFont(f);
    if (!first) recentList_->addSpacing(6);
    recentList_->addWidget(label);
    first = false;
  };
  auto addRow = [&](std::size_t i) {
    auto* row = new RecentRow(recents[i], times[i], documents_.desktop(), list);
    connect(row, &RecentRow::activated, this,
            [this](const RecentSnapshot& r) { documents_.openDocument(r.url); });
    recentList_->addWidget(row);
  };
  // This computer's snapshots by day; then each other machine's under its name, the host
  // scanned most recently first.
  QString lastHeading;
  QStringList hosts;
  std::vector<std::optional<QString>> hostOf;
  const std::filesystem::path folder = settings_.snapshotsFolder();
  for (const RecentSnapshot& recent : recents) hostOf.push_back(recent.host(folder));
  for (std::size_t i = 0; i < recents.size(); ++i) {
    const RecentSnapshot& recent = recents[i];
    if (hostOf[i]) {
      if (!hosts.contains(*hostOf[i])) hosts << *hostOf[i];
      continue;
    }
    const QString day = recent.dayHeading(now);
    if (day != lastHeading) {
      addHeading(day, "dayHeading");
      lastHeading = day;
    }
    addRow(i);
  }
  for (const QString& host : hosts) {
    addHeading(host, "hostHeading");
    for (std::size_t i = 0; i < recents.size(); ++i)
      if (hostOf[i] == host) addRow(i);
  }
  recentList_->addStretch();
}

void WelcomeView::chooseSnapshotsFolder() {
  if (tallyfox::chooseSnapshotsFolder(settings_, window())) refresh();
}

bool WelcomeView::isShowingProgress() const {
  return left_->currentWidget() == progressPage_ && scanningBox_->isVisibleTo(progressPage_);
}
bool WelcomeView::isShowingSaving() const {
  return left_->currentWidget() == progressPage_ && savingBox_->isVisibleTo(progressPage_);
}
QString WelcomeView::progressTitle() const {
  return progressTitle_->text();
}
QString WelcomeView::progressLine() const {
  return progressLine_->text();
}
QString WelcomeView::failureText() const {
  return failureBox_->isVisibleTo(targetsPage_) ? failure_->text() : QString();
}
QString WelcomeView::folderText() const {
  return folder_->text();
}
QString WelcomeView::speedCaption() const {
  return gentleCaption_->isVisibleTo(targetsPage_) ? gentleCaption_->text() : QString();
}

std::vector<TargetButton*> WelcomeView::targetButtons() const {
  const auto found = targetsPage_->findChildren<TargetButton*>();
  return {found.begin(), found.end()};
}

std::vector<RecentRow*> WelcomeView::recentRows() const {
  const auto found = recentList_->parentWidget()->findChildren<RecentRow*>();
  return {found.begin(), found.end()};
}

QStringList WelcomeView::recentHeadings() const {
  QStringList headings;
  for (int i = 0; i < recentList_->count(); ++i)
    if (auto* label = qobject_cast<QLabel*>(recentList_->itemAt(i)->widget());
        label && (label->objectName() == QLatin1String("dayHeading") ||
                  label->objectName() == QLatin1String("hostHeading")))
      headings << label->text();
  return headings;
}

}  // namespace tallyfox
