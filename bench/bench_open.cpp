// Opening a snapshot must cost the same whatever its size: only the header is parsed and
// the columns are used in place.
#include <tallyfox/SnapshotFile.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

using namespace tallyfox;

namespace {

// A complete tree of n nodes with 50 children per folder, in breadth-first order.
TreeColumns wideTree(std::int64_t n) {
  constexpr std::int64_t fanout = 50;
  TreeColumns c;
  c.parent.resize(n);
  c.size.resize(n);
  c.mtime.assign(n, 1'700'000'000);
  c.entryCount.assign(n, 1);
  c.flags.assign(n, 0);
  c.childStart.assign(n, 0);
  c.childCount.assign(n, 0);
  c.nameOffset.reserve(n + 1);
  c.names.reserve(std::size_t(n) * 8);
  for (std::int64_t i = 0; i < n; ++i) {
    c.parent[i] = i == 0 ? -1 : std::int32_t((i - 1) / fanout);
    c.size[i] = std::uint64_t(n - i);
    const std::int64_t first = i * fanout + 1;
    if (first < n) {
      c.childStart[i] = std::uint32_t(first);
      c.childCount[i] = std::uint32_t(std::min(fanout, n - first));
      c.flags[i] = EntryFlags::directory;
    }
    c.nameOffset.push_back(std::uint32_t(c.names.size()));
    const std::string name = "entry" + std::to_string(i);
    c.names.insert(c.names.end(), name.begin(), name.end());
  }
  c.nameOffset.push_back(std::uint32_t(c.names.size()));
  return c;
}

std::filesystem::path snapshotOf(std::int64_t n) {
  const char* base = std::getenv("TMPDIR");
  const auto path = std::filesystem::path(base && *base ? base : "/tmp") /
                    ("tallyfox-bench-open-" + std::to_string(n) + "-" + std::to_string(::getpid()) + ".tfsnap");
  if (!std::filesystem::exists(path))
    SnapshotFile::write(wideTree(n), {"/bench", std::chrono::system_clock::now(), 1}, path);
  return path;
}

void OpenAndListRoot(benchmark::State& state) {
  const auto path = snapshotOf(state.range(0));
  for (auto _ : state) {
    const auto tree = SnapshotFile::map(path);
    std::size_t chars = 0;
    for (NodeId child : tree->children(DiskTree::root)) chars += tree->name(child).size() + tree->sizeOf(child) % 2;
    benchmark::DoNotOptimize(chars);
  }
  state.counters["nodes"] = double(state.range(0));
  std::filesystem::remove(path);
}

}  // namespace

BENCHMARK(OpenAndListRoot)->Arg(1000)->Arg(1'000'000)->Arg(10'000'000)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
