#pragma once

#include <QObject>
#include <QString>

#include <filesystem>
#include <vector>

namespace tallyfox {

// The process-wide owner of open snapshot documents. Opening a file is a request that the
// window layer fulfils (one browser window per file); the controller keeps the list of
// recently opened documents in the shared preferences.
class DocumentController : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* recentDocumentsKey = "recentDocuments";
  static constexpr std::size_t recentDocumentsLimit = 20;

  explicit DocumentController(QObject* parent = nullptr);
  static DocumentController& shared();

  // Newest first; empty when the preferences hold none or cannot be read.
  std::vector<std::filesystem::path> recentDocuments() const;
  // Moves the file to the front of the list, which keeps at most 20 entries. A store that
  // cannot be written leaves the list as it was.
  void noteRecentDocument(const std::filesystem::path& file);
  void clearRecentDocuments();

  // Notes the file as recent and asks for it to be shown.
  void openDocument(const std::filesystem::path& file);

 signals:
  void openRequested(const QString& path);
};

}  // namespace tallyfox
