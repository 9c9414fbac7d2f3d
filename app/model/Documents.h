#pragma once

#include <filesystem>
#include <vector>

namespace tallyfox {

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
