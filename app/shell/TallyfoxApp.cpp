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
#include <QDir>
#include <QFileInfo>

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

QStringList filesFrom(int argc, const char* const* argv) {
  // Qt's own options that take the next argument as their value.
  static const QStringList withValue{
      QStringLiteral("platform"),      QStringLiteral("platformpluginpath"),
      QStringLiteral("platformtheme"), QStringLiteral("plugin"),
      QStringLiteral("style"),         QStringLiteral("stylesheet"),
      QStringLiteral("session"),       QStringLiteral("display"),
      QStringLiteral("geometry"),      QStringLiteral("title"),
      QStringLiteral("name"),          QStringLiteral("qwindowgeometry"),
      QStringLiteral("qwindowtitle"),  QStringLiteral("qwindowicon"),
      QStringLiteral("qmljsdebugger"),
  };
  QStringList files;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const QString argument = QString::fromLocal8Bit(argv[i]);
    if (!optionsEnded && argument == QLatin1String("--")) {
      optionsEnded = true;
      continue;
    }
    if (!optionsEnded && argument.startsWith(QLatin1Char('-'))) {
      QString name = argument;
      while (name.startsWith(QLatin1Char('-'))) name.remove(0, 1);
      if (!name.contains(QLatin1Char('=')) && withValue.contains(name)) ++i;
      continue;
    }
    files << QFileInfo(argument).absoluteFilePath();
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
         "       tallyfox --new-scan\n"
         "       tallyfox --dump FILE\n"
         "\n"
         "Opens each snapshot FILE (Tallyfox, vok, or an ncdu or gdu export) in a window of its own,\n"
         "in the Tallyfox already running if there is one; with no FILE, shows the start window.\n"
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

  const QStringList files = filesFrom(argc, argv);
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
  AppUpdater updater(std::make_unique<FeedlessUpdaterDriver>(), scans, documents,
                     [&idle] { return idle.seconds(); }, &SystemLog::write);
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
