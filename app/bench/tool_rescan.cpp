// Times a rescan of one folder of an open snapshot as a window does it: the scan of that
// folder, the merge with the mapped snapshot and the one write of the result, the new
// snapshot's window, until the old window is gone and the app idles again.
//
//   tool_rescan [--windows] SNAPSHOT FOLDER [RUNS]
//
// With --windows the snapshot opens in real windows (the platform Qt is given, offscreen
// without a display), as the app shows them; otherwise in models alone. Each run prints the
// whole time and its parts; the merge and the write are then timed once more apart, on the
// same trees, since the app does both in one step.
//
// Runs in a temporary home so that the new snapshots and the windows' places go there.
#include "model/BrowserModel.h"
#include "model/DocumentController.h"
#include "model/PartialScans.h"
#include "model/ScanController.h"
#include "model/Settings.h"
#include "shell/AppDelegate.h"
#include "views/BrowserWindow.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/Scanner.h>
#include <tallyfox/SnapshotBuilderSink.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotMerge.h>
#include <tallyfox/SnapshotPaths.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTemporaryDir>
#include <QThreadPool>

#include <cstring>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <memory>

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

// Until nothing that was posted is left: what the windows do after the new one shows.
void drain() {
  for (int k = 0; k < 50; ++k) QCoreApplication::processEvents(QEventLoop::AllEvents);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

double seconds(qint64 ms) {
  return double(ms) / 1000;
}

// Processor time of this thread: on a machine shared with other work, wall time says much
// about the others. Work the merge and the write hand to other threads is not in it.
double threadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Merge and write apart, as the rescan does them, on a fresh scan of the folder.
void timeMergeAndWrite(const std::filesystem::path& snapshot, const std::string& folder, NodeId node,
                       const std::filesystem::path& out) {
  const DiskTreePtr tree = SnapshotFile::map(snapshot);
  auto sink = std::make_shared<SnapshotBuilderSink>();
  Scanner scanner(folder, ScanOptions(std::nullopt, true), sink);
  const ScanStats stats = scanner.run();
  const DiskTreePtr fresh = SnapshotFile::inMemory(sink->finish(), {folder, {}, stats.seconds});
  for (int round = 0; round < 2; ++round) {
    QElapsedTimer clock;
    clock.start();
    double cpu = threadSeconds();
    const SnapshotMerge::Result merged = SnapshotMerge::replace(node, *tree, *fresh);
    const qint64 merge = clock.restart();
    const double mergeCpu = threadSeconds() - cpu;
    cpu = threadSeconds();
    SnapshotFile::write(merged.columns, merged.info, out);
    const qint64 write = clock.restart();
    const double writeCpu = threadSeconds() - cpu;
    std::cout << std::fixed << std::setprecision(2) << "  apart: merge " << seconds(merge) << " s ("
              << mergeCpu << " s processor), write " << seconds(write) << " s (" << writeCpu
              << " s processor on this thread); " << merged.columns.nodeCount() << " nodes\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool windows = argc > 1 && std::strcmp(argv[1], "--windows") == 0;
  if (windows) {
    --argc;
    ++argv;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
      qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  if (argc < 3) {
    std::cerr << "usage: tool_rescan [--windows] SNAPSHOT FOLDER [RUNS]\n";
    return 2;
  }
  std::unique_ptr<QCoreApplication> app;
  if (windows)
    app = std::make_unique<QApplication>(argc, argv);
  else
    app = std::make_unique<QCoreApplication>(argc, argv);
  const std::filesystem::path snapshot = std::filesystem::absolute(argv[1]);
  const std::string folderPath = argv[2];
  const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
  QTemporaryDir home;
  qputenv("HOME", home.path().toUtf8());
  qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toUtf8());
  qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toUtf8());
  Settings settings(Preferences::standard());
  auto places = std::make_shared<PreferencesPlaceStore>(settings.store());
  DocumentController documents(settings, {}, places);
  ScanController scans(documents, settings);
  std::unique_ptr<AppDelegate> delegate;
  if (windows) delegate = std::make_unique<AppDelegate>(scans, documents, settings);

  BrowserModel* browser = documents.openDocument(snapshot);
  if (!waitFor([&] { return !browser->state().isLoading(); }) || !browser->tree()) {
    std::cerr << "cannot open " << snapshot << "\n";
    return 1;
  }
  const auto folder = SnapshotPaths::node(folderPath, *browser->tree());
  if (!folder) {
    std::cerr << folderPath << " is not a folder of the snapshot\n";
    return 1;
  }
  std::cout << "snapshot: " << browser->tree()->totalNodes()
            << " nodes; folder: " << browser->tree()->entryCount()[std::size_t(*folder)] << " entries"
            << (windows ? ", in windows" : ", in models") << "\n";
  documents.closeDocument(snapshot);
  drain();

  std::cout << std::fixed << std::setprecision(2);
  for (int run = 0; run < runs; ++run) {
    // Each run rescans the original snapshot, in a window of its own, at the folder.
    browser = documents.openDocument(snapshot);
    waitFor([&] { return browser->state().isReady(); });
    browser->navigate(*folder);
    // As in a window open for a while: its own background work (the check of every node
    // after opening) is done.
    QThreadPool::globalInstance()->waitForDone();
    drain();
    const QPointer<QObject> oldWindow =
        windows ? static_cast<QObject*>(delegate->windowOf(browser)) : browser;

    QElapsedTimer clock;
    clock.start();
    browser->partialScans().rescanFolder(*folder);
    const std::shared_ptr<Scanner> scanner = browser->partialScans().addingScanner();
    BrowserModel* old = browser;
    qint64 written = -1, ready = -1, closed = -1;
    if (!waitFor([&] {
          const auto open = documents.browsers();
          const bool fresh = std::any_of(open.begin(), open.end(), [&](BrowserModel* b) { return b != old; });
          if (fresh && written < 0) written = clock.elapsed();
          if (fresh && ready < 0)
            for (BrowserModel* b : open)
              if (b != old && b->state().isReady()) ready = clock.elapsed();
          if (closed < 0 && !oldWindow) closed = clock.elapsed();
          return ready >= 0 && closed >= 0;
        })) {
      std::cerr << "the rescan did not finish\n";
      return 1;
    }
    drain();
    const qint64 idle = clock.elapsed();
    const double scan = scanner ? scanner->stats().seconds : 0;
    BrowserModel* next = documents.browsers().front();
    std::cout << "run " << run + 1 << ": " << seconds(std::max(ready, closed))
              << " s to the new window with the old one closed (" << seconds(idle) << " s until idle)\n"
              << "  scan " << scan << " s, merge and write " << seconds(written) - scan << " s, open "
              << seconds(ready - written) << " s, old window gone at " << seconds(closed) << " s\n";
    documents.closeDocument(*next->fileURL());
    drain();
  }
  timeMergeAndWrite(snapshot, folderPath, *folder,
                    std::filesystem::path(home.path().toStdString()) / "apart.tfsnap");
  return 0;
}
