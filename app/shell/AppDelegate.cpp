#include "shell/AppDelegate.h"

#include "model/Comparison.h"
#include "model/DocumentController.h"
#include "model/RecentSnapshot.h"
#include "model/ScanController.h"
#include "model/Schedule.h"
#include "model/Settings.h"
#include "shell/MenuBar.h"
#include "views/AboutWindow.h"
#include "views/BrowserView.h"
#include "views/BrowserWindow.h"
#include "views/ChartListSplitter.h"
#include "views/Icons.h"
#include "views/RemoteScanDialog.h"
#include "views/SettingsView.h"
#include "views/SnapshotsFolder.h"
#include "views/WelcomeView.h"
#include "views/WelcomeWindow.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotFile.h>

#include <QApplication>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>

#include <algorithm>
#include <system_error>

namespace tallyfox {

AppDelegate::AppDelegate(ScanController& scans, DocumentController& documents, Settings& settings,
                         AppUpdater* updater, QObject* parent)
    : QObject(parent), scans_(scans), documents_(documents), settings_(settings), updater_(updater) {
  connect(&documents_, &DocumentController::documentOpened, this, &AppDelegate::showDocument);
  connect(&documents_, &DocumentController::raiseRequested, this, &AppDelegate::raise);
  connect(&documents_, &DocumentController::closeRequested, this, [this](BrowserModel* browser) {
    if (BrowserWindow* window = windowOf(browser)) window->close();
  });
  connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
    // Windows still open at quit are not closed one by one: the one in front speaks for them.
    if (BrowserWindow* front = windowOf(documents_.focused()))
      settings_.setBrowserWindowSize(front->sizeToRemember());
    quitting_ = true;
  });
  connect(&scans_, &ScanController::phaseChanged, this, &AppDelegate::scanPhaseChanged);
  askQuitDuringScan_ = [](QWidget* parent) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("A scan is running"),
                    QStringLiteral("Quit Tallyfox and stop the scan?"), QMessageBox::NoButton, parent);
    box.setInformativeText(QStringLiteral(
        "Or Tallyfox keeps scanning without a window and opens the snapshot when it is done."));
    QPushButton* quit = box.addButton(QStringLiteral("Quit"), QMessageBox::DestructiveRole);
    box.setDefaultButton(box.addButton(QStringLiteral("Keep Scanning"), QMessageBox::RejectRole));
    box.exec();
    return box.clickedButton() == quit;
  };
  setUpTray();
}

AppDelegate::~AppDelegate() {
  quitting_ = true;
  // Each window's destruction edits the list, so walk a copy.
  const std::vector<Open> open = std::move(windows_);
  windows_.clear();
  for (const Open& o : open) delete o.window.data();
  delete welcome_.data();
  delete about_.data();
  delete trayMenu_;
}

void AppDelegate::launch(const std::vector<std::filesystem::path>& files, bool newScan) {
  for (const auto& file : files) openGiven(file);
  if (files.empty() || newScan) showWelcome();
}

void AppDelegate::handleRequest(const std::vector<std::filesystem::path>& files) {
  if (!files.empty()) {
    for (const auto& file : files) openGiven(file);
    return;
  }
  // A bare second launch: bring the app forward as it is, or offer the start window.
  for (BrowserWindow* window : browserWindows())
    if (window->isVisible()) {
      window->raise();
      window->activateWindow();
      return;
    }
  showWelcome();
}

SettingsView* AppDelegate::settingsView() const {
  return settingsWindow_;
}

void AppDelegate::showSettings() {
  if (!settingsWindow_) {
    settingsWindow_ = new SettingsView(settings_, documents_.desktop().fileManager, schedule_);
    // systemd may have started or stopped since the last look.
    if (schedule_) schedule_->checkAvailability();
    settingsWindow_->setWindowFlag(Qt::Window);
    settingsWindow_->setAttribute(Qt::WA_DeleteOnClose);
    settingsWindow_->resize(settingsWindow_->sizeHint().expandedTo(QSize(560, 0)));
  }
  settingsWindow_->show();
  settingsWindow_->raise();
  settingsWindow_->activateWindow();
}

AboutWindow* AppDelegate::aboutWindow() const {
  return about_;
}

void AppDelegate::showAbout() {
  if (!about_) {
    about_ = new AboutWindow(settings_);
    about_->setAttribute(Qt::WA_DeleteOnClose);
  }
  about_->show();
  about_->raise();
  about_->activateWindow();
}

