#include "SyntheticTree.h"
#include "model/BrowserModel.h"
#include "model/Comparison.h"
#include "model/FolderHistory.h"
#include "model/ListOrder.h"
#include "model/Settings.h"
#include "model/SunburstLayout.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotFile.h>

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <fcntl.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <random>

using namespace tallyfox;

namespace {

std::filesystem::path writeSnapshot(const char* name, std::size_t nodes, std::size_t huge,
                                    std::size_t growEvery = 0,
                                    std::chrono::system_clock::time_point started = {}) {
  const auto file = std::filesystem::temp_directory_path() /
                    (std::string("tallyfox-bench-") + name + "-" + std::to_string(::getpid()) + ".tfsnap");
  SnapshotFile::write(bench::syntheticTree(nodes, huge, 42, growEvery), {"/home/bench", started, 1.0}, file);
  return file;
}

// A model on a snapshot whose folder "huge" holds a million files, opened at that folder.
struct HugeFolder {
  std::filesystem::path file = writeSnapshot("huge", 1'100'000, 1'000'000);
  DiskTreePtr tree = SnapshotFile::map(file);
  NodeId folder = tree->children(DiskTree::root).first;
  ~HugeFolder() { std::filesystem::remove(file); }
};

HugeFolder& hugeFolder() {
  static HugeFolder fixture;
  return fixture;
}

// BrowserModel loads through the thread pool; the benchmarks drive it like a window does.
std::unique_ptr<BrowserModel> openModel(const std::filesystem::path& file) {
  auto model = std::make_unique<BrowserModel>(file);
  model->load();
  while (!model->state().isReady()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  return model;
}

void BM_VisibleRows(benchmark::State& state) {
  auto model = openModel(hugeFolder().file);
  model->navigate(hugeFolder().folder);
  for (auto _ : state) benchmark::DoNotOptimize(model->visibleRows());
  state.counters["rows"] = double(model->visibleRows().size());
}
BENCHMARK(BM_VisibleRows)->Unit(benchmark::kMillisecond);

void BM_FilterAscii(benchmark::State& state) {
  auto model = openModel(hugeFolder().file);
  model->navigate(hugeFolder().folder);
  model->setFilter(QStringLiteral("ITEM99"));
  for (auto _ : state) benchmark::DoNotOptimize(model->visibleRows());
  state.counters["rows"] = double(model->visibleRows().size());
}
BENCHMARK(BM_FilterAscii)->Unit(benchmark::kMillisecond);

void BM_FilterNonAscii(benchmark::State& state) {
  auto model = openModel(hugeFolder().file);
  model->navigate(hugeFolder().folder);
  model->setFilter(QStringLiteral("Ärger"));
  for (auto _ : state) benchmark::DoNotOptimize(model->visibleRows());
}
BENCHMARK(BM_FilterNonAscii)->Unit(benchmark::kMillisecond);

void BM_MoveSelection(benchmark::State& state) {
  auto model = openModel(hugeFolder().file);
  model->navigate(hugeFolder().folder);
  for (auto _ : state) model->move(1);
}
BENCHMARK(BM_MoveSelection)->Unit(benchmark::kMillisecond);

// The million-file folder sorted by name and by date, as a header click asks: the rows a
// window shows, built once in the new order. The dates are spread over years, so that the
// sort has work to do.
struct DatedHugeFolder {
  std::filesystem::path file = [] {
    auto columns = bench::syntheticTree(1'100'000, 1'000'000);
    std::mt19937_64 random(7);
    for (auto& mtime : columns.mtime) mtime = 1'500'000'000 + std::uint32_t(random() % 200'000'000);
    const auto path = std::filesystem::temp_directory_path() /
                      ("tallyfox-bench-dated-" + std::to_string(::getpid()) + ".tfsnap");
    SnapshotFile::write(columns, {"/home/bench", {}, 1.0}, path);
    return path;
  }();
  ~DatedHugeFolder() { std::filesystem::remove(file); }
};

void sortHugeFolder(benchmark::State& state, ListOrder::Key key) {
  static DatedHugeFolder fixture;
  auto model = openModel(fixture.file);
  model->navigate(model->tree()->children(DiskTree::root).first);
  bool ascending = false;
  for (auto _ : state) {
    ascending = !ascending;
    model->listOrder().setOrder({key, ascending});
    benchmark::DoNotOptimize(model->rows().size());
  }
}
void BM_SortMillionByName(benchmark::State& state) {
  sortHugeFolder(state, ListOrder::Key::name);
}
BENCHMARK(BM_SortMillionByName)->Unit(benchmark::kMillisecond);
void BM_SortMillionByDate(benchmark::State& state) {
  sortHugeFolder(state, ListOrder::Key::modified);
}
BENCHMARK(BM_SortMillionByDate)->Unit(benchmark::kMillisecond);
// By size both ways: the stored order, turned around, with equal sizes put in name order.
void BM_SortMillionBySize(benchmark::State& state) {
  sortHugeFolder(state, ListOrder::Key::size);
}
BENCHMARK(BM_SortMillionBySize)->Unit(benchmark::kMillisecond);

// One of a million entries went to the Trash: the folder is re-sorted once by its new sizes,
// then the rows a window paints (each with its bar against the largest sibling).
void BM_RowsAfterTrash(benchmark::State& state) {
  auto model = openModel(hugeFolder().file);
  const DiskTree& tree = *hugeFolder().tree;
  model->navigate(hugeFolder().folder);
  const NodeId largest = tree.children(hugeFolder().folder).first;
  std::uint64_t painted = 0;
  for (auto _ : state) {
    SizeOverlay edited;
    edited.hide(largest, tree);
    model->setOverlay(SizeOverlay::share(std::move(edited)));
    const auto& rows = model->rows();
    for (std::size_t i = 0; i < std::min<std::size_t>(40, rows.size()); ++i)
      painted += model->rowValues(rows[i]).largestSibling;
  }
  benchmark::DoNotOptimize(painted);
}
BENCHMARK(BM_RowsAfterTrash)->Unit(benchmark::kMillisecond);

// The chart of the folders a 1,000,000-entry snapshot makes hardest: the root (the most
// rings filled) and the folder with the most children.
struct Million {
  std::filesystem::path file = writeSnapshot("million", 1'000'000, 0);
  DiskTreePtr tree = SnapshotFile::map(file);
  NodeId widest = 0;
  Million() {
    std::int64_t most = -1;
    for (NodeId id = 0; id < tree->totalNodes(); ++id)
      if (tree->childCount(id) > most) most = tree->childCount(id), widest = id;
  }
  ~Million() { std::filesystem::remove(file); }
};

Million& million() {
  static Million fixture;
  return fixture;
}

void BM_SunburstRoot(benchmark::State& state) {
  const auto& tree = *million().tree;
  std::size_t segments = 0;
  for (auto _ : state) segments = SunburstLayout(tree, DiskTree::root, {}).segments.size();
  state.counters["segments"] = double(segments);
}
BENCHMARK(BM_SunburstRoot)->Unit(benchmark::kMillisecond);

void BM_SunburstWidest(benchmark::State& state) {
  const auto& tree = *million().tree;
  std::size_t segments = 0;
  for (auto _ : state) segments = SunburstLayout(tree, million().widest, {}).segments.size();
  state.counters["segments"] = double(segments);
  state.counters["children"] = double(tree.childCount(million().widest));
}
BENCHMARK(BM_SunburstWidest)->Unit(benchmark::kMillisecond);

void BM_SunburstMillionChildren(benchmark::State& state) {
  const auto& fixture = hugeFolder();
  std::size_t segments = 0;
  for (auto _ : state) segments = SunburstLayout(*fixture.tree, fixture.folder, {}).segments.size();
  state.counters["segments"] = double(segments);
}
BENCHMARK(BM_SunburstMillionChildren)->Unit(benchmark::kMillisecond);

// Two 1,000,000-entry snapshots of one place, a week apart, one file in 50 grown.
struct TwoWeeks {
  std::filesystem::path earlier = writeSnapshot(
      "earlier", 1'000'000, 0, 0, std::chrono::system_clock::now() - std::chrono::hours(24 * 7));
  std::filesystem::path later = writeSnapshot("later", 1'000'000, 0, 50, std::chrono::system_clock::now());
  ~TwoWeeks() {
    std::filesystem::remove(earlier);
    std::filesystem::remove(later);
  }
};

TwoWeeks& twoWeeks() {
  static TwoWeeks fixture;
  return fixture;
}

// From asking for the comparison to the first changed rows: the earlier file opened, the
// diff of the shown folder, the rows. One folder's work, not the trees'.
void BM_ComparisonFirstRows(benchmark::State& state) {
  auto model = openModel(twoWeeks().later);
  std::size_t rows = 0;
  for (auto _ : state) {
    model->comparing().stop();
    model->comparing().compare(twoWeeks().earlier);
    while (!model->comparing().comparison()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    rows = model->rows().size();
  }
  state.counters["rows"] = double(rows);
}
BENCHMARK(BM_ComparisonFirstRows)->Unit(benchmark::kMillisecond);

// Where space grew, from the root: the growth chart of the folder with the most below it,
// from a new comparison each time, so that none of the diff's folders is cached yet.
void BM_GrowthLayoutRoot(benchmark::State& state) {
  const auto earlier = SnapshotFile::map(twoWeeks().earlier);
  const auto later = SnapshotFile::map(twoWeeks().later);
  std::size_t segments = 0;
  for (auto _ : state) {
    const auto diff = SnapshotDiff::make(earlier, later, "/home/bench");
    segments = SunburstLayout(*diff, diff->root(), diff->newBase(), 1).segments.size();
  }
  state.counters["segments"] = double(segments);
}
BENCHMARK(BM_GrowthLayoutRoot)->Unit(benchmark::kMillisecond);

// A snapshots folder of 100 snapshots of one place, 1,100,000 entries each: hard links of one
// file, so the page cache holds it once and this measures the work, not the disk; with
// TALLYFOX_BENCH_DISTINCT_SNAPSHOTS set, 100 copies (4.6 GB), which the cold benchmark drops
// from the page cache before each run, so that it measures the disk too.
struct Timeline {
  std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("tallyfox-bench-timeline-" + std::to_string(::getpid()));
  Settings settings{Preferences(folder / "preferences.json")};
  std::vector<std::filesystem::path> files;
  Timeline() {
    std::filesystem::create_directories(folder);
    settings.setSnapshotsFolder(folder);
    std::filesystem::rename(hugeFolder().file, folder / "0.tfsnap");
    hugeFolder().file = folder / "0.tfsnap";
    files.push_back(hugeFolder().file);
    const bool distinct = std::getenv("TALLYFOX_BENCH_DISTINCT_SNAPSHOTS") != nullptr;
    for (int i = 1; i < 100; ++i) {
      files.push_back(folder / (std::to_string(i) + ".tfsnap"));
      if (distinct)
        std::filesystem::copy_file(hugeFolder().file, files.back());
      else
        std::filesystem::create_hard_link(hugeFolder().file, files.back());
    }
  }
  ~Timeline() { std::filesystem::remove_all(folder); }
  // Out of the page cache: the next read goes to the disk.
  void dropFromCache() const {
    for (const auto& file : files) {
      const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      ::fdatasync(fd);
      ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
      ::close(fd);
    }
  }
};

Timeline& timeline() {
  static Timeline fixture;
  return fixture;
}

std::unique_ptr<BrowserModel> openInTimeline() {
  Services services;
  services.settings = &timeline().settings;
  auto model = std::make_unique<BrowserModel>(timeline().folder / "0.tfsnap", services);
  model->load();
  while (!model->state().isReady()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  return model;
}

// Until the strip shows the window's current folder.
void waitForHistory(const BrowserModel& model) {
  const FolderHistory& history = model.folderHistory();
  const std::string path = model.tree()->path(model.current());
  while (history.isReading() || history.path() != path)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// The strip shown for the first time in a new window: every snapshot listed, opened and
// walked down to the folder, from the disk.
void BM_FolderHistoryFirst(benchmark::State& state) {
  std::size_t points = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto model = openInTimeline();
    model->navigate(hugeFolder().folder);
    timeline().dropFromCache();
    state.ResumeTiming();
    model->folderHistory().setShown(true);
    waitForHistory(*model);
    points = model->folderHistory().points().size();
  }
  state.counters["points"] = double(points);
}
BENCHMARK(BM_FolderHistoryFirst)->Unit(benchmark::kMillisecond);

// Moving to another folder with the strip shown: the opened snapshots are kept.
void BM_FolderHistoryNextFolder(benchmark::State& state) {
  auto model = openInTimeline();
  model->folderHistory().setShown(true);
  waitForHistory(*model);
  bool inHuge = false;
  for (auto _ : state) {
    inHuge = !inHuge;
    model->navigate(inHuge ? hugeFolder().folder : DiskTree::root);
    waitForHistory(*model);
  }
  state.counters["points"] = double(model->folderHistory().points().size());
}
BENCHMARK(BM_FolderHistoryNextFolder)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
