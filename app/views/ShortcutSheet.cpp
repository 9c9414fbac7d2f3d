#include "views/ShortcutSheet.h"

#include "model/BrowserCommands.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace tallyfox {

namespace {

constexpr int windowMargin = 24;
constexpr double cornerRadius = 10;

// Asks for room for all of its contents, so that the panel takes the size of the whole list
// and scrolls only where the window is too small for it.
class WholeScrollArea : public QScrollArea {
 public:
  using QScrollArea::QScrollArea;
  QSize sizeHint() const override {
    if (!widget()) return QScrollArea::sizeHint();
    return widget()->sizeHint() + QSize(verticalScrollBar()->sizeHint().width(), 0);
  }
};

// The characters, then the keys, with this desktop's key names, unless the command words
// them itself.
QString keyNames(const BrowserCommand& command) {
  if (!command.keysText.isEmpty()) return command.keysText;
  QStringList typed;
  for (const QChar c : command.characters)
    typed << (c == QLatin1Char(' ') ? QStringLiteral("Space") : QString(c));
  QStringList names;
  if (!typed.isEmpty()) names << typed.join(QLatin1Char(' '));
  for (const QKeyCombination& key : command.keys)
    names << QKeySequence(key).toString(QKeySequence::NativeText);
  // Two blanks on each side of "or" keep the alternatives apart at a glance.
  return names.join(QStringLiteral("  or  "));
}

}  // namespace

QList<QPair<QString, QString>> ShortcutSheet::rows() {
  QList<QPair<QString, QString>> lines;
  for (const BrowserCommand& command : BrowserCommands::all()) {
    if (command.help.isEmpty()) continue;
    lines.append({keyNames(command), command.help});
  }
  return lines;
}

ShortcutSheet::ShortcutSheet(QWidget* window) : QWidget(window) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Keyboard"));
  setFocusPolicy(Qt::StrongFocus);
  setAccessibleName(QStringLiteral("Keyboard"));
  window->installEventFilter(this);

  panel_ = new QFrame(this);
  auto* title = new QLabel(QStringLiteral("Keyboard"), panel_);
  QFont titleFont = title->font();
  titleFont.setBold(true);
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
  title->setFont(titleFont);

  auto* table = new QWidget;
  table->setAutoFillBackground(false);
  auto* grid = new QGridLayout(table);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setHorizontalSpacing(18);
  grid->setVerticalSpacing(5);
  int row = 0;
  for (const auto& [key, description] : rows()) {
    auto* keyLabel = new QLabel(key, table);
    QFont keyFont = keyLabel->font();
    keyFont.setBold(true);
    keyLabel->setFont(keyFont);
    keyLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(keyLabel, row, 0);
    grid->addWidget(new QLabel(description, table), row, 1);
    ++row;
  }
  scroll_ = new WholeScrollArea(panel_);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll_->setWidgetResizable(true);
  scroll_->setFocusPolicy(Qt::NoFocus);
  scroll_->viewport()->setAutoFillBackground(false);
  scroll_->setWidget(table);

  auto* buttons = new QDialogButtonBox(panel_);
  done_ = buttons->addButton(QStringLiteral("Done"), QDialogButtonBox::AcceptRole);
  done_->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QWidget::close);

  auto* column = new QVBoxLayout(panel_);
  column->setContentsMargins(24, 20, 24, 16);
  column->setSpacing(14);
  column->addWidget(title);
  column->addWidget(scroll_, 1);
  column->addWidget(buttons);

  setGeometry(window->rect());
  raise();
}

bool ShortcutSheet::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
  return QWidget::eventFilter(watched, event);
}

void ShortcutSheet::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  placePanel();
}

void ShortcutSheet::placePanel() {
  const QSize room = rect().adjusted(windowMargin, windowMargin, -windowMargin, -windowMargin).size();
  const QSize size = panel_->sizeHint().boundedTo(room.expandedTo(QSize(1, 1)));
  panel_->setGeometry(QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size));
  update();
}

void ShortcutSheet::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  // The window behind is dimmed: it is there, but not what the keys talk to now.
  painter.fillRect(rect(), QColor(0, 0, 0, 70));

  const QRectF frame = QRectF(panel_->geometry()).adjusted(0.5, 0.5, -0.5, -0.5);
  // A soft shadow, darker close to the panel and a little lower than it, as if lifted.
  painter.setPen(Qt::NoPen);
  for (int spread = 14; spread >= 1; --spread) {
    painter.setBrush(QColor(0, 0, 0, 5));
    painter.drawRoundedRect(frame.adjusted(-spread, -spread + 4, spread, spread + 4), cornerRadius + spread,
                            cornerRadius + spread);
  }
  painter.setBrush(palette().color(QPalette::Window));
  QColor border = palette().color(QPalette::Mid);
  painter.setPen(QPen(border, 1));
  painter.drawRoundedRect(frame, cornerRadius, cornerRadius);
}

void ShortcutSheet::keyPressEvent(QKeyEvent* event) {
  const bool closes = event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
                      event->key() == Qt::Key_Enter || event->text() == QStringLiteral("?");
  if (closes) close();
  // Every other key stops here too: the list behind must not move under the sheet.
  event->accept();
}

void ShortcutSheet::mousePressEvent(QMouseEvent* event) {
  event->accept();
}

void ShortcutSheet::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  if (closed_) return;
  closed_ = true;
  emit closed();
}

bool ShortcutSheet::focusNextPrevChild(bool) {
  done_->setFocus(Qt::TabFocusReason);
  return true;
}

}  // namespace tallyfox
