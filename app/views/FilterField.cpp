#include "views/FilterField.h"

#include <QKeyEvent>

namespace tallyfox {

FilterField::FilterField(BrowserModel* browser, QWidget* parent) : QLineEdit(parent), browser_(browser) {
  setPlaceholderText(QStringLiteral("Filter"));
  setClearButtonEnabled(true);
  setAccessibleName(QStringLiteral("Filter"));
  connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (browser_) browser_->setFilter(text);
  });
  connect(browser, &BrowserModel::filterChanged, this, [this] {
    if (browser_ && text() != browser_->filter()) setText(browser_->filter());
  });
}

void FilterField::keyPressEvent(QKeyEvent* event) {
  if (!browser_) return QLineEdit::keyPressEvent(event);
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      browser_->selectFirst();
      browser_->setIsFiltering(false);
      emit focusListRequested();
      return;
    case Qt::Key_Escape:
      browser_->setFilter(QString());
      browser_->setIsFiltering(false);
      emit focusListRequested();
      return;
    case Qt::Key_Down:
      browser_->selectFirst();
      emit focusListRequested();
      return;
    default:
      QLineEdit::keyPressEvent(event);
  }
}

}  // namespace tallyfox
