#pragma once

#include "model/BrowserModel.h"
#include "model/OutsideModel.h"

#include <QListWidget>
#include <QPointer>
#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace tallyfox {

// Rows of what lies on disk beside the snapshot: icon, name, what the snapshot has of it and
// a file's size. A folder the snapshot lacks shows "Scan & Add" while it is hovered or
// selected. Used by the outside view and by the not-scanned section of a partial folder.
class OutsideList : public QListWidget {
  Q_OBJECT
 public:
  explicit OutsideList(BrowserModel* browser, QWidget* parent = nullptr);

  void setEntries(const std::vector<OutsideEntry>& entries);
  const std::vector<OutsideEntry>& entries() const { return entries_; }
  void setSelectedPath(const std::optional<std::string>& path);
  std::optional<OutsideEntry> selectedEntry() const;
  // The row's "Scan & Add"; hidden unless a folder that is not scanned is hovered or selected.
  QPushButton* scanAndAddButton() const { return scanAndAdd_; }
  // The entry the button would add.
  std::optional<OutsideEntry> buttonEntry() const;

  static QString caption(OutsideEntry::Relation relation);

 signals:
  void entryChosen(const tallyfox::OutsideEntry& entry);
  void entryOpened(const tallyfox::OutsideEntry& entry);

 protected:
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void placeButton();

  QPointer<BrowserModel> browser_;
  std::vector<OutsideEntry> entries_;
  int hoveredRow_ = -1;
  QPushButton* scanAndAdd_;
};

// The running partial scan: a spinner, "Scanning name… N entries" and its speed; or, once
// one failed, why, in orange beside a warning sign. Hidden otherwise.
class AddScanProgress : public QWidget {
  Q_OBJECT
 public:
  explicit AddScanProgress(BrowserModel* browser, QWidget* parent = nullptr);
  QString text() const;
  QString errorText() const;
  QComboBox* speedPicker() const { return speed_; }

 private:
  void refresh();

  QPointer<BrowserModel> browser_;
  QWidget* running_;
  QLabel* label_;
  QComboBox* speed_;
  QWidget* failed_;
  QLabel* error_;
};

// In place of the chart and list while the window shows a folder outside its snapshot.
class OutsideView : public QWidget {
  Q_OBJECT
 public:
  explicit OutsideView(BrowserModel* browser, QWidget* parent = nullptr);

  OutsideList* list() const { return list_; }
  QLabel* explanation() const { return explanation_; }
  QPushButton* scanRestButton() const { return scanRest_; }
  QPushButton* rescanAllButton() const { return rescanAll_; }
  QPushButton* backInsideButton() const { return backInside_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void refreshTexts();
  void refreshEnabled();

  QPointer<BrowserModel> browser_;
  QLabel* explanation_;
  QPushButton* scanRest_;
  QPushButton* rescanAll_;
  QPushButton* backInside_;
  OutsideList* list_;
};

// Below the list of a folder that a scan read only in part: what the snapshot lacks of it,
// and "Scan the Rest of".
class NotScannedSection : public QWidget {
  Q_OBJECT
 public:
  explicit NotScannedSection(BrowserModel* browser, QWidget* parent = nullptr);

  QLabel* heading() const { return heading_; }
  QPushButton* scanRestButton() const { return scanRest_; }
  OutsideList* list() const { return list_; }

 private:
  void refresh();

  QPointer<BrowserModel> browser_;
  QLabel* heading_;
  QPushButton* scanRest_;
  OutsideList* list_;
};

}  // namespace tallyfox
