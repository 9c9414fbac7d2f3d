#include "views/TitleSwitcher.h"

#include "model/BrowserCommands.h"

#include <QGuiApplication>
#include <QMenu>

namespace tallyfox {

TitleSwitcher::TitleSwitcher(BrowserModel* browser, QWidget* parent)
    : QToolButton(parent), browser_(browser) {
  setArrowType(Qt::DownArrow);
  setAutoRaise(true);
  setToolTip(QStringLiteral("Switch to another snapshot"));
  setAccessibleName(QStringLiteral("Switch to another snapshot"));
  setPopupMode(QToolButton::InstantPopup);
  // Reached by Tab (Space or Return opens the menu); a click leaves the keys with the list.
  setFocusPolicy(Qt::TabFocus);
  auto* menu = new QMenu(this);
  connect(menu, &QMenu::aboutToShow, this, [this, menu] {
    menu->clear();
    fillMenu(*menu);
  });
  setMenu(menu);
}

void TitleSwitcher::fillMenu(QMenu& menu) {
  if (!browser_) return;
  const QPointer<BrowserModel> model(browser_);
  const std::vector<RecentSnapshot> recents = browser_->switchCandidates();
  const std::vector<QString> titles = RecentSnapshot::timedNames(recents);
  QString heading;
  for (std::size_t i = 0; i < recents.size(); ++i) {
    const RecentSnapshot& recent = recents[i];
    if (const QString day = recent.dayHeading(); day != heading) {
      heading = day;
      menu.addSection(day);
    }
    QAction* item = menu.addAction(titles[i]);
    item->setCheckable(true);
    item->setChecked(browser_->isOwnFile(recent.url));
    connect(item, &QAction::triggered, &menu, [model, file = recent.url] {
      // Read at the moment of choosing, as the hint says.
      const bool keep = QGuiApplication::queryKeyboardModifiers() & Qt::AltModifier;
      if (model) model->switchTo(file, keep);
    });
  }
  menu.addSeparator();
  connect(menu.addAction(QStringLiteral("New Scan…")), &QAction::triggered, &menu, [model] {
    if (model) model->requestNewScan();
  });
  connect(menu.addAction(QStringLiteral("Show Snapshot in File Manager")), &QAction::triggered, &menu,
          [model] {
            if (model) BrowserCommands::run(QStringLiteral("showSnapshotInFileManager"), *model);
          });
  menu.addSeparator();
  menu.addAction(QStringLiteral("Alt-click to open in a new window"))->setEnabled(false);
}

}  // namespace tallyfox