void AppDelegate::showWelcome() {
  if (!welcome_) {
    welcome_ = new WelcomeWindow(scans_, documents_, settings_);
    MenuBar::install(welcome_, this, nullptr);
    connect(welcome_, &WelcomeWindow::closed, this, &AppDelegate::welcomeClosed);
    connect(welcome_, &WelcomeWindow::chooseFolderRequested, this, &AppDelegate::chooseFolder);
    connect(welcome_, &WelcomeWindow::remoteFolderRequested, this, &AppDelegate::chooseRemoteFolder);
  }
  if (welcome_->isMinimized()) welcome_->showNormal();
  welcome_->show();
  welcome_->raise();
  welcome_->activateWindow();
}

WelcomeWindow* AppDelegate::welcomeWindow() const {
  return welcome_;
}
WelcomeView* AppDelegate::welcomeView() const {
  return welcome_ ? welcome_->view() : nullptr;
}

BrowserWindow* AppDelegate::windowFor(const std::filesystem::path& file) const {
  return windowOf(documents_.documentFor(file));
}

BrowserWindow* AppDelegate::windowOf(const BrowserModel* browser) const {
  if (!browser) return nullptr;
  for (const Open& open : windows_)
    if (open.browser == browser && open.window) return open.window;
  return nullptr;
}

std::vector<BrowserWindow*> AppDelegate::browserWindows() const {
  std::vector<BrowserWindow*> all;
  for (BrowserModel* browser : documents_.browsers())
    if (BrowserWindow* window = windowOf(browser)) all.push_back(window);
  return all;
}

BrowserWindow* AppDelegate::openWindow(const std::filesystem::path& file) {
  return windowOf(documents_.openDocument(file));
}

BrowserWindow* AppDelegate::openComparison(const std::filesystem::path& snapshot,
                                           const std::optional<std::filesystem::path>& baseline,
                                           const std::string& folder) {
  BrowserModel* browser = documents_.openDocument(snapshot);
  if (!browser) return nullptr;
  browser->comparing().showChanges(baseline, folder);
  return windowOf(browser);
}

void AppDelegate::openGiven(const std::filesystem::path& file) {
  std::error_code error;
  if (!std::filesystem::is_directory(file, error)) {
    documents_.openDocument(file);
    return;
  }
  // As other disk-usage browsers take a folder: scan it, where the progress shows.
  showWelcome();
  scans_.scan(file);
}

void AppDelegate::showDocument(BrowserModel* browser) {
  auto* window = new BrowserWindow(browser);
  MenuBar::install(window, this, browser);
  window->fitToScreen(settings_.browserWindowSize());
  connect(window, &BrowserWindow::closing, this,
          [this, window] { settings_.setBrowserWindowSize(window->sizeToRemember()); });
  // Each window keeps its own border between chart and list; the last one moved is where
  // the next window starts.
  window->view()->splitter()->setChosenListWidth(settings_.browserListWidth());
  connect(window->view()->splitter(), &ChartListSplitter::listWidthChosen, this,
          [this](int width) { settings_.setBrowserListWidth(width); });
  windows_.push_back({browser, window});
  connect(window, &BrowserWindow::appeared, this, &AppDelegate::browserAppeared);
  connect(window, &BrowserWindow::activated, this, [this, browser] { documents_.setFocused(browser); });
  connect(window, &QObject::destroyed, this, [this, browser] { browserClosed(browser); });
  connect(browser, &BrowserModel::newScanRequested, this, &AppDelegate::showWelcome);
  window->show();
  window->raise();
  window->activateWindow();
  emit windowOpened(window);
}

void AppDelegate::raise(BrowserModel* browser) {
  BrowserWindow* window = windowOf(browser);
  if (!window) return;
  if (window->isMinimized()) window->showNormal();
  window->show();
  window->raise();
  window->activateWindow();
}

void AppDelegate::browserAppeared() {
  if (welcome_) welcome_->close();
}

void AppDelegate::browserClosed(BrowserModel* browser) {
  std::erase_if(windows_, [&](const Open& open) { return open.browser == browser || !open.window; });
  if (!quitting_) documents_.documentClosed(browser);
  if (!quitting_ && windows_.empty()) showWelcome();
}

void AppDelegate::welcomeClosed() {
  if (quitting_ || !browserWindows().empty()) return;
  // A scan ends by its Cancel button or by failing, not by closing a window.
  if (scans_.phase().isBusy() && (hasTray() || !askQuitDuringScan_ || !askQuitDuringScan_(nullptr))) {
    waitingForScan_ = true;
    return;
  }
  quit();
}

