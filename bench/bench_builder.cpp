// The scan's collecting side without the file system: folder batches as the scanner reports
// them, from several threads, into the sink, and the build of the canonical columns. The
// two halves are what a scan adds to the system calls it cannot avoid. Repeated in one
// process, they reuse memory the first run paid for; a fresh process (tfscan) also pays
// for every new page, which on a virtual machine can cost more than the work itself.
#include <tallyfox/DirectoryListing.h>
#include <tallyfox/SnapshotBuilderSink.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace tallyfox;

namespace {

constexpr std::uint32_t perFolder = 21;  // entries per batch, as in the generated bench trees

// Batch f lists entries 1 + f * perFolder onwards; every fifth entry is a folder, and the
// folders are listed in the order they were found, so the tree is wide and shallow.
void listFolders(SnapshotBuilderSink& sink, std::uint32_t folders, int threads) {
  std::atomic<std::uint32_t> nextFolder{0};
  auto work = [&] {
    DirectoryListing listing;
    std::string name;
    for (std::uint32_t f; (f = nextFolder.fetch_add(1)) < folders;) {
      const std::uint32_t j = f - 1;  // batch f lists the j-th folder entry
      const std::uint32_t folderID = f == 0 ? 0 : 1 + (j / 5) * perFolder + (j % 5) * 5;
      listing.reset(folderID, 1 + f * perFolder);
      for (std::uint32_t k = 0; k < perFolder; ++k) {
        name = "entry-" + std::to_string(f) + "-" + std::to_string(k);
        listing.append({reinterpret_cast<const std::uint8_t*>(name.data()), name.size()}, (k * 7919u) % 65536,
                       1700000000, k % 5 == 0 ? EntryFlags::directory : 0);
      }
      sink.directoryListed(listing);
    }
  };
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) workers.emplace_back(work);
  for (auto& worker : workers) worker.join();
}

void BM_SinkListings(benchmark::State& state) {
  const auto folders = std::uint32_t(state.range(0));
  for (auto _ : state) {
    SnapshotBuilderSink sink;
    sink.rootStarted("/");
    listFolders(sink, folders, 8);
    state.PauseTiming();
    benchmark::DoNotOptimize(sink.finish());
    state.ResumeTiming();
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * folders * perFolder);
}

void BM_SinkFinish(benchmark::State& state) {
  const auto folders = std::uint32_t(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    SnapshotBuilderSink sink;
    sink.rootStarted("/");
    listFolders(sink, folders, 8);
    state.ResumeTiming();
    benchmark::DoNotOptimize(sink.finish());
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * folders * perFolder);
}

}  // namespace

// About 100,000 and 1,000,000 entries.
BENCHMARK(BM_SinkListings)->Arg(4762)->Arg(47620)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SinkFinish)->Arg(4762)->Arg(47620)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
