// A snapshot opened again returns to where its window was: by names, so that a later
// snapshot of the same folder, a vanished folder and names that are not UTF-8 all find their
// way back.
#include "ModelTestSupport.h"
#include "model/DeleteList.h"
#include "model/PlaceMemory.h"
#include "model/PlaceStore.h"

#include <tallyfox/Preferences.h>

#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>

using namespace tallyfox;
using testsupport::idOf;
using testsupport::Node;

namespace {

namespace fs = std::filesystem;

// The store as the app has it, minus the file: what tests look into.
class MemoryPlaceStore : public PlaceStore {
 public:
  nlohmann::json all() const override { return values; }
  void setValue(const std::string& key, nlohmann::json value) override {
    ++writes;
    if (value.is_null())
      values.erase(key);
    else
      values[key] = std::move(value);
  }
  void replaceAll(nlohmann::json replacement) override { values = std::move(replacement); }

  nlohmann::json values = nlohmann::json::object();
  int writes = 0;
};

const std::vector<Node> tree = {
    {-1, ""},    {0, "data"},      {1, "photos"},    {1, "music"},     {1, "notes.txt", 5}, {2, "2019"},
    {2, "2020"}, {3, "a.mp3", 30}, {5, "x.jpg", 10}, {6, "y.jpg", 20}, {6, "z.jpg", 40}};

class PlaceMemoryTest : public ::testing::Test {
 protected:
  std::unique_ptr<BrowserModel> open(const fs::path& file, std::shared_ptr<PlaceStore> store) {
    Services services;
    services.places = std::move(store);
    auto model = std::make_unique<BrowserModel>(file, services);
    model->load();
    testsupport::waitUntilLoaded(*model);
    return model;
  }
  std::unique_ptr<BrowserModel> open(const fs::path& file) { return open(file, places); }

  // The delete list mirrors itself into the home folder.
  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  std::shared_ptr<MemoryPlaceStore> places = std::make_shared<MemoryPlaceStore>();
};

TEST_F(PlaceMemoryTest, ReopeningReturnsToTheFolderSelectionExpansionAndDeleteList) {
  const fs::path monday = dir / "monday.tfsnap";
  testsupport::writeSnapshot(monday, tree);
  {
    auto model = open(monday);
    model->navigate(idOf(*model, "photos"));
    model->toggleExpanded(idOf(*model, "2020"));
    model->setSelection(idOf(*model, "y.jpg"));
    model->deleteList().toggleMark(idOf(*model, "z.jpg"));
    model->deleteList().toggleMark(idOf(*model, "music"));
  }
  auto again = open(monday);
  EXPECT_EQ(again->deleteList().markedOrder(),
            (std::vector<NodeId>{idOf(*again, "z.jpg"), idOf(*again, "music")}));
  EXPECT_EQ(again->current(), idOf(*again, "photos"));
  EXPECT_EQ(again->selection(), idOf(*again, "y.jpg"));
  EXPECT_EQ(again->expanded(), NodeSet{idOf(*again, "2020")});
  // History starts empty in every window: back climbs one level, as it does at a start.
  again->goBack();
  EXPECT_EQ(again->current(), idOf(*again, "data"));

  // Stored under the file and the scanned folder, with exactly these keys.
  again->goForward();
  EXPECT_EQ(again->current(), idOf(*again, "data"));
  ASSERT_EQ(places->values.size(), 2u);
  const nlohmann::json& saved = places->values.at(SavedPlace::fileKey(monday));
  EXPECT_EQ(saved, places->values.at("root:/data"));
  EXPECT_EQ(saved.at("folder"), nlohmann::json({"data"}));
  EXPECT_EQ(saved.at("selection"), nlohmann::json({"data", "photos"}));
  EXPECT_EQ(saved.at("marked"), nlohmann::json({{"data", "photos", "2020", "z.jpg"}, {"data", "music"}}));
  std::vector<std::string> keys;
  for (const auto& [key, value] : saved.items()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"expanded", "folder", "marked", "saved", "selection"}));
  // Seconds since 2001-01-01 UTC, the epoch of the stored places.
  const double now =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_NEAR(saved.at("saved").get<double>(), now - 978'307'200, 60);
}

