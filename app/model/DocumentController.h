#pragma once

#include "model/Documents.h"
#include "model/PlaceStore.h"
#include "platform/Desktop.h"

#include <QObject>
#include <QString>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tallyfox {

class BrowserModel;
class Settings;

// The process-wide owner of open snapshot documents: one browser model per file, in the
// order they were opened, and which of them has the focus. It also keeps the list of
// recently opened documents in the shared preferences. The shell shows, raises and closes
// windows when told to; whoever wants a document opened or closed asks here.
class DocumentController : public QObject, public Documents {
  Q_OBJECT

 public:
  static constexpr const char* recentDocumentsKey = "recentDocuments";
  static constexpr std::size_t recentDocumentsLimit = 20;

  // Models get `desktop` and `places` as their services, and this controller as their
  // documents.
  DocumentController(Settings& settings, Desktop desktop, std::shared_ptr<PlaceStore> places = {},
                     QObject* parent = nullptr);
  ~DocumentController() override;

  // Newest first; empty when the preferences hold none or cannot be read.
  std::vector<std::filesystem::path> recentDocuments() const override;
  // Moves the file to the front of the list, which keeps at most 20 entries. A store that
  // cannot be written leaves the list as it was.
  void noteRecentDocument(const std::filesystem::path& file) override;
  void clearRecentDocuments();

  // The document of `file`: brought forward when it is open already, else a new model that
  // starts loading; it becomes a recent document once it has loaded. Two spellings of one file (a relative
  // path, a symbolic link) are one document.
  BrowserModel* openDocument(const std::filesystem::path& file) override;
  // Closes the document of `file`, if open: its window goes and the model is released once
  // the event loop gets back. False when no such document is open.
  bool closeDocument(const std::filesystem::path& file) override;
  // The shell reports a window closed by the user.
  void documentClosed(BrowserModel* browser);

  BrowserModel* documentFor(const std::filesystem::path& file) const;
  // The desktop's services the documents are given.
  const Desktop& desktop() const { return desktop_; }
  // Every open document, in the order they were opened.
  std::vector<BrowserModel*> browsers() const override;
  // The document whose window was active last; null when none is open.
  BrowserModel* focused() const { return focused_; }
  void setFocused(BrowserModel* browser);
  // A duplicate search or a replacement by clones runs in some window (shown or not): work
  // that installing an update must wait for.
  bool isDuplicatesWorkRunning() const;

  // The form under which a file is known: absolute, symbolic links resolved.
  static std::string keyOf(const std::filesystem::path& file);

 signals:
  // A new document: the shell gives it a window.
  void documentOpened(tallyfox::BrowserModel* browser);
  // An open document was asked for again: its window comes forward.
  void raiseRequested(tallyfox::BrowserModel* browser);
  // The document is going: its window closes without asking.
  void closeRequested(tallyfox::BrowserModel* browser);
  void focusedChanged();
  // isDuplicatesWorkRunning() may have changed.
  void duplicatesWorkChanged();

 private:
  struct Open {
    std::string key;
    BrowserModel* browser;
  };
  std::vector<Open>::iterator find(const BrowserModel* browser);
  void release(std::vector<Open>::iterator open);

  Settings& settings_;
  Desktop desktop_;
  std::shared_ptr<PlaceStore> places_;
  std::vector<Open> open_;
  BrowserModel* focused_ = nullptr;
};

}  // namespace tallyfox
