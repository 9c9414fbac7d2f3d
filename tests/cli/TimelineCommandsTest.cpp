#include <tallyfox/IsoTime.h>
#include <tallyfox/Preferences.h>
#include <tallyfox/Retention.h>
#include <tallyfox/ScheduledSnapshots.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotHold.h>
#include <tallyfox/SnapshotPaths.h>

#include "Exposition.h"
#include "Subprocess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cstdlib>
#include <regex>
#include <set>

using namespace tallyfox;
using testsupport::lines;
using testsupport::localDate;
using testsupport::localDay;
using testsupport::runTfscan;
using testsupport::TempDir;
namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

namespace {

// The environment of scheduled runs: a private home whose preferences schedule one folder into
// a snapshots folder of the test's, a clock set by the test, and a notifier that only notes
// how it was called.
class Timeline {
 public:
  explicit Timeline(std::uint64_t alertBytes) : temp_(baseFolder()) {
    fs::create_directories(place());
    testsupport::writeFile(place() / "src" / "main.c", std::string(3000, 'c'));
    testsupport::writeFile(place() / "notes.txt", "hello");
    auto store = Preferences::standard();
    store->set(Preferences::scheduledFoldersKey, {place().string()});
    store->set(Preferences::snapshotsFolderKey, snapshots().string());
    store->set(Preferences::growthAlertBytesKey, alertBytes);
    // The notifier is not waited for: it tells its arguments through a FIFO, which the test
    // reads once a run says that it started one. It lives in the home folder: the tmpfs may not
    // run programs.
    ::mkfifo(calls().c_str(), 0600);
    const fs::path notifier = home_.path() / "notifier";
    testsupport::writeFile(notifier, "#!/bin/sh\nprintf '%s\\n' \"$*\" > '" + calls().string() + "'\n");
    fs::permissions(notifier, fs::perms::owner_all);
    ::setenv("TALLYFOX_NOTIFIER", notifier.c_str(), 1);
  }
  ~Timeline() {
    ::unsetenv("TALLYFOX_NOTIFIER");
    ::unsetenv("TALLYFOX_NOW");
  }

  fs::path place() const { return temp_ / "Projects"; }
  fs::path snapshots() const { return temp_ / "snapshots"; }
  fs::path calls() const { return temp_ / "notifier-calls"; }
  fs::path temp() const { return temp_.path(); }

  testsupport::ProgramRun run(const std::vector<std::string>& arguments, Clock::time_point now) const {
    ::setenv("TALLYFOX_NOW", IsoTime::formatUtc(now).c_str(), 1);
    return runTfscan(arguments);
  }

  // The arguments of the notifier a run started; waits for it to tell them.
  std::string notifierCall() const {
    const auto bytes = testsupport::readBytes(calls());
    return std::string(bytes.begin(), bytes.end());
  }

 private:
  // Every run flushes its snapshot and index to the disk; on a tmpfs that costs nothing, and
  // hundreds of runs take seconds rather than minutes.
  static fs::path baseFolder() {
    std::error_code missing;
    if (fs::is_directory("/dev/shm", missing) && ::access("/dev/shm", W_OK) == 0) return "/dev/shm";
    return fs::temp_directory_path();
  }

  testsupport::ScopedHome home_;
  TempDir temp_;
};

std::string scheduledName(Clock::time_point started) {
  return "Projects-" + localDate(started) + "_120000.tfsnap";
}

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The figures of one --history line: bytes and entries, or nothing for a gap.
struct HistoryLine {
  std::string file;
  std::optional<std::pair<std::uint64_t, std::uint64_t>> figures;
};

std::vector<HistoryLine> historyLines(const std::string& out) {
  static const std::regex figures(R"(\s(\d+) bytes\s+(\d+) entries\s+(\S+)$)");
  static const std::regex gap("\xE2\x80\x94  not in this snapshot\\s+(\\S+)$");
  std::vector<HistoryLine> found;
  for (const std::string& line : lines(out)) {
    std::smatch m;
    if (std::regex_search(line, m, figures))
      found.push_back({m[3], std::pair(std::stoull(m[1]), std::stoull(m[2]))});
    else if (std::regex_search(line, m, gap))
      found.push_back({m[1], std::nullopt});
  }
  return found;
}

}  // namespace

