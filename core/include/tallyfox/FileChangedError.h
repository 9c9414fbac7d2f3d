#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace tallyfox {

// A file that another process cut short or rewrote in place while it was read: what was
// read from it may mix the old bytes, the new ones and zeros, so nothing made from it is
// to be trusted. what() is the path followed by " changed while it was read".
class FileChangedError : public std::runtime_error {
 public:
  explicit FileChangedError(const std::filesystem::path& file)
      : std::runtime_error(file.string() + " changed while it was read"), file_(file) {}
  const std::filesystem::path& file() const { return file_; }

 private:
  std::filesystem::path file_;
};

}  // namespace tallyfox
