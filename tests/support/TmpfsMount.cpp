#include "TmpfsMount.h"

#include <sys/mount.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace testsupport {

std::unique_ptr<TmpfsMount> TmpfsMount::create(std::string& whyNot, int megabytes) {
  if (::geteuid() != 0) {
    whyNot = "needs root to mount a tmpfs";
    return nullptr;
  }
  std::unique_ptr<TmpfsMount> mount(new TmpfsMount);
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/tallyfox-tmpfs-XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    whyNot = "cannot create a temporary folder";
    return nullptr;
  }
  mount->folder_ = pattern;
  mount->path_ = mount->folder_ / "mnt";
  std::filesystem::create_directory(mount->path_);
  const std::string options = "size=" + std::to_string(megabytes) + "m";
  if (::mount("tallyfox-test", mount->path_.c_str(), "tmpfs", 0, options.c_str()) != 0) {
    whyNot = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
    return nullptr;
  }
  mount->mounted_ = true;
  return mount;
}

TmpfsMount::~TmpfsMount() {
  if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  std::error_code ignored;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

}  // namespace testsupport
