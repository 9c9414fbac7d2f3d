#pragma once

#include <QWidget>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace tallyfox {

class Schedule;
class Settings;

// "Snapshots on a schedule" in the settings window: on or off, the folders, how often, and
// the growth that calls for a notification. Off, with the reason, where no systemd user
// instance runs.
class ScheduleSection : public QWidget {
  Q_OBJECT
 public:
  ScheduleSection(Settings& settings, Schedule& schedule, QWidget* parent = nullptr);

  QCheckBox* onBox() const { return on_; }
  QLabel* statusLabel() const { return status_; }
  QListWidget* folderList() const { return folders_; }
  QPushButton* addButton() const { return add_; }
  QPushButton* addWholeDiskButton() const { return addRoot_; }
  QPushButton* removeButton() const { return remove_; }
  QComboBox* frequencyBox() const { return frequency_; }
  QDoubleSpinBox* thresholdBox() const { return threshold_; }

  // How a folder is chosen; tests answer without a dialog.
  void setFolderChooser(std::function<std::optional<QString>(QWidget*)> chooser) {
    chooser_ = std::move(chooser);
  }

  void refresh();

 private:
  void addFolder(const QString& folder);
  void storeFolders();

  Settings& settings_;
  Schedule& schedule_;
  QCheckBox* on_;
  QLabel* status_;
  QListWidget* folders_;
  QPushButton* add_;
  QPushButton* addRoot_;
  QPushButton* remove_;
  QComboBox* frequency_;
  QDoubleSpinBox* threshold_;
  std::function<std::optional<QString>(QWidget*)> chooser_;
};

}  // namespace tallyfox
