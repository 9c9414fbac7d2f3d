#include "views/CompareBar.h"

#include "model/Comparison.h"
#include "model/CountMode.h"
#include "model/Format.h"
#include "views/ChangeColumns.h"
#include "views/Icons.h"
#include "views/MessageText.h"

#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QToolTip>

namespace tallyfox {

namespace {

QString coloured(const QString& text, const QColor& color) {
  return QStringLiteral("<span style=\"color:%1\">%2</span>").arg(color.name(), text.toHtmlEscaped());
}

QColor secondaryOf(const QPalette& palette) {
  QColor c = palette.color(QPalette::Text);
  c.setAlphaF(0.55f);
  return c;
}

}  // namespace

// ---- CompareBar

CompareBar::CompareBar(BrowserModel* browser, QWidget* parent) : QWidget(parent), browser_(browser) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  auto* line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  column->addWidget(line);

  bar_ = new QWidget(this);
  auto* row = new QHBoxLayout(bar_);
  row->setContentsMargins(8, 4, 8, 4);
  symbol_ = new QLabel(QStringLiteral("\u21C4"), bar_);
  since_ = new QLabel(bar_);
  change_ = new QLabel(bar_);
  change_->setTextFormat(Qt::RichText);
  stop_ = new QPushButton(QStringLiteral("Stop"), bar_);
  row->addWidget(symbol_);
  row->addWidget(since_, 1);
  row->addWidget(change_);
  row->addWidget(stop_);
  column->addWidget(bar_);

  errorLine_ = new QWidget(this);
  auto* errorRow = new QHBoxLayout(errorLine_);
  errorRow->setContentsMargins(8, 8, 8, 8);
  auto* warning = new QLabel(errorLine_);
  warning->setPixmap(
      Icons::tinted(Icons::Symbol::warning, QSize(14, 14), QColor(240, 150, 20), devicePixelRatioF()));
  // A path in the message wraps too, instead of widening the list column.
  error_ = new MessageText(errorLine_);
  QFont caption = font();
  caption.setPointSizeF(std::max(6.0, font().pointSizeF() * 0.85));
  error_->setFont(caption);
  QPalette orange = error_->palette();
  orange.setColor(QPalette::Text, QColor(230, 126, 34));
  error_->setPalette(orange);
  errorRow->addWidget(warning, 0, Qt::AlignTop);
  errorRow->addWidget(error_, 1);
  column->addWidget(errorLine_);

  connect(stop_, &QPushButton::clicked, this, [this] {
    if (browser_) browser_->comparing().stop();
  });
  connect(&browser->comparing(), &ComparisonModel::comparisonChanged, this, &CompareBar::refresh);
  connect(&browser->comparing(), &ComparisonModel::comparisonErrorChanged, this, &CompareBar::refresh);
  connect(&browser->comparing(), &ComparisonModel::candidatesChanged, this, &CompareBar::refresh);
  connect(browser, &BrowserModel::currentChanged, this, &CompareBar::refresh);
  connect(browser, &BrowserModel::overlayChanged, this, &CompareBar::refresh);
  connect(&browser->countMode(), &CountMode::measureChanged, this, &CompareBar::refresh);
  refresh();
}

QString CompareBar::text() const {
  return bar_->isVisibleTo(this) ? since_->text() : QString();
}

QString CompareBar::changeText() const {
  return bar_->isVisibleTo(this) ? change_->text() : QString();
}

QString CompareBar::errorText() const {
  return errorLine_->isVisibleTo(this) ? error_->text() : QString();
}

void CompareBar::refresh() {
  if (!browser_) return;
  const ComparisonModel& comparing = browser_->comparing();
  const ComparisonPtr& comparison = comparing.comparison();
  if (comparison) {
    const auto since = comparison->diff().oldTree().scanStart();
    since_->setText(QStringLiteral("Changes since ") + comparing.scanTimeText(since));
    const auto entry = comparison->entry(browser_->current());
    const std::int64_t delta = entry ? browser_->countMode().measured(*comparison, *entry).delta() : 0;
    change_->setText(coloured(browser_->countMode().changeText(delta),
                              delta < 0 ? ChangeColumns::shrinking : ChangeColumns::growth));
  } else if (comparing.comparisonError()) {
    error_->setText(*comparing.comparisonError());
  }
  bar_->setVisible(bool(comparison));
  errorLine_->setVisible(!comparison && comparing.comparisonError());
  setVisible(comparison || comparing.comparisonError());
}

