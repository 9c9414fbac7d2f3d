#include "Commands.h"

#include <tallyfox/SnapshotDump.h>

#include <CLI/CLI.hpp>

#include <iostream>
#include <sstream>
#include <string_view>
#include <vector>

int main(int argc, char** argv) {
  CLI::App app{"tfscan: scan a folder into a Tallyfox snapshot, or summarise, compare and search snapshots"};
  app.set_help_flag("-h,--help", "Show this help and exit");

  std::string dumpFile;
  std::string checkFile;
  std::vector<std::string> diffFiles;
  std::vector<std::string> dupesFiles;
  std::vector<std::string> exportFiles;
  std::vector<std::string> topArgs;
  std::vector<std::string> typesFiles;
  bool json = false;
  tfscan::ScanArgs scan;
  tfscan::DiffArgs diff;
  tfscan::DupesArgs dupes;
  std::string speed;
  std::vector<std::string> historyArgs;
  std::vector<std::string> metricsFiles;
  tfscan::GrowthArgs growth;
  bool dryRun = false;

  auto* dumpOpt = app.add_option("--dump", dumpFile,
                                 "Print a summary of a snapshot (Tallyfox, vok or ncdu/gdu export) and exit");
  auto* checkOpt = app.add_option(
      "--check", checkFile, "Check that a snapshot's tree is sound; exit 1 with the first damage found");
  auto* diffOpt =
      app.add_option("--diff", diffFiles, "Compare two snapshots: OLD NEW [PATH]")->expected(2, 3);
  auto* dupesOpt =
      app.add_option("--dupes", dupesFiles, "Find duplicate files below a snapshot's folder: FILE [PATH]")
          ->expected(1, 2);
  auto* exportOpt =
      app.add_option("--export-ncdu", exportFiles,
                     "Write a snapshot (Tallyfox, vok or export) as the JSON export that ncdu and gdu read: "
                     "OUT SNAPSHOT, OUT - for standard output. Snapshots keep allocated sizes only, so "
                     "\"asize\" equals \"dsize\"")
          ->expected(2);
  auto* topOpt =
      app.add_option("--top", topArgs,
                     "List the N largest files below a snapshot's folder, largest first: N FILE [PATH]")
          ->expected(2, 3);
  auto* typesOpt = app.add_option("--types", typesFiles,
                                  "Bytes and files per kind of file below a snapshot's folder: FILE [PATH]")
                       ->expected(1, 2);
  bool jsonListed = false;
  app.add_flag("--json", jsonListed,
               "With --dump, --diff, --top, --types or --check: print one JSON document");
  CLI::Option* scheduledOpt = app.add_flag("--scheduled")
                                  ->description(
                                      "Scan each scheduled folder at the gentle speed into the snapshots "
                                      "folder, record it with what grew "
                                      "since the folder's previous scheduled snapshot, show a growth alert, "
                                      "and prune; progress and summary "
                                      "lines on standard error");
  CLI::Option* pruneOpt = app.add_flag("--prune")->description(
      "Remove the scheduled snapshots the retention rule lets go, listing each");
  app.add_flag("--dry-run", dryRun, "With --prune: list what would be removed, and remove nothing");
  auto* historyOpt =
      app.add_option("--history", historyArgs,
                     "A folder's size and entries in each snapshot of its place, newest first: "
                     "PATH [SNAPSHOT...] (default: the snapshots folder's)")
          ->expected(1, -1);
  auto* growthOpt = app.add_option("--growth", growth.snapshots,
                                   "The folders that grew most between two snapshots: [OLD NEW] (default: "
                                   "the last two of each scheduled folder)")
                        ->expected(0, 2);
  app.add_option("--threshold", growth.threshold,
                 "With --growth: the growth that counts, e.g. 500MB (default: the growth alert's, 1 GB)")
      ->transform(CLI::AsSizeValue(true));
  auto* metricsOpt =
      app.add_option("--metrics", metricsFiles,
                     "Write a snapshot's largest folders in the Prometheus text format, for "
                     "node_exporter's textfile collector: OUT SNAPSHOT, OUT - for standard output")
          ->expected(2);
  auto* speedOpt = app.add_option("-s,--speed", speed, "Scan speed (default: the saved speed)")
                       ->check(CLI::IsMember({"fast", "balanced", "gentle"}));
  app.add_option("--ignore", scan.ignore, "Folder not to enter (repeatable)");
  app.add_flag("--all-filesystems", scan.allFilesystems, "Also enter other file systems below the root");
  auto* outputOpt = app.add_option("-o,--output", scan.output,
                                   "Snapshot file to write; - for standard output, which then carries the "
                                   "snapshot alone: the summary is left out");
  app.add_flag("--progress", scan.progress,
               "Print progress lines for programs on standard error, five a second and once at the end: "
               "\"progress entries=N bytes=N seconds=S\"");
  app.add_option("-n", diff.limit, "With --diff or --growth: number of lines (default 20)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--depth", diff.depth, "With --diff: also show the largest changes this many levels below")
      ->check(CLI::NonNegativeNumber);
  app.add_flag("--replace", dupes.replace, "With --dupes: replace the extra copies by clones");
  app.add_flag("-y,--yes", dupes.yes, "With --replace: do not ask for confirmation");
  auto* pathOpt = app.add_option("PATH", scan.path, "Folder to scan");

  dumpOpt->excludes(diffOpt)->excludes(dupesOpt)->excludes(pathOpt)->excludes(checkOpt)->excludes(exportOpt);
  checkOpt->excludes(diffOpt)->excludes(dupesOpt)->excludes(pathOpt)->excludes(exportOpt);
  diffOpt->excludes(dupesOpt)->excludes(pathOpt)->excludes(exportOpt);
  dupesOpt->excludes(pathOpt)->excludes(exportOpt);
  exportOpt->excludes(pathOpt);
  for (auto* other : {dumpOpt, checkOpt, diffOpt, dupesOpt, exportOpt, pathOpt, typesOpt})
    topOpt->excludes(other);
  for (auto* other : {dumpOpt, checkOpt, diffOpt, dupesOpt, exportOpt, pathOpt}) typesOpt->excludes(other);
  const std::vector<CLI::Option*> modes{dumpOpt,  checkOpt,     diffOpt,  dupesOpt,   exportOpt, topOpt,
                                        typesOpt, scheduledOpt, pruneOpt, historyOpt, growthOpt, metricsOpt};
  for (CLI::Option* timeline : {scheduledOpt, pruneOpt, historyOpt, growthOpt, metricsOpt}) {
    timeline->excludes(pathOpt);
    for (CLI::Option* other : modes)
      if (other != timeline) timeline->excludes(other);
  }

  try {
    // "--json" is taken out before parsing: the parser would give it as the value of an option
    // it follows ("--types --json FILE"), as it gives any word after an option that needs one.
    std::vector<char*> words;
    for (int k = 0; k < argc; ++k) {
      if (k > 0 && std::string_view(argv[k]) == "--json")
        json = true;
      else
        words.push_back(argv[k]);
    }
    app.parse(int(words.size()), words.data());
  } catch (const CLI::ParseError& e) {
    // The parser's messages quote the arguments that it could not take, which may be names.
    std::ostringstream errors;
    const int status = app.exit(e, std::cout, errors);
    std::istringstream text(errors.str());
    for (std::string line; std::getline(text, line);)
      std::cerr << tallyfox::SnapshotDump::terminalSafe(line) << "\n";
    return status == 0 ? 0 : 2;
  }

  if (json && !*dumpOpt && !*checkOpt && !*diffOpt && !*topOpt && !*typesOpt) {
    std::cerr << "tfscan: --json goes with --dump, --check, --diff, --top or --types\n";
    return 2;
  }
  if (*dumpOpt) return tfscan::runDump(dumpFile, json);
  if (*checkOpt) return tfscan::runCheck(checkFile, json);
  if (*scheduledOpt) return tfscan::runScheduled();
  if (*pruneOpt) return tfscan::runPrune(dryRun);
  if (dryRun) {
    std::cerr << "tfscan: --dry-run goes with --prune\n";
    return 2;
  }
  if (*historyOpt)
    return tfscan::runHistory({historyArgs.front(), {historyArgs.begin() + 1, historyArgs.end()}});
  if (*growthOpt) {
    // The parser gives an option that may take no value one empty value when it takes none.
    if (growth.snapshots == std::vector<std::string>{""}) growth.snapshots.clear();
    if (growth.snapshots.size() == 1) {
      std::cerr << "tfscan: --growth takes two snapshots, OLD and NEW, or none\n";
      return 2;
    }
    growth.limit = diff.limit;
    return tfscan::runGrowth(growth);
  }
  if (growth.threshold) {
    std::cerr << "tfscan: --threshold goes with --growth\n";
    return 2;
  }
  if (*metricsOpt) return tfscan::runMetrics(metricsFiles[0], metricsFiles[1]);
  if (*topOpt) {
    tfscan::TopArgs top;
    try {
      std::size_t used = 0;
      top.count = std::stoi(topArgs[0], &used);
      if (used != topArgs[0].size() || top.count < 0) throw std::invalid_argument(topArgs[0]);
    } catch (const std::exception&) {
      std::cerr << "tfscan: --top needs a count of files first, as in --top 20 FILE\n";
      return 2;
    }
    top.file = topArgs[1];
    if (topArgs.size() > 2) top.path = topArgs[2];
    top.json = json;
    return tfscan::runTop(top);
  }
  if (*typesOpt) {
    tfscan::TypesArgs types;
    types.file = typesFiles[0];
    if (typesFiles.size() > 1) types.path = typesFiles[1];
    types.json = json;
    return tfscan::runTypes(types);
  }
  if (*exportOpt) return tfscan::runExportNcdu(exportFiles[0], exportFiles[1]);
  if (*diffOpt) {
    diff.oldFile = diffFiles[0];
    diff.newFile = diffFiles[1];
    diff.json = json;
    if (diffFiles.size() > 2) diff.path = diffFiles[2];
    return tfscan::runDiff(diff);
  }
  if (*dupesOpt) {
    dupes.file = dupesFiles[0];
    if (dupesFiles.size() > 1) dupes.path = dupesFiles[1];
    return tfscan::runDupes(dupes);
  }
  if (!*pathOpt) {
    std::cerr << "tfscan: a folder to scan is required (see --help)\n";
    return 2;
  }
  if (*speedOpt) scan.speed = speed;
  (void)outputOpt;
  return tfscan::runScan(scan);
}
