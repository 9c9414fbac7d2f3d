// The memory of saving a scan of ENTRIES entries without a tree of that size on disk: folder
// listings shaped as tool_gentree shapes its trees (2 to 40 wide, a fifth of the entries
// folders, names of the same stems and serial numbers) go into the scan's sink as the
// scanner hands them over, and the snapshot is written as tfscan writes it. Run it under
// /usr/bin/time -v for the peak: it stands in for trees larger than the disk can hold.
//
//   tool_sink_scale ENTRIES FILE [SEED]

#include <tallyfox/DirectoryListing.h>
#include <tallyfox/SnapshotBuilderSink.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/TreeColumns.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <iterator>
#include <random>
#include <string>

int main(int argc, char** argv) {
  using namespace tallyfox;
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s ENTRIES FILE [SEED]\n", argv[0]);
    return 2;
  }
  const std::uint64_t wanted = std::strtoull(argv[1], nullptr, 10);
  std::mt19937_64 random(argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1);
  auto below = [&](std::uint64_t n) { return random() % n; };
  const char* const stems[] = {"report",  "image",  "notes",     "build",   "cache",  "data",
                               "résumé",  "naïve",  "日本語",    "Ünïcødé", "α-β",    "сервер",
                               "archive", "module", "test-case", "index",   "assets", "log"};
  const char* const extensions[] = {"", ".txt", ".jpg", ".o", ".json", ".md", ".bin", ".log"};
  try {
    SnapshotBuilderSink sink;
    sink.rootStarted("/");
    std::deque<std::uint32_t> folders{0};
    std::uint64_t made = 0, serial = 0;
    DirectoryListing listing;
    while (made < wanted && !folders.empty()) {
      const std::uint32_t folder = folders.front();
      folders.pop_front();
      listing.reset(folder, std::uint32_t(made + 1));
      const std::uint64_t width = 2 + below(39);
      for (std::uint64_t k = 0; k < width && made < wanted; ++k, ++made) {
        std::string name = std::string(stems[below(std::size(stems))]) + "-" + std::to_string(serial++);
        const bool isFolder = below(5) == 0;
        if (isFolder)
          folders.push_back(std::uint32_t(made + 1));
        else
          name += extensions[below(std::size(extensions))];
        listing.append({reinterpret_cast<const std::uint8_t*>(name.data()), name.size()},
                       isFolder ? 0 : 4096 * below(17), 1700000000 + std::int64_t(below(1000000)),
                       isFolder ? EntryFlags::directory : 0);
      }
      sink.directoryListed(listing);
    }
    SnapshotFile::write(sink.finishArranged(), {"/", std::chrono::system_clock::now(), 0}, argv[2]);
    std::printf("%llu entries into %s\n", static_cast<unsigned long long>(made), argv[2]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
