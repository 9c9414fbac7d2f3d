#pragma once

// The folder the duplicate search is measured on: 20,000 files (fixed seed) in 100 folders,
// of which 2,000 form duplicate groups of two, 1,000 are same-size lookalikes that differ in
// their first bytes and the rest are below the search's minimum size. Made below $TMPDIR
// (about 1 GB) the first time it is asked for, and removed at exit.
#include <tallyfox/DiskTree.h>
#include <tallyfox/Scanner.h>
#include <tallyfox/SnapshotBuilderSink.h>
#include <tallyfox/SnapshotFile.h>

#include <fcntl.h>
#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace bench {

using namespace tallyfox;
namespace fs = std::filesystem;

inline constexpr int folderCount = 100;
inline constexpr int smallFiles = 17000;     // below the minimum size: excluded by the tree alone
inline constexpr int lookalikes = 1000;      // same sizes as the duplicates, different first bytes
inline constexpr int duplicatePairs = 1000;  // 2,000 files in groups of two
inline constexpr std::uint64_t largeSizes[] = {160 << 10, 256 << 10, 384 << 10, 512 << 10};

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

inline void writeFile(const fs::path& path, const std::string& bytes) {
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

inline std::string randomBytes(std::mt19937_64& random, std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t k = 0; k + 8 <= size; k += 8) {
    const std::uint64_t word = random();
    std::memcpy(bytes.data() + k, &word, 8);
  }
  return bytes;
}

inline void build(Corpus& made) {
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

inline Corpus& corpus() {
  static Corpus c;
  static std::once_flag built;
  std::call_once(built, [] { build(c); });
  return c;
}

inline void dropCache(const std::vector<std::string>& paths) {
  for (const auto& path : paths) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
  }
}

}  // namespace bench
