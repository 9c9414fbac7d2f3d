// Opening a snapshot must cost the same whatever its size: only the header is parsed and
// the columns are used in place.
#include "WideTree.h"

#include <tallyfox/SnapshotFile.h>

#include <benchmark/benchmark.h>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace tallyfox;

namespace {

std::filesystem::path snapshotOf(std::int64_t n) {
  const char* base = std::getenv("TMPDIR");
  const auto path =
      std::filesystem::path(base && *base ? base : "/tmp") /
      ("tallyfox-bench-open-" + std::to_string(n) + "-" + std::to_string(::getpid()) + ".tfsnap");
  if (!std::filesystem::exists(path))
    SnapshotFile::write(benchtree::wideTree(n, 50), {"/bench", std::chrono::system_clock::now(), 1}, path);
  return path;
}

void OpenAndListRoot(benchmark::State& state) {
  const auto path = snapshotOf(state.range(0));
  for (auto _ : state) {
    const auto tree = SnapshotFile::map(path);
    std::size_t chars = 0;
    for (NodeId child : tree->children(DiskTree::root))
      chars += tree->name(child).size() + tree->sizeOf(child) % 2;
    benchmark::DoNotOptimize(chars);
  }
  state.counters["nodes"] = double(state.range(0));
  std::filesystem::remove(path);
}

}  // namespace

BENCHMARK(OpenAndListRoot)->Arg(1000)->Arg(1'000'000)->Arg(10'000'000)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
