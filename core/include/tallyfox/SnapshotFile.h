#pragma once

#include <tallyfox/DiskTree.h>
#include <tallyfox/FormatError.h>
#include <tallyfox/TreeColumns.h>
#include <tallyfox/TreeColumnsBuilder.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace tallyfox {

class MappingGuard;

// The snapshot file: a 4096-byte header followed by the nine tree columns stored raw, each
// at an 8-byte aligned offset, so that a mapped file is used in place.
namespace SnapshotFile {

inline constexpr std::array<std::uint8_t, 8> magic = {'T', 'F', 'S', 'N', 'A', 'P', 0, 0};
inline constexpr std::uint32_t version = 1;
inline constexpr std::size_t headerSize = 4096;
inline constexpr const char* fileExtension = "tfsnap";
inline constexpr std::size_t maxRootPathBytes = 3900;
inline constexpr int columnCount = 9;

enum class State : std::uint32_t { scanning = 0, complete = 1 };

struct Info {
  std::string rootPath;
  std::chrono::system_clock::time_point scanStart;
  double scanSeconds = 0;

  bool operator==(const Info&) const = default;
};

struct FileKind {
  static constexpr const char* name = "Tallyfox snapshot";
};
using FormatError = FormatErrorOf<FileKind>;

// A read-only private mapping of a whole file; unmaps when released.
//
// Private mapping does not shield it from another process that cuts the file short or
// rewrites it in place: the mapping is watched, so that a read past the file's new end finds
// zeros instead of ending the process, and changed() tells the reader.
class MappedRegion {
 public:
  explicit MappedRegion(const std::filesystem::path& path);
  ~MappedRegion();
  MappedRegion(const MappedRegion&) = delete;
  MappedRegion& operator=(const MappedRegion&) = delete;
  const std::uint8_t* base() const { return base_; }
  std::size_t length() const { return length_; }
  const std::filesystem::path& path() const { return path_; }
  // Whether the file was cut short or rewritten in place since it was mapped. Safe from any
  // thread; one stat of the file.
  bool changed() const;

 private:
  const std::uint8_t* base_ = nullptr;
  std::size_t length_ = 0;
  std::filesystem::path path_;
  std::unique_ptr<MappingGuard> guard_;
};

// One zero-filled, 8-byte aligned heap block; freed when released.
class OwnedBuffer {
 public:
  explicit OwnedBuffer(std::size_t length);
  std::uint8_t* data() { return reinterpret_cast<std::uint8_t*>(storage_.get()); }
  const std::uint8_t* data() const { return reinterpret_cast<const std::uint8_t*>(storage_.get()); }
  std::size_t length() const { return length_; }

 private:
  struct Free {
    void operator()(void* p) const;
  };
  // calloc rather than a value-initialised array: a large block comes zeroed from the system
  // and its pages cost memory only once they are written.
  std::unique_ptr<std::uint64_t, Free> storage_;
  std::size_t length_;
};

struct Column {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  bool operator==(const Column&) const = default;
};
using ColumnTable = std::array<Column, columnCount>;

struct Header {
  State state = State::complete;
  std::uint64_t nodeCount = 0;
  Info info;
  ColumnTable columns;
};

struct HeaderInfo {
  Info info;
  std::uint64_t nodeCount = 0;
  bool complete = false;
};

// Whether a written snapshot's bytes stay in the page cache. A window that opens the file at
// once reads it from there; a snapshot saved for later (tfscan's) goes straight to the disk
// instead, which is faster than filling the cache, and leaves the cache to what it held, such
// as the inodes of the tree just scanned. Only large snapshots (from about 2.5 million
// entries) bypass it, since for a small one the final flush costs more than the copy; and
// where the file system cannot, the cache is used anyway.
enum class Cache { keep, bypass };

// Writes a complete snapshot atomically: a temporary file in the destination's folder,
// flushed to the disk and renamed over the destination once everything is written.
void write(const TreeColumns& columns, const Info& info, const std::filesystem::path& to,
           Cache cache = Cache::keep);
// The same file from columns arranged but not gathered, gathered piece by piece as they are
// written: a fresh scan is saved without a second copy of its tree in memory.
void write(const ArrangedColumns& columns, const Info& info, const std::filesystem::path& to,
           Cache cache = Cache::keep);
// The bytes write() would put in the file, written in order to a descriptor that need not
// be seekable (a pipe, standard output). What was written before a failure stays written.
void stream(const TreeColumns& columns, const Info& info, int fd);
void stream(const ArrangedColumns& columns, const Info& info, int fd);
DiskTreePtr map(const std::filesystem::path& path);
DiskTreePtr inMemory(const TreeColumns& columns, const Info& info);
// The same, giving each column's memory back as soon as it is copied.
DiskTreePtr inMemory(TreeColumns&& columns, const Info& info);
Header readHeader(std::span<const std::uint8_t> bytes);
// Never throw: absent or false on any failure, including a path that is not a regular file
// (a FIFO among the snapshots is skipped, never waited on).
std::optional<HeaderInfo> readInfo(const std::filesystem::path& path);
std::optional<HeaderInfo> parseInfo(std::span<const std::uint8_t> header);
bool matches(const std::filesystem::path& path);
std::optional<std::uint64_t> totalBytes(const std::filesystem::path& path);

ColumnTable layout(std::uint64_t nodeCount, std::uint64_t nameBytes);
std::vector<std::uint8_t> header(State state, std::uint64_t nodeCount, const Info& info,
                                 const ColumnTable& columns);

namespace detail {
struct TreeFactory {
  // `region`, when the bytes are a mapped file's, is the owner's, told whether they changed.
  static DiskTreePtr open(std::span<const std::uint8_t> bytes, std::shared_ptr<const void> owner,
                          const MappedRegion* region = nullptr);
};
}  // namespace detail

}  // namespace SnapshotFile
}  // namespace tallyfox
