// Renders the start window and the window of a snapshot to PNG files, the way a person would
// see them on a plain desktop: tool_screenshot SNAPSHOT OUTPUT_FOLDER.
#include "model/DocumentController.h"
#include "model/ScanController.h"
#include "model/Settings.h"
#include "platform/Desktop.h"
#include "shell/AppDelegate.h"
#include "views/ApplicationBeep.h"
#include "views/BrowserView.h"
#include "views/BrowserWindow.h"
#include "views/EntryList.h"
#include "views/SunburstView.h"
#include "views/WelcomeWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QThread>

#include <iostream>

namespace {

bool waitFor(const std::function<bool()>& done, int ms = 20000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

void save(QWidget* window, const QString& file) {
  waitFor([] { return false; }, 300);  // let the window manager and the painter settle
  QScreen* screen = window->screen();
  QPixmap shot = screen ? screen->grabWindow(window->winId()) : QPixmap();
  if (shot.isNull() || shot.size().width() < 10) shot = window->grab();
  shot.save(file);
  std::cout << file.toStdString() << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: tool_screenshot SNAPSHOT OUTPUT_FOLDER\n";
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  tallyfox::Settings settings(tallyfox::Preferences::standard());
  tallyfox::DocumentController documents(
      settings, tallyfox::Desktop::system(std::make_shared<tallyfox::ApplicationBeep>()));
  tallyfox::ScanController scans(documents, settings);
  tallyfox::AppDelegate delegate(scans, documents, settings);
  const QString out = QString::fromLocal8Bit(argv[2]);

  delegate.showWelcome();
  delegate.welcomeWindow()->resize(820, 520);
  save(delegate.welcomeWindow(), out + QStringLiteral("/start-window.png"));

  tallyfox::BrowserWindow* window = delegate.openWindow(argv[1]);
  window->resize(1280, 800);
  waitFor([&] { return window->browser()->state().isReady() && window->view()->chart()->layout(); });
  window->browser()->move(2);
  save(window, out + QStringLiteral("/browser-window.png"));
  return 0;
}
