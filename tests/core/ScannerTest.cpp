#include <tallyfox/Preferences.h>
#include <tallyfox/Scanner.h>
#include <tallyfox/SnapshotBuilderSink.h>
#include <tallyfox/SnapshotFile.h>

#include "../../core/src/linux/ScanCalls.h"
#include "BtrfsImage.h"
#include "CloneFixtures.h"
#include "Subprocess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <linux/ioprio.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>

using namespace tallyfox;
using testsupport::allocated;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

// Keeps every listing by id, and notices ids reported twice.
class RecordingSink : public ScanSink {
 public:
  struct Entry {
    std::int64_t parent = -1;
    std::string name;
    std::uint64_t size = 0;
    std::int64_t mtime = 0;
    std::uint8_t flags = 0;
    bool present = false;
  };

  std::function<void(const DirectoryListing&)> onListing;

  void rootStarted(const std::string& path) override {
    std::lock_guard guard(lock_);
    root_ = path;
    ++rootCalls_;
    grow(1);
    entries_[0] = {-1, "", 0, 0, EntryFlags::directory, true};
  }

  void directoryListed(const DirectoryListing& listing) override {
    {
      std::lock_guard guard(lock_);
      ++listings_;
      if (listing.directoryError) failedFolders_.push_back(listing.directoryID);
      for (std::size_t k = 0; k < listing.count(); ++k) {
        const std::size_t id = listing.firstID + k;
        grow(id + 1);
        if (entries_[id].present) ++reusedIDs_;
        const auto name = listing.name(k);
        entries_[id] = {std::int64_t(listing.directoryID),
                        std::string(name.begin(), name.end()),
                        listing.sizes[k],
                        listing.mtimes[k],
                        listing.flags[k],
                        true};
      }
    }
    if (onListing) onListing(listing);
  }

