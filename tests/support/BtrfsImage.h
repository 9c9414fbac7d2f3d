#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// A btrfs file system on a loop device over a sparse file, mounted in a temporary folder;
// unmounted and removed on destruction. Needs root and /dev/loop-control.
class BtrfsImage {
 public:
  // nullptr with the reason in whyNot when the machine cannot do it.
  static std::unique_ptr<BtrfsImage> create(std::string& whyNot, int megabytes = 300);
  ~BtrfsImage();
  BtrfsImage(const BtrfsImage&) = delete;
  BtrfsImage& operator=(const BtrfsImage&) = delete;
  const std::filesystem::path& mountPoint() const { return mountPoint_; }

 private:
  BtrfsImage() = default;
  std::filesystem::path folder_, image_, mountPoint_;
  bool mounted_ = false;
};

}  // namespace testsupport
