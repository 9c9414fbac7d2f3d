#pragma once

#include <QTextEdit>

namespace tallyfox {

// A message shown whole, however narrow its place: wrapped between words, and inside a word
// too long for a line (a path), as tall as its lines, selectable with the mouse and the
// keyboard. A word-wrapped QLabel lets a long word run out of sight and gives a one-line
// height to a layout that does not ask for heights by width.
class MessageText : public QTextEdit {
  Q_OBJECT
 public:
  explicit MessageText(QWidget* parent = nullptr);

  // Plain text.
  void setText(const QString& text);
  QString text() const { return toPlainText(); }
  void setTextAlignment(Qt::Alignment alignment);
  // How many lines the text takes at the present width.
  int lineCount() const;

  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void fitHeight();
};

}  // namespace tallyfox
