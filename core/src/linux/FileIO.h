#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>

namespace tallyfox::FileIO {

// Owns one descriptor; closes it on every exit path.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor();
  Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes now and reports a failure of close itself.
  int close();

 private:
  int fd_ = -1;
};

// Throws std::system_error for errno, or for `fallback` when errno holds no error.
[[noreturn]] void throwErrno(int fallback = 5 /* EIO */);

void writeAll(int fd, const void* data, std::size_t length);
void writeZeros(int fd, std::size_t count);
// Reads up to `length` bytes, retrying short reads; returns how many arrived, -1 on error.
long readUpTo(int fd, void* data, std::size_t length);
// The same from `offset` on, leaving the file position alone.
long readUpToAt(int fd, void* data, std::size_t length, std::uint64_t offset);

// Writes a file atomically: `body` writes into a temporary file "." + name + "." + pid +
// ".tmp" in the destination's folder, which is then renamed over the destination. On any
// failure the temporary file is removed, the destination is untouched and the first error
// is thrown.
void writeAtomically(const std::filesystem::path& destination, const std::function<void(int fd)>& body);

}  // namespace tallyfox::FileIO
