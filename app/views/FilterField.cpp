#include "views/FilterField.h"

#include "model/AgeFilter.h"

#include <QCalendarWidget>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QToolButton>
#include <QVBoxLayout>

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
      AgeFilter::of(*browser_).clear();
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

AgeControls::AgeControls(BrowserModel* browser, QWidget* parent)
    : QWidget(parent),
      browser_(browser),
      chooser_(new QToolButton(this)),
      summary_(new QLabel(this)),
      clear_(new QToolButton(this)) {
  chooser_->setPopupMode(QToolButton::InstantPopup);
  chooser_->setAccessibleName(QStringLiteral("Age"));
  chooser_->setToolTip(QStringLiteral(
      "Keep only entries not modified for a while, counted back from when the snapshot was taken"));
  auto* menu = new QMenu(chooser_);
  QAction* any = menu->addAction(QStringLiteral("Any Age"));
  connect(any, &QAction::triggered, this, [this] {
    if (browser_) AgeFilter::of(*browser_).clear();
  });
  menu->addSeparator();
  using Span = AgeFilter::Span;
  for (auto [span, text] : {std::pair{Span::days30, QStringLiteral("Not Modified for 30 Days")},
                            std::pair{Span::year, QStringLiteral("Not Modified for 1 Year")},
                            std::pair{Span::years3, QStringLiteral("Not Modified for 3 Years")}}) {
    QAction* action = menu->addAction(text);
    connect(action, &QAction::triggered, this, [this, span] {
      if (browser_) AgeFilter::of(*browser_).set({span, {}});
    });
  }
  QAction* since = menu->addAction(QStringLiteral("Not Modified Since…"));
  connect(since, &QAction::triggered, this, &AgeControls::chooseDate);
  chooser_->setMenu(menu);

  clear_->setText(QStringLiteral("✕"));
  clear_->setAutoRaise(true);
  clear_->setAccessibleName(QStringLiteral("Clear age"));
  clear_->setToolTip(QStringLiteral("Show entries of any age"));
  connect(clear_, &QToolButton::clicked, this, [this] {
    if (browser_) AgeFilter::of(*browser_).clear();
  });
  QPalette dim = summary_->palette();
  QColor text = dim.color(QPalette::WindowText);
  text.setAlphaF(0.6f);
  dim.setColor(QPalette::WindowText, text);
  summary_->setPalette(dim);

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(4);
  row->addWidget(chooser_);
  row->addWidget(summary_);
  row->addWidget(clear_);

  AgeFilter& age = AgeFilter::of(*browser);
  connect(&age, &AgeFilter::choiceChanged, this, &AgeControls::refresh);
  connect(&age, &AgeFilter::matchingChanged, this, &AgeControls::refresh);
  connect(&age, &AgeFilter::dateRequested, this, &AgeControls::chooseDate);
  connect(browser, &BrowserModel::currentChanged, this, &AgeControls::refresh);
  refresh();
}

QString AgeControls::choiceText() const {
  return chooser_->text();
}

QString AgeControls::summaryText() const {
  return summary_->isVisibleTo(this) ? summary_->text() : QString();
}

void AgeControls::refresh() {
  const AgeFilter* age = browser_ ? &AgeFilter::of(*browser_) : nullptr;
  const bool set = age && age->isSet();
  chooser_->setText(set ? age->label() : QStringLiteral("Any Age"));
  QFont font = chooser_->font();
  font.setBold(set);
  chooser_->setFont(font);
  summary_->setText(set ? age->summary() : QString());
  summary_->setVisible(set);
  clear_->setVisible(set);
}

void AgeControls::chooseDate() {
  if (!browser_ || !browser_->tree()) return;
  auto* dialog = new QDialog(window());
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowModality(Qt::WindowModal);
  dialog->setWindowTitle(QStringLiteral("Not Modified Since"));
  auto* calendar = new QCalendarWidget(dialog);
  // A year before the snapshot was taken is where people look first.
  const auto& choice = AgeFilter::of(*browser_).choice();
  const QDate taken = QDateTime::fromSecsSinceEpoch(std::chrono::duration_cast<std::chrono::seconds>(
                                                        browser_->tree()->scanStart().time_since_epoch())
                                                        .count())
                          .date();
  calendar->setSelectedDate(choice && choice->span == AgeFilter::Span::date ? choice->date
                                                                            : taken.addYears(-1));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  auto* column = new QVBoxLayout(dialog);
  column->addWidget(new QLabel(QStringLiteral("Keep entries not modified since the start of:"), dialog));
  column->addWidget(calendar);
  column->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::accepted, dialog, [this, dialog, calendar] {
    if (browser_) AgeFilter::of(*browser_).set({AgeFilter::Span::date, calendar->selectedDate()});
    dialog->accept();
  });
  connect(calendar, &QCalendarWidget::activated, buttons, &QDialogButtonBox::accepted);
  dialog->open();
}

}  // namespace tallyfox
