#include <tallyfox/Preferences.h>
#include <tallyfox/ScheduledSnapshots.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotHold.h>

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>

using namespace tallyfox;
using testsupport::localDate;
using testsupport::localDay;
using testsupport::TempDir;
namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

namespace {

// Written plainly rather than atomically: hundreds of them, each flushed to the disk, would
// make the test slow.
void writeSnapshot(const fs::path& file, const std::string& place, Clock::time_point started) {
  const auto image =
      SnapshotFile::inMemory(testsupport::columnsOf({{-1, ""}, {0, "f", 4096}}), {place, started, 1});
  testsupport::writeBytes(file, {image->bytes().begin(), image->bytes().end()});
}

// A snapshot the schedule made, written into `folder`; recorded in its index unless the caller
// writes the index itself.
ScheduledSnapshots::Entry scheduled(const fs::path& folder, const std::string& place,
                                    Clock::time_point started, bool record = true) {
  const ScheduledSnapshots::Entry entry{"home-" + localDate(started) + ".tfsnap", place, started,
                                        std::nullopt};
  writeSnapshot(folder / entry.file, place, started);
  if (record) {
    EXPECT_EQ(ScheduledSnapshots::record(folder, entry), std::nullopt);
  }
  return entry;
}

std::vector<std::string> names(const std::vector<fs::path>& paths) {
  std::vector<std::string> out;
  for (const auto& path : paths) out.push_back(path.filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> indexed(const fs::path& folder) {
  const auto index = ScheduledSnapshots::read(folder);
  EXPECT_EQ(index.damage, std::nullopt);
  std::vector<std::string> files;
  for (const auto& entry : index.entries) files.push_back(entry.file);
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

TEST(ScheduledSnapshots, PruningRemovesOnlyTheScheduleSnapshotsTheRuleLetsGo) {
  TempDir folder;
  const std::string home = "/home/ann";
  std::vector<std::string> made;
  std::vector<ScheduledSnapshots::Entry> entries;
  std::vector<Retention::Snapshot> records;
  for (int day = 0; day < 91; ++day) {
    const auto when = localDay(2025, 3, 20 + day);
    entries.push_back(scheduled(folder.path(), home, when, false));
    made.push_back(entries.back().file);
    records.push_back({when, home});
  }
  testsupport::writeFile(folder / ScheduledSnapshots::indexName, ScheduledSnapshots::format(entries));
  const auto now = localDay(2025, 6, 18);
  std::vector<std::string> due;
  for (const std::size_t k : Retention::expired(records, now)) due.push_back(made[k]);
  std::sort(due.begin(), due.end());
  // Seven days, seven earlier Mondays, and the first of March (the first snapshot), April, May
  // and June.
  ASSERT_EQ(made.size() - due.size(), 7u + 7u + 4u);

  // Beside them: the person's own scans of the same place, which the schedule never made, and
  // two that the index names but that are no longer what it recorded.
  writeSnapshot(folder / "own-old.tfsnap", home, localDay(2025, 3, 21, 9));
  writeSnapshot(folder / "other-place.tfsnap", "/srv", localDay(2025, 3, 22));
  const std::string replaced = "home-2025-04-15.tfsnap", vanished = "home-2025-04-16.tfsnap";
  ASSERT_TRUE(std::binary_search(due.begin(), due.end(), replaced));
  writeSnapshot(folder / replaced, home, localDay(2025, 4, 15, 18));
  fs::remove(folder / vanished);

  const auto indexBefore = testsupport::readBytes(folder / ScheduledSnapshots::indexName);
  const auto dry = ScheduledSnapshots::prune(folder.path(), now, true);
  EXPECT_EQ(testsupport::readBytes(folder / ScheduledSnapshots::indexName), indexBefore);
  for (const std::string& name : due)
    EXPECT_TRUE(name == vanished || fs::exists(folder / name)) << "a dry run removed " << name;

  const auto pruned = ScheduledSnapshots::prune(folder.path(), now, false);
  std::vector<std::string> expected;
  for (const std::string& name : due)
    if (name != replaced && name != vanished) expected.push_back(name);
  EXPECT_EQ(names(pruned.removed), expected);
  EXPECT_EQ(names(dry.removed), expected);
  ASSERT_EQ(pruned.leftAlone.size(), 1u);
  EXPECT_EQ(pruned.leftAlone[0].first, folder / replaced);
  EXPECT_EQ(pruned.leftAlone[0].second, "no longer the snapshot the schedule wrote");
  EXPECT_TRUE(pruned.open.empty());
  EXPECT_EQ(pruned.damage, std::nullopt);

  std::vector<std::string> kept;
  for (const std::string& name : made)
    if (!std::binary_search(due.begin(), due.end(), name)) kept.push_back(name);
  std::sort(kept.begin(), kept.end());
  std::vector<std::string> remaining = kept;
  for (const char* other : {"other-place.tfsnap", "own-old.tfsnap", "home-2025-04-15.tfsnap"})
    remaining.push_back(other);
  remaining.push_back(ScheduledSnapshots::indexName);
  std::sort(remaining.begin(), remaining.end());
  EXPECT_EQ(testsupport::namesIn(folder.path()), remaining);
  // The index forgets what was removed, what vanished and what is no longer the schedule's.
  EXPECT_EQ(indexed(folder.path()), kept);

  const auto again = ScheduledSnapshots::prune(folder.path(), now, false);
  EXPECT_TRUE(again.removed.empty() && again.leftAlone.empty());
}

TEST(ScheduledSnapshots, ASnapshotHeldOpenIsKeptUntilItsHoldEnds) {
  TempDir folder;
  const std::string first = scheduled(folder.path(), "/p", localDay(2020, 1, 6)).file;
  const std::string second = scheduled(folder.path(), "/p", localDay(2020, 1, 7)).file;
  const auto now = localDay(2025, 1, 1);
  {
    SnapshotHold window(folder / first);
    SnapshotHold anotherWindow(folder / first);  // holds of one file coexist
    const auto pruned = ScheduledSnapshots::prune(folder.path(), now, false);
    EXPECT_EQ(names(pruned.removed), std::vector<std::string>{second});
    EXPECT_EQ(names(pruned.open), std::vector<std::string>{first});
    EXPECT_TRUE(fs::exists(folder / first));
    EXPECT_EQ(indexed(folder.path()), std::vector<std::string>{first});
  }
  const auto later = ScheduledSnapshots::prune(folder.path(), now, false);
  EXPECT_EQ(names(later.removed), std::vector<std::string>{first});
  EXPECT_FALSE(fs::exists(folder / first));

  // A window that arrives after the pruner is told that its file is gone.
  try {
    SnapshotHold late(folder / first);
    ADD_FAILURE() << "a hold of a removed file";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
  }
}

TEST(ScheduledSnapshots, ADamagedOrHostileIndexPrunesNothing) {
  TempDir outside;
  writeSnapshot(outside / "victim.tfsnap", "/p", localDay(2020, 1, 1));
  const auto now = localDay(2025, 1, 1);
  const std::string victimSeconds =
      std::to_string(std::chrono::duration<double>(localDay(2020, 1, 1).time_since_epoch()).count());
  const std::vector<std::pair<std::string, std::string>> indexes{
      {"{\"version\": 1, \"snapshots\": [", "it is not JSON"},
      {"[]", "it is not a JSON object"},
      {"{\"version\": 2, \"snapshots\": []}", "its version is not 1"},
      {"{\"version\": 1, \"snapshots\": [{\"file\": \"../" + outside.path().filename().string() +
           "/victim.tfsnap\", \"place\": \"/p\", \"started\": " + victimSeconds + "}]}",
       "an entry names something other than a snapshot in the folder"},
      {"{\"version\": 1, \"snapshots\": [{\"file\": \"x.tfsnap\", \"place\": \"p\", \"started\": 1}]}",
       "an entry's place is not an absolute path"},
      {"{\"version\": 1, \"snapshots\": [{\"file\": \"x.tfsnap\", \"place\": \"/p\", \"started\": 1e300}]}",
       "an entry's start is not a time"}};
  for (const auto& [text, damage] : indexes) {
    TempDir folder;
    const std::string due = scheduled(folder.path(), "/p", localDay(2020, 1, 1)).file;
    testsupport::writeFile(folder / ScheduledSnapshots::indexName, text);
    const auto pruned = ScheduledSnapshots::prune(folder.path(), now, false);
    EXPECT_EQ(pruned.damage, damage) << text;
    EXPECT_TRUE(pruned.removed.empty());
    EXPECT_TRUE(fs::exists(folder / due));
    EXPECT_TRUE(fs::exists(outside / "victim.tfsnap"));

    // The next scheduled scan keeps the damaged index for a person to look at and begins anew.
    const auto recorded = ScheduledSnapshots::record(folder.path(), {"new.tfsnap", "/p", now, std::nullopt});
    EXPECT_EQ(recorded, damage);
    EXPECT_EQ(testsupport::readBytes(folder / (std::string(ScheduledSnapshots::indexName) + ".damaged")),
              std::vector<std::uint8_t>(text.begin(), text.end()));
    EXPECT_EQ(indexed(folder.path()), std::vector<std::string>{"new.tfsnap"});
  }
}

TEST(ScheduledSnapshots, ALinkPlantedUnderADueNameIsLeftAlone) {
  TempDir outside, folder;
  const auto started = localDay(2020, 1, 1);
  const std::string due = scheduled(folder.path(), "/p", started).file;
  writeSnapshot(outside / "target.tfsnap", "/p", started);
  fs::remove(folder / due);
  fs::create_symlink(outside / "target.tfsnap", folder / due);
  const auto pruned = ScheduledSnapshots::prune(folder.path(), localDay(2025, 1, 1), false);
  EXPECT_TRUE(pruned.removed.empty());
  ASSERT_EQ(pruned.leftAlone.size(), 1u);
  EXPECT_EQ(pruned.leftAlone[0].second, "a symbolic link");
  EXPECT_TRUE(fs::exists(outside / "target.tfsnap"));
  EXPECT_TRUE(fs::is_symlink(folder / due));
}

TEST(ScheduledSnapshots, TheIndexKeepsNamesInAnyEncodingAndReportsItCannotRead) {
  GrowthReport::Report report;
  report.place = "/home/\xE9t\xE9";
  report.snapshot = "/s/caf\xE9.tfsnap";
  report.folders = {
      {"/home/\xE9t\xE9/V\xC3\xAD"
       "deos",
       10, 3'000'000'000}};
  report.space = GrowthReport::VolumeSpace{5, 100};
  report.spaceFellLow = true;
  const ScheduledSnapshots::Entry entry{"caf\xE9-2025.tfsnap", "/home/\xE9t\xE9", localDay(2025, 2, 3),
                                        report};
  const auto index = ScheduledSnapshots::parse(ScheduledSnapshots::format({entry, entry}));
  ASSERT_EQ(index.damage, std::nullopt);
  ASSERT_EQ(index.entries.size(), 2u);
  const auto& back = index.entries[0];
  EXPECT_EQ(back.file, entry.file);
  EXPECT_EQ(back.place, entry.place);
  EXPECT_EQ(back.started, entry.started);
  ASSERT_TRUE(back.growth);
  EXPECT_EQ(back.growth->place, report.place);
  ASSERT_EQ(back.growth->folders.size(), 1u);
  EXPECT_EQ(back.growth->folders[0].path, report.folders[0].path);
  EXPECT_EQ(back.growth->folders[0].grew(), 2'999'999'990);
  EXPECT_EQ(back.growth->space, report.space);
  EXPECT_TRUE(back.growth->alert());

  // A growth report it cannot read costs the notifier its message, not the pruner its index.
  const auto partly = ScheduledSnapshots::parse(
      R"({"version": 1, "snapshots": [{"file": "a.tfsnap", "place": "/p", "started": 5, "growth": {"folders": 3}}]})");
  ASSERT_EQ(partly.damage, std::nullopt);
  ASSERT_EQ(partly.entries.size(), 1u);
  EXPECT_FALSE(partly.entries[0].growth);
}

TEST(ScheduledSnapshots, RunsRecordingAtOnceLoseNoEntry) {
  TempDir folder;
  constexpr int runs = 4, each = 8;
  std::vector<std::thread> threads;
  for (int run = 0; run < runs; ++run)
    threads.emplace_back([&, run] {
      for (int k = 0; k < each; ++k)
        ScheduledSnapshots::record(folder.path(),
                                   {"r" + std::to_string(run) + "-" + std::to_string(k) + ".tfsnap", "/p",
                                    localDay(2025, 1, 1 + k), std::nullopt});
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(indexed(folder.path()).size(), std::size_t(runs * each));
}

TEST(ScheduledSnapshots, SettingsOfTheSchedule) {
  testsupport::ScopedHome home;
  auto store = Preferences::standard();
  ASSERT_TRUE(store);
  const std::string here = home.path().string();
  EXPECT_EQ(store->scheduledFolders(), std::vector<std::string>{here});
  EXPECT_EQ(store->growthAlertBytes(), 1'000'000'000u);

  // A folder relative to nothing in particular means one in the home folder; what is not a
  // path is left out, and an empty list schedules nothing.
  store->set(Preferences::scheduledFoldersKey, {"/", "~/Music/", "Documents/../Photos", 7, ""});
  EXPECT_EQ(store->scheduledFolders(), (std::vector<std::string>{"/", here + "/Music", here + "/Photos"}));
  store->set(Preferences::scheduledFoldersKey, nlohmann::json::array());
  EXPECT_TRUE(store->scheduledFolders().empty());
  store->set(Preferences::scheduledFoldersKey, "/not/a/list");
  EXPECT_EQ(store->scheduledFolders(), std::vector<std::string>{here});

  for (const auto& [value, bytes] :
       std::vector<std::pair<nlohmann::json, std::uint64_t>>{{5'000'000, 5'000'000},
                                                             {2.5e9, 2'500'000'000},
                                                             {0, 0},
                                                             {-1, 1'000'000'000},
                                                             {"1 GB", 1'000'000'000}}) {
    store->set(Preferences::growthAlertBytesKey, value);
    EXPECT_EQ(store->growthAlertBytes(), bytes) << value;
  }
}
