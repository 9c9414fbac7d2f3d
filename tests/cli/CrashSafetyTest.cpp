// Writers killed with SIGKILL at moments drawn from a fixed seed: a file under the final
// name is always complete, only the writer's own temporaries are ever left, and the next
// write into the same folder clears those, but never a live writer's.

#include "../../core/src/linux/FileIO.h"

#include "Subprocess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

using namespace tallyfox;
namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

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
bool killAfter(pid_t child, SteadyClock::duration after) {
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

// A child process that runs `work`, which calls `pause` once it has done what the test waits
// for; the call returns when the test lets it go on.
struct WaitingChild {
  pid_t pid = -1;
  int release = -1;

  // Lets it finish; its exit status, -1 when it did not exit.
  int finish() {
    const char go = 'g';
    if (::write(release, &go, 1) != 1) return -1;
    ::close(release);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

using Pause = std::function<void()>;

WaitingChild startWaiting(const std::function<void(const Pause& pause)>& work) {
  int started[2], release[2];
  if (::pipe(started) != 0 || ::pipe(release) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(started[0]);
    ::close(release[1]);
    try {
      work([&] {
        char byte = 's';
        if (::write(started[1], &byte, 1) != 1 || ::read(release[0], &byte, 1) != 1) ::_exit(3);
      });
    } catch (...) {
      ::_exit(1);
    }
    ::_exit(0);
  }
  ::close(started[1]);
  ::close(release[0]);
  char byte;
  if (::read(started[0], &byte, 1) != 1) ADD_FAILURE() << "the child did not get to its pause";
  ::close(started[0]);
  return {child, release[1]};
}

// A writer of a named temporary that has written and holds it.
WaitingChild startWaitingWriter(const fs::path& destination) {
  return startWaiting([&](const Pause& pause) {
    FileIO::writeAtomically(
        destination,
        [&](int fd) {
          FileIO::writeAll(fd, "complete", 8);
          pause();
        },
        0644, FileIO::Temporary::named);
  });
}

// How many names in `folder` are temporaries of `file`.
int temporariesOf(const fs::path& folder, const std::string& file) {
  int temporaries = 0;
  strangers(folder, file, &temporaries);
  return temporaries;
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
  const auto begun = SteadyClock::now();
  ASSERT_EQ(testsupport::runProgram(scan).status, 0);
  const auto whole = SteadyClock::now() - begun;

  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> moment(0.0, 1.2);
  int killed = 0, complete = 0, temporaries = 0;
  for (int run = 0; run < 40; ++run) {
    fs::remove(snapshot);
    const auto after = std::chrono::duration_cast<SteadyClock::duration>(whole * moment(random));
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

// Whether a temporary is abandoned is told by the lock its writer holds, not by a process id
// (a writer in another PID namespace has an id that means nothing here).
TEST(CrashSafety, AbandonedTemporariesGoWithAnyWriteIntoTheFolderAndLiveOnesStay) {
  testsupport::TempDir temp;
  auto writeOther = [&] {
    FileIO::writeAtomically(temp / "other.bin", [](int fd) { FileIO::writeAll(fd, "other", 5); });
  };

  WaitingChild live = startWaitingWriter(temp / "live.bin");
  ASSERT_EQ(temporariesOf(temp.path(), "live.bin"), 1);
  writeOther();
  writeOther();
  EXPECT_EQ(temporariesOf(temp.path(), "live.bin"), 1);
  EXPECT_EQ(live.finish(), 0) << "the live writer failed";
  EXPECT_EQ(testsupport::readBytes(temp / "live.bin").size(), 8u);

  WaitingChild killed = startWaitingWriter(temp / "killed.bin");
  ASSERT_EQ(::kill(killed.pid, SIGKILL), 0);
  ::waitpid(killed.pid, nullptr, 0);
  ::close(killed.release);
  ASSERT_EQ(temporariesOf(temp.path(), "killed.bin"), 1);
  // A temporary whose name carries the id of an ended process, held by a live one.
  const std::string held =
      ".held.bin." + std::to_string(testsupport::pidOfAnEndedProcess()) + ".a1b2c3d4e5f6.tmp";
  testsupport::writeFile(temp / held, "being written");
  WaitingChild holder = startWaiting([&](const Pause& pause) {
    const int fd = ::open((temp / held).c_str(), O_RDWR);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) throw std::runtime_error("not held");
    pause();
  });

  writeOther();
  EXPECT_EQ(temporariesOf(temp.path(), "killed.bin"), 0);
  EXPECT_TRUE(fs::exists(temp / held));
  EXPECT_EQ(holder.finish(), 0);
  writeOther();
  EXPECT_EQ(testsupport::namesIn(temp.path()), (std::vector<std::string>{"live.bin", "other.bin"}));
}
