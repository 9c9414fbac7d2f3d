// The floor under any scanner of a tree: getdents64 over every folder and one statx per
// entry, on two threads (or N), and nothing else (no tree, no names kept, no output but totals).
// Folders are opened relative to their parent's descriptor, the cheapest way there is.
//
//   tool_syscall_floor [--threads N] FOLDER

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t bufferBytes = 65536;
constexpr int statxFlags = AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC | AT_NO_AUTOMOUNT;
constexpr unsigned statxMask = STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_INO | STATX_MTIME | STATX_BLOCKS;

struct Totals {
  std::uint64_t entries = 0;
  std::uint64_t bytes = 0;
};

struct dirent64_head {
  std::uint64_t ino;
  std::int64_t off;
  unsigned short reclen;
  unsigned char type;
  char name[];
};

bool isDots(const char* name) {
  return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// Lists one open folder; calls enter(name) for every subfolder.
template <typename Enter>
void list(int fd, std::vector<char>& buffer, Totals& totals, Enter&& enter) {
  for (;;) {
    const long n = ::syscall(SYS_getdents64, fd, buffer.data(), buffer.size());
    if (n <= 0) return;
    for (long offset = 0; offset < n;) {
      const auto* record = reinterpret_cast<const dirent64_head*>(buffer.data() + offset);
      offset += record->reclen;
      if (isDots(record->name)) continue;
      struct statx attributes;
      if (::statx(fd, record->name, statxFlags, statxMask, &attributes) != 0) continue;
      ++totals.entries;
      if (S_ISDIR(attributes.stx_mode))
        enter(record->name);
      else
        totals.bytes += attributes.stx_blocks * 512;
    }
  }
}

void walk(int parent, const char* name, std::vector<char>& buffer, Totals& totals) {
  const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  // Names are copied before recursing: the buffer is reused below.
  std::vector<std::string> folders;
  list(fd, buffer, totals, [&](const char* child) { folders.emplace_back(child); });
  for (const std::string& folder : folders) walk(fd, folder.c_str(), buffer, totals);
  ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  int threadCount = 2;
  if (argc == 4 && std::strcmp(argv[1], "--threads") == 0) {
    threadCount = std::max(1, std::atoi(argv[2]));
    argv += 2;
    argc -= 2;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s [--threads N] FOLDER\n", argv[0]);
    return 2;
  }
  // The first two levels are listed here and shared out, so that every thread has work.
  std::vector<char> buffer(bufferBytes);
  Totals first;
  std::vector<std::string> level1, level2;
  const int root = ::open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) {
    std::perror(argv[1]);
    return 1;
  }
  list(root, buffer, first,
       [&](const char* name) { level1.emplace_back(std::string(argv[1]) + "/" + name); });
  for (const std::string& folder : level1) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    list(fd, buffer, first, [&](const char* name) { level2.push_back(folder + "/" + name); });
    ::close(fd);
  }
  ::close(root);

  std::atomic<std::size_t> next{0};
  std::mutex totalsLock;
  Totals all = first;
  std::vector<std::thread> threads;
  for (int t = 0; t < threadCount; ++t)
    threads.emplace_back([&] {
      std::vector<char> own(bufferBytes);
      Totals totals;
      for (std::size_t i; (i = next.fetch_add(1)) < level2.size();)
        walk(AT_FDCWD, level2[i].c_str(), own, totals);
      std::lock_guard guard(totalsLock);
      all.entries += totals.entries;
      all.bytes += totals.bytes;
    });
  for (auto& thread : threads) thread.join();
  std::printf("entries %llu bytes %llu\n", static_cast<unsigned long long>(all.entries),
              static_cast<unsigned long long>(all.bytes));
  return 0;
}
