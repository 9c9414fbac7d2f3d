#include "linux/FileIO.h"

#include <tallyfox/SnapshotFile.h>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <system_error>

namespace tallyfox::FileIO {

Descriptor::~Descriptor() {
  if (fd_ >= 0) ::close(fd_);
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

int Descriptor::close() {
  if (fd_ < 0) return 0;
  const int result = ::close(fd_);
  fd_ = -1;
  return result;
}

void throwErrno(int fallback) {
  const int code = errno != 0 ? errno : fallback;
  throw std::system_error(code, std::generic_category());
}

void writeAll(int fd, const void* data, std::size_t length) {
  auto p = static_cast<const char*>(data);
  while (length > 0) {
    // Linux moves at most about 2 GiB per call.
    const std::size_t chunk = length < (std::size_t(1) << 30) ? length : (std::size_t(1) << 30);
    const ssize_t n = ::write(fd, p, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      throwErrno();
    }
    if (n == 0) {
      errno = EIO;
      throwErrno();
    }
    p += n;
    length -= std::size_t(n);
  }
}

void writeZeros(int fd, std::size_t count) {
  static const char zeros[64] = {};
  while (count > 0) {
    const std::size_t n = count < sizeof zeros ? count : sizeof zeros;
    writeAll(fd, zeros, n);
    count -= n;
  }
}

namespace {

// Retries short and interrupted reads; read(got, left) reads into data + got.
template <typename Read>
long readFully(void* data, std::size_t length, Read read) {
  auto p = static_cast<char*>(data);
  std::size_t got = 0;
  while (got < length) {
    const ssize_t n = read(p + got, length - got, got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    got += std::size_t(n);
  }
  return long(got);
}

}  // namespace

long readUpTo(int fd, void* data, std::size_t length) {
  return readFully(data, length,
                   [fd](char* to, std::size_t left, std::size_t) { return ::read(fd, to, left); });
}

long readUpToAt(int fd, void* data, std::size_t length, std::uint64_t offset) {
  return readFully(data, length, [fd, offset](char* to, std::size_t left, std::size_t got) {
    return ::pread(fd, to, left, off_t(offset + got));
  });
}

void writeAtomically(const std::filesystem::path& destination, const std::function<void(int fd)>& body) {
  const auto temporary = SnapshotFile::temporaryPath(destination);
  Descriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!file) throwErrno();
  try {
    body(file.get());
    if (file.close() != 0) throwErrno();
    if (::rename(temporary.c_str(), destination.c_str()) != 0) throwErrno();
  } catch (...) {
    file.close();
    ::unlink(temporary.c_str());
    throw;
  }
}

}  // namespace tallyfox::FileIO
