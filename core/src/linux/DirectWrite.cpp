#include "DirectWrite.h"

#include "FileIO.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace tallyfox::FileIO {

namespace {

// Large enough that each write keeps the disk busy for a while, small enough that the two
// writers' buffers are nothing beside the tree.
constexpr std::size_t rangeBufferBytes = 1 << 20;

std::unique_ptr<std::uint8_t, void (*)(void*)> alignedBuffer(std::size_t bytes) {
  void* memory = std::aligned_alloc(DirectWrite::blockBytes, bytes);
  if (!memory) throw std::bad_alloc();
  return {static_cast<std::uint8_t*>(memory), std::free};
}

bool setDirect(int fd, bool on) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  return ::fcntl(fd, F_SETFL, on ? flags | O_DIRECT : flags & ~O_DIRECT) == 0;
}

}  // namespace

DirectWrite::DirectWrite(int fd, std::uint64_t length)
    : fd_(fd), length_(length), direct_(setDirect(fd, true)) {}

DirectWrite::~DirectWrite() {
  if (direct_.load()) setDirect(fd_, false);
}

void DirectWrite::writeBlocks(const std::uint8_t* data, std::size_t bytes, std::uint64_t at) {
  std::size_t done = 0;
  bool retried = false;
  while (done < bytes) {
    const ssize_t n = ::pwrite(fd_, data + done, bytes - done, off_t(at + done));
    if (n > 0) {
      done += std::size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // A device with larger blocks than these, or a short write that left the rest
    // misaligned: from now on everything goes through the cache, where any alignment does.
    // (The other writer may have turned it off already, after this write was refused.)
    if (n < 0 && errno == EINVAL && !retried) {
      if (direct_.exchange(false)) setDirect(fd_, false);
      retried = true;
      continue;
    }
    if (n == 0) errno = 0;  // nothing written and no reason: EIO
    throwErrno();
  }
}

void DirectWrite::keepPart(std::uint64_t block, std::size_t from, const std::uint8_t* data,
                           std::size_t bytes) {
  // An empty range keeps nothing: a block of zeros kept for it could overwrite a block
  // another range wrote whole.
  if (bytes == 0) return;
  std::lock_guard guard(lock_);
  auto found = shared_.find(block);
  if (found == shared_.end()) {
    found = shared_.emplace(block, alignedBuffer(blockBytes)).first;
    std::memset(found->second.get(), 0, blockBytes);
  }
  std::memcpy(found->second.get() + from, data, bytes);
}

void DirectWrite::finish() {
  std::lock_guard guard(lock_);
  for (const auto& [block, bytes] : shared_) writeBlocks(bytes.get(), blockBytes, block * blockBytes);
  shared_.clear();
  // The last shared block may have run past the end.
  setLength(fd_, length_);
}

DirectWrite::Range::Range(DirectWrite& file, std::uint64_t offset)
    : file_(file),
      start_(offset / blockBytes * blockBytes),
      skip_(std::size_t(offset - start_)),
      used_(skip_),
      buffer_(alignedBuffer(rangeBufferBytes)) {}

DirectWrite::Range::~Range() = default;

void DirectWrite::Range::put(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const std::size_t n = std::min(rangeBufferBytes - used_, bytes.size());
    std::memcpy(buffer_.get() + used_, bytes.data(), n);
    used_ += n;
    bytes = bytes.subspan(n);
    if (used_ == rangeBufferBytes) flush(false);
  }
}

void DirectWrite::Range::close() {
  if (!buffer_) return;
  flush(true);
  buffer_.reset();
}

// The buffer holds the file's bytes from start_ on. Its first block is shared when the range
// began inside it; the last block of the last flush is shared unless it is full.
void DirectWrite::Range::flush(bool last) {
  const std::uint8_t* data = buffer_.get();
  std::size_t from = 0;
  if (first_ && skip_ > 0) {
    file_.keepPart(start_ / blockBytes, skip_, data + skip_, std::min(blockBytes, used_) - skip_);
    from = blockBytes;
  }
  const std::size_t whole = last ? used_ / blockBytes * blockBytes : used_;
  if (whole > from) file_.writeBlocks(data + from, whole - from, start_ + from);
  if (last && used_ > std::max(whole, from))
    file_.keepPart((start_ + whole) / blockBytes, 0, data + whole, used_ - whole);
  start_ += used_;
  used_ = 0;
  skip_ = 0;
  first_ = false;
}

}  // namespace tallyfox::FileIO
