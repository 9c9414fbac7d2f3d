// The preferences file that the app and tfscan share, with any bytes: every value read from
// it, and the settings and remembered places built on it, as the app reads them. Then the
// writes a session makes (a window's place, the list's width): they must keep every other
// value of a file that was read, and leave a refused file as it was.
#include "Callers.h"

#include "model/PlaceMemory.h"
#include "model/PlaceStore.h"
#include "model/Settings.h"

#include <tallyfox/NcduExport.h>

#include <QCoreApplication>

#include <fstream>
#include <iterator>

using namespace tallyfox;

namespace {

// A small snapshot that remembered places are looked up in, as a window opening it would.
const DiskTree& snapshot() {
  static const DiskTreePtr tree = [] {
    const std::string_view text =
        R"([1,0,{},[{"name":"/srv"},[{"name":"docs"},{"name":"a.txt","dsize":4096}],{"name":"b","dsize":1}]])";
    auto decoded = NcduExport::decode({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    return SnapshotFile::inMemory(std::move(decoded.columns), decoded.info);
  }();
  return *tree;
}

bool samePlace(const SavedPlace& a, const SavedPlace& b) {
  return a.folder == b.folder && a.selection == b.selection && a.expanded == b.expanded &&
         a.marked == b.marked;
}

// Every remembered place that reads is found in a snapshot, and writes back as itself.
void readPlaces(const PlaceStore& places) {
  volatile std::int64_t sink = 0;
  const nlohmann::json all = places.all();
  for (const auto& [key, value] : all.items()) {
    const auto place = SavedPlace::fromJson(value);
    if (!place) continue;
    const auto again = SavedPlace::fromJson(place->toJson());
    if (!again || !samePlace(*place, *again)) __builtin_trap();
    sink = sink + PlaceMemory::node(snapshot(), place->folder).value_or(-1);
    if (place->selection) sink = sink + PlaceMemory::node(snapshot(), *place->selection).value_or(-1);
    for (const auto* paths : {&place->expanded, &place->marked})
      for (const auto& path : *paths) sink = sink + PlaceMemory::node(snapshot(), path).value_or(-1);
  }
}

std::string contents(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // The place store's write timer needs an application.
  static QCoreApplication app(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto file = fuzzcallers::write("preferences.json", {data, size});
  const Preferences store(file);
  const nlohmann::json before = store.all();
  const bool refused = store.refusal().has_value();

  // What the app reads at start-up, through the settings as its windows do.
  Settings settings(store);
  volatile std::uint64_t sink = std::uint64_t(settings.scanSpeed()) + settings.growthAlertBytes();
  sink = sink + settings.snapshotsFolderText().size() + settings.scheduledFolders().size();
  sink =
      sink + settings.browserWindowSize().value_or(QSize()).width() + settings.browserListWidth().value_or(0);
  sink = sink + settings.scheduleFrequency().size() + settings.refusal().size();

  const SavedPlace place{{"docs"}, SavedPlace::NamePath{"docs", "a.txt"}, {{"docs"}}, {}, {}};
  const std::string placeKey = SavedPlace::rootKey("/srv");
  {
    PreferencesPlaceStore places(store);
    readPlaces(places);
    places.setValue(placeKey, place.toJson());
  }  // written when the store goes, as at quitting
  constexpr int width = 321;
  settings.setBrowserListWidth(width);

  if (refused) {
    if (contents(file) != std::string_view(reinterpret_cast<const char*>(data), size)) __builtin_trap();
    return 0;
  }
  nlohmann::json expected = before;
  nlohmann::json& places = expected[PreferencesPlaceStore::key];
  if (!places.is_object()) places = nlohmann::json::object();
  places[placeKey] = place.toJson();
  expected[Settings::browserListWidthKey] = width;
  if (store.all() != expected) __builtin_trap();
  return 0;
}
