#pragma once

#include <QMainWindow>

namespace tallyfox {

class DocumentController;
class ScanController;
class Settings;
class WelcomeView;

class WelcomeWindow : public QMainWindow {
  Q_OBJECT
 public:
  WelcomeWindow(ScanController& scans, DocumentController& documents, Settings& settings,
                QWidget* parent = nullptr);
  WelcomeView* view() const { return view_; }

 signals:
  void closed();
  // "Scan Folder…": the shell asks for the folder and starts the scan.
  void chooseFolderRequested();
  // "Remote Folder…": the shell asks for the host and folder and starts the scan.
  void remoteFolderRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  WelcomeView* view_;
};

}  // namespace tallyfox
