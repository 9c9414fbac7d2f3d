#pragma once

#include "model/BrowserModel.h"

#include <QPointer>
#include <QToolButton>

class QMenu;

namespace tallyfox {

// The button at the start of the crumbs that switches the window to another snapshot: the
// recent snapshots by day, the window's own checked; Alt while choosing keeps this window
// and opens the other in a new one. Linux title bars take no buttons of an application, so
// it sits in the window.
class TitleSwitcher : public QToolButton {
  Q_OBJECT
 public:
  explicit TitleSwitcher(BrowserModel* browser, QWidget* parent = nullptr);

  // Fills the menu as it is when it opens.
  void fillMenu(QMenu& menu);

 private:
  QPointer<BrowserModel> browser_;
};

}  // namespace tallyfox