void AppDelegate::scanPhaseChanged() {
  if (!waitingForScan_ || scans_.phase().isBusy()) return;
  waitingForScan_ = false;
  // A finished scan asks for its window right after this change; a failure would leave the
  // app running with nothing on screen, so the start window comes back to show it.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (!quitting_ && windows_.empty()) showWelcome();
      },
      Qt::QueuedConnection);
}

void AppDelegate::chooseSnapshot(QWidget* parent) {
  const QString folder = QString::fromStdString(settings_.snapshotsFolder().string());
  const QStringList files = QFileDialog::getOpenFileNames(
      parent, QStringLiteral("Open Snapshot"), folder,
      QStringLiteral("Snapshots (*.tfsnap *.vok);;ncdu and gdu Exports (*.json *.gz);;All Files (*)"));
  for (const QString& file : files) documents_.openDocument(file.toStdString());
}

void AppDelegate::chooseFolder() {
  showWelcome();
  if (const auto folder = chooseFolderToScan(welcome_)) scans_.scan(*folder);
}

void AppDelegate::chooseRemoteFolder() {
  showWelcome();
  if (scans_.phase().isBusy()) return;
  RemoteScanDialog dialog(welcome_);
  if (dialog.exec() != QDialog::Accepted) return;
  if (const auto target = dialog.target()) scans_.scanRemote(*target, dialog.path());
}

void AppDelegate::scanAsAdministrator() {
  showWelcome();
  scans_.scanAsAdministrator();
}

void AppDelegate::scanPreset(const QString& path) {
  showWelcome();
  scans_.scan(path);
}

void AppDelegate::openRecent(const std::filesystem::path& file) {
  documents_.openDocument(file);
}

void AppDelegate::quit() {
  quitting_ = true;
  scans_.cancel();
  emit quitRequested();
  QCoreApplication::quit();
}

void AppDelegate::fillTrayMenu(QMenu* menu) {
  menu->clear();
  menu->addAction(Icons::icon(Icons::Symbol::home), QStringLiteral("Start Window"), this,
                  &AppDelegate::showWelcome);
  menu->addAction(QStringLiteral("New Scan…"), this, &AppDelegate::showWelcome);
  menu->addSeparator();
  for (const ScanController::Preset& preset : ScanController::presets()) {
    QAction* item = menu->addAction(Icons::icon(Icons::forSymbolName(preset.symbol)),
                                    QStringLiteral("Scan ") + preset.title);
    item->setData(preset.path);
    connect(item, &QAction::triggered, this, [this, item] {
      // Only a path can be scanned; anything else stored on the item does nothing.
      if (item->data().typeId() == QMetaType::QString) scanPreset(item->data().toString());
    });
  }
  menu->addAction(QStringLiteral("Scan Folder…"), this, &AppDelegate::chooseFolder);
  const std::vector<RecentSnapshot> recents =
      RecentSnapshot::find(6, settings_.snapshotsFolder(), documents_.recentDocuments());
  if (!recents.empty()) menu->addSeparator();
  const std::vector<QString> times = RecentSnapshot::times(recents);
  for (std::size_t i = 0; i < recents.size(); ++i) {
    const RecentSnapshot& recent = recents[i];
    const QString when = recent.dayHeading() + QStringLiteral(", ") + times[i];
    QAction* item = menu->addAction(recent.name() + QStringLiteral(" — ") + when);
    const std::filesystem::path file = recent.url;
    connect(item, &QAction::triggered, this, [this, file] { openRecent(file); });
  }
  menu->addSeparator();
  menu->addAction(QStringLiteral("Quit"), this, &AppDelegate::quit);
}

void AppDelegate::setUpTray() {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  tray_ = new QSystemTrayIcon(Icons::icon(Icons::Symbol::app), this);
  tray_->setToolTip(QStringLiteral("Tallyfox"));
  trayMenu_ = new QMenu;
  connect(trayMenu_, &QMenu::aboutToShow, this, [this] { fillTrayMenu(trayMenu_); });
  fillTrayMenu(trayMenu_);
  tray_->setContextMenu(trayMenu_);
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Trigger) return;
    // Like a click on a dock icon: with nothing on screen the start window comes back.
    const auto windows = browserWindows();
    const bool anyVisible =
        std::any_of(windows.begin(), windows.end(), [](BrowserWindow* w) { return w->isVisible(); });
    if (!anyVisible) showWelcome();
  });
  tray_->show();
}

}  // namespace tallyfox
