#include "views/StatusLine.h"

#include "model/CountMode.h"
#include "model/OutsideModel.h"

#include "views/Icons.h"
#include "views/MessageText.h"
#include "views/RelativeDate.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace tallyfox {

StatusLine::StatusLine(BrowserModel* browser, QWidget* parent)
    : QWidget(parent),
      browser_(browser),
      path_(new QLineEdit(this)),
      unreadable_(new QWidget(this)),
      unreadableLabel_(new QLabel(unreadable_)),
      damage_(new MessageText(this)),
      entries_(new QLabel(this)),
      scanned_(new QLabel(this)),
      keys_(new QLabel(QStringLiteral("? for keys"), this)),
      bySize_(new QToolButton(this)),
      byEntries_(new QToolButton(this)) {
  // A frameless read-only field: the path can be selected and copied, and a long one scrolls.
  path_->setReadOnly(true);
  path_->setFrame(false);
  path_->setFocusPolicy(Qt::ClickFocus);
  path_->setAccessibleName(QStringLiteral("Selected path"));
  QPalette transparent = path_->palette();
  transparent.setColor(QPalette::Base, Qt::transparent);
  path_->setPalette(transparent);

  auto* icon = new QLabel(unreadable_);
  icon->setPixmap(Icons::bundled(Icons::Symbol::warning).pixmap(QSize(14, 14), devicePixelRatioF()));
  auto* unreadableRow = new QHBoxLayout(unreadable_);
  unreadableRow->setContentsMargins(0, 0, 0, 0);
  unreadableRow->setSpacing(4);
  unreadableRow->addWidget(icon);
  unreadableRow->addWidget(unreadableLabel_);

  // The file opened, but its structure is broken somewhere: said where the eye is anyway.
  QPalette warning = damage_->palette();
  warning.setColor(QPalette::Text, QColor(200, 40, 40));
  damage_->setPalette(warning);
  damage_->hide();

  QFont small = font();
  small.setPointSizeF(font().pointSizeF() * 0.92);
  for (QWidget* w :
       {static_cast<QWidget*>(path_), static_cast<QWidget*>(unreadableLabel_), static_cast<QWidget*>(damage_),
        static_cast<QWidget*>(entries_), static_cast<QWidget*>(scanned_), static_cast<QWidget*>(keys_)})
    w->setFont(small);
  QPalette dim = keys_->palette();
  QColor text = dim.color(QPalette::WindowText);
  text.setAlphaF(0.6f);
  dim.setColor(QPalette::WindowText, text);
  for (QLabel* l : {entries_, scanned_, keys_}) l->setPalette(dim);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(10, 4, 10, 4);
  column->setSpacing(2);
  column->addWidget(damage_);
  items_ = new QHBoxLayout;
  items_->setSpacing(14);
  items_->addWidget(path_, 1);
  // Without a path the items keep to the right instead of spreading over the line.
  items_->addStretch(0);
  items_->addWidget(unreadable_);
  items_->addWidget(entries_);
  items_->addWidget(scanned_);
  items_->addWidget(keys_);
  // What the bars and the chart measure: two halves of one switch, as the menu item is.
  auto* measure = new QHBoxLayout;
  measure->setSpacing(0);
  for (auto [button, text, value, tip] :
       {std::tuple{bySize_, QStringLiteral("Size"), CountMode::Measure::size,
                   QStringLiteral("Bars and chart by size")},
        std::tuple{byEntries_, QStringLiteral("Entries"), CountMode::Measure::entries,
                   QStringLiteral("Bars and chart by entries (Ctrl+Shift+N)")}}) {
    button->setText(text);
    button->setCheckable(true);
    button->setAutoRaise(true);
    button->setFont(small);
    button->setToolTip(tip);
    button->setAccessibleName(QStringLiteral("Measure by ") + text.toLower());
    button->setFocusPolicy(Qt::TabFocus);
    connect(button, &QToolButton::clicked, this, [this, value = value] {
      if (browser_) browser_->countMode().setMeasure(value);
      refreshMeasure();
    });
    measure->addWidget(button);
  }
  items_->addLayout(measure);
  connect(&browser->countMode(), &CountMode::measureChanged, this, &StatusLine::refreshMeasure);
  refreshMeasure();
  column->addLayout(items_);

  for (auto signal :
       {&BrowserModel::treeChanged, &BrowserModel::selectionChanged, &BrowserModel::healthChanged})
    connect(browser, signal, this, &StatusLine::refresh);
  for (auto signal : {&OutsideModel::outsidePathChanged, &OutsideModel::outsideSelectionChanged})
    connect(&browser->outside(), signal, this, &StatusLine::refresh);
  // "5 minutes ago" goes stale while the window stays open.
  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, &StatusLine::refreshDate);
  timer->start(60 * 1000);
  refresh();
}

QString StatusLine::pathText() const {
  return path_->text();
}
QString StatusLine::unreadableText() const {
  return unreadable_->isVisibleTo(this) ? unreadableLabel_->text() : QString();
}
QString StatusLine::damageText() const {
  return damage_->isVisibleTo(this) ? damage_->text() : QString();
}
QString StatusLine::entriesText() const {
  return entries_->text();
}
QString StatusLine::scannedText() const {
  return scanned_->text();
}

void StatusLine::refresh() {
  const DiskTreePtr tree = browser_ ? browser_->tree() : nullptr;
  std::optional<QString> path = browser_ ? browser_->selectedPath() : std::nullopt;
  // Outside the snapshot, the entry selected there.
  if (browser_ && browser_->outside().isShown()) {
    const auto& outside = browser_->outside().outsideSelection();
    path = outside ? std::optional<QString>(QString::fromStdString(*outside)) : std::nullopt;
  }
  path_->setText(path.value_or(QString()));
  path_->setCursorPosition(0);
  path_->setVisible(path.has_value());
  items_->setStretch(1, path ? 0 : 1);
  const QLocale locale;
  const std::optional<BrowserModel::Health> health = browser_ ? browser_->health() : std::nullopt;
  const std::uint64_t errors = tree && health ? health->errorCount : 0;
  const QString damage = tree && health ? health->damage : QString();
  // A change under the window explains any damage the check found after it.
  const QString problem =
      tree && health && health->fileChanged
          ? QStringLiteral(
                "The snapshot file changed while it was read: open it again to see it as it is now.")
      : damage.isEmpty() ? QString()
                         : QStringLiteral("This snapshot is damaged: ") + damage;
  damage_->setText(problem);
  damage_->setVisible(!problem.isEmpty());
  unreadable_->setVisible(errors >= 1);
  unreadableLabel_->setText(locale.toString(qulonglong(errors)) + QStringLiteral(" unreadable"));
  entries_->setText(tree ? locale.toString(qlonglong(tree->nodeCount())) + QStringLiteral(" entries")
                         : QString());
  refreshDate();
}

void StatusLine::refreshMeasure() {
  const bool entries = browser_ && browser_->countMode().countsEntries();
  bySize_->setChecked(!entries);
  byEntries_->setChecked(entries);
}

void StatusLine::refreshDate() {
  const DiskTreePtr tree = browser_ ? browser_->tree() : nullptr;
  scanned_->setText(tree ? QStringLiteral("scanned ") +
                               relativeDate(tree->scanStart(), std::chrono::system_clock::now())
                         : QString());
}

}  // namespace tallyfox
