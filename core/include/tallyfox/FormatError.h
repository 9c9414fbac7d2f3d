#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace tallyfox {

// A file that is not what its reader expects. message() is the fault alone ("bad magic");
// what() puts before it the kind of file that was expected ("Not a readable Tallyfox
// snapshot: bad magic"), for the person who chose the file.
class FileFormatError : public std::runtime_error {
 public:
  FileFormatError(const char* kind, std::string message)
      : std::runtime_error(std::string("Not a readable ") + kind + ": " + message),
        message_(std::move(message)) {}
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

// The errors of one reader, told by a tag type naming the kind of file it reads
// (`static constexpr const char* name`): a type of their own, so that a caller can catch
// one reader's errors and let another's pass, and a FileFormatError like all the others.
template <typename Kind>
class FormatErrorOf : public FileFormatError {
 public:
  explicit FormatErrorOf(std::string message) : FileFormatError(Kind::name, std::move(message)) {}
};

}  // namespace tallyfox
