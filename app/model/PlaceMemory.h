#pragma once

#include "model/PlaceStore.h"

#include <tallyfox/DiskTree.h>

#include <QObject>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tallyfox {

class BrowserModel;

// Where a window was in a snapshot, by names rather than node ids, so that it also applies
// to a later snapshot of the same folder. Names are bytes: a name that is valid UTF-8 is kept
// as a JSON string, any other as {"bytes": base64 of its bytes}, which no string can be
// mistaken for.
struct SavedPlace {
  using NamePath = std::vector<std::string>;

  NamePath folder;
  std::optional<NamePath> selection;
  std::vector<NamePath> expanded;
  std::vector<NamePath> marked;
  std::chrono::system_clock::time_point saved;

  // How many places the store keeps; the oldest by `saved` go first.
  static constexpr std::size_t limit = 60;

  // "saved" is in seconds since 2001-01-01 00:00 UTC.
  nlohmann::json toJson() const;
  static std::optional<SavedPlace> fromJson(const nlohmann::json& json);

  // The keys a snapshot file and a scanned folder are remembered under. A file is keyed by
  // its known form (absolute, links resolved), however it was named. A path that is not
  // valid UTF-8 (the store's keys must be) is kept as base64 under a prefix of its own.
  static std::string fileKey(const std::filesystem::path& file);
  static std::string rootKey(const std::string& rootPath);

  // Remembers a place for a snapshot that has no window yet (a rescan about to open it).
  static void store(NamePath folder, std::optional<NamePath> selection, const std::filesystem::path& file,
                    PlaceStore& places);
};

// A window's place memory: saves the place on every change of folder, selection, expansion
// or delete list, and restores it when the snapshot is opened again. Made by the browser
// model after its delete list.
class PlaceMemory : public QObject {
  Q_OBJECT

 public:
  explicit PlaceMemory(BrowserModel& model);
  ~PlaceMemory() override;

  void savePlace();
  // Applies the remembered place, if there is one; true when one was applied.
  bool restorePlace();

  // The names from below the root down to a node; empty for the root.
  static SavedPlace::NamePath names(const DiskTree& tree, NodeId node);
  // The node such names lead to, taking the first child of each name; none when a step fails.
  static std::optional<NodeId> node(const DiskTree& tree, const SavedPlace::NamePath& names);

 private:
  const std::vector<std::string>& placeKeys() const;

  BrowserModel& model_;
  // The keys of the root and file they were made for.
  mutable std::optional<std::vector<std::string>> keys_;
  mutable std::string keysRoot_;
  mutable std::optional<std::filesystem::path> keysFile_;
  std::shared_ptr<PlaceStore> places_;
  bool restoring_ = false;
};

}  // namespace tallyfox
