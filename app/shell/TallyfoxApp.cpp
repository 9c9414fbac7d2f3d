#include "shell/TallyfoxApp.h"

#include "model/AppUpdater.h"
#include "model/DocumentController.h"
#include "model/DumpMode.h"
#include "model/GrowthAlert.h"
#include "model/PlaceStore.h"
#include "model/ScanController.h"
#include "model/Schedule.h"
#include "model/Settings.h"
#include "platform/Desktop.h"
#include "platform/IdleTime.h"
#include "platform/Notifications.h"
#include "platform/Spawn.h"
#include "platform/SystemLog.h"
#include "platform/UserServices.h"
#include "shell/AppDelegate.h"
#include "shell/GrowthAlertNotice.h"
#include "shell/SingleInstance.h"
#include "views/ApplicationBeep.h"
#include "views/Icons.h"

#include <QApplication>
#include <QFile>

#include <linux/ioprio.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <iostream>
#include <memory>
#include <string_view>

namespace tallyfox::TallyfoxApp {

bool hasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

const char* noDisplayMessage() {
  return "tallyfox: no display to show windows on; use \"tallyfox --dump FILE\" to summarise a snapshot, "
         "or tfscan to scan and compare from a terminal";
}

std::vector<std::filesystem::path> filesFrom(int argc, const char* const* argv) {
  // Qt's own options that take the next argument as their value.
  static constexpr std::string_view withValue[] = {
      "platform",      "platformpluginpath",
      "platformtheme", "plugin",
      "style",         "stylesheet",
      "session",       "display",
      "geometry",      "title",
      "name",          "qwindowgeometry",
      "qwindowtitle",  "qwindowicon",
      "qmljsdebugger",
  };
  std::vector<std::filesystem::path> files;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    // Bytes as the shell gave them: a name need not be valid in any encoding.
    const std::string_view argument = argv[i];
    if (!optionsEnded && argument == "--") {
      optionsEnded = true;
      continue;
    }
    if (!optionsEnded && argument == "--growth-alert") {
      ++i;  // its snapshot is not a file to open
      continue;
    }
    if (!optionsEnded && argument.starts_with('-')) {
      std::string_view name = argument;
      while (name.starts_with('-')) name.remove_prefix(1);
      if (name.find('=') == std::string_view::npos &&
          std::ranges::find(withValue, name) != std::end(withValue))
        ++i;
      continue;
    }
    std::error_code error;
    const std::filesystem::path given{std::string(argument)};
    const std::filesystem::path absolute = std::filesystem::absolute(given, error);
    files.push_back(error ? given : absolute);
  }
  return files;
}

namespace {

// Whether one of the names is given as an option, before any "--".
bool optionGiven(int argc, const char* const* argv, std::initializer_list<std::string_view> names) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--") return false;
    if (std::ranges::find(names, argument) != names.end()) return true;
  }
  return false;
}

const char* usage() {
  return "Usage: tallyfox [FILE...]\n"
         "       tallyfox FOLDER\n"
         "       tallyfox --new-scan\n"
         "       tallyfox --dump FILE\n"
         "       tallyfox --growth-alert SNAPSHOT\n"
         "\n"
         "Opens each snapshot FILE (Tallyfox, vok, or an ncdu or gdu export) in a window of its own,\n"
         "and scans a FOLDER, showing the scan's progress in the start window and the folder in a\n"
         "window of its own when the scan is done; one scan runs at a time. All of this happens in\n"
         "the Tallyfox already running if there is one. With neither, shows the start window.\n"
         "\n"
         "  --new-scan   show the start window, to begin a new scan\n"
         "  --dump FILE  print a summary of a snapshot and exit (needs no display)\n"
         "  --growth-alert SNAPSHOT\n"
         "               notify what grew before a scheduled SNAPSHOT (tfscan --scheduled runs\n"
         "               this); clicking the notification shows the changes\n"
         "  -h, --help   show this help and exit\n"
         "\n"
         "To scan, compare and search snapshots from a terminal, use tfscan.\n";
}

}  // namespace

bool newScanFrom(int argc, const char* const* argv) {
  return optionGiven(argc, argv, {"--new-scan"});
}

std::optional<std::filesystem::path> growthAlertFrom(int argc, const char* const* argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--") return std::nullopt;
    if (argument == "--growth-alert") return std::filesystem::absolute(std::filesystem::path(argv[i + 1]));
  }
  return std::nullopt;
}

std::optional<std::filesystem::path> tfscanPath() {
  // The tfscan installed with this program first, so that both read snapshots alike.
  const QByteArray beside = QFile::encodeName(QCoreApplication::applicationDirPath()) + "/tfscan";
  std::optional<QByteArray> found = findProgram(beside);
  if (!found) found = findProgram("tfscan");
  if (!found) return std::nullopt;
  std::error_code error;
  const std::filesystem::path program(found->toStdString());
  const std::filesystem::path absolute = std::filesystem::absolute(program, error);
  return error ? program : absolute;
}

