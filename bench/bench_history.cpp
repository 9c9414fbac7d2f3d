// One folder's history across 100 snapshots of 1,000,000 entries each: what the history strip
// and tfscan --history read. Each snapshot must be read only as far as the folder (its header
// and the names on the path down), so the cost follows the number of snapshots, not their
// size. Cold: every snapshot's pages are dropped from the page cache before each round
// (posix_fadvise, which needs no privilege); warm: they stay.
//
// The snapshots (about 4 GB) are written below $TMPDIR once per run and removed at the end.
#include "WideTree.h"

#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotHistory.h>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace tallyfox;
namespace fs = std::filesystem;

namespace {

constexpr int snapshotCount = 100;
constexpr std::int64_t nodeCount = 1'000'000;
constexpr std::int64_t fanout = 50;
constexpr const char* root = "/home/bench";
// Three levels below the root: entry2 holds entry102, which holds entry5102 with its 50 files.
constexpr const char* folder = "/home/bench/entry2/entry102/entry5102";

// The snapshots folder of the benchmark: one snapshot written, the others copies of it with
// their own header (another day), so that each is a file of its own in the page cache.
class Snapshots {
 public:
  Snapshots() {
    const char* base = std::getenv("TMPDIR");
    path_ =
        fs::path(base && *base ? base : "/tmp") / ("tallyfox-bench-history-" + std::to_string(::getpid()));
    fs::create_directories(path_);
    const TreeColumns columns = benchtree::wideTree(nodeCount, fanout);
    const auto day = std::chrono::hours(24);
    const auto start = std::chrono::system_clock::now() - day * snapshotCount;
    const fs::path first = path_ / "bench-0.tfsnap";
    SnapshotFile::write(columns, {root, start, 60}, first);
    const auto table = SnapshotFile::layout(std::uint64_t(nodeCount), columns.names.size());
    for (int k = 1; k < snapshotCount; ++k) {
      const fs::path copy = path_ / ("bench-" + std::to_string(k) + ".tfsnap");
      fs::copy_file(first, copy);
      const auto head = SnapshotFile::header(SnapshotFile::State::complete, std::uint64_t(nodeCount),
                                             {root, start + day * k, 60}, table);
      const int fd = ::open(copy.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd < 0 || ::pwrite(fd, head.data(), head.size(), 0) != ssize_t(head.size())) std::abort();
      ::fsync(fd);
      ::close(fd);
    }
  }
  ~Snapshots() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

  void dropFromCache() const {
    for (const auto& entry : fs::directory_iterator(path_)) {
      const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
      ::close(fd);
    }
  }

 private:
  fs::path path_;
};

const Snapshots& snapshots() {
  static const Snapshots made;
  return made;
}

void check(const std::vector<SnapshotHistory::Point>& points) {
  if (points.size() != std::size_t(snapshotCount)) std::abort();
  for (const auto& point : points)
    if (!point.figures || point.figures->entries != fanout) std::abort();
}

void HistoryCold(benchmark::State& state) {
  const auto& made = snapshots();
  for (auto _ : state) {
    state.PauseTiming();
    made.dropFromCache();
    state.ResumeTiming();
    const auto points = SnapshotHistory::inFolder(folder, made.path());
    benchmark::DoNotOptimize(points.data());
    state.PauseTiming();
    check(points);
    state.ResumeTiming();
  }
  state.counters["snapshots"] = snapshotCount;
  state.counters["entries"] = double(nodeCount);
}

void HistoryWarm(benchmark::State& state) {
  const auto& made = snapshots();
  check(SnapshotHistory::inFolder(folder, made.path()));
  for (auto _ : state) {
    const auto points = SnapshotHistory::inFolder(folder, made.path());
    benchmark::DoNotOptimize(points.data());
  }
  state.counters["snapshots"] = snapshotCount;
  state.counters["entries"] = double(nodeCount);
}

}  // namespace

BENCHMARK(HistoryCold)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(HistoryWarm)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
