// Writers killed with SIGKILL at moments drawn from a fixed seed: a file under the final
// name is always complete, only the writer's own temporaries are ever left, and the next
// write of the same destination clears those.

#include "../../core/src/linux/FileIO.h"

#include "Subprocess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

using namespace tallyfox;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint64_t seed = 20261207;

// Starts words[0] with the other words as arguments, output dropped.
pid_t start(const std::vector<std::string>& words) {
  std::vector<std::string> copies(words);
  std::vector<char*> argv;
  for (auto& word : copies) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return child;
}

// Kills the child `after` its start (unless it ended before); true when the kill came first.
bool killAfter(pid_t child, Clock::duration after) {
  std::this_thread::sleep_for(after);
  const bool killed = ::kill(child, SIGKILL) == 0;
  int status = 0;
  ::waitpid(child, &status, 0);
  return killed && WIFSIGNALED(status);
}

// The names in `folder` other than `file` and its writers' temporaries
// ("." + file + "." + pid, an optional random part, ".tmp").
std::vector<std::string> strangers(const fs::path& folder, const std::string& file, int* temporaries) {
  const std::regex temporary("\\." + std::regex_replace(file, std::regex("\\."), "\\.") +
                             "\\.[0-9]+(\\.[A-Za-z0-9]+)?\\.tmp");
  std::vector<std::string> others;
  for (const std::string& name : testsupport::namesIn(folder)) {
    if (name == file) continue;
    if (std::regex_match(name, temporary))
      ++*temporaries;
    else
      others.push_back(name);
  }
  return others;
}

}  // namespace

TEST(CrashSafety, TfscanKilledAnywhereLeavesACompleteSnapshotOrNone) {
  testsupport::ScopedHome home;
  // The scanned tree is made in memory where there is room for it (making 20,000 files on a
  // busy disk takes long); the snapshot goes to the disk.
  const bool inMemory = ::access("/dev/shm", W_OK | X_OK) == 0;
  testsupport::TempDir temp, source(inMemory ? fs::path("/dev/shm") : fs::temp_directory_path());
  const fs::path tree = source / "tree", out = temp / "out", snapshot = out / "scan.tfsnap";
  fs::create_directories(out);
  for (int folder = 0; folder < 40; ++folder) {
    fs::create_directories(tree / ("folder" + std::to_string(folder)));
    for (int file = 0; file < 500; ++file) {
      std::ofstream(tree / ("folder" + std::to_string(folder)) / ("file" + std::to_string(file)))
          << std::string(std::size_t(file % 7), 'x');
    }
  }
  const std::vector<std::string> scan = {TFSCAN_PATH, "-o", snapshot.string(), tree.string()};

  // How long a whole run takes here: the kills fall over all of it, writing included.
  const auto begun = Clock::now();
  ASSERT_EQ(testsupport::runProgram(scan).status, 0);
  const auto whole = Clock::now() - begun;

  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> moment(0.0, 1.2);
  int killed = 0, complete = 0, temporaries = 0;
  for (int run = 0; run < 40; ++run) {
    fs::remove(snapshot);
    const auto after = std::chrono::duration_cast<Clock::duration>(whole * moment(random));
    killed += killAfter(start(scan), after);
    EXPECT_EQ(strangers(out, "scan.tfsnap", &temporaries), std::vector<std::string>()) << "run " << run;
    if (!fs::exists(snapshot)) continue;
    ++complete;
    const auto check = testsupport::runTfscan({"--check", snapshot.string()});
    EXPECT_EQ(check.status, 0) << "run " << run << ": " << check.err;
  }
  std::cout << "killed " << killed << " of 40 runs; a snapshot in place after " << complete
            << "; temporaries left " << temporaries << "\n";

  // The next whole run leaves the snapshot and nothing else.
  ASSERT_EQ(testsupport::runProgram(scan).status, 0);
  EXPECT_EQ(testsupport::namesIn(out), std::vector<std::string>{"scan.tfsnap"});
}

// Where a file system cannot make a file without a name, the writer writes into a named
// temporary, which a kill leaves behind.
TEST(CrashSafety, NamedTemporariesOfKilledWritersGoWithTheNextWrite) {
  testsupport::TempDir temp;
  const fs::path destination = temp / "data.bin";
  constexpr std::size_t chunk = 64 * 1024, chunks = 32;
  const std::string block(chunk, 'd');
  auto write = [&] {
    FileIO::writeAtomically(
        destination,
        [&](int fd) {
          for (std::size_t k = 0; k < chunks; ++k) {
            FileIO::writeAll(fd, block.data(), block.size());
            std::this_thread::sleep_for(std::chrono::microseconds(500));
          }
        },
        0644, FileIO::Temporary::named);
  };

  std::mt19937_64 random(seed);
  std::uniform_int_distribution<int> microseconds(0, 30000);
  int temporaries = 0;
  for (int run = 0; run < 30; ++run) {
    const pid_t child = ::fork();
    if (child == 0) {
      write();
      ::_exit(0);
    }
    killAfter(child, std::chrono::microseconds(microseconds(random)));
    EXPECT_EQ(strangers(temp.path(), "data.bin", &temporaries), std::vector<std::string>()) << "run " << run;
    if (fs::exists(destination)) {
      EXPECT_EQ(fs::file_size(destination), chunk * chunks) << "run " << run;
    }
  }
  // Each writer first clears what earlier ones left, so these are seen one or two at a time.
  std::cout << "temporaries of killed writers seen: " << temporaries << "\n";
  EXPECT_GT(temporaries, 0) << "no kill came while a temporary was written";

  write();
  EXPECT_EQ(testsupport::namesIn(temp.path()), std::vector<std::string>{"data.bin"});
  EXPECT_EQ(fs::file_size(destination), chunk * chunks);
}
