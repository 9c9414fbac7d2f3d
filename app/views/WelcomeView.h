#pragma once

#include "model/RecentSnapshot.h"
#include "model/RecentSnapshotList.h"
#include "model/ScanController.h"
#include "platform/Desktop.h"

#include <tallyfox/Scanner.h>

#include <QAbstractButton>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <vector>

class QButtonGroup;
class QLabel;
class QStackedLayout;
class QVBoxLayout;

namespace tallyfox {

class DocumentController;
class Settings;

// A scan target of the start window: an icon, a title and a line of detail.
class TargetButton : public QAbstractButton {
  Q_OBJECT
 public:
  TargetButton(const QIcon& icon, const QString& title, const QString& detail, QWidget* parent = nullptr);
  QString title() const { return text(); }
  QString detail() const { return detail_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QString detail_;
  bool hovered_ = false;
};

// Three speeds side by side, one of them chosen.
class SpeedPicker : public QWidget {
  Q_OBJECT
 public:
  explicit SpeedPicker(QWidget* parent = nullptr);
  void setSpeed(ScanSpeed speed);
  ScanSpeed speed() const { return speed_; }
  // Clicks the segment of `speed`, as a person would.
  void pick(ScanSpeed speed);

 signals:
  void picked(ScanSpeed speed);

 private:
  QButtonGroup* group_;
  ScanSpeed speed_ = ScanSpeed::fast;
};

// A turning wheel while something runs.
class Spinner : public QWidget {
 public:
  explicit Spinner(QWidget* parent = nullptr);
  QSize sizeHint() const override { return {20, 20}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QTimer timer_;
  int step_ = 0;
};

// One recent snapshot: a click, Return or Space opens it, the arrow keys go to the rows
// beside it, the context menu shows or copies it. The scan time stands beside the name, so
// that two snapshots of one place on one day read apart.
class RecentRow : public QWidget {
  Q_OBJECT
 public:
  RecentRow(RecentSnapshot recent, QString time, Desktop desktop, QWidget* parent = nullptr);
  const RecentSnapshot& recent() const { return recent_; }
  const QString& time() const { return time_; }

 signals:
  void activated(const RecentSnapshot& recent);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  RecentSnapshot recent_;
  QString time_;
  Desktop desktop_;
  bool hovered_ = false;
};

// The start window's content: scan targets with the speed and the snapshots folder, or the
// running scan's progress; beside them the recent snapshots grouped by day.
class WelcomeView : public QWidget {
  Q_OBJECT
 public:
  WelcomeView(ScanController& scans, DocumentController& documents, Settings& settings,
              QWidget* parent = nullptr);

  // Re-reads the recent snapshots and the snapshots folder, as when the window is shown.
  // The snapshots are read in the thread pool; recentsShown() follows.
  void refresh();
  bool isReadingRecents() const { return recents_.isReading(); }

  // For tests and for the tray: what the view shows now.
  bool isShowingProgress() const;
  bool isShowingSaving() const;
  QString progressTitle() const;
  QString progressLine() const;
  QString failureText() const;
  QString folderText() const;
  QString speedCaption() const;  // empty when hidden
  std::vector<TargetButton*> targetButtons() const;
  std::vector<RecentRow*> recentRows() const;
  QStringList recentHeadings() const;
  SpeedPicker* savedSpeedPicker() const { return savedSpeed_; }
  SpeedPicker* runningSpeedPicker() const { return runningSpeed_; }
  QAbstractButton* cancelButton() const { return cancel_; }

 signals:
  // A scan target that needs a folder chosen first.
  void chooseFolderRequested();
  // Remote Folder…: the shell asks for a host and a folder.
  void remoteFolderRequested();
  // The recent list shows what was read last.
  void recentsShown();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* buildTargets();
  QWidget* buildProgress();
  QWidget* buildRecents();
  void showPhase();
  void tick();
  void fillRecents();
  void chooseSnapshotsFolder();

  ScanController& scans_;
  DocumentController& documents_;
  Settings& settings_;
  RecentSnapshotList recents_;

  QStackedLayout* left_ = nullptr;
  QWidget* targetsPage_ = nullptr;
  QWidget* progressPage_ = nullptr;
  QWidget* scanningBox_ = nullptr;
  QWidget* savingBox_ = nullptr;
  QWidget* failureBox_ = nullptr;
  QLabel* failure_ = nullptr;
  SpeedPicker* savedSpeed_ = nullptr;
  QLabel* gentleCaption_ = nullptr;
  QLabel* folder_ = nullptr;
  QLabel* progressTitle_ = nullptr;
  QLabel* progressLine_ = nullptr;
  QWidget* runningSpeedRow_ = nullptr;
  SpeedPicker* runningSpeed_ = nullptr;
  QAbstractButton* cancel_ = nullptr;
  QVBoxLayout* recentList_ = nullptr;
  QTimer tick_;
};

}  // namespace tallyfox
