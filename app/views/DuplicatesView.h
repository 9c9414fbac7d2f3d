#pragma once

#include "model/BrowserModel.h"
#include "model/Duplicates.h"

#include <QPointer>
#include <QTreeWidgetItem>
#include <QWidget>

#include <optional>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QStackedLayout;
class QTreeWidget;

namespace tallyfox {

// One group of identical files in the duplicates list: a checkbox for choosing it, the
// number of copies and their length, what replacing came to; expanded, one line per copy,
// the first kept and the others to become clones.
class DuplicateGroupRow : public QTreeWidgetItem {
 public:
  // Made apart from the list and added with the others at once; refresh() once it is there.
  DuplicateGroupRow(const DuplicatesState& state, int index);
  int index() const { return index_; }
  // Reads the group's selection, expansion and status again.
  void refresh(const DuplicatesState& state);
  // The status column's text: "" while undecided, "replacing…", "200 kB freed", "skipped".
  QString statusText() const { return text(1); }

 private:
  struct Shown {
    bool selected = false;
    bool expanded = false;
    std::optional<DuplicatesState::GroupStatus> status;
    bool operator==(const Shown&) const = default;
  };

  int index_;
  // What the row shows now: a refresh that changes nothing touches no item data, since each
  // change makes the list redo its layout.
  std::optional<Shown> shown_;
};

// The duplicates of one folder, in place of the chart and the list while a search is
// shown: its progress, then the groups with what they would free, and the two ways to free
// it. Escape and "Done" close it.
class DuplicatesView : public QWidget {
  Q_OBJECT
 public:
  explicit DuplicatesView(BrowserModel* browser, QWidget* parent = nullptr);

  QString titleText() const;
  // What the page shown says, top to bottom, for tests and for reading in one go.
  QString pageText() const;
  QTreeWidget* list() const { return list_; }
  DuplicateGroupRow* row(int index) const;
  QCheckBox* includeAppsBox() const { return includeApps_; }
  QPushButton* replaceButton() const { return replace_; }
  QPushButton* deleteListButton() const { return addToDeleteList_; }
  QPushButton* doneButton() const { return done_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void stateChanged();
  void refresh();
  void refreshProgress();
  void rebuildRows();
  void showPathMenu(const QPoint& at);

  QPointer<BrowserModel> browser_;
  QPointer<DuplicatesState> shown_;
  QLabel* title_;
  QPushButton* done_;
  QStackedLayout* pages_;
  QWidget* findingPage_;
  QLabel* progressLine_;
  QProgressBar* progress_;
  QWidget* failedPage_;
  QLabel* failedMessage_;
  QWidget* emptyPage_;
  QWidget* groupsPage_;
  QLabel* summary_;
  QLabel* applied_;
  QLabel* refusal_;
  QTreeWidget* list_;
  QCheckBox* includeApps_;
  QPushButton* addToDeleteList_;
  QPushButton* replace_;
  bool refreshing_ = false;
};

}  // namespace tallyfox
