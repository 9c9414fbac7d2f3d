#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// The Linux system calls under the scanner, kept apart so that the scanner reads as its
// algorithm.
namespace tallyfox::ScanCalls {

// One getdents64 call: the byte count filled, 0 at the end, -1 with errno on failure.
long readDirectory(int fd, std::span<std::uint8_t> buffer);

// The records of one getdents64 buffer. Walks only whole records that lie inside the
// filled part, whatever their lengths claim.
class DirectoryRecords {
 public:
  explicit DirectoryRecords(std::span<const std::uint8_t> filled) : bytes_(filled) {}
  struct Record {
    const char* name;  // NUL-terminated
    std::size_t nameLength;
    unsigned char type;  // DT_*
  };
  // The next record, or false at the end.
  bool next(Record& record);

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t offset_ = 0;
};

inline bool isDotOrDotDot(std::string_view name) {
  return name == "." || name == "..";
}

// Opens the folder `name` inside the open folder `parent`, read-only, without following a
// symbolic link. With `sameMount`, a folder on another mount (one that appeared after the
// parent was listed) is refused with EXDEV in the same call; `mountChecked` tells whether
// that check was made (kernels before 5.6 cannot, and the caller checks otherwise).
int openFolderBelow(int parent, const char* name, bool sameMount, bool& mountChecked);

// Scheduling of the calling thread: SCHED_BATCH, or the policy the thread started with (what
// whoever ran the scan chose, say a real-time class with chrt, or SCHED_OTHER); and the idle
// I/O class, or the one it started with. Both directions are allowed without privilege, so a
// gentle scan can become fast again. Failures are ignored: priorities are a courtesy, not a
// requirement.
void applyThreadPriority(bool batch, bool idleIO);

// Starts a thread with the given stack size; 0 or an errno value.
int startThread(std::size_t stackBytes, void* (*body)(void*), void* argument, pthread_t& handle);

}  // namespace tallyfox::ScanCalls
