#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace testsupport {

// A tmpfs or a bind mount on a folder of the test's, for the lifetime of the object; detached
// on destruction, so that a descriptor still open elsewhere cannot keep it. Needs root.
class ScopedMount {
 public:
  // nullptr with the reason in whyNot when the machine cannot do it.
  static std::unique_ptr<ScopedMount> tmpfs(const std::filesystem::path& at, std::string& whyNot);
  // `source` seen a second time at `at`: the same file system and device, another mount.
  static std::unique_ptr<ScopedMount> bind(const std::filesystem::path& source,
                                           const std::filesystem::path& at, std::string& whyNot);
  ~ScopedMount();
  ScopedMount(const ScopedMount&) = delete;
  ScopedMount& operator=(const ScopedMount&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  explicit ScopedMount(std::filesystem::path path) : path_(std::move(path)) {}
  std::filesystem::path path_;
};

}  // namespace testsupport
