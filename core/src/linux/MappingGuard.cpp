#include "MappingGuard.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

namespace tallyfox {

namespace {

// One watched mapping. `begin` is published last and withdrawn first, so that the handler,
// which reads `begin` before `end`, never pairs a live begin with a stale end. `end` is the
// end of the mapping's last page: what lies past `length` in that page belongs to it too.
struct Slot {
  std::atomic<std::uintptr_t> begin{0};  // 0 while the slot is free
  std::atomic<std::uintptr_t> end{0};
  std::atomic<bool> taken{false};
  std::atomic<bool> faulted{false};
};

static_assert(std::atomic<std::uintptr_t>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the signal handler reads the table through atomics that take no lock");

Slot slots[MappingGuard::capacity];
struct sigaction previous;
std::uintptr_t pageSize = 4096;
std::once_flag installed;

// Zero pages from the faulting page to the end of the mapping. Every page after the first
// one past the file's new end is past it too, so one call spares the reader a fault per page.
// The raw system call: the C library's wrapper may be a sanitizer's interceptor, which need
// not be safe in a signal handler.
bool coverWithZeros(std::uintptr_t address, std::uintptr_t end) {
  const std::uintptr_t page = address & ~(pageSize - 1);
  const long mapped =
      ::syscall(SYS_mmap, page, end - page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0L);
  return mapped == long(page);
}

// What would have happened without us: the handler that was there before, or the default
// action, which ends the process with SIGBUS (and a core dump where those are enabled).
void passOn(int signal, siginfo_t* info, void* context) {
  const auto before = previous.sa_handler;
  if (before == SIG_IGN && info->si_code <= 0) return;  // only a signal sent by someone can be ignored
  if (before != SIG_DFL && before != SIG_IGN) {
    if (previous.sa_flags & SA_SIGINFO)
      previous.sa_sigaction(signal, info, context);
    else
      before(signal);
    return;
  }
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(SIGBUS, &fallback, nullptr);
  // Blocked while this handler runs: it ends the process as soon as the handler returns.
  ::raise(SIGBUS);
}

void onBus(int signal, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  // A positive code is a fault of this thread's own access; a signal sent with kill has none
  // of ours to answer for.
  if (info->si_code > 0) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (Slot& slot : slots) {
      const std::uintptr_t begin = slot.begin.load(std::memory_order_acquire);
      if (begin == 0 || address < begin) continue;
      const std::uintptr_t end = slot.end.load(std::memory_order_acquire);
      if (address >= end) continue;
      if (!coverWithZeros(address, end)) break;
      slot.faulted.store(true, std::memory_order_release);
      errno = savedErrno;
      return;  // the read is repeated and finds zeros
    }
  }
  errno = savedErrno;
  passOn(signal, info, context);
}

void install() {
  pageSize = std::uintptr_t(::sysconf(_SC_PAGESIZE));
  // The handler in place is read before ours replaces it, so that a fault elsewhere at the
  // moment of the swap already finds it.
  ::sigaction(SIGBUS, nullptr, &previous);
  struct sigaction action = {};
  action.sa_sigaction = onBus;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, nullptr);
}

}  // namespace

MappingGuard::MappingGuard(const void* base, std::size_t length, std::filesystem::path path,
                           const struct stat& status)
    : path_(std::move(path)),
      device_(status.st_dev),
      inode_(status.st_ino),
      size_(status.st_size),
      modified_(status.st_mtim) {
  std::call_once(installed, install);
  const auto begin = reinterpret_cast<std::uintptr_t>(base);
  if (begin == 0 || length == 0) return;
  const std::uintptr_t end = (begin + length + pageSize - 1) & ~(pageSize - 1);
  for (int i = 0; i < capacity; ++i) {
    bool free = false;
    if (!slots[i].taken.compare_exchange_strong(free, true, std::memory_order_acq_rel)) continue;
    slots[i].faulted.store(false, std::memory_order_relaxed);
    slots[i].end.store(end, std::memory_order_release);
    slots[i].begin.store(begin, std::memory_order_release);
    slot_ = i;
    return;
  }
}

MappingGuard::~MappingGuard() {
  if (slot_ < 0) return;
  Slot& slot = slots[slot_];
  slot.begin.store(0, std::memory_order_release);
  slot.end.store(0, std::memory_order_release);
  slot.taken.store(false, std::memory_order_release);
}

bool MappingGuard::faulted() const {
  return slot_ >= 0 && slots[slot_].faulted.load(std::memory_order_acquire);
}

bool MappingGuard::changed() const {
  if (faulted()) return true;
  struct stat now;
  if (::stat(path_.c_str(), &now) != 0) return false;
  if (std::uint64_t(now.st_dev) != device_ || std::uint64_t(now.st_ino) != inode_) return false;
  return now.st_size != size_ || now.st_mtim.tv_sec != modified_.tv_sec ||
         now.st_mtim.tv_nsec != modified_.tv_nsec;
}

}  // namespace tallyfox
