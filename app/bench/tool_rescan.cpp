// Times a rescan of one folder of an open snapshot as a window does it: the scan of that
// folder, the merge with the mapped snapshot and the one write of the result, until the new
// snapshot's window is there. tool_rescan SNAPSHOT FOLDER [RUNS]
//
// Runs in a temporary home so that the new snapshots and the window's places go there.
#include "model/BrowserModel.h"
#include "model/DocumentController.h"
#include "model/PartialScans.h"
#include "model/Settings.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotPaths.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <iostream>

using namespace tallyfox;

namespace {

bool waitFor(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > 600'000) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 3) {
    std::cerr << "usage: tool_rescan SNAPSHOT FOLDER [RUNS]\n";
    return 2;
  }
  const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
  QTemporaryDir home;
  qputenv("HOME", home.path().toUtf8());
  qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toUtf8());
  qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toUtf8());
  Settings settings(Preferences::standard());
  DocumentController documents(settings, {});

  BrowserModel* browser = documents.openDocument(argv[1]);
  if (!waitFor([&] { return !browser->state().isLoading(); }) || !browser->tree()) {
    std::cerr << "cannot open " << argv[1] << "\n";
    return 1;
  }
  const auto folder = SnapshotPaths::node(argv[2], *browser->tree());
  if (!folder) {
    std::cerr << argv[2] << " is not a folder of the snapshot\n";
    return 1;
  }
  std::cout << "snapshot: " << browser->tree()->totalNodes()
            << " nodes; folder: " << browser->tree()->entryCount()[std::size_t(*folder)] << " entries\n";
  for (int run = 0; run < runs; ++run) {
    // Each run rescans the original snapshot, in a window of its own.
    browser = documents.openDocument(argv[1]);
    waitFor([&] { return browser->state().isReady(); });
    QElapsedTimer clock;
    clock.start();
    browser->partialScans().rescanFolder(*folder);
    BrowserModel* old = browser;
    if (!waitFor([&] { return documents.browsers().size() == 1 && documents.browsers().front() != old; })) {
      std::cerr << "the rescan did not finish\n";
      return 1;
    }
    BrowserModel* next = documents.browsers().front();
    waitFor([&] { return next->state().isReady(); });
    std::cout << "rescan to new window: " << clock.elapsed() << " ms\n";
    documents.closeDocument(*next->fileURL());
    QCoreApplication::processEvents();
  }
  return 0;
}
