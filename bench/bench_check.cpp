// The full structural check of a tree, on snapshots shaped like a home folder. It runs
// before tfscan relies on a tree and in the app's loading task, so its cost per entry is
// what a user waits for on top of opening.
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/TreeColumnsBuilder.h>

#include <benchmark/benchmark.h>

#include <unistd.h>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <random>
#include <string>

using namespace tallyfox;

namespace {

// Folders of a few to a few hundred entries, one entry in six a folder, file sizes over many
// orders of magnitude; built by the tree builder, so sizes and counts are summed as a scan's.
TreeColumns homeLikeTree(std::size_t nodes) {
  std::mt19937_64 random(42);
  std::lognormal_distribution<double> fileSize(9.0, 2.5);
  std::geometric_distribution<int> fanOut(0.04);
  TreeColumnsBuilder builder;
  builder.reserve(nodes, nodes * 12);
  auto put = [&](std::size_t id, std::int32_t parent, const std::string& name, bool folder) {
    builder.set(id, parent, {reinterpret_cast<const std::uint8_t*>(name.data()), name.size()},
                folder ? 0 : std::uint64_t(fileSize(random)), 1'700'000'000, 1,
                folder ? EntryFlags::directory : 0);
  };
  put(0, -1, "", true);
  std::size_t next = 1;
  std::deque<std::int32_t> folders{0};
  while (next < nodes) {
    if (folders.empty()) folders.push_back(0);
    const std::int32_t folder = folders.front();
    folders.pop_front();
    for (int k = 1 + fanOut(random); k > 0 && next < nodes; --k) {
      const bool isFolder = random() % 6 == 0;
      const std::size_t id = next++;
      put(id, folder, (isFolder ? "dir" : "file") + std::to_string(id), isFolder);
      if (isFolder) folders.push_back(std::int32_t(id));
    }
  }
  return std::move(builder).build(true, EntryFlags::directory);
}

void CheckWholeTree(benchmark::State& state) {
  const auto nodes = std::size_t(state.range(0));
  const char* base = std::getenv("TMPDIR");
  const auto path =
      std::filesystem::path(base && *base ? base : "/tmp") /
      ("tallyfox-bench-check-" + std::to_string(nodes) + "-" + std::to_string(::getpid()) + ".tfsnap");
  SnapshotFile::write(homeLikeTree(nodes), {"/bench", std::chrono::system_clock::now(), 1}, path);
  const auto tree = SnapshotFile::map(path);
  for (auto _ : state) {
    const auto violation = tree->firstViolation();
    if (violation) state.SkipWithError(violation->c_str());
    benchmark::DoNotOptimize(violation);
  }
  state.counters["nodes"] = double(nodes);
  std::filesystem::remove(path);
}

}  // namespace

BENCHMARK(CheckWholeTree)->Arg(100'000)->Arg(1'000'000)->Arg(10'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