namespace {

std::optional<std::filesystem::path> baselineOf(const SingleInstance::Comparison& comparison) {
  if (comparison.baseline.empty()) return std::nullopt;
  return comparison.baseline;
}

void setUpApplication() {
  QApplication::setApplicationName(QStringLiteral("Tallyfox"));
  QApplication::setOrganizationDomain(QStringLiteral("quillon.io"));
  QApplication::setDesktopFileName(QStringLiteral("io.quillon.Tallyfox"));
}

// The windows, until the person quits. `start` opens what the launch asked for.
int runWindows(QApplication& app, SingleInstance& instance, const std::function<void(AppDelegate&)>& start) {
  QApplication::setWindowIcon(Icons::icon(Icons::Symbol::app));
  // Closing windows follows the app's own rules (AppDelegate), not "last window closed".
  QApplication::setQuitOnLastWindowClosed(false);

  // The process-wide objects, made once here and handed to whoever needs them.
  Settings settings(Preferences::standard());
  auto places = std::make_shared<PreferencesPlaceStore>(settings.store());
  DocumentController documents(settings, Desktop::system(std::make_shared<ApplicationBeep>()), places);
  // Places not yet written go to the file before the app ends.
  QObject::connect(&app, &QCoreApplication::aboutToQuit, places.get(), &PreferencesPlaceStore::flush);
  ScanController scans(documents, settings);
  IdleTime idle;
  AppUpdater updater(
      std::make_unique<FeedlessUpdaterDriver>(), scans, documents, [&idle] { return idle.seconds(); },
      &SystemLog::write);
  // An update still waiting when the app ends is installed once it has.
  QObject::connect(&app, &QCoreApplication::aboutToQuit, &updater, &AppUpdater::installAtQuit);
  Schedule schedule(settings, UserServices::systemd(), tfscanPath(), ScheduleUnits::userUnitFolder());
  AppDelegate delegate(scans, documents, settings, &updater);
  delegate.setSchedule(&schedule);
  instance.listen();
  QObject::connect(&instance, &SingleInstance::filesRequested, &delegate, &AppDelegate::handleRequest);
  QObject::connect(&instance, &SingleInstance::newScanRequested, &delegate, &AppDelegate::showWelcome);
  QObject::connect(&instance, &SingleInstance::comparisonRequested, &delegate,
                   [&delegate](const SingleInstance::Comparison& comparison) {
                     delegate.openComparison(comparison.snapshot, baselineOf(comparison), comparison.folder);
                   });
  start(delegate);
  updater.start();
  return app.exec();
}

// Tells what grew at a scheduled scan, and shows the changes when the notification is
// clicked: in the Tallyfox already running, or in a window of this process.
int runGrowthAlert(int argc, char** argv, const std::filesystem::path& snapshot) {
  const auto alert = GrowthAlert::forSnapshot(snapshot);
  if (const QString* none = std::get_if<QString>(&alert)) {
    std::cerr << "tallyfox: " << none->toStdString() << '\n';
    return 1;
  }
  // Without a display the notification can still be shown; the window then only by a
  // running instance.
  std::unique_ptr<QCoreApplication> app;
  if (hasDisplay())
    app = std::make_unique<QApplication>(argc, argv);
  else
    app = std::make_unique<QCoreApplication>(argc, argv);
  setUpApplication();
  Notifications notifications;
  GrowthAlertNotice notice(std::get<GrowthAlert>(alert), notifications);
  QString error;
  if (!notice.send(&error)) {
    std::cerr << "tallyfox: the growth alert could not be shown: " << error.toStdString() << '\n';
    return 1;
  }
  QObject::connect(&notice, &GrowthAlertNotice::finished, app.get(), &QCoreApplication::quit);
  app->exec();
  if (!notice.requested()) return 0;
  const SingleInstance::Comparison comparison = *notice.requested();
  SingleInstance instance;
  if (instance.handOffComparison(comparison)) return 0;
  auto* windows = qobject_cast<QApplication*>(app.get());
  if (!windows) {
    std::cerr << "tallyfox: " << noDisplayMessage() << '\n';
    return 1;
  }
  // Started by the schedule's service, this process has its idle disk priority; the window
  // should not wait behind every other program's reads. (No privilege is needed for this.)
  ::syscall(SYS_ioprio_set, IOPRIO_WHO_PROCESS, 0, IOPRIO_PRIO_VALUE(IOPRIO_CLASS_NONE, 0));
  return runWindows(*windows, instance, [&comparison](AppDelegate& delegate) {
    delegate.openComparison(comparison.snapshot, baselineOf(comparison), comparison.folder);
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (optionGiven(argc, argv, {"--help", "-h"})) {
    std::cout << usage();
    return 0;
  }
  // The dump needs no display and no application object at all.
  if (const auto file = DumpMode::requestedFile(argc, argv))
    return DumpMode::run(*file, std::cout, std::cerr);
  if (optionGiven(argc, argv, {"--dump"})) {
    std::cerr << "tallyfox: --dump needs a snapshot file: tallyfox --dump FILE\n";
    return 2;
  }

  // The notification needs no display; only the window it may open does.
  if (const auto snapshot = growthAlertFrom(argc, argv)) return runGrowthAlert(argc, argv, *snapshot);
  if (optionGiven(argc, argv, {"--growth-alert"})) {
    std::cerr << "tallyfox: --growth-alert needs a snapshot file: tallyfox --growth-alert SNAPSHOT\n";
    return 2;
  }

  if (!hasDisplay()) {
    std::cerr << noDisplayMessage() << '\n';
    return 1;
  }

  const std::vector<std::filesystem::path> files = filesFrom(argc, argv);
  const bool newScan = newScanFrom(argc, argv);
  SingleInstance instance;
  if (instance.handOff(files, newScan)) return 0;

  QApplication app(argc, argv);
  setUpApplication();
  return runWindows(app, instance,
                    [&files, newScan](AppDelegate& delegate) { delegate.launch(files, newScan); });
}

}  // namespace tallyfox::TallyfoxApp
