#include "ChangingFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace testsupport {

namespace {

// Runs `work` in a child process, which exits with its answer; only system calls there, as
// the parent may have other threads.
template <typename Work>
void inChild(const char* what, Work work) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(work() ? 0 : 1);
  ASSERT_GT(child, 0) << what;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << what << " failed in the child";
}

}  // namespace

std::vector<Node> wideTree(int folders, int filesPerFolder) {
  std::vector<Node> nodes = {{-1, ""}, {0, "top"}};
  char name[32];
  for (int k = 0; k < folders; ++k) {
    std::snprintf(name, sizeof name, "folder%04d", k);
    nodes.push_back({1, name});
  }
  for (int k = 0; k < folders; ++k) {
    for (int j = 0; j < filesPerFolder; ++j) {
      std::snprintf(name, sizeof name, "file%05d.bin", j);
      // Each folder's files are all larger than the next folder's.
      const std::uint64_t size = 4096 * (std::uint64_t(folders - k) * std::uint64_t(filesPerFolder) + 1 +
                                         std::uint64_t(filesPerFolder - j));
      nodes.push_back({2 + k, name, size, 0, std::uint32_t(1'700'000'000 + j)});
    }
  }
  return nodes;
}

void cutShortElsewhere(const std::filesystem::path& file, std::uint64_t length) {
  const std::string path = file.string();
  inChild("cutting the file short", [&] { return ::truncate(path.c_str(), off_t(length)) == 0; });
}

void rewriteElsewhere(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes) {
  const std::string path = file.string();
  inChild("rewriting the file", [&] {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return false;
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return false;
      done += std::size_t(n);
    }
    return ::close(fd) == 0;
  });
}

void ageFile(const std::filesystem::path& file) {
  struct stat st;
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  const timespec times[2] = {st.st_atim, {st.st_mtim.tv_sec - 60, st.st_mtim.tv_nsec}};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

}  // namespace testsupport
