#include "Commands.h"

#include <tallyfox/AtomicFile.h>
#include <tallyfox/ByteFormat.h>
#include <tallyfox/Preferences.h>
#include <tallyfox/ProgressRecord.h>
#include <tallyfox/Scanner.h>
#include <tallyfox/SnapshotBuilderSink.h>
#include <tallyfox/SnapshotDump.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotPaths.h>

#include "InterruptWatch.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace tfscan {

namespace {

std::string progressLine(std::uint64_t entries, std::uint64_t bytes, double seconds) {
  const auto rate = std::uint64_t(seconds > 0.05 ? double(entries) / seconds : 0);
  return "\r" + std::to_string(entries) + " entries  " + tallyfox::formatFileBytes(bytes) + "  " +
         std::to_string(rate) + " entries/s\x1b[K";
}

// The file a scan of `root` begun at `started` is written to, checked: a snapshot that
// could not be written is not scanned for. Nothing, with the reason printed, when it cannot
// be written.
std::optional<std::filesystem::path> fileToWrite(const ScanArgs& args, const std::filesystem::path& folder,
                                                 const std::string& root,
                                                 std::chrono::system_clock::time_point started) {
  std::filesystem::path destination;
  try {
    destination = args.output ? std::filesystem::path(*args.output)
                              : tallyfox::SnapshotsFolder::newSnapshotPath(folder, root, started);
  } catch (const std::system_error& e) {
    writeError(std::string("tfscan: ") + e.what());
    return std::nullopt;
  }
  try {
    tallyfox::checkWritable(destination);
  } catch (const std::system_error& e) {
    writeError("tfscan: " + destination.string() + ": " + cannotWriteReason(e));
    return std::nullopt;
  }
  return destination;
}

// The entries that could not be read stay in the snapshot, flagged; the person running the
// scan is told how many, and where the first few are, so they need not search for them.
void reportUnreadable(const tallyfox::DiskTree& tree) {
  constexpr std::size_t shown = 5;
  const std::uint64_t count = tree.errorCount();
  if (count == 0) return;
  std::vector<tallyfox::NodeId> first;
  const auto flags = tree.flagsColumn();
  for (std::size_t id = 0; id < flags.size() && first.size() < shown; ++id)
    if (flags[id] & tallyfox::EntryFlags::error) first.push_back(tallyfox::NodeId(id));
  writeError("tfscan: " + std::to_string(count) + (count == 1 ? " entry" : " entries") +
             " could not be read" +
             (count > first.size() ? ", the first " + std::to_string(first.size()) : "") + ":");
  for (const tallyfox::NodeId id : first) writeError("  " + tree.path(id));
}

int interruptedExit(const std::filesystem::path* written) {
  if (written) {
    std::error_code ignored;
    std::filesystem::remove(*written, ignored);
  }
  writeError("tfscan: interrupted, no snapshot written");
  return exitInterrupted;
}

// The snapshot on standard output carries nothing else: the summary is left out, and only
// the number of entries that could not be read is told, on standard error.
int streamSnapshot(const tallyfox::ArrangedColumns& columns, const tallyfox::SnapshotFile::Info& info) {
  try {
    tallyfox::SnapshotFile::stream(columns, info, STDOUT_FILENO);
  } catch (const std::system_error& e) {
    writeError("tfscan: standard output: " + e.code().message());
    return 1;
  } catch (const std::exception& e) {
    writeError(std::string("tfscan: standard output: ") + e.what());
    return 1;
  }
  std::uint64_t unreadable = 0;
  columns.forEachPiece(4, [&](std::span<const std::uint8_t> flags) {
    for (const std::uint8_t f : flags) unreadable += (f & tallyfox::EntryFlags::error) != 0;
  });
  if (unreadable > 0)
    writeError("tfscan: " + std::to_string(unreadable) + (unreadable == 1 ? " entry" : " entries") +
               " could not be read");
  return 0;
}

}  // namespace

