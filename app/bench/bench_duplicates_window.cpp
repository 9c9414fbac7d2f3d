// What the duplicates window sees of a search: the folder of 20,000 files that
// bench_duplicates searches (cold cache each run), searched through DuplicatesState as the
// window does. Reports how often the progress the window shows moved (the longest gap
// between two updates is what matters: the window promises one at least every 0.15 s while
// the finder advances) and how long the main thread was ever kept from its events, measured
// by a 5 ms timer's lateness.
#include "DuplicateCorpus.h"
#include "model/Duplicates.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>

using namespace tallyfox;

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

void DuplicatesWindowSearch(benchmark::State& state) {
  bench::Corpus& corpus = bench::corpus();
  const auto logFolder = corpus.root / "log";
  double longestGap = 0, longestStall = 0, firstUpdate = 0;
  std::size_t updates = 0, groups = 0;
  for (auto _ : state) {
    state.PauseTiming();
    bench::dropCache(corpus.all);
    state.ResumeTiming();
    DuplicatesState search(DiskTree::root, corpus.root.string(), logFolder);
    const Clock::time_point start = Clock::now();
    Clock::time_point last = start;
    bool seenUpdate = false;
    QObject::connect(&search, &DuplicatesState::progressChanged, [&] {
      const Clock::time_point now = Clock::now();
      if (!seenUpdate)
        firstUpdate = millisecondsBetween(start, now);
      else
        longestGap = std::max(longestGap, millisecondsBetween(last, now));
      seenUpdate = true;
      last = now;
      ++updates;
    });
    QTimer probe;
    probe.setInterval(5);
    probe.setTimerType(Qt::PreciseTimer);
    Clock::time_point lastProbe = start;
    QObject::connect(&probe, &QTimer::timeout, [&] {
      const Clock::time_point now = Clock::now();
      longestStall = std::max(longestStall, millisecondsBetween(lastProbe, now) - 5.0);
      lastProbe = now;
    });
    QEventLoop loop;
    QObject::connect(&search, &DuplicatesState::changed, &loop, [&] {
      if (search.phase().kind != DuplicatesState::Phase::Kind::finding) loop.quit();
    });
    probe.start();
    search.find(corpus.tree);
    loop.exec();
    groups = search.groups().size();
  }
  state.counters["groups"] = double(groups);
  state.counters["updates"] = double(updates) / double(state.iterations());
  state.counters["first_update_ms"] = firstUpdate;
  state.counters["longest_update_gap_ms"] = longestGap;
  state.counters["longest_main_thread_stall_ms"] = longestStall;
}

}  // namespace

BENCHMARK(DuplicatesWindowSearch)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
