#include "views/MessageText.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <memory>

namespace tallyfox {

MessageText::MessageText(QWidget* parent) : QTextEdit(parent) {
  setReadOnly(true);
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setLineWrapMode(QTextEdit::WidgetWidth);
  setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  // Selected from the keyboard without a blinking caret, which would make it look editable.
  setCursorWidth(0);
  // Read like a label: on the window's background, reached by Tab only to select and copy.
  setFocusPolicy(Qt::TabFocus);
  setAutoFillBackground(false);
  viewport()->setAutoFillBackground(false);
  QPalette clear = palette();
  clear.setColor(QPalette::Base, Qt::transparent);
  setPalette(clear);
  document()->setDocumentMargin(0);
  QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  policy.setHeightForWidth(true);
  setSizePolicy(policy);
}

void MessageText::setText(const QString& text) {
  if (text == toPlainText()) return;
  setPlainText(text);
  updateGeometry();
  fitHeight();
}

void MessageText::setTextAlignment(Qt::Alignment alignment) {
  QTextOption option = document()->defaultTextOption();
  option.setAlignment(alignment);
  document()->setDefaultTextOption(option);
}

int MessageText::heightForWidth(int width) const {
  const std::unique_ptr<QTextDocument> measure(document()->clone());
  measure->setDefaultTextOption(document()->defaultTextOption());
  measure->setDefaultFont(font());
  measure->setTextWidth(std::max(1, width - 2 * frameWidth()));
  return int(std::ceil(measure->size().height())) + 2 * frameWidth();
}

QSize MessageText::sizeHint() const {
  // The whole text on one line where there is room; a layout that has less wraps it.
  const std::unique_ptr<QTextDocument> measure(document()->clone());
  measure->setDefaultFont(font());
  measure->setTextWidth(-1);
  const int ideal = int(std::ceil(measure->idealWidth())) + 2 * frameWidth() + 2;
  const int width = std::min(ideal, maximumWidth());
  return {width, heightForWidth(width)};
}

QSize MessageText::minimumSizeHint() const {
  return {40, heightForWidth(std::max(width(), 40))};
}

int MessageText::lineCount() const {
  int lines = 0;
  for (QTextBlock block = document()->begin(); block.isValid(); block = block.next())
    if (const QTextLayout* layout = block.layout()) lines += layout->lineCount();
  return lines;
}

void MessageText::resizeEvent(QResizeEvent* event) {
  QTextEdit::resizeEvent(event);
  fitHeight();
}

void MessageText::fitHeight() {
  // Where the layout around does not ask for a height by width, the widget's own limits
  // keep every line in sight.
  const int needed = heightForWidth(width());
  if (minimumHeight() != needed || maximumHeight() != needed) setFixedHeight(needed);
}

}  // namespace tallyfox
