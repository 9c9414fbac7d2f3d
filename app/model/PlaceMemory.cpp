#include "model/PlaceMemory.h"

#include "model/BrowserModel.h"
#include "model/DeleteList.h"
#include "model/Documents.h"

#include <tallyfox/Unicode.h>

#include <QByteArray>

#include <algorithm>
#include <cmath>

namespace tallyfox {

namespace {

// Seconds from the Unix epoch to 2001-01-01 00:00 UTC, where stored dates count from.
constexpr double referenceEpoch = 978'307'200;
// The clock's nanoseconds reach about 292 years either side of 1970.
constexpr double clockSeconds = 9.2e9;

bool isUtf8(const std::string& bytes) {
  return Unicode::decodeLossy(std::string_view(bytes)) == bytes;
}

nlohmann::json nameJson(const std::string& name) {
  if (isUtf8(name)) return name;
  const QByteArray bytes(name.data(), qsizetype(name.size()));
  return {{"bytes", bytes.toBase64().toStdString()}};
}

std::optional<std::string> nameFrom(const nlohmann::json& json) {
  if (json.is_string()) return json.get<std::string>();
  if (!json.is_object()) return std::nullopt;
  const auto bytes = json.find("bytes");
  if (bytes == json.end() || !bytes->is_string()) return std::nullopt;
  const std::string text = bytes->get<std::string>();
  const auto decoded = QByteArray::fromBase64Encoding(QByteArray::fromStdString(text),
                                                      QByteArray::AbortOnBase64DecodingErrors);
  if (!decoded) return std::nullopt;
  return (*decoded).toStdString();
}

nlohmann::json pathJson(const SavedPlace::NamePath& names) {
  nlohmann::json array = nlohmann::json::array();
  for (const auto& name : names) array.push_back(nameJson(name));
  return array;
}

std::optional<SavedPlace::NamePath> pathFrom(const nlohmann::json& json) {
  if (!json.is_array()) return std::nullopt;
  SavedPlace::NamePath names;
  for (const auto& item : json) {
    auto name = nameFrom(item);
    if (!name) return std::nullopt;
    names.push_back(std::move(*name));
  }
  return names;
}

nlohmann::json pathsJson(const std::vector<SavedPlace::NamePath>& paths) {
  nlohmann::json array = nlohmann::json::array();
  for (const auto& path : paths) array.push_back(pathJson(path));
  return array;
}

std::optional<std::vector<SavedPlace::NamePath>> pathsFrom(const nlohmann::json& json) {
  if (!json.is_array()) return std::nullopt;
  std::vector<SavedPlace::NamePath> paths;
  for (const auto& item : json) {
    auto path = pathFrom(item);
    if (!path) return std::nullopt;
    paths.push_back(std::move(*path));
  }
  return paths;
}

std::string keyed(const char* prefix, const std::string& path) {
  if (isUtf8(path)) return prefix + path;
  const QByteArray bytes(path.data(), qsizetype(path.size()));
  return std::string(prefix) + "base64:" + bytes.toBase64().toStdString();
}

// When a place was saved, for pruning; one that cannot be read counts as the oldest.
double savedSeconds(const nlohmann::json& json) {
  if (json.is_object())
    if (const auto saved = json.find("saved"); saved != json.end() && saved->is_number())
      return saved->get<double>();
  return -INFINITY;
}

}  // namespace

nlohmann::json SavedPlace::toJson() const {
  nlohmann::json json = nlohmann::json::object();
  json["folder"] = pathJson(folder);
  if (selection) json["selection"] = pathJson(*selection);
  json["expanded"] = pathsJson(expanded);
  json["marked"] = pathsJson(marked);
  const double unixSeconds = std::chrono::duration<double>(saved.time_since_epoch()).count();
  json["saved"] = unixSeconds - referenceEpoch;
  return json;
}

std::optional<SavedPlace> SavedPlace::fromJson(const nlohmann::json& json) {
  if (!json.is_object()) return std::nullopt;
  SavedPlace place;
  const auto folder = json.find("folder");
  if (folder == json.end()) return std::nullopt;
  auto folderNames = pathFrom(*folder);
  if (!folderNames) return std::nullopt;
  place.folder = std::move(*folderNames);
  if (const auto selection = json.find("selection"); selection != json.end()) {
    place.selection = pathFrom(*selection);
    if (!place.selection) return std::nullopt;
  }
  for (auto [key, target] : {std::pair{"expanded", &place.expanded}, std::pair{"marked", &place.marked}}) {
    const auto found = json.find(key);
    if (found == json.end()) continue;
    auto paths = pathsFrom(*found);
    if (!paths) return std::nullopt;
    *target = std::move(*paths);
  }
  const double saved = savedSeconds(json);
  // A time the clock cannot hold (a hand-edited file) is no time: the place counts as the
  // oldest, as one with no time does.
  if (std::isfinite(saved) && std::abs(saved + referenceEpoch) < clockSeconds)
    place.saved =
        std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::duration<double>(saved + referenceEpoch)));
  return place;
}

std::string SavedPlace::fileKey(const std::filesystem::path& file) {
  return keyed("file:", knownPath(file).string());
}

std::string SavedPlace::rootKey(const std::string& rootPath) {
  return keyed("root:", rootPath);
}

