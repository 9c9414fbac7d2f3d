#pragma once

#include <QMainWindow>

namespace tallyfox {

class AppDelegate;
class DocumentController;
class ScanController;
class WelcomeView;

class WelcomeWindow : public QMainWindow {
  Q_OBJECT
 public:
  WelcomeWindow(ScanController& scans, DocumentController& documents, AppDelegate* app,
                QWidget* parent = nullptr);
  WelcomeView* view() const { return view_; }

 signals:
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  WelcomeView* view_;
};

}  // namespace tallyfox
