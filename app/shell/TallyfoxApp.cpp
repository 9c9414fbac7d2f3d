#include "shell/TallyfoxApp.h"

#include "model/AppUpdater.h"
#include "model/DocumentController.h"
#include "model/DumpMode.h"
#include "model/PlaceStore.h"
#include "model/ScanController.h"
#include "model/Settings.h"
#include "platform/Desktop.h"
#include "platform/IdleTime.h"
#include "platform/SystemLog.h"
#include "shell/AppDelegate.h"
#include "shell/SingleInstance.h"
#include "views/Icons.h"

#include <QApplication>

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <iostream>
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
         "\n"
         "Opens each snapshot FILE (Tallyfox, vok, or an ncdu or gdu export) in a window of its own,\n"
         "and scans a FOLDER, showing the scan's progress in the start window and the folder in a\n"
         "window of its own when the scan is done; one scan runs at a time. All of this happens in\n"
         "the Tallyfox already running if there is one. With neither, shows the start window.\n"
         "\n"
         "  --new-scan   show the start window, to begin a new scan\n"
         "  --dump FILE  print a summary of a snapshot and exit (needs no display)\n"
         "  -h, --help   show this help and exit\n"
         "\n"
         "To scan, compare and search snapshots from a terminal, use tfscan.\n";
}

}  // namespace

bool newScanFrom(int argc, const char* const* argv) {
  return optionGiven(argc, argv, {"--new-scan"});
}

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

  if (!hasDisplay()) {
    std::cerr << noDisplayMessage() << '\n';
    return 1;
  }

  const std::vector<std::filesystem::path> files = filesFrom(argc, argv);
  const bool newScan = newScanFrom(argc, argv);
  SingleInstance instance;
  if (instance.handOff(files, newScan)) return 0;

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tallyfox"));
  QApplication::setOrganizationDomain(QStringLiteral("quillon.io"));
  QApplication::setDesktopFileName(QStringLiteral("io.quillon.Tallyfox"));
  QApplication::setWindowIcon(Icons::icon(Icons::Symbol::app));
  // Closing windows follows the app's own rules (AppDelegate), not "last window closed".
  QApplication::setQuitOnLastWindowClosed(false);

  // The process-wide objects, made once here and handed to whoever needs them.
  Settings settings(Preferences::standard());
  auto places = std::make_shared<PreferencesPlaceStore>(settings.store());
  DocumentController documents(settings, Desktop::system(), places);
  // Places not yet written go to the file before the app ends.
  QObject::connect(&app, &QCoreApplication::aboutToQuit, places.get(), &PreferencesPlaceStore::flush);
  ScanController scans(documents, settings);
  IdleTime idle;
  AppUpdater updater(
      std::make_unique<FeedlessUpdaterDriver>(), scans, documents, [&idle] { return idle.seconds(); },
      &SystemLog::write);
  // An update still waiting when the app ends is installed once it has.
  QObject::connect(&app, &QCoreApplication::aboutToQuit, &updater, &AppUpdater::installAtQuit);
  AppDelegate delegate(scans, documents, settings, &updater);
  instance.listen();
  QObject::connect(&instance, &SingleInstance::filesRequested, &delegate, &AppDelegate::handleRequest);
  QObject::connect(&instance, &SingleInstance::newScanRequested, &delegate, &AppDelegate::showWelcome);
  delegate.launch(files, newScan);
  updater.start();
  return app.exec();
}

}  // namespace tallyfox::TallyfoxApp
