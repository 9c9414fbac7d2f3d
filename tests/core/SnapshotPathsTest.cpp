#include <tallyfox/Preferences.h>
#include <tallyfox/Scanner.h>
#include <tallyfox/SnapshotPaths.h>
#include <tallyfox/Unicode.h>

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <system_error>

#include <cstring>

using namespace tallyfox;
using testsupport::TempDir;
using Names = std::vector<std::string>;

TEST(SnapshotPaths, CanonicalFormsFoldTheDataVolume) {
  testsupport::ScopedHome home;
  EXPECT_EQ(SnapshotPaths::canonical("/System/Volumes/Data"), "/");
  EXPECT_EQ(SnapshotPaths::canonical("/System/Volumes/Data/Users/ann"), "/Users/ann");
  EXPECT_EQ(SnapshotPaths::canonical("/System/Volumes/DataX"), "/System/Volumes/DataX");
  EXPECT_EQ(SnapshotPaths::canonical("//a/./b/../c/"), "/a/c");
  EXPECT_EQ(SnapshotPaths::canonical("/.."), "/");
  EXPECT_EQ(SnapshotPaths::canonical("~/x"), home.path().string() + "/x");
  EXPECT_EQ(SnapshotPaths::canonical("~"), home.path().string());
}

TEST(SnapshotPaths, Components) {
  EXPECT_EQ(SnapshotPaths::components("/Users/ann/x", "/"), (Names{"Users", "ann", "x"}));
  EXPECT_EQ(SnapshotPaths::components("/Users/ann/x", "/Users/ann"), (Names{"x"}));
  EXPECT_FALSE(SnapshotPaths::components("/Users/ann/x", "/Users/an"));
  EXPECT_EQ(SnapshotPaths::components("/System/Volumes/Data/Users/ann", "/Users"), (Names{"ann"}));
  EXPECT_EQ(SnapshotPaths::components("/", "/System/Volumes/Data"), Names{});
  EXPECT_EQ(SnapshotPaths::components("/Users/ann/", "/Users/ann"), Names{});
  EXPECT_EQ(SnapshotPaths::components("/Users/./ann", "/Users/ann"), Names{});
  // Precomposed and decomposed spellings are the same place, and names keep their bytes.
  EXPECT_EQ(SnapshotPaths::components("/Caf\xC3\xA9/x", "/Cafe\xCC\x81"), (Names{"x"}));
  EXPECT_EQ(SnapshotPaths::components("/Caf\xC3\xA9/Cafe\xCC\x81", "/Cafe\xCC\x81"), (Names{"Cafe\xCC\x81"}));
  EXPECT_FALSE(SnapshotPaths::components("Cafe/x", "/Cafe"));
}

TEST(SnapshotPaths, NodeLookupMatchesCanonicallyEquivalentNames) {
  const auto tree = SnapshotFile::inMemory(
      testsupport::columnsOf({{-1, ""}, {0, "Caf\xC3\xA9"}, {0, "docs"}, {1, "x", 1}}), {"/home/ann", {}, 0});
  EXPECT_EQ(SnapshotPaths::node("/home/ann", *tree), 0);
  EXPECT_EQ(SnapshotPaths::node("/home/ann/docs", *tree), 2);
  EXPECT_EQ(SnapshotPaths::node("/home/ann/Cafe\xCC\x81/x", *tree), 3);
  EXPECT_FALSE(SnapshotPaths::node("/home/ann/missing", *tree));
  EXPECT_FALSE(SnapshotPaths::node("/home/ann/docs/deeper", *tree));
  EXPECT_FALSE(SnapshotPaths::node("/home/bob", *tree));
  // A folder may hold both spellings: identical bytes win over the earlier, larger one.
  const auto both = SnapshotFile::inMemory(
      testsupport::columnsOf({{-1, ""}, {0, "Caf\xC3\xA9", 9}, {0, "Cafe\xCC\x81", 2}}),
      {"/home/ann", {}, 0});
  EXPECT_EQ(SnapshotPaths::node("/home/ann/Cafe\xCC\x81", *both), 2);
  EXPECT_EQ(SnapshotPaths::node("/home/ann/Caf\xC3\xA9", *both), 1);
  const auto joined = SnapshotFile::inMemory(testsupport::columnsOf({{-1, ""}, {0, "/a"}}), {"", {}, 0});
  EXPECT_FALSE(SnapshotPaths::node("/a", *joined));
}