  // After the scan only.
  const std::string& root() const { return root_; }
  int rootCalls() const { return rootCalls_; }
  std::size_t listings() const { return listings_; }
  int reusedIDs() const { return reusedIDs_; }
  const std::vector<std::uint32_t>& failedFolders() const { return failedFolders_; }
  std::size_t count() const {
    std::size_t n = 0;
    for (const Entry& e : entries_) n += e.present;
    return n;
  }
  std::string pathOf(std::size_t id) const {
    std::string path;
    for (std::int64_t at = std::int64_t(id); at > 0; at = entries_[std::size_t(at)].parent)
      path = entries_[std::size_t(at)].name + (path.empty() ? "" : "/" + path);
    return path;
  }
  std::optional<std::size_t> find(const std::string& path) const {
    for (std::size_t id = 1; id < entries_.size(); ++id)
      if (entries_[id].present && pathOf(id) == path) return id;
    return std::nullopt;
  }
  const Entry& at(const std::string& path) const {
    static const Entry missing;
    const auto id = find(path);
    EXPECT_TRUE(id.has_value()) << path << " was not listed";
    return id ? entries_[*id] : missing;
  }
  std::vector<std::string> childrenOf(const std::string& path) const {
    std::vector<std::string> names;
    const auto parent = path.empty() ? std::optional<std::size_t>(0) : find(path);
    if (!parent) return names;
    for (const Entry& e : entries_)
      if (e.present && e.parent == std::int64_t(*parent)) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  void grow(std::size_t n) {
    if (entries_.size() < n) entries_.resize(n);
  }
  std::mutex lock_;
  std::string root_;
  int rootCalls_ = 0;
  std::size_t listings_ = 0;
  int reusedIDs_ = 0;
  std::vector<std::uint32_t> failedFolders_;
  std::vector<Entry> entries_;
};

std::int64_t modified(const fs::path& path) {
  struct stat st;
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mtim.tv_sec;
}

void writeSized(const fs::path& path, std::size_t bytes) {
  testsupport::writeFile(path, std::string(bytes, 'x'));
}

ScanOptions optionsWith(std::function<void(ScanOptions&)> change = {}) {
  ScanOptions options(std::nullopt, false);
  if (change) change(options);
  return options;
}

std::string shellOutput(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

std::string quoted(const fs::path& path) {
  return "'" + path.string() + "'";
}

// A random tree with nested folders, files of many sizes, hard links, symbolic links, empty
// folders, non-ASCII names and one folder wide enough to take several reads.
void generateTree(const fs::path& root, unsigned seed) {
  std::mt19937 random(seed);
  fs::create_directories(root);
  std::vector<fs::path> folders{root};
  std::vector<fs::path> files;
  for (int i = 0; i < 60; ++i) {
    const fs::path parent = folders[random() % folders.size()];
    const fs::path folder = parent / ("d" + std::to_string(i) + (i % 7 == 0 ? "-\xc3\xa9t\xc3\xa9" : ""));
    fs::create_directory(folder);
    folders.push_back(folder);
  }
  for (int i = 0; i < 400; ++i) {
    const fs::path file = folders[random() % folders.size()] / ("f" + std::to_string(i));
    writeSized(file, random() % 3 == 0 ? 0 : random() % 70000);
    files.push_back(file);
  }
  for (int i = 0; i < 10; ++i) {
    const fs::path target = files[random() % files.size()];
    fs::create_hard_link(target, folders[random() % folders.size()] / ("link" + std::to_string(i)));
  }
  for (int i = 0; i < 10; ++i)
    fs::create_symlink(i % 2 ? files[std::size_t(i)] : folders[std::size_t(i)],
                       folders[random() % folders.size()] / ("sym" + std::to_string(i)));
  const fs::path wide = root / "wide";
  fs::create_directory(wide);
  for (int i = 0; i < 2500; ++i) {
    const int fd =
        ::open((wide / ("a-rather-long-file-name-to-fill-the-buffer-" + std::to_string(i))).c_str(),
               O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
}

// Runs the body in a child process (to change its identity or limits) and returns what it
// reports; an exception in the child is reported too.
std::string inChild(const std::function<std::string()>& body) {
  int report[2];
  if (::pipe(report) != 0) return "pipe failed";
  const pid_t child = ::fork();
  if (child < 0) return "fork failed";
  if (child == 0) {
    ::close(report[0]);
    std::string text;
    try {
      text = body();
    } catch (const std::exception& e) {
      text = std::string("threw ") + e.what();
    }
    if (::write(report[1], text.data(), text.size()) < 0) _exit(2);
    _exit(0);
  }
  ::close(report[1]);
  std::string text;
  char buffer[512];
  ssize_t n;
  while ((n = ::read(report[0], buffer, sizeof buffer)) > 0) text.append(buffer, std::size_t(n));
  ::close(report[0]);
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    text += " (child failed)";
  return text;
}

}  // namespace

TEST(ScanSpeed, RawValuesThreadsTitlesAndTheSavedChoice) {
  EXPECT_EQ(rawValue(ScanSpeed::balanced), "balanced");
  EXPECT_EQ(title(ScanSpeed::gentle), "Gentle");
  EXPECT_EQ(threads(ScanSpeed::fast), 8);
  EXPECT_EQ(threads(ScanSpeed::balanced), 4);
  EXPECT_EQ(threads(ScanSpeed::gentle), 2);
  EXPECT_EQ(scanSpeedFromRawValue("Fast"), std::nullopt);
  EXPECT_EQ(ScanOptions(std::nullopt, true, {}, {}, {}, ScanSpeed::balanced).threads, 4);
  EXPECT_EQ(ScanOptions(3, true, {}, {}, {}, ScanSpeed::gentle).threads, 3);

  testsupport::ScopedHome home;
  auto store = Preferences::standard();
  ASSERT_TRUE(store);
  EXPECT_EQ(store->scanSpeed(), ScanSpeed::fast);
  store->set("scanSpeed", "gentle");
  EXPECT_EQ(store->scanSpeed(), ScanSpeed::gentle);
  store->set("scanSpeed", "turbo");
  EXPECT_EQ(store->scanSpeed(), ScanSpeed::fast);
  store->set("scanSpeed", 2);
  EXPECT_EQ(store->scanSpeed(), ScanSpeed::fast);
}

TEST(ScanOptions, IgnoredFoldersComeFromTheEnvironment) {
  testsupport::ScopedHome home;
  const std::string h = home.path().string();
  EXPECT_EQ(parseIgnoredFolders("~/Library::/Volumes/Backup"),
            (std::set<std::string>{h + "/Library", "/Volumes/Backup"}));
  EXPECT_EQ(parseIgnoredFolders(":~:"), (std::set<std::string>{h}));
  EXPECT_TRUE(parseIgnoredFolders("").empty());
  ::unsetenv("VOK_IGNORE_DIRS");
  EXPECT_TRUE(ignoredFoldersFromEnvironment().empty());
  ::setenv("VOK_IGNORE_DIRS", "/a:/b", 1);
  EXPECT_EQ(ignoredFoldersFromEnvironment(), (std::set<std::string>{"/a", "/b"}));
  ::unsetenv("VOK_IGNORE_DIRS");
}

TEST(Scanner, ListsEntriesWithAllocatedSizesLinksOnceAndSymlinksUnfollowed) {
  TempDir dir;
  const fs::path root = dir / "root";
  writeSized(root / "a" / "small", 10);
  writeSized(root / "a" / "big", 100000);
  writeSized(root / "shared", 50000);
  fs::create_hard_link(root / "shared", root / "a" / "second");
  fs::create_hard_link(root / "shared", root / "third");
  fs::create_directory(root / "empty");
  writeSized(dir / "outside" / "hidden", 1000);
  fs::create_directory_symlink(dir / "outside", root / "to-outside");
  fs::create_symlink("a/small", root / "to-small");

  auto sink = std::make_shared<RecordingSink>();
  // Trailing slashes go: the root is reported as written without them.
  Scanner scanner(root.string() + "//", optionsWith(), sink);
  const ScanStats stats = scanner.run();

  EXPECT_EQ(sink->root(), root.string());
  EXPECT_EQ(sink->rootCalls(), 1);
  EXPECT_EQ(sink->reusedIDs(), 0);
  EXPECT_EQ(stats.entries, 9u);
  EXPECT_EQ(sink->count(), 10u);
  EXPECT_EQ(stats.directories, 3u);  // root, a, empty
  EXPECT_EQ(stats.errors, 0u);
  EXPECT_EQ(scanner.progressEntries(), 9u);

  EXPECT_EQ(sink->at("a/big").size, allocated(root / "a" / "big"));
  EXPECT_EQ(sink->at("a/big").flags, 0);
  EXPECT_EQ(sink->at("a/big").mtime, modified(root / "a" / "big"));
  EXPECT_EQ(sink->at("a").flags, EntryFlags::directory);
  EXPECT_EQ(sink->at("a").size, 0u);
  EXPECT_EQ(sink->at("empty").flags, EntryFlags::directory);

  // Three names of one file: one carries the size, the others are marked.
  int counted = 0, marked = 0;
  for (const char* link : {"shared", "a/second", "third"}) {
    const auto& entry = sink->at(link);
    if (entry.flags & EntryFlags::duplicateLink) {
      ++marked;
      EXPECT_EQ(entry.size, 0u) << link;
    } else {
      ++counted;
      EXPECT_EQ(entry.size, allocated(root / "shared")) << link;
    }
  }
  EXPECT_EQ(counted, 1);
  EXPECT_EQ(marked, 2);

  EXPECT_EQ(sink->at("to-outside").flags, EntryFlags::symlink);
  EXPECT_EQ(sink->at("to-small").flags, EntryFlags::symlink);
  EXPECT_TRUE(sink->childrenOf("to-outside").empty());
  EXPECT_FALSE(sink->find("to-outside/hidden"));

  std::uint64_t total = 0;
  for (const char* path : {"a/small", "a/big", "shared", "a/second", "third", "to-outside", "to-small"})
    total += sink->at(path).size;
  EXPECT_EQ(stats.bytes, total);
  EXPECT_EQ(scanner.progressBytes(), total);
}

TEST(Scanner, RootThatCannotBeScannedThrowsAndReportsNothing) {
  TempDir dir;
  fs::create_directory(dir / "real");
  fs::create_directory_symlink(dir / "real", dir / "link");
  writeSized(dir / "file", 5);
  const std::pair<fs::path, int> cases[] = {
      {dir / "missing", ENOENT}, {dir / "link", ELOOP}, {dir / "link/", ELOOP}, {dir / "file", ENOTDIR}};
  for (const auto& [path, code] : cases) {
    auto sink = std::make_shared<RecordingSink>();
    Scanner scanner(path.string(), optionsWith(), sink);
    try {
      scanner.run();
      ADD_FAILURE() << path << " was scanned";
    } catch (const std::system_error& e) {
      EXPECT_EQ(e.code().value(), code) << path;
    }
    EXPECT_EQ(sink->rootCalls(), 0);
    EXPECT_EQ(sink->listings(), 0u);
  }
}

TEST(Scanner, SkipsNamesSuffixesAndIgnoredFoldersButListsThem) {
  TempDir dir;
  const fs::path root = dir / "root";
  writeSized(root / "node_modules" / "pkg" / "index.js", 100);
  writeSized(root / "src" / "node_modules" / "x", 100);
  writeSized(root / "Mail.app" / "Contents" / "x", 100);
  writeSized(root / "keep" / "Mail.apps" / "x", 100);
  writeSized(root / "ignored" / "deep" / "x", 100);
  writeSized(root / "node_modules.txt", 100);  // a file: names only apply to folders

  auto sink = std::make_shared<RecordingSink>();
  auto options = optionsWith([&](ScanOptions& o) {
    o.skipNames = {"node_modules"};
    o.skipSuffixes = {".app"};
    // Matched by identity, whatever the spelling.
    o.ignored = {(root / "." / "ignored" / "").string(), (dir / "does-not-exist").string()};
  });
  Scanner scanner(root.string(), options, sink);
  const ScanStats stats = scanner.run();

  for (const char* skipped : {"node_modules", "src/node_modules", "Mail.app", "ignored"}) {
    EXPECT_EQ(sink->at(skipped).flags, EntryFlags::directory | EntryFlags::notDescended) << skipped;
    EXPECT_EQ(sink->at(skipped).size, 0u);
    EXPECT_TRUE(sink->childrenOf(skipped).empty()) << skipped;
  }
  EXPECT_EQ(sink->childrenOf("keep/Mail.apps"), std::vector<std::string>{"x"});
  EXPECT_EQ(sink->at("node_modules.txt").flags, 0);
  EXPECT_EQ(stats.errors, 0u);
}

TEST(Scanner, UnreadableFoldersAreMarkedAndCountedOnce) {
  TempDir dir;
  const fs::path root = dir / "root";
  writeSized(root / "ok" / "file", 10);
  writeSized(root / "locked" / "secret", 10);
  writeSized(root / "noexec" / "inside", 10);
  fs::permissions(root / "locked", fs::perms::none);
  fs::permissions(root / "noexec", fs::perms::owner_read | fs::perms::group_read);
  // Root reads everything: look with the eyes of nobody.
  const bool asRoot = ::geteuid() == 0;
  if (asRoot) {
    ASSERT_EQ(testsupport::runCommand({"chown", "-R", "65534:65534", dir.path().string()}), 0);
  }

  const std::string problems = inChild([&] {
    std::ostringstream problems;
    if (asRoot && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
      return std::string("cannot become nobody");
    auto sink = std::make_shared<RecordingSink>();
    Scanner scanner(root.string(), optionsWith(), sink);
    const ScanStats stats = scanner.run();
    const auto locked = sink->find("locked");
    if (!locked) problems << "locked not listed; ";
    if (sink->failedFolders() != std::vector<std::uint32_t>{locked ? std::uint32_t(*locked) : 0u})
      problems << "failed folders " << sink->failedFolders().size() << "; ";
    if (!sink->childrenOf("locked").empty()) problems << "locked has children; ";
    // A folder that can be read but not searched: names without attributes.
    const auto inside = sink->find("noexec/inside");
    if (!inside || !(sink->at("noexec/inside").flags & EntryFlags::error))
      problems << "inside not in error; ";
    if (sink->at("ok/file").flags != 0) problems << "ok/file flagged; ";
    if (stats.errors != 2) problems << "errors " << stats.errors << "; ";
    return problems.str();
  });
  EXPECT_EQ(problems, "");
}

TEST(Scanner, FewFileDescriptorsStillScanEverything) {
  // Subfolders open relative to their parent while it is held open; with few descriptors
  // to spare they open by path instead.
  TempDir dir;
  const fs::path root = dir / "root";
  for (int i = 0; i < 40; ++i)
    for (int j = 0; j < 4; ++j) writeSized(root / std::to_string(i) / std::to_string(j) / "deep" / "file", 1);
  const std::string problems = inChild([&] {
    const rlimit few{40, 40};
    if (::setrlimit(RLIMIT_NOFILE, &few) != 0) return std::string("setrlimit failed");
    auto sink = std::make_shared<RecordingSink>();
    Scanner scanner(root.string(), optionsWith(), sink);
    const ScanStats stats = scanner.run();
    std::ostringstream problems;
    if (stats.entries != 40 * (1 + 4 * 3) || stats.errors != 0)
      problems << stats.entries << " entries, " << stats.errors << " errors";
    return problems.str();
  });
  EXPECT_EQ(problems, "");
}

TEST(Scanner, StaysOnOneFileSystemWhenAsked) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root";
  TempDir dir;
  const fs::path root = dir / "root";
  fs::create_directories(root / "tmpfs");
  writeSized(root / "bound-source" / "file", 10);
  fs::create_directories(root / "bound");
  if (::mount("tallyfox-test", (root / "tmpfs").c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  struct Unmount {
    fs::path path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmountTmpfs{root / "tmpfs"};
  writeSized(root / "tmpfs" / "inside", 10);
  // A bind mount of the same file system has the same device: only the mount flag tells.
  ASSERT_EQ(::mount((root / "bound-source").c_str(), (root / "bound").c_str(), nullptr, MS_BIND, nullptr), 0);
  Unmount unmountBind{root / "bound"};

  // A mount that appears after its parent was listed is refused when the folder is opened.
  {
    const int parent = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(parent, 0);
    bool checked = false;
    const int crossing = ScanCalls::openFolderBelow(parent, "tmpfs", true, checked);
    const int error = errno;
    if (crossing >= 0) ::close(crossing);
    if (checked) {
      EXPECT_EQ(crossing, -1);
      EXPECT_EQ(error, EXDEV);
    }
    const int plain = ScanCalls::openFolderBelow(parent, "bound-source", true, checked);
    EXPECT_GE(plain, 0);
    if (plain >= 0) ::close(plain);
    ::close(parent);
  }

  for (const bool oneFileSystem : {true, false}) {
    auto sink = std::make_shared<RecordingSink>();
    Scanner scanner(root.string(), optionsWith([&](ScanOptions& o) { o.oneFileSystem = oneFileSystem; }),
                    sink);
    const ScanStats stats = scanner.run();
    EXPECT_EQ(stats.errors, 0u);
    if (oneFileSystem) {
      EXPECT_EQ(sink->at("tmpfs").flags, EntryFlags::directory | EntryFlags::notDescended);
      EXPECT_TRUE(sink->childrenOf("tmpfs").empty());
      EXPECT_EQ(sink->at("bound").flags, EntryFlags::directory | EntryFlags::notDescended);
      EXPECT_TRUE(sink->childrenOf("bound").empty());
    } else {
      EXPECT_EQ(sink->childrenOf("tmpfs"), std::vector<std::string>{"inside"});
      EXPECT_EQ(sink->childrenOf("bound"), std::vector<std::string>{"file"});
    }
    EXPECT_EQ(sink->childrenOf("bound-source"), std::vector<std::string>{"file"});
  }
}

TEST(Scanner, ScansTheSystemRootWithoutDoubledSlashes) {
  // Everything at the top but /etc is ignored, to keep the scan short.
  std::set<std::string> ignored;
  for (const auto& entry : fs::directory_iterator("/"))
    if (entry.path() != "/etc") ignored.insert(entry.path().string());
  auto sink = std::make_shared<SnapshotBuilderSink>();
  Scanner scanner("/", ScanOptions(std::nullopt, true, ignored), sink);
  EXPECT_EQ(scanner.root(), "/");
  const ScanStats stats = scanner.run();
  const auto tree = SnapshotFile::inMemory(sink->finish(), {"/", {}, stats.seconds});
  std::optional<NodeId> etc;
  for (NodeId child : tree->children(DiskTree::root))
    if (tree->name(child) == "etc") etc = child;
  ASSERT_TRUE(etc);
  EXPECT_EQ(tree->path(*etc), "/etc");
  EXPECT_FALSE(tree->flags(*etc) & EntryFlags::error);
  // Entered, which needs the right path: /etc/hostname or the like.
  ASSERT_FALSE(tree->children(*etc).empty());
  const std::string child = tree->path(tree->children(*etc).first);
  EXPECT_EQ(child.rfind("/etc/", 0), 0u) << child;
  EXPECT_TRUE(fs::exists(fs::symlink_status(child))) << child;
}

TEST(Scanner, CancelledBeforeTheRootIsOpenedReturnsAtOnce) {
  TempDir dir;
  writeSized(dir / "a" / "b", 10);
  auto sink = std::make_shared<RecordingSink>();
  Scanner scanner(dir.path().string(), optionsWith(), sink);
  scanner.cancel();
  const ScanStats stats = scanner.run();
  EXPECT_TRUE(scanner.isCancelled());
  EXPECT_EQ(stats.directories, 1u);
  EXPECT_EQ(stats.entries, 0u);
  EXPECT_EQ(sink->rootCalls(), 1);
  EXPECT_EQ(sink->listings(), 0u);
}

TEST(Scanner, CancelDuringTheScanDrainsTheQueues) {
  TempDir dir;
  for (int i = 0; i < 30; ++i) writeSized(dir / ("d" + std::to_string(i)) / "sub" / "f", 1);
  auto sink = std::make_shared<RecordingSink>();
  Scanner scanner(dir.path().string(), optionsWith(), sink);
  sink->onListing = [&](const DirectoryListing&) { scanner.cancel(); };
  const ScanStats stats = scanner.run();
  EXPECT_TRUE(scanner.isCancelled());
  // The root's listing came in; nothing below it was opened.
  EXPECT_EQ(sink->listings(), 1u);
  EXPECT_EQ(stats.entries, 30u);
}

TEST(Scanner, SpeedChangesDuringTheScanStillYieldTheWholeTree) {
  TempDir dir;
  const fs::path root = dir / "root";
  generateTree(root, 7);
  const std::uint64_t expected = std::stoull(shellOutput("find " + quoted(root) + " | wc -l")) - 1;

  auto sink = std::make_shared<RecordingSink>();
  std::atomic<int> seen{0};
  std::optional<Scanner> scanner;
  scanner.emplace(root.string(), ScanOptions(std::nullopt, true, {}, {}, {}, ScanSpeed::gentle), sink);
  sink->onListing = [&](const DirectoryListing&) {
    // gentle → fast → balanced → gentle → fast ...: threads park and resume meanwhile.
    const int n = seen.fetch_add(1);
    if (n % 5 == 0) scanner->setSpeed(allScanSpeeds[std::size_t(n / 5 % 3)]);
  };
  EXPECT_EQ(scanner->speed(), ScanSpeed::fast);  // before run()
  const ScanStats stats = scanner->run();
  EXPECT_GE(seen.load(), 20);
  EXPECT_EQ(stats.entries, expected);
  EXPECT_EQ(sink->count(), expected + 1);
  EXPECT_EQ(sink->reusedIDs(), 0);
  EXPECT_EQ(stats.errors, 0u);
}

TEST(Scanner, ASpeedChosenBeforeTheScanStartsIsKept) {
  // The app starts run() on a pool thread and may change the speed before that thread runs.
  TempDir dir;
  writeSized(dir / "a" / "file", 1);
  auto sink = std::make_shared<RecordingSink>();
  std::atomic<int> workerSpeed{-1};
  sink->onListing = [&](const DirectoryListing&) { workerSpeed.store(int(::sched_getscheduler(0))); };
  Scanner scanner(dir.path().string(), ScanOptions(std::nullopt, true, {}, {}, {}, ScanSpeed::fast), sink);
  scanner.setSpeed(ScanSpeed::gentle);
  scanner.run();
  EXPECT_EQ(scanner.speed(), ScanSpeed::gentle);
  EXPECT_EQ(workerSpeed.load(), SCHED_BATCH);
}

TEST(Scanner, WorkersTakeThePrioritiesOfTheSpeed) {
  TempDir dir;
  writeSized(dir / "a" / "file", 1);
  for (const ScanSpeed speed : allScanSpeeds) {
    auto sink = std::make_shared<RecordingSink>();
    std::mutex lock;
    std::set<std::pair<int, int>> seen;  // (scheduling policy, I/O priority class) of workers
    sink->onListing = [&](const DirectoryListing&) {
      const int policy = ::sched_getscheduler(0);
      const int ioClass = int(::syscall(SYS_ioprio_get, IOPRIO_WHO_PROCESS, 0)) >> 13;
      std::lock_guard guard(lock);
      seen.insert({policy, ioClass});
    };
    Scanner scanner(dir.path().string(), ScanOptions(std::nullopt, true, {}, {}, {}, speed), sink);
    scanner.run();
    const int policy = speed == ScanSpeed::fast ? SCHED_OTHER : SCHED_BATCH;
    const int ioClass = speed == ScanSpeed::gentle ? IOPRIO_CLASS_IDLE : IOPRIO_CLASS_NONE;
    EXPECT_EQ(seen, (std::set<std::pair<int, int>>{{policy, ioClass}})) << rawValue(speed);
  }
}

TEST(Scanner, TheFastSpeedKeepsThePrioritiesTheScanWasStartedWith) {
  // Whoever runs the scan below the default (a batch class, a lower I/O level) keeps that at
  // the fast speed, also after a gentle stretch.
  TempDir dir;
  writeSized(dir / "a" / "file", 1);
  writeSized(dir / "b" / "file", 1);
  std::set<std::pair<int, int>> seen;  // (scheduling policy, I/O priority) of workers
  std::thread([&] {
    const sched_param none{};
    ASSERT_EQ(::pthread_setschedparam(::pthread_self(), SCHED_BATCH, &none), 0);
    const int lowest = IOPRIO_PRIO_VALUE(IOPRIO_CLASS_BE, 7);
    ASSERT_EQ(::syscall(SYS_ioprio_set, IOPRIO_WHO_PROCESS, 0, lowest), 0);
    auto sink = std::make_shared<RecordingSink>();
    std::mutex lock;
    Scanner* running = nullptr;
    sink->onListing = [&](const DirectoryListing&) {
      std::lock_guard guard(lock);
      seen.insert({::sched_getscheduler(0), int(::syscall(SYS_ioprio_get, IOPRIO_WHO_PROCESS, 0))});
      running->setSpeed(seen.size() % 2 ? ScanSpeed::gentle : ScanSpeed::fast);
    };
    Scanner scanner(dir.path().string(), ScanOptions(1, true, {}, {}, {}, ScanSpeed::fast), sink);
    running = &scanner;
    scanner.run();
  }).join();
  EXPECT_TRUE(seen.count({SCHED_BATCH, IOPRIO_PRIO_VALUE(IOPRIO_CLASS_BE, 7)})) << seen.size();
  for (const auto& [policy, io] : seen) {
    EXPECT_EQ(policy, SCHED_BATCH);
    EXPECT_TRUE(io == IOPRIO_PRIO_VALUE(IOPRIO_CLASS_BE, 7) || io >> 13 == IOPRIO_CLASS_IDLE) << io;
  }
}

TEST(Scanner, AgreesWithDuAndFindOnAGeneratedTree) {
  TempDir dir;
  const fs::path root = dir / "root";
  generateTree(root, 42);
  const std::uint64_t entries = std::stoull(shellOutput("find " + quoted(root) + " | wc -l")) - 1;
  const std::uint64_t duBytes = std::stoull(shellOutput("du -B1 -s " + quoted(root)));
  std::uint64_t folderBlocks = 0;
  std::istringstream blocks(shellOutput("find " + quoted(root) + " -type d -printf '%b\\n'"));
  for (std::uint64_t b; blocks >> b;) folderBlocks += b;

  auto sink = std::make_shared<SnapshotBuilderSink>();
  Scanner scanner(root.string(), ScanOptions(std::nullopt, true), sink);
  const ScanStats stats = scanner.run();
  const TreeColumns columns = sink->finish();
  ASSERT_FALSE(columns.size.empty());
  EXPECT_EQ(columns.size[0], duBytes - folderBlocks * 512);
  EXPECT_EQ(stats.bytes, columns.size[0]);
  EXPECT_EQ(stats.entries, entries);
  EXPECT_EQ(std::uint64_t(columns.nodeCount()), entries + 1);
  EXPECT_EQ(columns.entryCount[0], entries);
}

TEST(Scanner, CountsFullReflinkClonesOnce) {
  std::string why;
  auto image = testsupport::BtrfsImage::create(why);
  if (!image) GTEST_SKIP() << why;
  const fs::path root = image->mountPoint() / "root";
  fs::create_directory(root);
  std::string data(1 << 20, '\0');
  std::mt19937 random(1);
  for (char& c : data) c = char(random());
  testsupport::writeFile(root / "original", data);
  testsupport::writeFile(root / "plain", data);
  ASSERT_EQ(testsupport::runCommand(
                {"cp", "--reflink=always", (root / "original").string(), (root / "clone").string()}),
            0);
  ASSERT_EQ(testsupport::runCommand(
                {"cp", "--reflink=always", (root / "original").string(), (root / "partial").string()}),
            0);
  {
    const int fd = ::open((root / "partial").c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::string patch(65536, 'p');
    ASSERT_EQ(::pwrite(fd, patch.data(), patch.size(), 262144), ssize_t(patch.size()));
    ASSERT_EQ(::fsync(fd), 0);
    ::close(fd);
  }
  testsupport::syncFileSystem(root);

  for (const bool detect : {true, false}) {
    auto sink = std::make_shared<RecordingSink>();
    auto options = optionsWith([&](ScanOptions& o) { o.detectClones = detect; });
    Scanner scanner(root.string(), options, sink);
    const ScanStats stats = scanner.run();
    EXPECT_EQ(stats.errors, 0u);
    const auto& original = sink->at("original");
    const auto& clone = sink->at("clone");
    const std::uint64_t full = allocated(root / "original");
    ASSERT_GE(full, std::uint64_t(1) << 20);
    EXPECT_EQ(sink->at("plain").size, allocated(root / "plain"));
    EXPECT_EQ(sink->at("plain").flags, 0);
    EXPECT_EQ(sink->at("partial").size, allocated(root / "partial"));
    EXPECT_EQ(sink->at("partial").flags, 0);
    if (!detect) {
      EXPECT_EQ(original.size + clone.size, 2 * full);
      continue;
    }
    // Exactly one of the two carries the size.
    EXPECT_EQ(original.size + clone.size, full);
    EXPECT_EQ((original.flags | clone.flags) & EntryFlags::sharedClone, EntryFlags::sharedClone);
    EXPECT_NE(original.flags, clone.flags);
    EXPECT_EQ(stats.bytes, full + sink->at("plain").size + sink->at("partial").size);
  }
}

// As root the scanner reads btrfs's trees folder by folder; anyone else asks FIEMAP file by
// file. On files of every shape, with clones within a folder and across folders, both must
// count the same bytes and mark the same entries (one thread: the same order both times).
TEST(Scanner, BtrfsTreesAndFiemapCountClonesAlike) {
  if (::geteuid() != 0) GTEST_SKIP() << "reading btrfs's trees needs root";
  std::string why;
  auto image = testsupport::BtrfsImage::create(why);
  if (!image) GTEST_SKIP() << why;
  const fs::path root = image->mountPoint() / "root";
  ASSERT_EQ(testsupport::makeExtentShapes(root / "shapes"), "");
  fs::create_directory(root / "copies");
  // Cloned just now: the extent tree learns of these references only when the transaction
  // commits, which the scan has to bring about.
  for (const char* name : {"large", "sparse", "compressed", "range-clone", "block", "partial", "split"})
    ASSERT_TRUE(testsupport::reflinkCopy(root / "shapes" / name, root / "copies" / name)) << name;
  fs::permissions(image->mountPoint().parent_path(), fs::perms::owner_all | fs::perms::group_read |
                                                         fs::perms::group_exec | fs::perms::others_read |
                                                         fs::perms::others_exec);

  const auto scan = [&] {
    auto sink = std::make_shared<RecordingSink>();
    Scanner scanner(root.string(), optionsWith([](ScanOptions& o) { o.threads = 1; }), sink);
    const ScanStats stats = scanner.run();
    std::vector<std::string> lines;
    for (const std::string folder : {"shapes", "copies"})
      for (const std::string& name : sink->childrenOf(folder)) {
        const auto& entry = sink->at(folder + "/" + name);
        lines.push_back(folder + "/" + name + " " + std::to_string(entry.size) + " " +
                        std::to_string(entry.flags));
      }
    std::ostringstream text;
    for (const auto& line : lines) text << line << "\n";
    text << "errors " << stats.errors << " bytes " << stats.bytes << "\n";
    return text.str();
  };
  const std::string byTrees = scan();
  const std::string byFiemap = inChild([&] {
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
      return std::string("cannot become nobody");
    return scan();
  });
  EXPECT_EQ(byTrees, byFiemap);
  // Clones across folders count once, of one extent or several.
  for (const char* name : {"large", "compressed", "range-clone", "block", "sparse", "split"})
    EXPECT_NE(byTrees.find(std::string("copies/") + name + " 0 64\n"), std::string::npos) << name << "\n"
                                                                                          << byTrees;
}
