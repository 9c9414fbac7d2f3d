#pragma once

#include <filesystem>
#include <system_error>
#include <vector>

namespace tallyfox {

// The one form under which a file is known, whoever names it: absolute, symbolic links
// resolved where they exist. A snapshot written into a snapshots folder reached through a
// link is the same document, with the same remembered place, as the file it resolves to.
inline std::filesystem::path knownPath(const std::filesystem::path& file) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(file, error);
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(error ? file : absolute, error);
  return (error ? absolute : resolved).lexically_normal();
}

class BrowserModel;

// The open documents as a model reaches them: a model that writes a new snapshot opens it
// and closes its own window by its file. The document controller is the real one.
class Documents {
 public:
  virtual ~Documents() = default;
  // Brings the file's window forward, or opens one.
  virtual BrowserModel* openDocument(const std::filesystem::path& file) = 0;
  // False when no document of that file is open.
  virtual bool closeDocument(const std::filesystem::path& file) = 0;
  // Every open document, in the order they were opened.
  virtual std::vector<BrowserModel*> browsers() const = 0;
  // Newest first.
  virtual std::vector<std::filesystem::path> recentDocuments() const = 0;
  // Puts a file the user saved at the front of the recent documents.
  virtual void noteRecentDocument(const std::filesystem::path& file) = 0;
};

}  // namespace tallyfox
