#include "model/DocumentController.h"

#include "model/BrowserModel.h"
#include "model/Duplicates.h"
#include "model/Settings.h"

#include <tallyfox/Preferences.h>

#include <algorithm>
#include <exception>
#include <system_error>

namespace tallyfox {

DocumentController::DocumentController(Settings& settings, Desktop desktop,
                                       std::shared_ptr<PlaceStore> places, QObject* parent)
    : QObject(parent), settings_(settings), desktop_(std::move(desktop)), places_(std::move(places)) {}

DocumentController::~DocumentController() {
  for (const Open& open : open_) delete open.browser;
}

std::vector<std::filesystem::path> DocumentController::recentDocuments() const {
  std::vector<std::filesystem::path> files;
  const auto& store = settings_.store();
  if (!store) return files;
  const auto value = store->get(recentDocumentsKey);
  if (!value || !value->is_array()) return files;
  for (const auto& item : *value)
    if (item.is_string() && !item.get<std::string>().empty()) files.emplace_back(item.get<std::string>());
  return files;
}

void DocumentController::noteRecentDocument(const std::filesystem::path& file) {
  auto store = settings_.store();
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
  if (auto store = settings_.store()) try {
      store->remove(recentDocumentsKey);
    } catch (const std::exception&) {
    }
}

std::string DocumentController::keyOf(const std::filesystem::path& file) {
  return knownPath(file).string();
}

BrowserModel* DocumentController::openDocument(const std::filesystem::path& file) {
  if (BrowserModel* known = documentFor(file)) {
    emit raiseRequested(known);
    return known;
  }
  const std::string key = keyOf(file);
  Services services(desktop_);
  services.places = places_;
  services.documents = this;
  services.settings = &settings_;
  auto* browser = new BrowserModel(std::filesystem::path(key), std::move(services));
  open_.push_back({key, browser});
  // Recent only once read: a file that fails to load is not offered again.
  connect(browser, &BrowserModel::stateChanged, this, [this, browser, key] {
    if (browser->state().isReady()) noteRecentDocument(key);
  });
  connect(&browser->duplicates(), &Duplicates::busyChanged, this, &DocumentController::duplicatesWorkChanged);
  emit documentOpened(browser);
  browser->load();
  return browser;
}

bool DocumentController::closeDocument(const std::filesystem::path& file) {
  BrowserModel* browser = documentFor(file);
  if (!browser) return false;
  emit closeRequested(browser);
  // The window may have reported itself closed meanwhile.
  if (const auto it = find(browser); it != open_.end()) release(it);
  return true;
}

void DocumentController::documentClosed(BrowserModel* browser) {
  if (const auto it = find(browser); it != open_.end()) release(it);
}

BrowserModel* DocumentController::documentFor(const std::filesystem::path& file) const {
  const std::string key = keyOf(file);
  for (const Open& open : open_)
    if (open.key == key) return open.browser;
  return nullptr;
}

std::vector<BrowserModel*> DocumentController::browsers() const {
  std::vector<BrowserModel*> all;
  all.reserve(open_.size());
  for (const Open& open : open_) all.push_back(open.browser);
  return all;
}

bool DocumentController::isDuplicatesWorkRunning() const {
  return std::any_of(open_.begin(), open_.end(),
                     [](const Open& open) { return open.browser->duplicates().isBusy(); });
}

void DocumentController::setFocused(BrowserModel* browser) {
  if (browser && find(browser) == open_.end()) return;
  if (focused_ == browser) return;
  focused_ = browser;
  emit focusedChanged();
}

std::vector<DocumentController::Open>::iterator DocumentController::find(const BrowserModel* browser) {
  return std::find_if(open_.begin(), open_.end(), [&](const Open& open) { return open.browser == browser; });
}

void DocumentController::release(std::vector<Open>::iterator open) {
  BrowserModel* browser = open->browser;
  open_.erase(open);
  if (focused_ == browser) {
    focused_ = nullptr;
    emit focusedChanged();
  }
  // Views of the closing window may still be in the middle of handling its events.
  browser->deleteLater();
}

}  // namespace tallyfox
