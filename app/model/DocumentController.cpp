#include "model/DocumentController.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotFile.h>

#include <algorithm>
#include <exception>

namespace tallyfox {

DocumentController::DocumentController(QObject* parent) : QObject(parent) {}

DocumentController& DocumentController::shared() {
  static DocumentController* controller = new DocumentController;
  return *controller;
}

std::vector<std::filesystem::path> DocumentController::recentDocuments() const {
  std::vector<std::filesystem::path> files;
  const auto store = Preferences::standard();
  if (!store) return files;
  const auto value = store->get(recentDocumentsKey);
  if (!value || !value->is_array()) return files;
  for (const auto& item : *value)
    if (item.is_string() && !item.get<std::string>().empty()) files.emplace_back(item.get<std::string>());
  return files;
}

void DocumentController::noteRecentDocument(const std::filesystem::path& file) {
  auto store = Preferences::standard();
  if (!store) return;
  std::error_code error;
  const auto absolute = std::filesystem::absolute(file, error).lexically_normal();
  const std::string entry = (error ? file : absolute).string();
  auto list = nlohmann::json::array({entry});
  for (const auto& known : recentDocuments()) {
    if (known.string() == entry) continue;
    if (list.size() == recentDocumentsLimit) break;
    list.push_back(known.string());
  }
  try {
    store->set(recentDocumentsKey, list);
  } catch (const std::exception&) {
    // The list is a convenience; a read-only configuration folder must not stop an open.
  }
}

void DocumentController::clearRecentDocuments() {
  if (auto store = Preferences::standard()) try {
      store->remove(recentDocumentsKey);
    } catch (const std::exception&) {
    }
}

void DocumentController::openDocument(const std::filesystem::path& file) {
  noteRecentDocument(file);
  emit openRequested(QString::fromStdString(file.string()));
}

}  // namespace tallyfox
