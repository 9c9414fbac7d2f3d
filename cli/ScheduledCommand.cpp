#include "Commands.h"
#include "InterruptWatch.h"

#include <tallyfox/AtomicFile.h>
#include <tallyfox/ByteFormat.h>
#include <tallyfox/GrowthReport.h>
#include <tallyfox/Preferences.h>
#include <tallyfox/Scanner.h>
#include <tallyfox/ScheduledSnapshots.h>
#include <tallyfox/SnapshotBuilderSink.h>
#include <tallyfox/SnapshotDump.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotPaths.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

extern char** environ;

namespace tfscan {

namespace {

using namespace tallyfox;
using Clock = std::chrono::system_clock;
namespace fs = std::filesystem;

// A scheduled scan runs for minutes in the background: a line now and then says it is alive
// without flooding the journal.
constexpr auto progressEvery = std::chrono::seconds(30);
// The command that shows a growth alert as a desktop notification, and the variable that
// replaces it (for tests, or another notifier).
constexpr const char* notifierName = "tallyfox";
constexpr const char* notifierVariable = "TALLYFOX_NOTIFIER";

// Lines on standard error, one event each. Under systemd, standard error is the journal: each
// line then begins with its syslog priority ("<4>"), which the journal takes as the entry's
// level instead of showing it. Elsewhere the lines are plain.
class Journal {
 public:
  Journal() : prefixed_(stderrIsJournal()) {}
  void info(const std::string& text) const { write(6, text); }
  void notice(const std::string& text) const { write(5, text); }
  void warning(const std::string& text) const { write(4, text); }
  void error(const std::string& text) const { write(3, text); }

 private:
  // systemd names the journal's stream in JOURNAL_STREAM as "device:inode".
  static bool stderrIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat status {};
    if (!stream || ::fstat(STDERR_FILENO, &status) != 0) return false;
    unsigned long long device = 0, inode = 0;
    return std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 && device == status.st_dev &&
           inode == status.st_ino;
  }

