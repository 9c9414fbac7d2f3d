// Comparing one large folder of two snapshots, and replacing one folder of a large
// snapshot by a fresh scan. Allocations per iteration are counted to show that neither
// allocates per node.
#include <tallyfox/SnapshotDiff.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotMerge.h>
#include <tallyfox/TreeColumnsBuilder.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <string>

namespace {
std::atomic<std::uint64_t> allocations{0};
}

// The replacements below pair malloc with free; GCC cannot see that through inlining.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

using namespace tallyfox;

namespace {

constexpr std::uint8_t dir = EntryFlags::directory;

std::span<const std::uint8_t> bytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// One folder of `count` files. The newer side keeps 95% of the names (half of them with a
// new size), drops the rest and adds as many new ones. Non-ASCII names take the
// normalizing path of the comparison.
DiskTreePtr flatFolder(int count, bool newer, bool ascii, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  TreeColumnsBuilder builder;
  builder.reserve(std::size_t(count) + 1, std::size_t(count) * 16);
  builder.set(0, -1, {}, 0, 0, 1, dir);
  const std::string prefix = ascii ? "file-" : "d\xC3\xA9j\xC3\xA0-";
  std::size_t id = 1;
  for (int k = 0; k < count; ++k) {
    const bool dropped = k % 20 == 0;
    if (newer && dropped) continue;
    std::uint64_t size = std::uint64_t(k % 1000) * 4096;
    if (newer && k % 2) size += (random() % 64) * 4096;
    builder.set(id++, 0, bytes(prefix + std::to_string(k)), size, 0, 1, 0);
  }
  if (newer)
    for (int k = 0; k < count / 20; ++k)
      builder.set(id++, 0, bytes(prefix + "new-" + std::to_string(k)), random() % 1000000, 0, 1, 0);
  return SnapshotFile::inMemory(builder.build(true, dir), {"/data", {}, 1});
}

void DiffChildrenOfLargeFolder(benchmark::State& state) {
  const bool ascii = state.range(0) != 0;
  const auto older = flatFolder(100000, false, ascii, 1);
  const auto newer = flatFolder(100000, true, ascii, 2);
  const SnapshotDiff diff(older, 0, newer, 0);
  const auto root = diff.root();
  std::size_t entries = 0;
  const std::uint64_t before = allocations.load();
  for (auto _ : state) {
    const auto list = diff.children(root);
    entries = list.size();
    benchmark::DoNotOptimize(list.data());
  }
  state.counters["entries"] = double(entries);
  state.counters["allocs/iter"] = double(allocations.load() - before) / double(state.iterations());
  state.SetItemsProcessed(std::int64_t(state.iterations()) * std::int64_t(entries));
  state.SetLabel(ascii ? "ASCII names" : "non-ASCII names");
}
BENCHMARK(DiffChildrenOfLargeFolder)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// A snapshot of about `nodes` entries: 1000 top folders of subfolders and files, three
// levels deep, as a real home folder is shaped more than a flat list.
DiskTreePtr largeTree(std::int64_t nodes) {
  std::mt19937_64 random(7);
  TreeColumnsBuilder builder;
  builder.reserve(std::size_t(nodes), std::size_t(nodes) * 12);
  builder.set(0, -1, {}, 0, 0, 1, dir);
  std::size_t id = 1;
  const std::int64_t perTop = nodes / 1000;
  for (int top = 0; top < 1000; ++top) {
    const std::size_t topID = id++;
    builder.set(topID, 0, bytes("project-" + std::to_string(top)), 0, 0, 1, dir);
    std::int64_t left = perTop - 1;
    for (int sub = 0; left > 0; ++sub) {
      const std::size_t subID = id++;
      --left;
      builder.set(subID, std::int32_t(topID), bytes("src" + std::to_string(sub)), 0, 0, 1, dir);
      for (int f = 0; f < 49 && left > 0; ++f, --left)
        builder.set(id++, std::int32_t(subID), bytes("file" + std::to_string(f) + ".c"), random() % 100000, 0,
                    1, 0);
    }
  }
  return SnapshotFile::inMemory(builder.build(true, dir), {"/home/ann", {}, 1});
}

void ReplaceOneFolderInLargeSnapshot(benchmark::State& state) {
  const auto tree = largeTree(state.range(0));
  // The fresh scan of the largest top folder: its own subtree, a little changed.
  const NodeId folder = tree->children(0).first;
  TreeColumnsBuilder fresh;
  fresh.set(0, -1, {}, 0, 0, 1, dir);
  std::size_t id = 1;
  for (NodeId sub : tree->children(folder)) {
    const std::size_t subID = id++;
    fresh.set(subID, 0, tree->nameView(sub), 0, 0, 1, dir);
    for (NodeId file : tree->children(sub))
      fresh.set(id++, std::int32_t(subID), tree->nameView(file), tree->sizeOf(file) / 2, 0, 1, 0);
  }
  const auto freshTree = SnapshotFile::inMemory(fresh.build(true, dir), {"/home/ann/x", {}, 1});
  const std::uint64_t before = allocations.load();
  for (auto _ : state) {
    auto result = SnapshotMerge::replace(folder, *tree, *freshTree);
    benchmark::DoNotOptimize(result.columns.size.data());
  }
  state.counters["nodes"] = double(tree->totalNodes());
  state.counters["allocs/iter"] = double(allocations.load() - before) / double(state.iterations());
  state.SetItemsProcessed(std::int64_t(state.iterations()) * tree->totalNodes());
}
BENCHMARK(ReplaceOneFolderInLargeSnapshot)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The builder's share of a replace: building the same number of slots, already collected.
void BuildOnlyOfLargeSnapshot(benchmark::State& state) {
  const auto tree = largeTree(state.range(0));
  TreeColumnsBuilder builder;
  builder.reserve(std::size_t(tree->totalNodes()), tree->names().size());
  for (NodeId id = 0; id < tree->totalNodes(); ++id)
    builder.set(std::size_t(id), tree->parentOf(id), tree->nameView(id),
                tree->isDirectory(id) ? 0 : tree->sizeOf(id), 0, 1, tree->flags(id));
  const std::uint64_t before = allocations.load();
  for (auto _ : state) {
    auto columns = builder.build(true, dir);
    benchmark::DoNotOptimize(columns.size.data());
  }
  state.counters["allocs/iter"] = double(allocations.load() - before) / double(state.iterations());
  state.SetItemsProcessed(std::int64_t(state.iterations()) * tree->totalNodes());
}
BENCHMARK(BuildOnlyOfLargeSnapshot)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
