// Generates the benchmark tree: exactly ENTRIES entries below FOLDER, the same tree for the
// same seed. Folders are 2 to 40 wide and at most 9 deep, which holds about 4.8 million
// entries: each fourfold past 4 million adds a level, so that larger trees keep the shape.
// Files claim 0 to 64 KiB but only a few of their blocks are written (sparse), so allocated
// sizes vary while the tree stays a few gigabytes for a million entries. A few hard links
// and symbolic links, and some non-ASCII names.
//
//   tool_gentree FOLDER ENTRIES [SEED]

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int minimumWidth = 2;
constexpr int maximumWidth = 40;
constexpr int usualDepth = 9;
constexpr std::uint64_t blockSize = 4096;

const char* const stems[] = {"report",  "image",  "notes",     "build",   "cache",  "data",
                             "résumé",  "naïve",  "日本語",    "Ünïcødé", "α-β",    "сервер",
                             "archive", "module", "test-case", "index",   "assets", "log"};
const char* const extensions[] = {"", ".txt", ".jpg", ".o", ".json", ".md", ".bin", ".log"};

struct Folder {
  std::string path;
  int depth;
};

[[noreturn]] void fail(const std::string& what) {
  std::perror(what.c_str());
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FOLDER ENTRIES [SEED]\n", argv[0]);
    return 2;
  }
  const std::string top = argv[1];
  const std::uint64_t wanted = std::strtoull(argv[2], nullptr, 10);
  std::mt19937_64 random(argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1);
  auto below = [&](std::uint64_t n) { return n == 0 ? 0 : random() % n; };
  int maximumDepth = usualDepth;
  for (std::uint64_t held = 4'000'000; held < wanted; held *= 4) ++maximumDepth;

  if (::mkdir(top.c_str(), 0755) != 0 && errno != EEXIST) fail(top);
  std::deque<Folder> folders{{top, 0}};
  std::vector<std::string> files;  // candidates for hard links
  std::uint64_t made = 0, serial = 0;
  std::vector<char> byte(1, 'x');

  // Breadth first, so that the tree has its full shape when the budget runs out.
  while (made < wanted && !folders.empty()) {
    const Folder folder = folders.front();
    folders.pop_front();
    const int width = minimumWidth + int(below(maximumWidth - minimumWidth + 1));
    const int fd = ::open(folder.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) fail(folder.path);
    for (int k = 0; k < width && made < wanted; ++k, ++made) {
      std::string name = std::string(stems[below(std::size(stems))]) + "-" + std::to_string(serial++);
      const std::uint64_t kind = below(1000);
      // Folders often enough that 9 levels hold millions of entries.
      if (folder.depth + 1 < maximumDepth && kind < 200) {
        if (::mkdirat(fd, name.c_str(), 0755) != 0) fail(folder.path + "/" + name);
        folders.push_back({folder.path + "/" + name, folder.depth + 1});
        continue;
      }
      if (kind >= 990 && !files.empty()) {
        const std::string& target = files[below(files.size())];
        if (::linkat(AT_FDCWD, target.c_str(), fd, name.c_str(), 0) != 0) fail(name);
        continue;
      }
      if (kind >= 980) {
        const std::string target = k % 2 ? "../" + name : "missing-" + name;
        if (::symlinkat(target.c_str(), fd, name.c_str()) != 0) fail(name);
        continue;
      }
      name += extensions[below(std::size(extensions))];
      const int file = ::openat(fd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (file < 0) fail(folder.path + "/" + name);
      // A third empty; the others claim up to 64 KiB and hold one to four written blocks.
      if (below(3) != 0) {
        const std::uint64_t size = 1 + below(65536);
        const std::uint64_t blocks = (size + blockSize - 1) / blockSize;
        if (::ftruncate(file, off_t(size)) != 0) fail(name);
        const std::uint64_t written = below(5) == 0 ? 1 + below(std::min<std::uint64_t>(blocks, 4)) : 1;
        for (std::uint64_t b = 0; b < written; ++b) {
          const std::uint64_t block = b == 0 ? 0 : below(blocks);
          if (::pwrite(file, byte.data(), 1, off_t(block * blockSize)) != 1) fail(name);
        }
      }
      ::close(file);
      if (below(50) == 0) files.push_back(folder.path + "/" + name);
    }
    ::close(fd);
  }
  std::printf("%llu entries below %s\n", static_cast<unsigned long long>(made), top.c_str());
  return made == wanted ? 0 : 1;
}