  void write(int priority, const std::string& text) const {
    std::string line = prefixed_ ? "<" + std::to_string(priority) + ">" : "";
    line += "tfscan: ";
    // Names come from the disk; the journal is read on terminals.
    line += SnapshotDump::terminalSafe(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
  }

  bool prefixed_;
};

std::string seconds(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", value);
  return text;
}

// The scheduled scan of one place that went into the snapshots folder.
struct Scanned {
  fs::path file;
  DiskTreePtr tree;
};

enum class ScanEnd { scanned, failed, interrupted };

// Scans `root` at the gentle speed into a new snapshot in `folder` named for `started`.
ScanEnd scanPlace(const std::string& root, const fs::path& folder, Clock::time_point started,
                  const Journal& journal, Scanned& out) {
  fs::path destination;
  try {
    destination = SnapshotsFolder::newSnapshotPath(folder, root, started);
    checkWritable(destination);
  } catch (const std::system_error& e) {
    journal.error((destination.empty() ? folder : destination).string() + ": " + cannotWriteReason(e));
    return ScanEnd::failed;
  }

  ScanOptions options(std::nullopt, /*oneFileSystem=*/true, ignoredFoldersFromEnvironment(), {}, {},
                      ScanSpeed::gentle);
  auto sink = std::make_shared<SnapshotBuilderSink>();
  Scanner scanner(root, std::move(options), sink);
  const auto clockStart = std::chrono::steady_clock::now();
  auto nextLine = clockStart + progressEvery;
  InterruptWatch watch([&] { scanner.cancel(); },
                       [&] {
                         const auto now = std::chrono::steady_clock::now();
                         if (now < nextLine) return;
                         nextLine = now + progressEvery;
                         journal.info(root + ": " + std::to_string(scanner.progressEntries()) + " entries, " +
                                      formatFileBytes(scanner.progressBytes()) + " so far");
                       },
                       {SIGINT, SIGTERM});
  // Said once an interrupt is a request: from here on, stopping the run loses nothing.
  journal.info("scanning " + root + " at the gentle speed");
  ScanStats stats;
  try {
    stats = scanner.run();
  } catch (const std::system_error& e) {
    journal.error(root + ": " + e.code().message());
    return ScanEnd::failed;
  } catch (const std::exception& e) {
    journal.error(root + ": " + e.what());
    return ScanEnd::failed;
  }
  watch.stop();
  if (scanner.isCancelled() || watch.interrupted()) return ScanEnd::interrupted;

  try {
    // Named again: another scan may have taken the name meanwhile.
    destination = SnapshotsFolder::newSnapshotPath(folder, root, started);
    SnapshotFile::write(sink->finishArranged(), {root, started, stats.seconds}, destination,
                        SnapshotFile::Cache::bypass);
    out = {destination, SnapshotFile::map(destination)};
  } catch (const std::system_error& e) {
    journal.error(destination.string() + ": " + cannotWriteReason(e));
    return ScanEnd::failed;
  } catch (const std::exception& e) {
    journal.error(destination.string() + ": " + e.what());
    return ScanEnd::failed;
  }
  journal.info(root + ": " + std::to_string(out.tree->nodeCount()) + " entries, " +
               formatFileBytes(out.tree->sizeOf(DiskTree::root)) + " in " + seconds(stats.seconds) +
               ", written to " + destination.string());
  if (const std::uint64_t unreadable = out.tree->errorCount())
    journal.warning(root + ": " + std::to_string(unreadable) + (unreadable == 1 ? " entry" : " entries") +
                    " could not be read");
  return ScanEnd::scanned;
}

// The place's previous scheduled snapshot that is still there, and what its run recorded.
struct Previous {
  fs::path file;
  DiskTreePtr tree;
  std::optional<GrowthReport::VolumeSpace> space;
};

Previous previousOf(const std::string& root, const fs::path& folder, Clock::time_point started,
                    const Journal& journal) {
  const auto index = ScheduledSnapshots::read(folder);
  if (index.damage) return {};
  const std::string place = SnapshotPaths::canonical(root);
  const ScheduledSnapshots::Entry* latest = nullptr;
  for (const auto& entry : index.entries) {
    if (entry.started >= started || SnapshotPaths::canonical(entry.place) != place) continue;
    std::error_code missing;
    if (!fs::exists(folder / entry.file, missing)) continue;
    if (!latest || entry.started > latest->started) latest = &entry;
  }
  if (!latest) return {};
  Previous previous{folder / latest->file, nullptr, latest->growth ? latest->growth->space : std::nullopt};
  try {
    previous.tree = SnapshotFile::map(previous.file);
  } catch (const std::exception& e) {
    journal.warning("not compared with " + previous.file.string() + ": " + e.what());
  }
  return previous;
}

void tellGrowth(const GrowthReport::Report& report, const Journal& journal) {
  for (const auto& f : report.folders)
    journal.notice(f.path + " grew by " + formatFileBytes(std::uint64_t(f.grew())) + " to " +
                   formatFileBytes(f.newBytes) + " since the previous snapshot");
  if (report.spaceFellLow && report.space)
    journal.notice("free space on the volume of " + report.place + " fell to " +
                   formatFileBytes(report.space->freeBytes) + " of " +
                   formatFileBytes(report.space->totalBytes));
}

// Of several places that alert in one run, the one the notification is about: at most one
// notification per run. Space running out first, then the largest growth.
const GrowthReport::Report* mostUrgent(const std::vector<GrowthReport::Report>& alerts) {
  const GrowthReport::Report* best = nullptr;
  auto rank = [](const GrowthReport::Report& r) {
    return std::pair(r.spaceFellLow, r.folders.empty() ? std::int64_t(0) : r.folders.front().grew());
  };
  for (const auto& report : alerts)
    if (!best || rank(report) > rank(*best)) best = &report;
  return best;
}

// The notifier: the variable's program, else the tallyfox installed beside this tfscan, else
// the one on PATH.
std::string notifierProgram() {
  if (const char* chosen = std::getenv(notifierVariable); chosen && *chosen) return chosen;
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (!error) {
    const fs::path beside = self.parent_path() / notifierName;
    if (::access(beside.c_str(), X_OK) == 0) return beside.string();
  }
  return notifierName;
}

// Starts `words` in a session of its own, with standard input and output on /dev/null and the
// interrupts this run blocked back to their defaults. Standard error stays ours, so that what
// the program says reaches the journal too.
struct Spawned {
  pid_t pid = -1;
  int error = 0;  // why it could not be started
};

Spawned spawn(std::vector<std::string> words) {
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  ::posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  ::posix_spawnattr_setsigmask(&attributes, &none);
  ::posix_spawnattr_setsigdefault(&attributes, &defaults);
  ::posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int status = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  ::posix_spawnattr_destroy(&attributes);
  ::posix_spawn_file_actions_destroy(&actions);
  return status == 0 ? Spawned{pid, 0} : Spawned{-1, status};
}

// Under systemd the run is a service, and a service's remaining processes are ended with it:
// a notifier started directly would be killed as soon as this run ends, before anyone saw its
// notification. systemd-run gives it a unit of its own in the user's manager, which outlives the
// run. Answers whether it did.
bool notifyAsOwnUnit(const std::vector<std::string>& notifier, const Journal& journal) {
  if (!std::getenv("INVOCATION_ID")) return false;
  std::vector<std::string> words{"systemd-run", "--user", "--quiet", "--collect", "--"};
  words.insert(words.end(), notifier.begin(), notifier.end());
  const auto started = spawn(words);
  int status = -1;
  // Waited for only while it hands the notifier to the manager, which takes a moment.
  if (started.pid > 0)
    while (::waitpid(started.pid, &status, 0) < 0 && errno == EINTR) {
    }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  journal.warning(
      "systemd-run could not start the notifier as a unit of its own; starting it directly, "
      "where it may end with this run");
  return false;
}

// Starts the notifier and leaves it: a notification waits for the person, the scheduled run
// does not.
void notify(const std::string& snapshot, const Journal& journal) {
  const std::vector<std::string> notifier{notifierProgram(), "--growth-alert", snapshot};
  const std::string& program = notifier.front();
  if (notifyAsOwnUnit(notifier, journal)) {
    journal.info("growth alert handed to " + program + " for " + snapshot + ", as a unit of its own");
    return;
  }
  const auto started = spawn(notifier);
  if (started.pid > 0) {
    journal.info("growth alert handed to " + program + " for " + snapshot);
    return;
  }
  // No desktop (a server, a container) is no failure of the scan: the report stays in the index.
  journal.warning("no growth alert shown: " + program + " could not be started (" +
                  std::error_code(started.error, std::generic_category()).message() +
                  "); the report is kept with the snapshot's entry in the index");
}

}  // namespace

int runScheduled() {
  const Journal journal;
  const auto injected = std::getenv(clockVariable) != nullptr;
  const auto now = timelineNow();
  if (!now) return 2;
  const auto preferences = userPreferences();
  const fs::path folder = SnapshotsFolder::ofUser(preferences);
  const std::vector<std::string> places =
      preferences ? preferences->scheduledFolders() : std::vector<std::string>{};
  const std::uint64_t threshold =
      preferences ? preferences->growthAlertBytes() : GrowthReport::defaultThreshold;
  if (places.empty()) {
    journal.error("no folder is scheduled (and no home folder to take instead)");
    return 1;
  }

  bool failed = false;
  std::vector<GrowthReport::Report> alerts;
  for (const std::string& place : places) {
    const std::string root = pathFromCommandLine(place);
    const Clock::time_point started = injected ? *now : Clock::now();
    Scanned scanned;
    const ScanEnd end = scanPlace(root, folder, started, journal, scanned);
    if (end == ScanEnd::interrupted) {
      journal.warning("interrupted while scanning " + root + "; no snapshot written, nothing pruned");
      return exitInterrupted;
    }
    if (end == ScanEnd::failed) {
      failed = true;
      continue;
    }

    const Previous previous = previousOf(root, folder, started, journal);
    GrowthReport::Inputs inputs{root,
                                scanned.file,
                                scanned.tree,
                                previous.file,
                                previous.tree,
                                threshold,
                                GrowthReport::volumeSpace(root),
                                previous.space};
    GrowthReport::Report report = GrowthReport::report(inputs);
    try {
      if (const auto damage =
              ScheduledSnapshots::record(folder, {scanned.file.filename().string(), root, started, report}))
        journal.warning(std::string("the index of scheduled snapshots was damaged (") + *damage +
                        "); it was set aside and begun anew, so older snapshots are no longer pruned");
    } catch (const std::system_error& e) {
      // Unrecorded, the snapshot is the person's to keep: it is never pruned.
      journal.error((folder / ScheduledSnapshots::indexName).string() + ": " + e.code().message() + "; " +
                    scanned.file.string() + " is kept but not pruned later");
      failed = true;
    }
    if (!previous.tree) journal.info(root + ": no earlier scheduled snapshot to compare with");
    tellGrowth(report, journal);
    if (report.alert()) alerts.push_back(std::move(report));
  }

  try {
    const auto pruned = ScheduledSnapshots::prune(folder, injected ? *now : Clock::now(), false);
    if (pruned.damage)
      journal.warning(std::string("nothing pruned: the index of scheduled snapshots is damaged (") +
                      *pruned.damage + ")");
    for (const std::string& line : prunedLines(pruned, false)) journal.info(line);
  } catch (const std::system_error& e) {
    journal.error("cannot prune " + folder.string() + ": " + e.code().message());
    failed = true;
  }

  if (const auto* alert = mostUrgent(alerts)) notify(alert->snapshot, journal);
  return failed ? 1 : 0;
}

}  // namespace tfscan
