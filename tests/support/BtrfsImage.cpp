#include "BtrfsImage.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>

extern char** environ;

namespace testsupport {

int runCommand(const std::vector<std::string>& words, std::string* output) {
  std::vector<char*> argv;
  for (const auto& w : words) argv.push_back(const_cast<char*>(w.c_str()));
  argv.push_back(nullptr);
  int pipeFds[2] = {-1, -1};
  if (output && ::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (output) {
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (output) {
    ::close(pipeFds[1]);
    if (spawned == 0) {
      char buffer[4096];
      ssize_t n;
      while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) output->append(buffer, std::size_t(n));
    }
    ::close(pipeFds[0]);
  }
  if (spawned != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::unique_ptr<BtrfsImage> BtrfsImage::create(std::string& whyNot, int megabytes) {
  if (::geteuid() != 0) {
    whyNot = "needs root to mount a btrfs image";
    return nullptr;
  }
  if (::access("/dev/loop-control", F_OK) != 0) {
    whyNot = "no loop devices (/dev/loop-control is missing)";
    return nullptr;
  }
  std::unique_ptr<BtrfsImage> image(new BtrfsImage);
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/tallyfox-btrfs-XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    whyNot = "cannot create a temporary folder";
    return nullptr;
  }
  image->folder_ = pattern;
  image->image_ = image->folder_ / "image.btrfs";
  image->mountPoint_ = image->folder_ / "mnt";
  std::filesystem::create_directory(image->mountPoint_);
  {
    const int fd = ::open(image->image_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::ftruncate(fd, off_t(megabytes) << 20) != 0) {
      if (fd >= 0) ::close(fd);
      whyNot = "cannot create the image file";
      return nullptr;
    }
    ::close(fd);
  }
  if (runCommand({"mkfs.btrfs", "-q", "-f", image->image_.string()}) != 0) {
    whyNot = "mkfs.btrfs failed or is not installed (btrfs-progs)";
    return nullptr;
  }
  if (runCommand({"mount", "-o", "loop", image->image_.string(), image->mountPoint_.string()}) != 0) {
    whyNot = "mounting a loop device failed (no loop device or no btrfs in this kernel)";
    return nullptr;
  }
  image->mounted_ = true;
  return image;
}

BtrfsImage::~BtrfsImage() {
  if (mounted_) runCommand({"umount", mountPoint_.string()});
  std::error_code ignored;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

}  // namespace testsupport
