#pragma once

#include <QDialog>
#include <QString>

class QLabel;

namespace tallyfox {

class Settings;

// What the About window tells: which Tallyfox this is and where it keeps its files.
struct AboutFacts {
  QString version;
  QString licence;
  // For showing: a path whose bytes are not UTF-8 shows replacement characters.
  QString snapshotsFolder;
  // Empty when there is no home folder and nothing is kept.
  QString settingsFile;

  static AboutFacts of(const Settings& settings);
};

// Help › About Tallyfox. The folder and file are read each time it is shown, so that a
// snapshots folder chosen in the settings meanwhile is the one it names.
class AboutWindow : public QDialog {
  Q_OBJECT
 public:
  explicit AboutWindow(const Settings& settings, QWidget* parent = nullptr);

  void refresh();

  QLabel* versionLabel() const { return version_; }
  QLabel* licenceLabel() const { return licence_; }
  QLabel* snapshotsLabel() const { return snapshots_; }
  QLabel* settingsLabel() const { return settingsFile_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  const Settings& settings_;
  QLabel* version_;
  QLabel* licence_;
  QLabel* snapshots_;
  QLabel* settingsFile_;
};

}  // namespace tallyfox