TEST_F(PlaceMemoryTest, ALaterSnapshotOfTheSameFolderFindsWhatIsStillThere) {
  const fs::path monday = dir / "monday.tfsnap";
  testsupport::writeSnapshot(monday, tree);
  {
    auto model = open(monday);
    model->navigate(idOf(*model, "2020"));
    model->setSelection(idOf(*model, "y.jpg"));
    model->toggleExpanded(idOf(*model, "2020"));
  }
  // By Friday photos/2020 is gone, and with it the selection: the window opens in photos,
  // at its first row. Friday's file has no place of its own, so the folder's is used.
  const std::vector<Node> friday = {{-1, ""},    {0, "data"}, {1, "photos"},    {1, "music"},
                                    {2, "2019"}, {2, "2021"}, {4, "x.jpg", 10}, {5, "new.jpg", 90}};
  const fs::path later = dir / "friday.tfsnap";
  testsupport::writeSnapshot(later, friday);
  auto model = open(later);
  EXPECT_EQ(model->current(), idOf(*model, "photos"));
  EXPECT_EQ(model->selection(), model->rows().front().node);
  EXPECT_TRUE(model->expanded().isEmpty());

  // Of two children with one name, the first in stored order is the one.
  const std::vector<Node> twins = {{-1, ""}, {0, "data"}, {1, "same"}, {1, "same"}, {3, "inner"}};
  testsupport::writeSnapshot(dir / "twins.tfsnap", twins, "/twins");
  auto twinModel = open(dir / "twins.tfsnap");
  EXPECT_EQ(PlaceMemory::node(*twinModel->tree(), {"data", "same"}), 2);
  EXPECT_EQ(PlaceMemory::node(*twinModel->tree(), {"data", "same", "inner"}), std::nullopt);
  EXPECT_EQ(PlaceMemory::node(*twinModel->tree(), {}), DiskTree::root);
}

TEST_F(PlaceMemoryTest, NamesAndPathsThatAreNotUtf8ComeBack) {
  const std::string odd = "caf\xE9";  // Latin-1, as an old archive would have it
  const fs::path file = dir / ("snap-" + odd + ".tfsnap");
  testsupport::writeSnapshot(file, {{-1, ""}, {0, odd}, {1, "inner"}, {2, "f", 3}}, "/srv/" + odd);
  {
    auto model = open(file);
    model->navigate(idOf(*model, "inner"));
  }
  // The key of a path that is not UTF-8 is its bytes in base64.
  EXPECT_EQ(SavedPlace::rootKey("/srv/" + odd), "root:base64:L3Nydi9jYWbp");
  // Every key and name is valid UTF-8, so the store's file can be written.
  const std::string written = places->values.dump();
  EXPECT_EQ(written.find('\xE9'), std::string::npos);
  auto again = open(file);
  EXPECT_EQ(again->current(), idOf(*again, "inner"));
  EXPECT_EQ(places->values.at(SavedPlace::fileKey(file)).at("folder")[0],
            nlohmann::json({{"bytes", "Y2Fm6Q=="}}));

  // A damaged entry restores nothing and the window opens where it would.
  places->values[SavedPlace::fileKey(file)] = {{"folder", {{{"bytes", "%%"}}}}};
  auto damaged = open(file);
  EXPECT_EQ(damaged->current(), 1);  // the snapshot's only folder, as on a first opening

  // A time past what the clock holds is no time, and the place still restores.
  const nlohmann::json farFuture = {{"folder", {{{"bytes", "Y2Fm6Q=="}}, "inner"}}, {"saved", 1e300}};
  EXPECT_EQ(SavedPlace::fromJson(farFuture)->saved, std::chrono::system_clock::time_point());
  places->values[SavedPlace::fileKey(file)] = farFuture;
  auto restored = open(file);
  EXPECT_EQ(restored->current(), idOf(*restored, "inner"));
}

TEST_F(PlaceMemoryTest, TheStoreKeepsTheSixtyNewestPlaces) {
  // 60 places, each a minute older than the next; one of them cannot be read.
  const auto start = std::chrono::system_clock::now() - std::chrono::hours(2);
  for (int k = 0; k < 60; ++k) {
    SavedPlace place;
    place.saved = start + std::chrono::minutes(k);
    places->values["file:/old/" + std::to_string(k)] = place.toJson();
  }
  places->values["file:/old/7"] = "not a place";
  const fs::path file = dir / "new.tfsnap";
  testsupport::writeSnapshot(file, tree, "");  // no scanned folder: the file's key only
  auto model = open(file);
  model->navigate(idOf(*model, "music"));
  EXPECT_EQ(places->values.size(), 60u);
  EXPECT_TRUE(places->values.contains(SavedPlace::fileKey(file)));
  EXPECT_FALSE(places->values.contains("file:/old/7"));  // unreadable: the oldest
  EXPECT_TRUE(places->values.contains("file:/old/0"));
  EXPECT_FALSE(places->values.contains("root:"));

  // One more drops the oldest readable one.
  SavedPlace::store({"data", "photos"}, std::nullopt, dir / "fresh.tfsnap", *places);
  model->navigate(idOf(*model, "photos"));
  EXPECT_EQ(places->values.size(), 60u);
  EXPECT_FALSE(places->values.contains("file:/old/0"));
  EXPECT_TRUE(places->values.contains("file:/old/1"));
}

TEST_F(PlaceMemoryTest, AFileWithoutAWindowYetOpensWhereItWasToldTo) {
  const fs::path file = dir / "rescan.tfsnap";
  testsupport::writeSnapshot(file, tree);
  SavedPlace::store({"data", "photos", "2020"}, std::vector<std::string>{"data", "photos", "2020", "z.jpg"},
                    file, *places);
  EXPECT_EQ(places->values.size(), 1u);  // the file's key, no pruning and no folder key
  auto model = open(file);
  EXPECT_EQ(model->current(), idOf(*model, "2020"));
  EXPECT_EQ(model->selection(), idOf(*model, "z.jpg"));
}

