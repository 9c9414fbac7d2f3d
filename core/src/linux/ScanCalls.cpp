#include "linux/ScanCalls.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/ioprio.h>
#include <linux/openat2.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace tallyfox::ScanCalls {

namespace {

constexpr std::size_t nameOffset = offsetof(struct dirent64, d_name);

}  // namespace

long readDirectory(int fd, std::span<std::uint8_t> buffer) {
  for (;;) {
    const long n = ::syscall(SYS_getdents64, fd, buffer.data(), buffer.size());
    if (n >= 0 || errno != EINTR) return n;
  }
}

bool DirectoryRecords::next(Record& record) {
  while (bytes_.size() - offset_ > nameOffset) {
    unsigned short length;
    unsigned char type;
    std::memcpy(&length, bytes_.data() + offset_ + offsetof(struct dirent64, d_reclen), sizeof length);
    std::memcpy(&type, bytes_.data() + offset_ + offsetof(struct dirent64, d_type), sizeof type);
    if (length <= nameOffset || length > bytes_.size() - offset_) return false;
    const char* name = reinterpret_cast<const char*>(bytes_.data() + offset_ + nameOffset);
    const std::size_t room = length - nameOffset;
    offset_ += length;
    // Names are NUL-padded to the next multiple of 8 bytes and hold no NUL themselves, so
    // the terminator is the first NUL among the record's last 8 bytes.
    std::size_t end = room > 8 ? room - 8 : 0;
    while (end < room && name[end] != 0) ++end;
    if (end == room) {
      const void* nul = std::memchr(name, 0, room);
      if (!nul) continue;  // no terminated name inside the record: skip it
      end = std::size_t(static_cast<const char*>(nul) - name);
    }
    record.name = name;
    record.nameLength = end;
    record.type = type;
    return true;
  }
  return false;
}

int openFolderBelow(int parent, const char* name, bool sameMount, bool& mountChecked) {
  constexpr int flags = O_RDONLY | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC;
  static std::atomic<bool> openat2Missing{false};
  mountChecked = false;
  if (sameMount && !openat2Missing.load(std::memory_order_relaxed)) {
    open_how how{};
    how.flags = flags;
    how.resolve = RESOLVE_NO_XDEV;
    const int fd = int(::syscall(SYS_openat2, parent, name, &how, sizeof how));
    if (fd >= 0 || errno != ENOSYS) {
      mountChecked = true;
      return fd;
    }
    openat2Missing.store(true, std::memory_order_relaxed);
  }
  return ::openat(parent, name, flags);
}

void applyThreadPriority(bool batch, bool idleIO) {
  // What the thread started with, taken at its first call, before anything was changed.
  // Who 0 is the calling thread, not the whole process.
  struct Started {
    int policy = SCHED_OTHER;
    sched_param parameters{};
    long ioPriority = IOPRIO_PRIO_VALUE(IOPRIO_CLASS_NONE, 0);
  };
  thread_local const Started started = [] {
    Started s;
    if (::pthread_getschedparam(::pthread_self(), &s.policy, &s.parameters) != 0) s = Started();
    if (const long io = ::syscall(SYS_ioprio_get, IOPRIO_WHO_PROCESS, 0); io >= 0) s.ioPriority = io;
    return s;
  }();
  sched_param batchParameters{};
  ::pthread_setschedparam(::pthread_self(), batch ? SCHED_BATCH : started.policy,
                          batch ? &batchParameters : &started.parameters);
  ::syscall(SYS_ioprio_set, IOPRIO_WHO_PROCESS, 0,
            idleIO ? IOPRIO_PRIO_VALUE(IOPRIO_CLASS_IDLE, 0) : started.ioPriority);
}

int startThread(std::size_t stackBytes, void* (*body)(void*), void* argument, pthread_t& handle) {
  pthread_attr_t attributes;
  if (const int error = ::pthread_attr_init(&attributes)) return error;
  int error = ::pthread_attr_setstacksize(&attributes, stackBytes);
  if (error == 0) error = ::pthread_create(&handle, &attributes, body, argument);
  ::pthread_attr_destroy(&attributes);
  return error;
}

}  // namespace tallyfox::ScanCalls