int runScan(const ScanArgs& args) {
  using namespace tallyfox;
  const std::string root = pathFromCommandLine(args.path);
  const auto preferences = userPreferences();
  ScanSpeed speed = preferences ? preferences->scanSpeed() : ScanSpeed::fast;
  if (args.speed)
    if (const auto chosen = scanSpeedFromRawValue(*args.speed)) speed = *chosen;
  std::set<std::string> ignored = ignoredFoldersFromEnvironment();
  for (const std::string& folder : args.ignore) ignored.insert(PathText::expandTilde(folder));

  const auto started = std::chrono::system_clock::now();
  const std::filesystem::path folder = SnapshotsFolder::ofUser(preferences);
  const bool toStandardOutput = args.output && isStandardOutput(*args.output);
  if (toStandardOutput && ::isatty(STDOUT_FILENO)) {
    writeError("tfscan: a snapshot is not written to a terminal: redirect standard output, or name a file");
    return 1;
  }
  if (!toStandardOutput && !fileToWrite(args, folder, root, started)) return 1;

  auto sink = std::make_shared<SnapshotBuilderSink>();
  Scanner scanner(root, ScanOptions(std::nullopt, !args.allFilesystems, ignored, {}, {}, speed), sink);
  const auto clockStart = std::chrono::steady_clock::now();
  auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - clockStart).count();
  };
  std::atomic<bool> showProgress{!args.progress && ::isatty(STDERR_FILENO)};
  // The last record carries the final counts: none may follow it.
  std::mutex recordLock;
  bool recordsEnded = false;
  auto writeRecord = [&](bool last) {
    const std::lock_guard lock(recordLock);
    if (recordsEnded) return;
    recordsEnded = last;
    const std::string line =
        tallyfox::ProgressRecord{scanner.progressEntries(), scanner.progressBytes(), elapsed()}.line();
    std::fwrite(line.data(), 1, line.size(), stderr);
    // Records are read by whoever runs the scan from afar (ssh, pkexec); when nobody reads
    // them any more, that reader has gone and the scan is nobody's: stop, as on Ctrl-C,
    // even where a broken pipe does not end the process by itself.
    if (std::fflush(stderr) != 0 || std::ferror(stderr)) scanner.cancel();
  };

  InterruptWatch watch([&] { scanner.cancel(); },
                       [&] {
                         if (args.progress) writeRecord(false);
                         if (!showProgress.load()) return;
                         const std::string line =
                             progressLine(scanner.progressEntries(), scanner.progressBytes(), elapsed());
                         std::fwrite(line.data(), 1, line.size(), stderr);
                         std::fflush(stderr);
                       });
  auto endProgress = [&] {
    if (args.progress) writeRecord(true);
    if (showProgress.exchange(false)) {
      std::fputs("\r\x1b[K", stderr);
      std::fflush(stderr);
    }
  };

  ScanStats stats;
  try {
    stats = scanner.run();
  } catch (const std::system_error& e) {
    endProgress();
    writeError("tfscan: " + args.path + ": " + e.code().message());
    return 1;
  } catch (const std::exception& e) {
    endProgress();
    writeError("tfscan: " + args.path + ": " + e.what());
    return 1;
  }
  endProgress();
  if (scanner.isCancelled() || watch.interrupted()) return interruptedExit(nullptr);

  std::optional<ArrangedColumns> columns(sink->finishArranged());
  if (watch.interrupted()) return interruptedExit(nullptr);
  const SnapshotFile::Info info{root, started, stats.seconds};
  // Once bytes have gone out, an interrupt cannot take them back: the stream is finished.
  if (toStandardOutput) return streamSnapshot(*columns, info);
  // Asked again: the name first chosen may have been taken during the scan.
  const std::optional<std::filesystem::path> file = fileToWrite(args, folder, root, started);
  if (!file) return 1;
  const std::filesystem::path& destination = *file;
  DiskTreePtr tree;
  try {
    SnapshotFile::write(*columns, info, destination, SnapshotFile::Cache::bypass);
    // The tree in memory goes before the file's pages come in, which would add to it.
    columns.reset();
    tree = SnapshotFile::map(destination);
  } catch (const std::system_error& e) {
    writeError("tfscan: " + destination.string() + ": " + cannotWriteReason(e));
    return 1;
  } catch (const std::exception& e) {
    writeError("tfscan: " + destination.string() + ": " + e.what());
    return 1;
  }
  if (watch.interrupted()) return interruptedExit(&destination);

  const std::string summary = SnapshotDump::summary(*tree, stats.seconds);
  if (reportChange(*tree, destination.string())) return 1;
  std::cout << summary << "snapshot: " << SnapshotDump::terminalSafe(destination.string()) << std::endl;
  reportUnreadable(*tree);
  // Past this point an interrupt can no longer be seen: it stays blocked until exit.
  watch.stop();
  if (watch.interrupted()) return interruptedExit(&destination);
  return 0;
}

}  // namespace tfscan