TEST_F(PlaceMemoryTest, AHeldArrowKeyWritesTheFileRarelyAndQuittingKeepsTheLastMove) {
  const fs::path file = dir / "held.tfsnap";
  std::vector<Node> many = {{-1, ""}, {0, "data"}};
  for (int k = 0; k < 300; ++k) many.push_back({1, "f" + std::to_string(k), std::uint64_t(k + 1)});
  testsupport::writeSnapshot(file, many);
  const fs::path preferences = *Preferences::standardFile();
  {
    auto store = std::make_shared<PreferencesPlaceStore>(Preferences::standard());
    auto model = open(file, store);
    for (int k = 0; k < 250; ++k) model->move(1);
    // Every move is a change of place, but none has reached the file yet.
    EXPECT_FALSE(fs::exists(preferences));
    model.reset();  // the window closes, the app quits right after
  }
  const auto stored = Preferences::standard()->get(PreferencesPlaceStore::key);
  ASSERT_TRUE(stored);
  const auto selection = stored->at(SavedPlace::fileKey(file)).at("selection");
  auto model = open(file, std::make_shared<PreferencesPlaceStore>(Preferences::standard()));
  EXPECT_EQ(selection, nlohmann::json({"data", model->tree()->name(*model->selection())}));
  EXPECT_EQ(model->rows()[250].node, *model->selection());
}

// Counts the times a file in a folder is opened, as the kernel reports them.
class OpenCounter {
 public:
  explicit OpenCounter(const fs::path& folder) : fd_(inotify_init1(IN_NONBLOCK)) {
    inotify_add_watch(fd_, folder.c_str(), IN_OPEN);
  }
  ~OpenCounter() { close(fd_); }
  int opened(const std::string& name) {
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = read(fd_, buffer, sizeof buffer)) > 0;)
      for (char* p = buffer; p < buffer + n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(p);
        if (event->len > 0 && name == event->name) ++opens_;
        p += sizeof(inotify_event) + event->len;
      }
    return opens_;
  }

 private:
  int fd_;
  int opens_ = 0;
};

TEST_F(PlaceMemoryTest, WalkingTheRowsReadsNoFileAndTheLastPlaceIsWrittenOnce) {
  const fs::path file = dir / "walk.tfsnap";
  std::vector<Node> many = {{-1, ""}, {0, "data"}};
  for (int k = 0; k < 200; ++k) many.push_back({1, "f" + std::to_string(k), std::uint64_t(k + 1)});
  testsupport::writeSnapshot(file, many);
  const fs::path preferences = *Preferences::standardFile();
  // Places of other snapshots are already there, as they are after some use.
  for (int k = 0; k < 40; ++k) SavedPlace::store({"x"}, std::nullopt, dir / std::to_string(k), *places);
  Preferences::standard()->set(PreferencesPlaceStore::key, places->values);

  auto store = std::make_shared<PreferencesPlaceStore>(Preferences::standard());
  auto model = open(file, store);
  OpenCounter counter(preferences.parent_path());
  for (int k = 0; k < 150; ++k) model->move(1);
  EXPECT_EQ(counter.opened(preferences.filename()), 0);
  EXPECT_EQ(store->count(), 42u);  // the 40, this file and its folder

  store->flush();
  const auto stored = Preferences::standard()->get(PreferencesPlaceStore::key);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->size(), 42u);
  EXPECT_EQ(stored->at(SavedPlace::fileKey(file)).at("selection"),
            nlohmann::json({"data", model->tree()->name(*model->selection())}));
  EXPECT_EQ(model->rows()[150].node, *model->selection());
  // Nothing new: nothing written.
  const int afterWrite = counter.opened(preferences.filename());
  store->flush();
  EXPECT_EQ(counter.opened(preferences.filename()), afterWrite);
}

TEST_F(PlaceMemoryTest, AFileReachedThroughALinkIsRememberedUnderOneKey) {
  // The snapshots folder is a link to where the files really are.
  const fs::path real = dir / "real";
  fs::create_directories(real);
  fs::create_directory_symlink(real, dir / "linked");
  const fs::path written = dir / "linked" / "s.tfsnap";
  testsupport::writeSnapshot(written, tree);
  EXPECT_EQ(SavedPlace::fileKey(written), SavedPlace::fileKey(real / "s.tfsnap"));

  // Told by the written name, found by the resolved one, as a rescan's new window is.
  SavedPlace::store({"data", "music"}, std::vector<std::string>{"data", "music", "a.mp3"}, written, *places);
  auto model = open(real / "s.tfsnap");
  EXPECT_EQ(model->current(), idOf(*model, "music"));
  EXPECT_EQ(model->selection(), idOf(*model, "a.mp3"));
}

}  // namespace
