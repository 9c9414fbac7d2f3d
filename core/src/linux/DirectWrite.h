#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>

namespace tallyfox::FileIO {

// Writes a file past the page cache (O_DIRECT), in whole aligned blocks. A large file that
// is written once and read later, if ever, then costs neither a copy into the cache nor the
// cache's memory, which the system would take from what it holds of the tree just scanned.
//
// Callers put consecutive bytes at places of their own through ranges, one per thread at a
// time; the blocks a range shares with its neighbours (its first and last) are kept aside
// and written whole once every range is closed. Where the file system refuses O_DIRECT,
// or a write that way fails for a reason a plain write might not, the same whole blocks
// go through the cache instead: only speed changes.
class DirectWrite {
 public:
  static constexpr std::size_t blockBytes = 4096;

  // Writes into fd (open for writing), which must end up `length` bytes long.
  DirectWrite(int fd, std::uint64_t length);
  ~DirectWrite();
  DirectWrite(const DirectWrite&) = delete;
  DirectWrite& operator=(const DirectWrite&) = delete;

  // Consecutive bytes from `offset` on, gathered into large aligned writes.
  class Range {
   public:
    Range(DirectWrite& file, std::uint64_t offset);
    ~Range();
    Range(const Range&) = delete;
    Range& operator=(const Range&) = delete;
    void put(std::span<const std::uint8_t> bytes);
    // Writes what is gathered; the range's shared blocks wait for finish().
    void close();

   private:
    void flush(bool last);
    DirectWrite& file_;
    std::uint64_t start_;   // the file offset of buffer_[0], a block boundary
    std::size_t skip_;      // bytes of the first block before the range began
    std::size_t used_ = 0;  // bytes of buffer_ filled, skip_ included
    bool first_ = true;     // whether buffer_'s first block is the range's first
    std::unique_ptr<std::uint8_t, void (*)(void*)> buffer_;
  };

  // Writes the shared blocks and sets the length; throws std::system_error on failure.
  void finish();

 private:
  void writeBlocks(const std::uint8_t* data, std::size_t bytes, std::uint64_t at);
  void keepPart(std::uint64_t block, std::size_t from, const std::uint8_t* data, std::size_t bytes);

  int fd_;
  std::uint64_t length_;
  std::atomic<bool> direct_;
  std::mutex lock_;
  // Blocks shared between ranges, by block number: zeros where no range wrote.
  std::map<std::uint64_t, std::unique_ptr<std::uint8_t, void (*)(void*)>> shared_;
};

}  // namespace tallyfox::FileIO
