#include "ScopedMount.h"

#include <sys/mount.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace testsupport {

namespace {

std::unique_ptr<ScopedMount> mounted(int result, std::unique_ptr<ScopedMount> mount, std::string& whyNot) {
  if (result == 0) return mount;
  whyNot = std::string("mounting failed: ") + std::strerror(errno);
  return nullptr;
}

}  // namespace

std::unique_ptr<ScopedMount> ScopedMount::tmpfs(const std::filesystem::path& at, std::string& whyNot) {
  if (::geteuid() != 0) {
    whyNot = "needs root to mount a tmpfs";
    return nullptr;
  }
  std::filesystem::create_directories(at);
  std::unique_ptr<ScopedMount> mount(new ScopedMount(at));
  const int result = ::mount("tallyfox-test", at.c_str(), "tmpfs", 0, "size=4m,mode=0755");
  if (result != 0) mount->path_.clear();
  return mounted(result, std::move(mount), whyNot);
}

std::unique_ptr<ScopedMount> ScopedMount::bind(const std::filesystem::path& source,
                                               const std::filesystem::path& at, std::string& whyNot) {
  if (::geteuid() != 0) {
    whyNot = "needs root to make a bind mount";
    return nullptr;
  }
  std::filesystem::create_directories(at);
  std::unique_ptr<ScopedMount> mount(new ScopedMount(at));
  const int result = ::mount(source.c_str(), at.c_str(), nullptr, MS_BIND, nullptr);
  if (result != 0) mount->path_.clear();
  return mounted(result, std::move(mount), whyNot);
}

ScopedMount::~ScopedMount() {
  if (!path_.empty()) ::umount2(path_.c_str(), MNT_DETACH);
}

}  // namespace testsupport