TEST(TimelineCommands, ScheduledRunsMakeNameAndPruneTheirSnapshotsOverTwoYears) {
  Timeline timeline(100'000);
  // What the schedule did not make: the person's own scans of the same place, and a file.
  fs::create_directories(timeline.snapshots());
  ASSERT_EQ(
      runTfscan({"-o", (timeline.snapshots() / "Projects-mine.tfsnap").string(), timeline.place().string()})
          .status,
      0);
  testsupport::writeFile(timeline.snapshots() / "notes.txt", "mine");

  // A run every third day at noon for two years.
  std::vector<Clock::time_point> runs;
  for (int day = 0; day <= 730; day += 3) runs.push_back(localDay(2023, 6, 19 + day));
  const fs::path held = timeline.snapshots() / scheduledName(runs[1]);
  std::optional<SnapshotHold> window;
  constexpr std::size_t grownAt = 10;
  for (std::size_t k = 0; k < runs.size(); ++k) {
    if (k == grownAt)
      testsupport::writeFile(timeline.place() / "build" / "big.bin", std::string(200'000, 'b'));
    const auto run = timeline.run({"--scheduled"}, runs[k]);
    ASSERT_EQ(run.status, 0) << k << ": " << run.err;
    const fs::path made = timeline.snapshots() / scheduledName(runs[k]);
    ASSERT_TRUE(has(run.err, "written to " + made.string())) << run.err;
    ASSERT_TRUE(fs::exists(made));
    ASSERT_EQ(testsupport::terminalHazard(run.err), "");

    // A window shows the second snapshot (a Thursday's) from the moment it is made until after
    // it falls due (nine days later, at the fifth run): it stays while shown, and goes at the
    // next run.
    if (k == 1) window.emplace(held);
    if (k == 3) {
      EXPECT_FALSE(has(run.err, held.string())) << run.err;
    }
    if (k == 4) {
      EXPECT_TRUE(has(run.err, "kept, open in a window: " + held.string())) << run.err;
      EXPECT_TRUE(fs::exists(held));
      window.reset();
    }
    if (k == 5) {
      EXPECT_TRUE(has(run.err, "removed " + held.string())) << run.err;
      EXPECT_FALSE(fs::exists(held));
    }
    // Growth past the threshold is told, and handed to the notifier once, with the snapshot.
    ASSERT_EQ(has(run.err, "growth alert handed to "), k == grownAt) << k << ": " << run.err;
    if (k == grownAt) {
      EXPECT_TRUE(has(run.err, (timeline.place() / "build").string() + " grew by ")) << run.err;
      EXPECT_EQ(timeline.notifierCall(), "--growth-alert " + made.string() + "\n");
      const auto index = ScheduledSnapshots::read(timeline.snapshots());
      const auto entry = std::find_if(index.entries.begin(), index.entries.end(),
                                      [&](const auto& e) { return e.file == made.filename().string(); });
      ASSERT_NE(entry, index.entries.end());
      ASSERT_TRUE(entry->growth && entry->growth->alert());
      EXPECT_EQ(entry->growth->previous, (timeline.snapshots() / scheduledName(runs[k - 1])).string());
      ASSERT_EQ(entry->growth->folders.size(), 1u);
      EXPECT_EQ(entry->growth->folders[0].path, (timeline.place() / "build").string());
    }
  }

  // What is left is what the retention rule keeps of all the runs, and everything else.
  std::vector<Retention::Snapshot> made;
  for (const auto& when : runs) made.push_back({when, timeline.place().string()});
  const auto expired = Retention::expired(made, runs.back());
  std::set<std::string> expected{"Projects-mine.tfsnap", "notes.txt", ScheduledSnapshots::indexName};
  for (std::size_t k = 0; k < runs.size(); ++k)
    if (!std::binary_search(expired.begin(), expired.end(), k)) expected.insert(scheduledName(runs[k]));
  const auto names = testsupport::namesIn(timeline.snapshots());
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected);
  // The runs of the last week, weeks and months: far fewer than the runs.
  EXPECT_GE(expected.size() - 3, 12u);
  EXPECT_LE(expected.size() - 3, 3u + 8u + 12u);
  EXPECT_EQ(ScheduledSnapshots::read(timeline.snapshots()).entries.size(), expected.size() - 3);
}

TEST(TimelineCommands, PruningByHandListsWhatGoesAndWhatStays) {
  Timeline timeline(1'000'000'000);
  const auto first = localDay(2025, 3, 3);  // a Monday
  std::vector<fs::path> made;
  for (int day = 0; day < 5; ++day) {
    const auto when = first + std::chrono::hours(24 * day);
    ASSERT_EQ(timeline.run({"--scheduled"}, when).status, 0);
    made.push_back(timeline.snapshots() / scheduledName(when));
  }
  // A year on, the first of March's week and month is out of reach too: all five are due.
  const auto later = localDay(2026, 6, 1);
  const SnapshotHold window(made[2]);
  const auto dry = timeline.run({"--prune", "--dry-run"}, later);
  ASSERT_EQ(dry.status, 0) << dry.err;
  std::vector<std::string> expected;
  for (const auto& file : made)
    if (file != made[2]) expected.push_back("would remove " + file.string());
  expected.push_back("kept, open in a window: " + made[2].string());
  EXPECT_EQ(lines(dry.out), expected);
  for (const auto& file : made) EXPECT_TRUE(fs::exists(file));

  const auto pruned = timeline.run({"--prune"}, later);
  ASSERT_EQ(pruned.status, 0) << pruned.err;
  for (auto& line : expected)
    if (line.starts_with("would remove ")) line.replace(0, 12, "removed");
  EXPECT_EQ(lines(pruned.out), expected);
  EXPECT_EQ(testsupport::namesIn(timeline.snapshots()),
            (std::vector<std::string>{made[2].filename().string(), ScheduledSnapshots::indexName}));

  ::setenv("TALLYFOX_NOW", "last tuesday", 1);
  const auto refused = runTfscan({"--prune"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_TRUE(has(refused.err, "TALLYFOX_NOW is not an ISO 8601 moment")) << refused.err;
  EXPECT_TRUE(fs::exists(made[2]));
}

TEST(TimelineCommands, GrowthAlertsWithoutANotifierOrAsAServiceAndGrowthByHand) {
  Timeline timeline(10'000);
  ::setenv("TALLYFOX_NOTIFIER", (timeline.temp() / "no-such-notifier").c_str(), 1);
  ASSERT_EQ(timeline.run({"--scheduled"}, localDay(2025, 5, 1)).status, 0);
  testsupport::writeFile(timeline.place() / "src" / "generated.c", std::string(50'000, 'g'));
  const auto run = timeline.run({"--scheduled"}, localDay(2025, 5, 2));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(has(run.err, (timeline.place() / "src").string() + " grew by ")) << run.err;
  EXPECT_TRUE(has(run.err, "no growth alert shown: ")) << run.err;
  EXPECT_TRUE(has(run.err, "No such file or directory")) << run.err;

  // Run as a systemd service, the notifier gets a unit of its own, which outlives the service.
  const fs::path bin = timeline.temp() / "bin";
  testsupport::writeFile(bin / "systemd-run",
                         "#!/bin/sh\nprintf '%s\\n' \"$*\" > '" + (bin / "call").string() + "'\n");
  fs::permissions(bin / "systemd-run", fs::perms::owner_all);
  const std::string path = std::getenv("PATH");
  ::setenv("PATH", (bin.string() + ":" + path).c_str(), 1);
  ::setenv("INVOCATION_ID", "0123456789abcdef", 1);
  testsupport::writeFile(timeline.place() / "src" / "more.c", std::string(50'000, 'g'));
  const auto service = timeline.run({"--scheduled"}, localDay(2025, 5, 3));
  ::setenv("PATH", path.c_str(), 1);
  ::unsetenv("INVOCATION_ID");
  EXPECT_EQ(service.status, 0) << service.err;
  const auto call = testsupport::readBytes(bin / "call");
  EXPECT_EQ(std::string(call.begin(), call.end()),
            "--user --quiet --collect -- " + (timeline.temp() / "no-such-notifier").string() +
                " --growth-alert " + (timeline.snapshots() / scheduledName(localDay(2025, 5, 3))).string() +
                "\n");
  EXPECT_TRUE(has(service.err, "as a unit of its own")) << service.err;

  // The growth between the last two snapshots of the scheduled folder, and between two named.
  const auto growth = runTfscan({"--growth"});
  ASSERT_EQ(growth.status, 0) << growth.err;
  const auto out = lines(growth.out);
  ASSERT_EQ(out.size(), 2u) << growth.out;
  EXPECT_TRUE(out[0].starts_with("Growth in " + timeline.place().string() +
                                 " between 2025-05-02 12:00 and 2025-05-03 12:00 (+"))
      << out[0];
  EXPECT_TRUE(out[0].ends_with("folders that grew by more than 10.0 kB:")) << out[0];
  EXPECT_TRUE(out[1].ends_with("  " + (timeline.place() / "src").string())) << out[1];
  EXPECT_TRUE(out[1].starts_with("  +")) << out[1];

  const std::string older = (timeline.snapshots() / scheduledName(localDay(2025, 5, 2))).string(),
                    newer = (timeline.snapshots() / scheduledName(localDay(2025, 5, 3))).string();
  const auto named = runTfscan({"--growth", older, newer});
  EXPECT_EQ(named.out, growth.out);
  const auto high = runTfscan({"--growth", older, newer, "--threshold", "1MB"});
  EXPECT_EQ(lines(high.out).back(), "  None.");
  EXPECT_EQ(runTfscan({"--growth", older}).status, 2);
}

TEST(TimelineCommands, HistoryEqualsEachSnapshotsDumpAndShowsGaps) {
  Timeline timeline(1'000'000'000);
  const fs::path src = timeline.place() / "src";
  std::vector<fs::path> files;
  auto scan = [&](const std::string& name) {
    files.push_back(timeline.temp() / name);
    ASSERT_EQ(runTfscan({"-o", files.back().string(), timeline.place().string()}).status, 0);
  };
  scan("a.tfsnap");
  testsupport::writeFile(src / "more.c", std::string(70'000, 'm'));
  scan("b.tfsnap");
  fs::remove_all(src);
  scan("c.tfsnap");

  // The place itself: the figures --dump gives for each snapshot's root.
  const auto history = runTfscan(
      {"--history", timeline.place().string(), files[0].string(), files[2].string(), files[1].string()});
  ASSERT_EQ(history.status, 0) << history.err;
  const auto rows = historyLines(history.out);
  ASSERT_EQ(rows.size(), 3u) << history.out;
  static const std::regex dumped(R"(^entries: (\d+)  total: (\d+) bytes)");
  for (std::size_t k = 0; k < 3; ++k) {
    const fs::path file = files[2 - k];  // newest first
    EXPECT_EQ(rows[k].file, file.string());
    const auto dump = runTfscan({"--dump", file.string()});
    std::smatch m;
    ASSERT_TRUE(std::regex_search(dump.out, m, dumped)) << dump.out;
    ASSERT_TRUE(rows[k].figures);
    EXPECT_EQ(rows[k].figures->first, std::stoull(m[2])) << file;
    EXPECT_EQ(rows[k].figures->second, std::stoull(m[1])) << file;
  }

  // A folder gone from the newest snapshot is a gap there, not a zero; relative paths are the
  // caller's. By default the snapshots folder's snapshots of the place are read.
  fs::create_directories(timeline.snapshots());
  for (const auto& file : files) fs::copy_file(file, timeline.snapshots() / file.filename());
  const auto folder = runTfscan({"--history", "Projects/src"}, timeline.temp());
  ASSERT_EQ(folder.status, 0) << folder.err;
  EXPECT_EQ(lines(folder.out)[0], src.string() + " in 3 snapshots, newest first:");
  const auto points = historyLines(folder.out);
  ASSERT_EQ(points.size(), 3u) << folder.out;
  EXPECT_EQ(points[0].file, (timeline.snapshots() / "c.tfsnap").string());
  EXPECT_FALSE(points[0].figures);
  ASSERT_TRUE(points[1].figures && points[2].figures);
  EXPECT_EQ(points[1].figures->second, 2u);
  EXPECT_EQ(points[2].figures->second, 1u);
  EXPECT_GT(points[1].figures->first, points[2].figures->first + 70'000 - 4096);

  const auto nowhere = runTfscan({"--history", "/no/such/place"});
  EXPECT_EQ(nowhere.status, 1);
  EXPECT_TRUE(has(nowhere.err, "no snapshot in ")) << nowhere.err;
}

TEST(TimelineCommands, MetricsAreValidExpositionWrittenAtomically) {
  Timeline timeline(1'000'000'000);
  testsupport::writeFile(timeline.place() / "big" / "data.bin", std::string(400'000, 'd'));
  testsupport::writeFile(timeline.place() / "quote\"and\\back" / "data.bin", std::string(100'000, 'q'));
  const fs::path snapshot = timeline.temp() / "p.tfsnap";
  ASSERT_EQ(runTfscan({"-o", snapshot.string(), timeline.place().string()}).status, 0);
  const auto tree = SnapshotFile::map(snapshot);

  const fs::path prom = timeline.temp() / "textfile" / "tallyfox.prom";
  fs::create_directories(prom.parent_path());
  testsupport::writeFile(prom, "old contents");
  const auto run = runTfscan({"--metrics", prom.string(), snapshot.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(testsupport::namesIn(prom.parent_path()), std::vector<std::string>{"tallyfox.prom"});
  const auto bytes = testsupport::readBytes(prom);
  const std::string text(bytes.begin(), bytes.end());
  const auto exposition = testsupport::parseExposition(text);

  std::map<std::string, double> folderBytes, folderEntries;
  for (const auto& sample : exposition.samples) {
    if (sample.name == "tallyfox_folder_bytes" || sample.name == "tallyfox_folder_entries") {
      EXPECT_EQ(sample.labels.at("root"), timeline.place().string());
      (sample.name == "tallyfox_folder_bytes" ? folderBytes : folderEntries)[sample.labels.at("path")] =
          sample.value;
    }
  }
  const std::string root = timeline.place().string();
  // The root and the folders above 1 % of it; src (about 4 kB of 500 kB) is below.
  EXPECT_EQ(folderBytes.size(), 3u);
  for (const std::string& path : {root, root + "/big", root + "/quote\"and\\back"}) {
    const auto node = SnapshotPaths::node(path, *tree);
    ASSERT_TRUE(node) << path;
    EXPECT_EQ(folderBytes[path], double(tree->sizeOf(*node))) << path;
    EXPECT_EQ(folderEntries[path], double(tree->entryCount()[std::size_t(*node)])) << path;
  }
  EXPECT_EQ(exposition.type.at("tallyfox_scan_timestamp_seconds"), "gauge");

  const auto stdoutRun =
      testsupport::runProgramThroughPipe(testsupport::tfscanWords({"--metrics", "-", snapshot.string()}));
  EXPECT_EQ(stdoutRun.status, 0);
  EXPECT_EQ(stdoutRun.out, text);

  // Nothing half-written: a damaged snapshot and a folder that is not there leave no file.
  auto damaged = testsupport::readBytes(snapshot);
  damaged[SnapshotFile::headerSize + 8] ^= 0x7F;  // the third node's parent: now after it
  testsupport::writeBytes(timeline.temp() / "damaged.tfsnap", damaged);
  const fs::path other = timeline.temp() / "other.prom";
  const auto refused =
      runTfscan({"--metrics", other.string(), (timeline.temp() / "damaged.tfsnap").string()});
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(has(refused.err, "is damaged")) << refused.err;
  EXPECT_FALSE(fs::exists(other));
  const auto missing =
      runTfscan({"--metrics", (timeline.temp() / "none" / "x.prom").string(), snapshot.string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(has(missing.err, "cannot write ")) << missing.err;
}