TEST(SnapshotPaths, DefaultDirectoryAndNames) {
  testsupport::ScopedHome home;
  const auto builtIn = home.path() / ".local/share/tallyfox";
  EXPECT_EQ(SnapshotsFolder::ofUser(std::nullopt), builtIn);
  auto store = Preferences::standard();
  ASSERT_TRUE(store);
  EXPECT_EQ(store->snapshotsFolder(), builtIn);
  store->set("snapshotsDirectory", "");
  EXPECT_EQ(store->snapshotsFolder(), builtIn);
  store->set("snapshotsDirectory", "~/Snaps");
  EXPECT_EQ(SnapshotsFolder::ofUser(store), home.path() / "Snaps");
  const auto folder = store->snapshotsFolder();

  std::tm local{};
  local.tm_year = 2024 - 1900;
  local.tm_mon = 2;
  local.tm_mday = 5;
  local.tm_hour = 14;
  local.tm_min = 7;
  local.tm_sec = 9;
  local.tm_isdst = -1;
  const auto started = std::chrono::system_clock::from_time_t(std::mktime(&local));
  const auto url = SnapshotsFolder::newSnapshotPath(folder, "/Users/ann/Projects", started);
  EXPECT_EQ(url, home.path() / "Snaps" / "Projects-2024-03-05_140709.tfsnap");
  EXPECT_TRUE(std::filesystem::is_directory(home.path() / "Snaps"));
  // A name already taken (a scan of the same place in the same second) is never reused.
  std::ofstream(url).put('x');
  EXPECT_EQ(SnapshotsFolder::newSnapshotPath(folder, "/Users/ann/Projects", started),
            home.path() / "Snaps" / "Projects-2024-03-05_140709-2.tfsnap");
  EXPECT_EQ(SnapshotsFolder::newSnapshotPath(folder, "/", started).filename().string().rfind("root-", 0), 0u);
  EXPECT_EQ(SnapshotsFolder::newSnapshotPath(folder, "/System/Volumes/Data", started)
                .filename()
                .string()
                .rfind("disk-", 0),
            0u);
}

// The error newSnapshotPath throws, or "no error".
std::string newPathError(const std::filesystem::path& folder) {
  try {
    SnapshotsFolder::newSnapshotPath(folder, "/data", std::chrono::system_clock::now());
  } catch (const std::system_error& e) {
    return e.what();
  }
  return "no error";
}