void SavedPlace::store(NamePath folder, std::optional<NamePath> selection, const std::filesystem::path& file,
                       PlaceStore& places) {
  SavedPlace place;
  place.folder = std::move(folder);
  place.selection = std::move(selection);
  place.saved = std::chrono::system_clock::now();
  places.setValue(fileKey(file), place.toJson());
}

// ---- PlaceMemory

PlaceMemory::PlaceMemory(BrowserModel& model)
    : QObject(&model), model_(model), places_(model.services().places) {
  for (auto signal :
       {&BrowserModel::currentChanged, &BrowserModel::selectionChanged, &BrowserModel::expandedChanged})
    connect(&model, signal, this, &PlaceMemory::savePlace);
  connect(&model.deleteList(), &DeleteList::marksChanged, this, &PlaceMemory::savePlace);
}

PlaceMemory::~PlaceMemory() {
  // A window closing writes its place now rather than when the store gets to it. The model
  // is being destroyed by now: only what this object holds is used.
  if (places_) places_->flush();
}

SavedPlace::NamePath PlaceMemory::names(const DiskTree& tree, NodeId node) {
  SavedPlace::NamePath names;
  for (const NodeId id : tree.lineage(node)) {
    const auto bytes = tree.nameView(id);
    names.emplace_back(bytes.begin(), bytes.end());
  }
  return names;
}

std::optional<NodeId> PlaceMemory::node(const DiskTree& tree, const SavedPlace::NamePath& names) {
  NodeId current = DiskTree::root;
  for (const auto& name : names) {
    const std::span<const std::uint8_t> wanted(reinterpret_cast<const std::uint8_t*>(name.data()),
                                               name.size());
    std::optional<NodeId> found;
    for (const NodeId child : tree.children(current)) {
      if (std::ranges::equal(tree.nameView(child), wanted)) {
        found = child;
        break;
      }
    }
    if (!found) return std::nullopt;
    current = *found;
  }
  return current;
}

const std::vector<std::string>& PlaceMemory::placeKeys() const {
  // Resolving the file's links asks the disk; every move of the selection needs the keys.
  const DiskTree* tree = model_.tree().get();
  const std::string root = tree ? tree->rootPath() : std::string();
  if (keys_ && keysRoot_ == root && keysFile_ == model_.fileURL()) return *keys_;
  std::vector<std::string> keys;
  if (model_.fileURL()) keys.push_back(SavedPlace::fileKey(*model_.fileURL()));
  if (!root.empty()) keys.push_back(SavedPlace::rootKey(root));
  keys_ = std::move(keys);
  keysRoot_ = root;
  keysFile_ = model_.fileURL();
  return *keys_;
}

void PlaceMemory::savePlace() {
  PlaceStore* places = places_.get();
  const DiskTreePtr& tree = model_.tree();
  if (restoring_ || !places || !tree || !model_.state().isReady()) return;

  SavedPlace place;
  place.folder = names(*tree, model_.current());
  if (model_.selection()) place.selection = names(*tree, *model_.selection());
  for (const NodeId id : model_.expanded()) place.expanded.push_back(names(*tree, id));
  // A set has no order of its own; a stable one keeps equal places equal in the store.
  std::ranges::sort(place.expanded);
  for (const NodeId id : model_.deleteList().markedOrder()) place.marked.push_back(names(*tree, id));
  place.saved = std::chrono::system_clock::now();
  const nlohmann::json json = place.toJson();
  for (const auto& key : placeKeys()) places->setValue(key, json);

  if (places->count() <= SavedPlace::limit) return;
  nlohmann::json all = places->all();
  if (!all.is_object()) return;
  std::vector<std::pair<double, std::string>> byAge;
  for (const auto& [key, value] : all.items()) byAge.emplace_back(savedSeconds(value), key);
  std::ranges::stable_sort(byAge, {}, &std::pair<double, std::string>::first);
  for (std::size_t k = 0; k < byAge.size() - SavedPlace::limit; ++k) all.erase(byAge[k].second);
  places->replaceAll(std::move(all));
}

bool PlaceMemory::restorePlace() {
  PlaceStore* places = places_.get();
  const DiskTreePtr& tree = model_.tree();
  if (!places || !tree) return false;
  std::optional<SavedPlace> place;
  for (const auto& key : placeKeys()) {
    if (const auto stored = places->value(key)) {
      place = SavedPlace::fromJson(*stored);
      break;
    }
  }
  if (!place) return false;

  restoring_ = true;
  // A folder that vanished reopens at its nearest surviving ancestor.
  NodeId folder = DiskTree::root;
  for (auto path = place->folder;; path.pop_back()) {
    if (const auto found = node(*tree, path);
        found && (*found == DiskTree::root || tree->isDirectory(*found))) {
      folder = *found;
      break;
    }
    if (path.empty()) break;
  }
  model_.setCurrent(folder);
  NodeSet expanded;
  for (const auto& path : place->expanded)
    if (const auto found = node(*tree, path)) expanded.insert(*found);
  model_.setExpanded(expanded);
  std::vector<NodeId> marked;
  for (const auto& path : place->marked)
    if (const auto found = node(*tree, path);
        found && *found != DiskTree::root && std::ranges::find(marked, *found) == marked.end())
      marked.push_back(*found);
  model_.deleteList().restoreMarks(std::move(marked));
  OptionalNode selection;
  if (place->selection) selection = node(*tree, *place->selection);
  if (!selection && !model_.rows().empty()) selection = model_.rows().front().node;
  model_.setSelection(selection);
  restoring_ = false;
  return true;
}

}  // namespace tallyfox
