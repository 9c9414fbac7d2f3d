#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

struct stat;

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
// The same at a place in the file, leaving the file's offset alone: for writers that share
// a descriptor.
void writeAllAt(int fd, const void* data, std::size_t length, std::uint64_t offset);
// Sets the file's length; what was not written reads as zeros.
void setLength(int fd, std::uint64_t length);
// Starts putting the bytes written so far from `offset` on, `length` bytes, on the disk
// without waiting for them, so that the flush that ends a long write finds less to wait
// for. Failure is not reported: the flush reports what matters.
void startWriteback(int fd, std::uint64_t offset, std::uint64_t length);
// Reads up to `length` bytes, retrying short reads; returns how many arrived, -1 on error.
long readUpTo(int fd, void* data, std::size_t length);
// The same from `offset` on, leaving the file position alone.
long readUpToAt(int fd, void* data, std::size_t length, std::uint64_t offset);

// The error of opening something that is not a regular file for reading: its what() is
// "not a regular file".
std::error_code notRegularFile();

// Opens a regular file for reading. A FIFO or device is opened without blocking (O_NONBLOCK,
// which changes nothing for a regular file) and then refused, as is a folder, so that no
// reader can hang on what someone left in a snapshots folder. Throws std::system_error:
// errno, or notRegularFile(). The status is stored when asked for.
Descriptor openRegularFile(const std::filesystem::path& path, struct stat* status = nullptr);
// The same for peeks that never fail: an empty descriptor on any failure.
Descriptor tryOpenRegularFile(const std::filesystem::path& path, struct stat* status = nullptr);
// A whole regular file, up to `limit` bytes; throws as openRegularFile does.
std::string readWholeFile(const std::filesystem::path& path, std::size_t limit);

// Opens the folder `relative` (components separated by "/", none of them "..") below the
// open folder `root`, as an O_PATH descriptor, without following a symbolic link at any
// component, the last included, and never outside `root`: one openat2 call with
// RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH, or on kernels without it a walk of the components,
// each opened with O_NOFOLLOW. An empty path opens `root` again. -1 with errno on failure:
// ELOOP where a component is a link, ENOTDIR where it is no folder, EXDEV for "..".
enum class Resolution { automatic, walk };
int openFolderBeneath(int root, std::string_view relative, Resolution resolution = Resolution::automatic);

// Writes a file atomically and durably: `body` writes into a file that has no name yet (or,
// where the file system cannot do that, a new file "." + name + "." + pid + "." + random +
// ".tmp" created exclusively in the destination's folder, never through a planted link or
// FIFO), which is flushed to the disk and renamed over the destination; the folder is
// flushed after. On any failure the temporary file is removed, the destination is untouched
// and the first error is thrown. Before writing, temporaries of the same destination left by
// processes that no longer run are removed.
//
// `body` may be called a second time, on a fresh file, when the unnamed file cannot be named.
enum class Temporary { unnamedWherePossible, named };
void writeAtomically(const std::filesystem::path& destination, const std::function<void(int fd)>& body,
                     unsigned mode = 0644, Temporary temporary = Temporary::unnamedWherePossible);

// "." + name + "." + pid: how every temporary of `destination` written by this process begins.
std::string temporaryPrefix(const std::filesystem::path& destination);

}  // namespace tallyfox::FileIO