TEST(SnapshotPaths, LongFolderNamesAreCutAndUnusableFoldersSaySo) {
  TempDir dir;
  const auto started = std::chrono::system_clock::now();
  // Names up to the longest a folder may have, in letters of one and of two bytes.
  std::string accents;
  while (accents.size() < 254) accents += "\xC3\xA9";
  for (const std::string& name :
       {std::string(207, 'x'), std::string(240, 'x'), std::string(255, 'x'), accents}) {
    // Each in a folder of its own: the longer ones are cut to the same name.
    const auto folder = dir / std::to_string(name.size());
    const auto path = SnapshotsFolder::newSnapshotPath(folder, "/data/" + name, started);
    const std::string file = path.filename().string();
    EXPECT_EQ(path.parent_path(), folder);
    EXPECT_LE(file.size() + 29, 255u) << "no room for the temporary's name";
    EXPECT_EQ(file.substr(0, 20), name.substr(0, 20));
    EXPECT_TRUE(file.ends_with(".tfsnap"));
    EXPECT_EQ(Unicode::decodeLossy(file), file) << "cut inside a character";
    // Taken, it is numbered within the same room.
    testsupport::writeFile(path, "x");
    const auto next = SnapshotsFolder::newSnapshotPath(folder, "/data/" + name, started);
    EXPECT_TRUE(next.filename().string().ends_with("-2.tfsnap")) << next;
  }

  // A folder in the way of the snapshots folder, or one that cannot be searched, is an error
  // naming the folder, not a name.
  testsupport::writeFile(dir / "file", "x");
  EXPECT_EQ(newPathError(dir / "file"), "snapshots folder " + (dir / "file").string() + ": Not a directory");
  EXPECT_EQ(newPathError(dir / "file" / "snaps"),
            "snapshots folder " + (dir / "file" / "snaps").string() + ": Not a directory");
  if (::geteuid() != 0) return;
  std::filesystem::create_directory(dir / "closed");
  std::filesystem::permissions(dir.path(),
                               std::filesystem::perms::owner_all | std::filesystem::perms::others_exec);
  std::filesystem::permissions(dir / "closed", std::filesystem::perms::owner_all);
  ASSERT_EQ(::chown((dir / "closed").c_str(), 65534, 65534), 0);
  std::filesystem::permissions(dir / "closed",
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const pid_t child = ::fork();
  if (child == 0) {
    const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
    const std::string expected = "snapshots folder " + (dir / "closed").string() + ": Permission denied";
    ::_exit(dropped && newPathError(dir / "closed") == expected ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "no error for a folder nobody cannot search";
}

TEST(SnapshotPaths, SnapshotsCoveringAPlaceNewestFirst) {
  TempDir dir;
  using std::chrono::seconds;
  using Clock = std::chrono::system_clock;
  auto save = [&](const std::string& name, const std::string& root, int start) {
    SnapshotFile::write(testsupport::columnsOf({{-1, ""}, {0, "a", 1}}),
                        {root, Clock::time_point(seconds(start)), 1}, dir / name);
  };
  save("old.tfsnap", "/home/ann", 100);
  save("new.tfsnap", "/home", 300);
  save("mid.tfsnap", "/home/ann/x", 200);  // below the place: does not cover it
  save("other.tfsnap", "/srv", 400);
  save("UPPER.TFSNAP", "/home", 500);
  save("excluded.tfsnap", "/", 600);
  testsupport::writeFile(dir / "short.tfsnap", std::string(4095, 'x'));
  auto bytes = testsupport::readBytes(dir / "old.tfsnap");
  bytes[12] = 0;  // unfinished
  testsupport::writeBytes(dir / "unfinished.tfsnap", bytes);

  const auto found = SnapshotPaths::snapshots("/home/ann", dir.path(), dir.path() / "." / "excluded.tfsnap");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].url.filename(), "new.tfsnap");
  EXPECT_EQ(found[1].url.filename(), "old.tfsnap");
  EXPECT_EQ(found[0].entries, 1);
  EXPECT_EQ(SnapshotPaths::snapshots("/home/ann", dir.path()).size(), 3u);
  EXPECT_TRUE(SnapshotPaths::snapshots("/home", dir / "missing").empty());
}

TEST(Preferences, ToleratesMissingAndBrokenFilesAndWritesAtomically) {
  TempDir dir;
  Preferences store(dir / "conf" / "preferences.json");
  EXPECT_FALSE(store.get("scanSpeed"));
  store.set("scanSpeed", "gentle");
  store.set("recentDocuments", nlohmann::json::array({"/a", "/b"}));
  EXPECT_EQ(store.getString("scanSpeed"), "gentle");
  EXPECT_EQ(store.get("recentDocuments")->size(), 2u);
  // Another program's store object sees the change at once.
  EXPECT_EQ(Preferences(store.file()).getString("scanSpeed"), "gentle");
  store.remove("scanSpeed");
  EXPECT_FALSE(store.get("scanSpeed"));
  EXPECT_FALSE(store.getString("recentDocuments"));  // not a string

  testsupport::writeFile(store.file(), "{ not json");
  EXPECT_FALSE(store.get("recentDocuments"));
  store.set("scanSpeed", "fast");
  EXPECT_EQ(store.getString("scanSpeed"), "fast");
  for (const auto& entry : std::filesystem::directory_iterator(store.file().parent_path()))
    EXPECT_EQ(entry.path().filename(), "preferences.json");
}

// Reads keep the last parse while the bytes stay the same: a rewrite in place, of the same
// size and within the same timestamp tick, is still read afresh, by copies of the store too.
TEST(Preferences, EveryRewriteIsReadAfreshWhateverItsSizeAndTime) {
  TempDir dir;
  const Preferences store(dir / "preferences.json");
  const Preferences copy = store;
  for (int i = 0; i < 30; ++i) {
    testsupport::writeFile(store.file(), "{\"n\": " + std::to_string(i % 10) + "}");
    EXPECT_EQ(store.get("n"), i % 10);
    EXPECT_EQ(copy.get("n"), i % 10);
  }
  testsupport::writeFile(store.file(), "{\"n\": [");
  EXPECT_FALSE(store.get("n"));
  EXPECT_EQ(store.refusal(), std::nullopt);
}

// A file nested deeper than any settings file is refused before it is parsed: it reads as
// no settings, says why, and stays byte for byte as it is, whatever is written meanwhile.
TEST(Preferences, ADeepOrHugeFileIsRefusedAndNeverRewritten) {
  TempDir dir;
  Preferences store(dir / "preferences.json");
  const std::string deep = testsupport::deeplyNestedPreferences(100000);
  testsupport::writeFile(store.file(), deep);
  EXPECT_EQ(store.refusal(), "nested deeper than 100 levels");
  EXPECT_FALSE(store.get("scanSpeed"));
  EXPECT_EQ(store.scanSpeed(), ScanSpeed::fast);
  EXPECT_TRUE(store.all().empty());
  EXPECT_THROW(store.set("scanSpeed", "balanced"), Preferences::Refused);
  EXPECT_THROW(store.remove("deep"), Preferences::Refused);
  const auto bytes = testsupport::readBytes(store.file());
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), deep);

  // The limit counts every bracket around a value, the top object's too; brackets inside
  // strings are text.
  testsupport::writeFile(store.file(), "{\"a\": " + std::string(99, '[') + std::string(99, ']') + "}");
  EXPECT_EQ(store.refusal(), std::nullopt);
  EXPECT_TRUE(store.get("a"));
  testsupport::writeFile(store.file(), "{\"a\": " + std::string(100, '[') + std::string(100, ']') + "}");
  EXPECT_TRUE(store.refusal());
  testsupport::writeFile(store.file(), "{\"a\": \"" + std::string(100000, '[') + "\\\"{\"}");
  EXPECT_EQ(store.refusal(), std::nullopt);
  EXPECT_EQ(store.getString("a")->size(), 100002u);

  const std::string huge =
      "{\"scanSpeed\": \"gentle\", \"pad\": \"" + std::string(Preferences::maxFileBytes, ' ') + "\"}";
  testsupport::writeFile(store.file(), huge);
  EXPECT_EQ(store.refusal(), "larger than 16 MB");
  EXPECT_THROW(store.set("scanSpeed", "balanced"), Preferences::Refused);
  EXPECT_EQ(std::filesystem::file_size(store.file()), huge.size());

  // Written compactly: a deep value no longer costs its depth in indentation per line, and
  // one that would make the file refused is not written at all.
  std::filesystem::remove(store.file());
  store.set("nested", nlohmann::json::parse(std::string(50, '[') + std::string(50, ']')));
  store.set("scanSpeed", "gentle");
  const auto written = testsupport::readBytes(store.file());
  EXPECT_EQ(std::string(written.begin(), written.end()),
            "{\"nested\":" + std::string(50, '[') + std::string(50, ']') + ",\"scanSpeed\":\"gentle\"}\n");
  EXPECT_THROW(store.set("deeper", nlohmann::json::parse(std::string(100, '[') + std::string(100, ']'))),
               Preferences::Refused);
  EXPECT_EQ(store.scanSpeed(), ScanSpeed::gentle);
  EXPECT_FALSE(store.get("deeper"));
}
