#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace testsupport {

// A small tmpfs mounted on a fresh temporary folder, private to the test: a file system that
// cannot share storage between files, whatever the one holding $TMPDIR can. Unmounted and
// removed on destruction. Needs root.
class TmpfsMount {
 public:
  // nullptr with the reason in whyNot when the machine cannot do it.
  static std::unique_ptr<TmpfsMount> create(std::string& whyNot, int megabytes = 16);
  ~TmpfsMount();
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  TmpfsMount() = default;
  std::filesystem::path folder_, path_;
  bool mounted_ = false;
};

}  // namespace testsupport
