// The duplicate search reads as little as it can: files that differ early cost only their
// edges, and only true duplicates are read whole. This program searches a generated folder
// of 20,000 files (fixed seed), of which 2,000 form duplicate groups, and reports the bytes
// read by each stage; it also reads the fully hashed files plainly and hashes them on one
// thread, to compare hashing throughput with a sequential read of the same bytes.
//
// The folder is made below $TMPDIR (about 1 GB) and removed at the end. Every measurement
// starts with the files dropped from the page cache.
#include "DuplicateCorpus.h"

#include <tallyfox/DuplicateFinder.h>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace tallyfox;
namespace fs = std::filesystem;

namespace {

using bench::Corpus;
using bench::corpus;
using bench::dropCache;

void FindDuplicates(benchmark::State& state) {
  Corpus& c = corpus();
  DuplicateFinder::ReadCounts read;
  std::size_t groups = 0;
  for (auto _ : state) {
    state.PauseTiming();
    dropCache(c.all);
    state.ResumeTiming();
    DuplicateFinder finder(c.tree, DiskTree::root);
    groups = finder.run().size();
    read = finder.bytesRead();
  }
  state.counters["groups"] = double(groups);
  state.counters["quick_MB"] = double(read.quickCheck) / 1e6;
  state.counters["full_MB"] = double(read.hashing) / 1e6;
  state.counters["duplicates_MB"] = double(c.duplicateBytes) / 1e6;
  state.SetBytesProcessed(std::int64_t(state.iterations() * (read.quickCheck + read.hashing)));
}

// A plain read of the duplicates' bytes, strided over the same number of threads as the
// finder's hashing.
void ReadPlain(benchmark::State& state) {
  Corpus& c = corpus();
  const std::size_t threads = std::size_t(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    dropCache(c.duplicates);
    state.ResumeTiming();
    std::vector<std::thread> workers;
    for (std::size_t w = 0; w < threads; ++w)
      workers.emplace_back([&, w] {
        std::vector<char> buffer(1 << 20);
        for (std::size_t k = w; k < c.duplicates.size(); k += threads) {
          const int fd = ::open(c.duplicates[k].c_str(), O_RDONLY | O_CLOEXEC);
          if (fd < 0) continue;
          while (::read(fd, buffer.data(), buffer.size()) > 0) {
          }
          ::close(fd);
        }
      });
    for (auto& worker : workers) worker.join();
  }
  state.SetBytesProcessed(std::int64_t(state.iterations() * c.duplicateBytes));
}

void HashWholeFilesOneThread(benchmark::State& state) {
  Corpus& c = corpus();
  for (auto _ : state) {
    state.PauseTiming();
    dropCache(c.duplicates);
    state.ResumeTiming();
    for (const auto& path : c.duplicates) benchmark::DoNotOptimize(DuplicateFinder::fullHash(path));
  }
  state.SetBytesProcessed(std::int64_t(state.iterations() * c.duplicateBytes));
}

}  // namespace

BENCHMARK(FindDuplicates)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(ReadPlain)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(HashWholeFilesOneThread)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

BENCHMARK_MAIN();
