#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QMainWindow;
class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace tallyfox {

class AboutWindow;
class AppUpdater;
class BrowserModel;
class BrowserWindow;
class DocumentController;
class ScanController;
class Schedule;
class Settings;
class SettingsView;
class WelcomeView;

// The start window: "Welcome to Tallyfox", with the File menu.
class SettingsView;
class WelcomeWindow;

// The application's windows and their rules: one start window; one browser window per
// document of the document controller, shown, raised and closed as it says; the start
// window goes away when the first browser window shows and comes back when the last one
// closes; closing the start window with no browser window open quits, unless a scan runs.
// Also the tray menu, which stands in for a dock menu.
class AppDelegate : public QObject {
  Q_OBJECT
 public:
  // Without an updater the app offers no update check.
  AppDelegate(ScanController& scans, DocumentController& documents, Settings& settings,
              AppUpdater* updater = nullptr, QObject* parent = nullptr);
  ~AppDelegate() override;

  ScanController& scans() const { return scans_; }
  DocumentController& documents() const { return documents_; }
  Settings& settings() const { return settings_; }
  AppUpdater* updater() const { return updater_; }
  // Scheduled snapshots, offered in the settings window; none: not offered.
  void setSchedule(Schedule* schedule) { schedule_ = schedule; }

  // At launch: the files given, and the start window when there are none or a new scan
  // was asked for. A folder among them is scanned, with the start window's progress; only
  // one scan runs at a time, so a second folder is left alone while the first is scanned.
  void launch(const std::vector<std::filesystem::path>& files, bool newScan = false);
  // A later launch handed these files or folders over (none: it only wanted the app in
  // front).
  void handleRequest(const std::vector<std::filesystem::path>& files);

  void showWelcome();
  // The settings window, opened once and brought forward after.
  void showSettings();
  SettingsView* settingsView() const;
  // Help › About Tallyfox, opened once and brought forward after.
  void showAbout();
  AboutWindow* aboutWindow() const;
  WelcomeWindow* welcomeWindow() const;
  WelcomeView* welcomeView() const;

  // The window of `snapshot`, new or brought forward, at `folder` and compared with
  // `baseline` (none: not compared).
  BrowserWindow* openComparison(const std::filesystem::path& snapshot,
                                const std::optional<std::filesystem::path>& baseline,
                                const std::string& folder);
  // The window of `file`, new or brought forward.
  BrowserWindow* openWindow(const std::filesystem::path& file);
  BrowserWindow* windowFor(const std::filesystem::path& file) const;
  BrowserWindow* windowOf(const BrowserModel* browser) const;
  // In the order their documents were opened.
  std::vector<BrowserWindow*> browserWindows() const;

  // Open…: any snapshot or vok file.
  void chooseSnapshot(QWidget* parent);
  // Scan Folder…: the start window, then a folder to scan.
  void chooseFolder();
  void scanPreset(const QString& path);
  // Scan Remote Folder…: the start window, then a host and a folder to scan over SSH.
  void chooseRemoteFolder();
  // Scan Whole Disk as Administrator…: the start window shows the progress.
  void scanAsAdministrator();
  void openRecent(const std::filesystem::path& file);
  void quit();

  // The tray's menu, rebuilt each time it opens.
  void fillTrayMenu(QMenu* menu);
  bool hasTray() const { return tray_ != nullptr; }

  // Closing the start window while a scan runs keeps the app running, to open the snapshot
  // when the scan is done. Without a tray nothing would show that it still runs, so the
  // person is asked first; the answer is true to quit and drop the scan. Replaceable for
  // tests; the default asks with a message box.
  void setQuitDuringScanQuestion(std::function<bool(QWidget* parent)> ask) {
    askQuitDuringScan_ = std::move(ask);
  }

 signals:
  void windowOpened(BrowserWindow* window);
  // The app is about to end (a Quit command, or the start window closed with nothing else
  // open).
  void quitRequested();

 private:
  // Opens a snapshot file, or scans a folder.
  void openGiven(const std::filesystem::path& file);
  void showDocument(BrowserModel* browser);
  void raise(BrowserModel* browser);
  void browserAppeared();
  void browserClosed(BrowserModel* browser);
  void welcomeClosed();
  void scanPhaseChanged();
  void setUpTray();

  ScanController& scans_;
  DocumentController& documents_;
  Settings& settings_;
  AppUpdater* updater_;
  Schedule* schedule_ = nullptr;
  struct Open {
    BrowserModel* browser;
    QPointer<BrowserWindow> window;
  };
  std::vector<Open> windows_;
  QPointer<WelcomeWindow> welcome_;
  QPointer<SettingsView> settingsWindow_;
  QPointer<AboutWindow> about_;
  QSystemTrayIcon* tray_ = nullptr;
  QMenu* trayMenu_ = nullptr;
  bool quitting_ = false;
  // The start window was closed while a scan ran and the app stayed for it.
  bool waitingForScan_ = false;
  std::function<bool(QWidget* parent)> askQuitDuringScan_;
};

}  // namespace tallyfox