// ---- GoneSection

GoneSection::GoneSection(BrowserModel* browser, QWidget* parent) : QWidget(parent), browser_(browser) {
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  connect(&browser->comparing(), &ComparisonModel::comparisonChanged, this, &GoneSection::refresh);
  connect(browser, &BrowserModel::currentChanged, this, &GoneSection::refresh);
  connect(&browser->countMode(), &CountMode::measureChanged, this, &GoneSection::refresh);
  refresh();
}

QStringList GoneSection::names() const {
  QStringList names;
  for (const auto& entry : entries_) names << QString::fromStdString(entry.name);
  return names;
}

double GoneSection::rowHeight() const {
  return std::max(22, fontMetrics().height() + 6);
}

double GoneSection::headingHeight() const {
  return fontMetrics().height() + 12;
}

QSize GoneSection::sizeHint() const {
  return {300, int(headingHeight() + rowHeight() * double(entries_.size()))};
}

namespace {

// Where a gone entry's name starts: under the names of the rows above.
constexpr double goneNameLeft = 8 + 14 + 2 + 10 + 6 + 24;

}  // namespace

ChangeColumns::Layout GoneSection::columnsAt(double y) const {
  // "gone" is shown where a row of the list would show its sizes.
  const double right = width() - 8;
  const bool roomy = right - ChangeColumns::width(true) - goneNameLeft >= ChangeColumns::nameRoom;
  return ChangeColumns::layout(right, y, rowHeight(), roomy);
}

void GoneSection::refresh() {
  entries_.clear();
  largestChange_ = 1;
  if (browser_) {
    entries_ = browser_->comparing().goneEntries();
    counting_ = browser_->countMode().countsEntries();
    if (const ComparisonPtr& comparison = browser_->comparing().comparison()) {
      for (auto& entry : entries_) entry = browser_->countMode().measured(*comparison, entry);
      largestChange_ = browser_->countMode().largestChangeOf(*comparison, browser_->current());
    }
  }
  setVisible(!entries_.empty());
  // A long list of gone entries must not push the list out of the window.
  setFixedHeight(std::min(sizeHint().height(), int(headingHeight() + rowHeight() * 6)));
  updateGeometry();
  update();
}

void GoneSection::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QColor secondary = secondaryOf(palette());
  QColor tertiary = palette().color(QPalette::Text);
  tertiary.setAlphaF(0.35f);
  QFont heading = font();
  heading.setBold(true);
  painter.setFont(heading);
  painter.setPen(secondary);
  painter.drawText(QRectF(8, 0, width() - 16, headingHeight()), Qt::AlignVCenter | Qt::AlignLeft,
                   QStringLiteral("No longer here"));
  double y = headingHeight();
  const qreal dpr = devicePixelRatioF();
  for (const auto& entry : entries_) {
    const double h = rowHeight();
    const ChangeColumns::Layout columns = columnsAt(y);
    painter.drawPixmap(QPointF(8 + 14 + 2 + 10 + 6, y + (h - 16) / 2),
                       Icons::tinted(entry.isDirectory ? Icons::Symbol::folder : Icons::Symbol::file,
                                     QSize(16, 16), tertiary, dpr));
    QFont struck = font();
    struck.setStrikeOut(true);
    painter.setFont(struck);
    painter.setPen(secondary);
    const double nameLeft = goneNameLeft;
    const QRectF nameRect(nameLeft, y, std::max(0.0, columns.left - 6 - nameLeft), h);
    painter.drawText(nameRect, Qt::AlignVCenter | Qt::AlignLeft,
                     QFontMetricsF(struck).elidedText(QString::fromStdString(entry.name), Qt::ElideMiddle,
                                                      nameRect.width()));
    ChangeColumns::paint(painter, columns, entry, largestChange_, font(), secondary, std::nullopt, counting_);
    y += h;
  }
}

bool GoneSection::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const int index = int((help->pos().y() - headingHeight()) / rowHeight());
    if (help->pos().y() >= headingHeight() && index >= 0 && index < int(entries_.size()) &&
        entries_[std::size_t(index)].unreliable) {
      if (columnsAt(headingHeight() + index * rowHeight()).mark.contains(help->pos())) {
        QToolTip::showText(help->globalPos(), ChangeColumns::unreliableTooltip(), this);
        return true;
      }
    }
    QToolTip::hideText();
    event->ignore();
    return true;
  }
  return QWidget::event(event);
}

}  // namespace tallyfox
