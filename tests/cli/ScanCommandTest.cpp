#include <tallyfox/SnapshotFile.h>

#include "Subprocess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <sstream>

using namespace tallyfox;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

using testsupport::runTfscan;

using testsupport::lines;

std::vector<fs::path> filesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored)) files.push_back(entry.path());
  return files;
}

}  // namespace

TEST(ScanCommand, ScansARelativePathIntoTheGivenFile) {
  testsupport::ScopedHome home;
  TempDir temp;
  testsupport::writeFile(temp / "root" / "big" / "data", std::string(100000, 'x'));
  testsupport::writeFile(temp / "root" / "small", "hello");
  fs::create_directories(temp / "root" / "kept" / "ignored-by-option" / "deep");
  fs::create_directories(temp / "root" / "ignored-by-environment" / "deep");
  ::setenv("VOK_IGNORE_DIRS", ("::" + (temp / "root" / "ignored-by-environment").string()).c_str(), 1);
  const auto output = temp / "scan.tfsnap";

  const testsupport::ProgramRun run =
      runTfscan({"-s", "gentle", "--ignore", (temp / "root/kept/ignored-by-option").string(), "-o",
                 output.string(), "root/"},
                temp.path());
  ::unsetenv("VOK_IGNORE_DIRS");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");  // not a terminal: no progress line

  const auto tree = SnapshotFile::map(output);
  const std::string root = (temp / "root").string();
  EXPECT_EQ(tree->rootPath(), root);
  EXPECT_EQ(tree->nodeCount(), 6);
  EXPECT_EQ(tree->name(tree->children(DiskTree::root).first), "big");
  for (NodeId id = 1; id < tree->totalNodes(); ++id) {
    const bool skipped = tree->name(id).rfind("ignored-by-", 0) == 0;
    EXPECT_EQ(tree->wasSkipped(id), skipped) << tree->path(id);
  }

  const auto out = lines(run.out);
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ(out[0].rfind("entries: 6  total: ", 0), 0u) << out[0];
  EXPECT_EQ(out[1], "root: " + root);
  EXPECT_EQ(out.back(), "snapshot: " + output.string());
  // Nothing else was written: no temporary file, nothing in the snapshots folder.
  EXPECT_EQ(filesIn(temp.path()).size(), 2u);  // root and scan.tfsnap
  EXPECT_TRUE(filesIn(home.path() / ".local/share/tallyfox").empty());
}

TEST(ScanCommand, WritesIntoTheSnapshotsFolderByDefault) {
  testsupport::ScopedHome home;
  TempDir temp;
  testsupport::writeFile(temp / "Photos" / "one.jpg", "jpeg");
  const testsupport::ProgramRun run = runTfscan({(temp / "Photos").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto written = filesIn(home.path() / ".local/share/tallyfox");
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0].filename().string().rfind("Photos-", 0), 0u) << written[0];
  EXPECT_EQ(written[0].extension(), ".tfsnap");
  EXPECT_EQ(lines(run.out).back(), "snapshot: " + written[0].string());
  EXPECT_EQ(SnapshotFile::map(written[0])->nodeCount(), 1);
}

TEST(ScanCommand, ARootThatCannotBeScannedIsOneLineAndExitOne) {
  testsupport::ScopedHome home;
  TempDir temp;
  testsupport::writeFile(temp / "file", "x");
  for (const auto& [path, reason] :
       {std::pair<std::string, std::string>{"missing", "No such file or directory"},
        {"file", "Not a directory"}}) {
    const std::string given = (temp / path).string();
    const testsupport::ProgramRun run = runTfscan({"-o", (temp / "x.tfsnap").string(), given});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "tfscan: " + given + ": " + reason + "\n");
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(fs::exists(temp / "x.tfsnap"));
  }
}

TEST(ScanCommand, InterruptCancelsAndWritesNothing) {
  testsupport::ScopedHome home;
  TempDir temp;
  for (int i = 0; i < 200; ++i)
    testsupport::writeFile(temp / "root" / std::to_string(i % 20) / std::to_string(i), "x");
  fs::create_directory(temp / "out");
  const auto output = temp / "out" / "scan.tfsnap";

  // Standard output is a full pipe: tfscan cannot finish before the test drains it, so the
  // interrupt always lands while it runs (in the scan, or at the latest before it exits).
  int outPipe[2];
  ASSERT_EQ(::pipe2(outPipe, O_CLOEXEC), 0);
  ASSERT_EQ(::fcntl(outPipe[1], F_SETFL, O_NONBLOCK), 0);
  const std::string filler(4096, 'f');
  while (::write(outPipe[1], filler.data(), filler.size()) > 0) {
  }
  ASSERT_EQ(::fcntl(outPipe[1], F_SETFL, 0), 0);
  // Standard error is a terminal, so that tfscan shows progress: its first line says that
  // the interrupt watch is in place.
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string terminal = ::ptsname(master);

  std::vector<std::string> words{TFSCAN_PATH, "-o", output.string(), (temp / "root").string()};
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int slave = ::open(terminal.c_str(), O_RDWR | O_NOCTTY);
    if (slave < 0 || ::dup2(slave, 2) < 0 || ::dup2(outPipe[1], 1) < 0) ::_exit(126);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);

  std::string progress;
  char buffer[4096];
  while (progress.empty()) {
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    progress.append(buffer, std::size_t(n));
  }
  ASSERT_FALSE(progress.empty()) << "tfscan showed no progress";
  ASSERT_EQ(::kill(child, SIGINT), 0);

  // Drain both streams until tfscan has closed them.
  bool outOpen = true, terminalOpen = true;
  while (outOpen || terminalOpen) {
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {master, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) break;
    if (fds[0].revents) outOpen = ::read(outPipe[0], buffer, sizeof buffer) > 0;
    if (fds[1].revents) {
      const ssize_t n = ::read(master, buffer, sizeof buffer);
      if (n > 0) progress.append(buffer, std::size_t(n));
      terminalOpen = n > 0;
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::close(outPipe[0]);
  ::close(master);

  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_NE(progress.find(" entries "), std::string::npos) << progress;
  EXPECT_NE(progress.find("tfscan: interrupted, no snapshot written"), std::string::npos) << progress;
  EXPECT_TRUE(filesIn(temp / "out").empty());
  EXPECT_TRUE(filesIn(home.path() / ".local/share/tallyfox").empty());
}

TEST(ScanCommand, EntriesThatCouldNotBeReadAreNamedButTheSnapshotIsWritten) {
  testsupport::ScopedHome home;
  TempDir temp;
  const fs::path root = temp / "root";
  testsupport::writeFile(root / "ok" / "file", "fine");
  testsupport::writeFile(root / "locked" / "secret", "hidden");
  fs::permissions(root / "locked", fs::perms::none);
  const auto output = temp / "scan.tfsnap";
  std::vector<std::string> words = {"-o", output.string(), root.string()};
  // Root reads everything: scan with the eyes of nobody.
  if (::geteuid() == 0) {
    ASSERT_EQ(testsupport::runCommand({"chown", "-R", "65534:65534", temp.path().string()}), 0);
    words.insert(words.begin(),
                 {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--", TFSCAN_PATH});
  } else {
    words.insert(words.begin(), TFSCAN_PATH);
  }
  const auto run = testsupport::runProgram(words);
  fs::permissions(root / "locked", fs::perms::owner_all);

  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(lines(run.err), (std::vector<std::string>{"tfscan: 1 entry could not be read:",
                                                      "  " + (root / "locked").string()}));
  EXPECT_EQ(SnapshotFile::map(output)->errorCount(), 1u);
}
