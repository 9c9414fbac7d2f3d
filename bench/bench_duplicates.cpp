// The duplicate search reads as little as it can: files that differ early cost only their
// edges, and only true duplicates are read whole. This program searches a generated folder
// of 20,000 files (fixed seed), of which 2,000 form duplicate groups, and reports the bytes
// read by each stage; it also reads the fully hashed files plainly and hashes them on one
// thread, to compare hashing throughput with a sequential read of the same bytes.
//
// The folder is made below $TMPDIR (about 1 GB) and removed at the end. Every measurement
// starts with the files dropped from the page cache.
#include <tallyfox/DuplicateFinder.h>
#include <tallyfox/Scanner.h>
#include <tallyfox/SnapshotBuilderSink.h>
#include <tallyfox/SnapshotFile.h>

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

constexpr int folderCount = 100;
constexpr int smallFiles = 17000;     // below the minimum size: excluded by the tree alone
constexpr int lookalikes = 1000;      // same sizes as the duplicates, different first bytes
constexpr int duplicatePairs = 1000;  // 2,000 files in groups of two
constexpr std::uint64_t largeSizes[] = {160 << 10, 256 << 10, 384 << 10, 512 << 10};

struct Corpus {
  fs::path root;
  DiskTreePtr tree;
  std::vector<std::string> all;         // every file, for dropping the cache
  std::vector<std::string> duplicates;  // the files the full hash must read
  std::uint64_t duplicateBytes = 0;

  ~Corpus() {
    std::error_code ignored;
    if (!root.empty()) fs::remove_all(root, ignored);
  }
};

void writeFile(const fs::path& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) std::abort();
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) std::abort();
    done += std::size_t(n);
  }
  ::close(fd);
}

std::string randomBytes(std::mt19937_64& random, std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t k = 0; k + 8 <= size; k += 8) {
    const std::uint64_t word = random();
    std::memcpy(bytes.data() + k, &word, 8);
  }
  return bytes;
}

void build(Corpus& made) {
  const char* base = std::getenv("TMPDIR");
  made.root =
      fs::path(base && *base ? base : "/tmp") / ("tallyfox-bench-dupes-" + std::to_string(::getpid()));
  for (int k = 0; k < folderCount; ++k) fs::create_directories(made.root / ("folder" + std::to_string(k)));
  std::mt19937_64 random(20240305);
  int next = 0;
  auto place = [&](const std::string& bytes) {
    const fs::path path = made.root / ("folder" + std::to_string(next % folderCount)) /
                          ("file" + std::to_string(next) + ".bin");
    ++next;
    writeFile(path, bytes);
    made.all.push_back(path.string());
    return path.string();
  };
  for (int k = 0; k < smallFiles; ++k) place(randomBytes(random, 1024 + random() % (60 << 10)));
  for (int k = 0; k < lookalikes; ++k) place(randomBytes(random, largeSizes[k % 4]));
  for (int k = 0; k < duplicatePairs; ++k) {
    const std::string bytes = randomBytes(random, largeSizes[k % 4]);
    made.duplicates.push_back(place(bytes));
    made.duplicates.push_back(place(bytes));
    made.duplicateBytes += 2 * bytes.size();
  }
  ::sync();  // dirty pages cannot be dropped from the cache

  auto sink = std::make_shared<SnapshotBuilderSink>();
  ScanOptions options;
  options.threads = 4;
  Scanner(made.root.string(), options, sink).run();
  made.tree =
      SnapshotFile::inMemory(sink->finish(), {made.root.string(), std::chrono::system_clock::now(), 0});
}

Corpus& corpus() {
  static Corpus c;
  static std::once_flag built;
  std::call_once(built, [] { build(c); });
  return c;
}

void dropCache(const std::vector<std::string>& paths) {
  for (const auto& path : paths) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
  }
}

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
