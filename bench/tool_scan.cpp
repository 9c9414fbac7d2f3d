// One scan and build in process, for measuring what tfscan cannot switch: the cost of
// recognising reflink clones, and profiles of the scan alone (callgrind).
//
//   tool_scan [--no-clones] [--no-sink] [--all-filesystems] [--speed fast|balanced|gentle]
//   [--threads N] [--repeat N] [--write FILE] FOLDER
//
// --threads sets the worker count apart from the speed (scripts/bench --cold). Prints the
// best wall time of N runs of the scan plus the build of the columns, and with --write the
// saving of the snapshot to FILE as tfscan saves it (arranged and streamed to the file).

#include <tallyfox/Scanner.h>
#include <tallyfox/SnapshotBuilderSink.h>
#include <tallyfox/SnapshotFile.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>

int main(int argc, char** argv) {
  using namespace tallyfox;
  bool clones = true;
  bool oneFileSystem = true;
  bool collect = true;
  int repeat = 1;
  ScanSpeed speed = ScanSpeed::fast;
  std::optional<int> threads;
  std::string folder, output;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--no-clones")
      clones = false;
    else if (arg == "--no-sink")
      collect = false;
    else if (arg == "--all-filesystems")
      oneFileSystem = false;
    else if (arg == "--repeat" && i + 1 < argc)
      repeat = std::atoi(argv[++i]);
    else if (arg == "--speed" && i + 1 < argc)
      speed = scanSpeedFromRawValue(argv[++i]).value_or(ScanSpeed::fast);
    else if (arg == "--write" && i + 1 < argc)
      output = argv[++i];
    else if (arg == "--threads" && i + 1 < argc)
      threads = std::max(1, std::atoi(argv[++i]));
    else
      folder = arg;
  }
  if (folder.empty()) {
    std::fprintf(
        stderr,
        "usage: %s [--no-clones] [--no-sink] [--all-filesystems] [--speed S] [--threads N] [--repeat N] "
        "[--write FILE] FOLDER\n",
        argv[0]);
    return 2;
  }
  double best = 1e300, bestScan = 0, bestBuild = 0, bestWrite = 0;
  std::uint64_t entries = 0, bytes = 0;
  try {
    for (int r = 0; r < repeat; ++r) {
      const auto start = std::chrono::steady_clock::now();
      auto sink = collect ? std::make_shared<SnapshotBuilderSink>() : nullptr;
      ScanOptions options(threads, oneFileSystem, {}, {}, {}, speed);
      options.detectClones = clones;
      Scanner scanner(folder, options, sink);
      const ScanStats stats = scanner.run();
      const auto scanned = std::chrono::steady_clock::now();
      TreeColumns columns;
      std::optional<ArrangedColumns> arranged;
      if (sink && output.empty())
        columns = sink->finish();
      else if (sink)
        arranged = sink->finishArranged();
      const auto built = std::chrono::steady_clock::now();
      if (arranged) SnapshotFile::write(*arranged, {folder, std::chrono::system_clock::now(), 0}, output);
      const auto end = std::chrono::steady_clock::now();
      const double seconds = std::chrono::duration<double>(end - start).count();
      if (seconds < best) {
        best = seconds;
        bestScan = std::chrono::duration<double>(scanned - start).count();
        bestBuild = std::chrono::duration<double>(built - scanned).count();
        bestWrite = std::chrono::duration<double>(end - built).count();
      }
      entries = stats.entries;
      if (arranged) columns = arranged->columns();
      bytes = columns.size.empty() ? 0 : columns.size[0];
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", folder.c_str(), e.what());
    return 1;
  }
  std::printf("%.4f seconds  %llu entries  %llu bytes  (scan %.4f, build %.4f, write %.4f)\n", best,
              static_cast<unsigned long long>(entries), static_cast<unsigned long long>(bytes), bestScan,
              bestBuild, bestWrite);
  return 0;
}
