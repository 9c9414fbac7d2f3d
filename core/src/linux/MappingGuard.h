#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>

struct stat;

namespace tallyfox {

// Keeps a reader alive when a file it has mapped changes under it, and tells it so.
//
// A mapped file that another process cuts short, or rewrites in place with fewer bytes
// (`cp other.tfsnap open.tfsnap` truncates first), raises SIGBUS at the next read past its
// new end. While a guard lives, such a fault inside its mapping maps zero pages over the rest
// of the mapping, marks the guard and lets the read go on: the reader sees zeros, which the
// tree's bounded queries turn into wrong answers but never a crash. A rewrite in place that
// does not shorten the file raises nothing; it shows in the file's size or modification
// time, which changed() compares with those the file had when it was mapped.
//
// The signal handler is process-wide by nature, so this is the core's one piece of global
// state: a fixed table of watched ranges, read by the handler through atomics alone (no lock,
// no allocation). The handler is installed with the first guard, after whatever handler was
// there (a sanitizer's, a crash reporter's), and hands every fault outside a watched mapping
// on to that handler, or to the default action: real crashes still crash.
class MappingGuard {
 public:
  // Mappings watched at once; one past that is read unwatched, as before there were guards.
  static constexpr int capacity = 1024;

  // `base` and `length` as mmap gave and took them; `status` is the file's, from the same
  // descriptor.
  MappingGuard(const void* base, std::size_t length, std::filesystem::path path, const struct stat& status);
  // Stops watching; call before the mapping goes.
  ~MappingGuard();
  MappingGuard(const MappingGuard&) = delete;
  MappingGuard& operator=(const MappingGuard&) = delete;

  // A read faulted past the file's end: part of the mapping now reads as zeros. No I/O.
  bool faulted() const;
  // The same, or the file at the path is still the one mapped but its size or modification
  // time differ. A file renamed over the path, or removed, leaves the mapping as it was. One
  // stat of the path.
  bool changed() const;
  const std::filesystem::path& path() const { return path_; }
  bool watching() const { return slot_ >= 0; }

 private:
  int slot_ = -1;
  std::filesystem::path path_;
  std::uint64_t device_;
  std::uint64_t inode_;
  std::int64_t size_;
  timespec modified_;
};

}  // namespace tallyfox
