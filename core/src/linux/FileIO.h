#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
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

// Gathers pieces into large writes to a descriptor, strictly in order: for outputs that
// may be a pipe, where nothing can be written at a place of its own and each call costs.
class SequentialWriter {
 public:
  explicit SequentialWriter(int fd, std::size_t capacity = 256 * 1024);
  void put(const void* data, std::size_t length);
  void putZeros(std::uint64_t length);
  // Writes out what is gathered; the owner calls it at the end, since a failure throws.
  void flush();
  // Bytes put so far, written out or not.
  std::uint64_t position() const { return position_; }

 private:
  int fd_;
  // Left unfilled: the pages a small file never reaches are never touched.
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_;
  std::size_t used_ = 0;
  std::uint64_t position_ = 0;
};

// The longest file name a folder's file system takes (NAME_MAX where it does not say).
std::size_t maxNameBytes(const std::filesystem::path& folder);

// What a temporary's name adds to the destination's name at most: "." before it and
// "." + pid + "." + random part + ".tmp" after it. A destination name that leaves this much
// room below maxNameBytes() keeps all of its name in its temporaries' names; a longer one
// is cut there.
inline constexpr std::size_t temporaryExtraBytes = 1 + 1 + 10 + 1 + 12 + 4;

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
// ".tmp", the name cut to fit, created exclusively in the destination's folder, never
// through a planted link or FIFO), which is flushed to the disk and renamed over the
// destination; the folder is flushed after. Only a regular file, a symbolic link to one or
// nothing is ever replaced: anything else in the destination's place (a device, a FIFO, a
// folder) is refused before writing, as by checkWritable(). On any failure the temporary
// file is removed, the destination is untouched and the first error is thrown.
//
// The writer holds a lock (flock) on its temporary until it has its final name. Before
// writing, temporaries in the destination's folder that nobody holds so are removed,
// whatever their destination: a writer killed on the way leaves one, and its process id
// says nothing (ids are reused, and differ between PID namespaces).
//
// `body` may be called a second time, on a fresh file, when the unnamed file cannot be named.
enum class Temporary { unnamedWherePossible, named };
void writeAtomically(const std::filesystem::path& destination, const std::function<void(int fd)>& body,
                     unsigned mode = 0644, Temporary temporary = Temporary::unnamedWherePossible);

// Throws what writing `destination` would fail with before any byte is written: EISDIR
// for a folder (or a name that ends in "/"), notRegularFile() for any other thing but a
// regular file or a symbolic link to one, ENAMETOOLONG for a name the folder's file system
// cannot take, and the error of making a file there for a folder that is missing, cannot
// be searched or written, or is read-only. For callers that check before long work; the
// writer checks again.
void checkWritable(const std::filesystem::path& destination);

}  // namespace tallyfox::FileIO
