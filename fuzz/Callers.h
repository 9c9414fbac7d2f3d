// What every command and window does with a snapshot file of any kind, for the readers'
// fuzz targets: the input is written to a file and read through the one opening path
// (SnapshotDump::open), as tfscan and the app read it, then checked, shown, summarised and
// exported as they do. The file also goes through what the list of recent snapshots reads
// of it without opening it.
#pragma once

#include "TreeWalk.h"

#include <tallyfox/FormatError.h>
#include <tallyfox/NcduExport.h>
#include <tallyfox/SnapshotDump.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/VokSnapshotReader.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace fuzzcallers {

// A folder of the fuzzer's own, in memory where the system offers it so that writing an
// input costs no disk; removed when the fuzzer ends.
inline const std::filesystem::path& folder() {
  static const std::filesystem::path path = [] {
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    std::string pattern = base / "tallyfox-fuzz-XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    return std::filesystem::path(pattern);
  }();
  static const bool removedAtExit = std::atexit([] {
                                      std::error_code ignored;
                                      std::filesystem::remove_all(path, ignored);
                                    }) == 0;
  (void)removedAtExit;
  return path;
}

// The bytes as a file named `name` in that folder, replaced whole on every call.
inline std::filesystem::path write(const std::string& name, std::span<const std::uint8_t> bytes) {
  const std::filesystem::path file = folder() / name;
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) std::abort();
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written <= 0) std::abort();
    done += std::size_t(written);
  }
  ::close(fd);
  return file;
}

// What the start window's list of recent snapshots reads of a file: the header of a
// Tallyfox snapshot, the head of an export, the base-path attribute of a vok file. These
// never throw: a file that cannot be read drops out.
inline void listAsRecent(const std::filesystem::path& file) {
  volatile std::uint64_t sink = 0;
  if (const auto header = tallyfox::SnapshotFile::readInfo(file)) {
    sink = sink + header->nodeCount + header->info.rootPath.size();
    if (const auto bytes = tallyfox::SnapshotFile::totalBytes(file)) sink = sink + *bytes;
  } else if (tallyfox::NcduExport::matches(file)) {
    if (const auto peeked = tallyfox::NcduExport::peek(file)) sink = sink + peeked->rootPath.size();
  } else {
    sink = sink + tallyfox::VokSnapshotReader::basePath(file).value_or("").size();
  }
}

struct Opened {
  bool opened = false;
  std::optional<std::string> violation;
};

// Opens the file as every caller does; a file that is no snapshot gives a format error.
// Then the structural check that tfscan runs before it relies on a tree and the window runs
// once it shows one, the window's reading of every node (it shows a damaged tree too), the
// dump mode's summary, and, for a sound tree, the export that tfscan writes from it.
// `built`: the reader builds its trees with the tree builder.
inline Opened openAsCallersDo(const std::filesystem::path& file, bool built) {
  tallyfox::DiskTreePtr tree;
  try {
    tree = tallyfox::SnapshotDump::open(file, [](double) {});
  } catch (const tallyfox::FileFormatError&) {
    return {};
  }
  Opened result{true, tree->firstViolation(tallyfox::SnapshotDump::totalsOf(file))};
  fuzzwalk::walk(*tree, built);
  volatile std::size_t sink = tallyfox::SnapshotDump::summary(*tree, 0).size();
  (void)sink;
  if (result.violation) return result;
  static const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  tallyfox::NcduExport::stream(*tree, nowhere);
  return result;
}

}  // namespace fuzzcallers
