#include "BtrfsImage.h"

#include "Subprocess.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>

namespace testsupport {

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
