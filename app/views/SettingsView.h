#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class QButtonGroup;
class QLabel;
class QPushButton;

namespace tallyfox {

class FileManager;
class Schedule;
class ScheduleSection;
class Settings;

// The settings the app and tfscan share: the scan speed, the snapshots folder and scheduled
// snapshots. All are written to the preferences store at once, so the next scan started anywhere uses them.
class SettingsView : public QWidget {
  Q_OBJECT
 public:
  // Without a schedule the window offers no scheduled snapshots.
  SettingsView(Settings& settings, std::shared_ptr<FileManager> fileManager, Schedule* schedule = nullptr,
               QWidget* parent = nullptr);

  // Shows the folder and the speed as the store has them now.
  void refresh();

  QButtonGroup* speedPicker() const { return speeds_; }
  QLabel* folderLabel() const { return path_; }
  QPushButton* chooseButton() const { return choose_; }
  QPushButton* revealButton() const { return reveal_; }
  QPushButton* useDefaultButton() const { return useDefault_; }
  // Why the preferences file is ignored; hidden while it is used.
  QLabel* refusalLabel() const { return refusal_; }
  ScheduleSection* scheduleSection() const { return schedule_; }

  // How the folder is chosen; tests answer without a dialog. True when one was stored.
  void setChooser(std::function<bool(Settings&, QWidget*)> chooser) { chooser_ = std::move(chooser); }

  // Creates the snapshots folder when missing, then shows it in the file manager.
  static void revealSnapshotsFolder(const Settings& settings, FileManager& fileManager);

 private:
  Settings& settings_;
  std::shared_ptr<FileManager> fileManager_;
  QButtonGroup* speeds_;
  QLabel* path_;
  QLabel* refusal_;
  QPushButton* choose_;
  QPushButton* reveal_;
  QPushButton* useDefault_;
  ScheduleSection* schedule_ = nullptr;
  std::function<bool(Settings&, QWidget*)> chooser_;
};

}  // namespace tallyfox
