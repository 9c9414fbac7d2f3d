// Times a browser window on a large snapshot, offscreen: from opening the file to the first
// painted frame, then entering a folder of a million entries and scrolling through it.
//   bench_browser_window [NODES [CHILDREN [SNAPSHOT]]]   (defaults 10,000,000 and 1,000,000)
// The snapshot is generated (with a fixed seed) unless a file is given.
#include "bench/SyntheticTree.h"
#include "views/ApplicationBeep.h"
#include "views/BrowserView.h"
#include "views/BrowserWindow.h"
#include "views/EntryList.h"
#include "views/RowListModel.h"
#include "views/SunburstView.h"

#include <tallyfox/SnapshotFile.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QScrollBar>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>

namespace {

double ms(const QElapsedTimer& timer) {
  return double(timer.nsecsElapsed()) / 1e6;
}

void waitUntil(const std::function<bool()>& done) {
  while (!done()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const std::size_t nodes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10'000'000;
  const std::size_t children = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1'000'000;
  std::filesystem::path file = argc > 3 ? argv[3] : "";
  const bool generated = file.empty();
  if (generated) {
    file =
        std::filesystem::temp_directory_path() / ("bench-browser-" + std::to_string(::getpid()) + ".tfsnap");
    QElapsedTimer timer;
    timer.start();
    const auto columns = tallyfox::bench::syntheticTree(nodes, children);
    tallyfox::SnapshotFile::write(columns, {"/home/bench", std::chrono::system_clock::now(), 1.0}, file);
    std::printf("generated %zu nodes in %.0f ms (not timed below)\n", nodes, ms(timer));
  }

  QApplication app(argc, argv);
  QElapsedTimer total;
  total.start();
  auto* window = new tallyfox::BrowserWindow(
      file, tallyfox::Desktop::system(std::make_shared<tallyfox::ApplicationBeep>()));
  window->resize(1440, 900);
  window->show();
  tallyfox::BrowserModel* model = window->browser();
  tallyfox::EntryList* list = window->view()->list();
  tallyfox::SunburstView* chart = window->view()->chart();
  waitUntil([&] { return !model->state().isLoading(); });
  if (!model->state().isReady()) {
    std::fprintf(stderr, "could not open: %s\n", qPrintable(model->state().message));
    return 1;
  }
  const double ready = ms(total);
  waitUntil([&] { return chart->layout() != nullptr; });
  const double laidOut = ms(total);
  window->repaint();
  const double painted = ms(total);
  std::printf("open %zu-node snapshot: loaded %.1f ms, chart layout %.1f ms, first painted frame %.1f ms\n",
              std::size_t(model->tree()->nodeCount()), ready, laidOut, painted);

  // The folder with a million children.
  tallyfox::NodeId huge = -1;
  for (tallyfox::NodeId id : model->tree()->children(model->current()))
    if (model->tree()->childCount(id) >= std::int64_t(children)) huge = id;
  if (huge < 0) {
    std::fprintf(stderr, "no folder of %zu children below the opening folder\n", children);
    return 1;
  }
  QElapsedTimer step;
  step.start();
  model->navigate(huge);
  const double listed = ms(step);
  waitUntil([&] { return chart->layout() && chart->layout()->center == huge; });
  const double chartReady = ms(step);
  window->repaint();
  std::printf("enter folder of %d rows: rows %.1f ms, chart %.1f ms, painted %.1f ms\n",
              list->rows()->rowCount(), listed, chartReady, ms(step));

  // Scroll from top to bottom a page at a time, painting every page.
  QScrollBar* bar = list->verticalScrollBar();
  const int pages = 1000;
  step.restart();
  for (int i = 1; i <= pages; ++i) {
    bar->setValue(int(std::int64_t(bar->maximum()) * i / pages));
    list->viewport()->repaint();
  }
  std::printf("scroll through %d rows in %d painted steps: %.1f ms (%.2f ms a step)\n",
              list->rows()->rowCount(), pages, ms(step), ms(step) / pages);

  // Keyboard: to the last row and back, each with the selection scrolled into view.
  step.restart();
  model->selectLast();
  list->viewport()->repaint();
  const double toEnd = ms(step);
  step.restart();
  model->selectFirst();
  list->viewport()->repaint();
  std::printf("End %.1f ms, Home %.1f ms; 100 x Down ", toEnd, ms(step));
  // Down as the list receives it, painted after each press as key repeat would see it.
  auto pressDown = [&](int times) {
    QElapsedTimer keys;
    keys.start();
    for (int i = 0; i < times; ++i) {
      QKeyEvent press(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
      QCoreApplication::sendEvent(list, &press);
      list->viewport()->repaint();
    }
    return ms(keys) / times;
  };
  std::printf("%.2f ms a key", pressDown(100));
  // With a filter that keeps about a tenth of the folder.
  step.restart();
  model->setFilter(QStringLiteral("item9"));
  model->selectFirst();
  list->viewport()->repaint();
  const double filtering = ms(step);
  std::printf(", filtered to %d rows in %.1f ms: %.2f ms a key\n", list->rows()->rowCount(), filtering,
              pressDown(100));
  model->setFilter(QString());

  // The chart on a 4K screen: hovering repaints from the cached picture; moving the
  // selection to another branch redraws that branch.
  model->goUp();
  window->resize(3840, 2160);
  waitUntil([&] { return chart->layout() && chart->layout()->center == model->current(); });
  window->repaint();
  const auto& segments = chart->layout()->segments;
  step.restart();
  const int hovers = 200;
  for (int i = 0; i < hovers; ++i) {
    model->setHovered(segments[std::size_t(i) % segments.size()].node);
    chart->repaint();
  }
  std::printf("chart %dx%d with %zu segments: hover frame %.2f ms", chart->width(), chart->height(),
              segments.size(), ms(step) / hovers);
  step.restart();
  const int moves = 20;
  for (int i = 0; i < moves; ++i) {
    model->move(i % 2 == 0 ? 1 : -1);
    chart->repaint();
  }
  std::printf(", selection to another branch %.2f ms\n", ms(step) / moves);

  delete window;
  if (generated) std::filesystem::remove(file);
  return 0;
}
