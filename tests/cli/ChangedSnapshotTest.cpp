// Each command whose snapshot another process cuts short or rewrites while tfscan reads it
// says so and exits 1, printing nothing it read. It never dies of the change.

#include <tallyfox/SnapshotFile.h>

#include "ChangingFile.h"
#include "Subprocess.h"
#include "TestSupport.h"
#include "VokWriter.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>

using namespace tallyfox;
using testsupport::ProgramRun;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

bool hasMapped(pid_t pid, const std::string& path) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  for (std::string line; std::getline(maps, line);)
    if (line.ends_with(" " + path)) return true;
  return false;
}

// Runs tfscan traced, system call by system call, until `file` is mapped; makes `change`
// while tfscan stands right after that call, before it has read anything through the
// mapping, and lets it run on untraced. `caught` tells whether the moment came.
ProgramRun runChanging(const std::vector<std::string>& arguments, const fs::path& file,
                       const std::function<void()>& change, bool& caught) {
  const std::string mapped = fs::canonical(file).string();
  testsupport::StartedProgram program =
      testsupport::startProgram(testsupport::tfscanWords(arguments), {}, /*traced=*/true);
  caught = false;
  const pid_t pid = program.pid;
  int status = 0;
  // Stopped at its start.
  if (pid <= 0 || ::waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status))
    return testsupport::finishProgram(program);
  ::ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
  int pending = 0;  // a signal of its own, handed back on the next step
  for (;;) {
    ::ptrace(PTRACE_SYSCALL, pid, nullptr, reinterpret_cast<void*>(std::intptr_t(pending)));
    pending = 0;
    // Looked at without reaping, so that an end is left for finishProgram.
    siginfo_t info = {};
    if (::waitid(P_PID, id_t(pid), &info, WEXITED | WSTOPPED | WNOWAIT) != 0 || info.si_code == CLD_EXITED ||
        info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED)
      break;
    ::waitpid(pid, &status, 0);
    const bool systemCall = WSTOPSIG(status) == (SIGTRAP | 0x80);
    if (!systemCall) {
      pending = WSTOPSIG(status);
      continue;
    }
    if (!hasMapped(pid, mapped)) continue;
    caught = true;
    change();
    ::ptrace(PTRACE_DETACH, pid, nullptr, nullptr);
    break;
  }
  return testsupport::finishProgram(program);
}

}  // namespace

TEST(ChangedSnapshot, EveryCommandReportsAFileChangedWhileItReadsAndNeverCrashes) {
  testsupport::ScopedHome home;
  TempDir dir;
  const SnapshotFile::Info info{(dir / "data").string(), std::chrono::system_clock::now(), 1.0};
  const TreeColumns wide = testsupport::columnsOf(testsupport::wideTree(20, 2000));
  const auto snapshot = dir / "wide.tfsnap", older = dir / "older.tfsnap", vok = dir / "wide.vok";
  const auto exported = dir / "export.json";
  SnapshotFile::write(testsupport::columnsOf({{-1, ""}, {0, "top", 4096}}), info, older);
  const auto shorter = testsupport::readBytes(older);

  struct Command {
    std::vector<std::string> arguments;
    fs::path changed;
  };
  const std::vector<Command> commands = {
      {{"--dump", snapshot}, snapshot},
      {{"--check", snapshot}, snapshot},
      {{"--diff", older, snapshot}, snapshot},
      {{"--dupes", snapshot}, snapshot},
      {{"--export-ncdu", exported, snapshot}, snapshot},
      {{"--dump", vok}, vok},
  };
  const std::vector<std::pair<std::string, std::function<void(const fs::path&)>>> changes = {
      {"cut short",
       [](const fs::path& file) { testsupport::cutShortElsewhere(file, SnapshotFile::headerSize); }},
      {"rewritten shorter", [&](const fs::path& file) { testsupport::rewriteElsewhere(file, shorter); }},
  };
  SnapshotFile::write(wide, info, snapshot);
  testsupport::VokWriter::fromColumns(wide).write(vok, false);
  const auto snapshotBytes = testsupport::readBytes(snapshot), vokBytes = testsupport::readBytes(vok);
  auto restore = [&] {
    testsupport::writeBytes(snapshot, snapshotBytes);
    testsupport::writeBytes(vok, vokBytes);
    testsupport::writeFile(exported, "before");
  };

  for (const Command& command : commands) {
    restore();
    const ProgramRun intact = testsupport::runTfscan(command.arguments);
    ASSERT_EQ(intact.status, 0) << command.arguments[0] << ": " << intact.err;
    for (const auto& [name, change] : changes) {
      SCOPED_TRACE(command.arguments[0] + " " + command.changed.filename().string() + ", " + name);
      restore();
      bool caught = false;
      const ProgramRun run = runChanging(
          command.arguments, command.changed, [&] { change(command.changed); }, caught);
      ASSERT_TRUE(caught) << "tfscan ended without mapping the file: " << run.err;
      ASSERT_EQ(run.signal, 0) << "tfscan died";
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.err, "tfscan: " + command.changed.string() + " changed while it was read\n");
      EXPECT_EQ(run.out, "") << "nothing read from a changed file is printed";
      if (command.arguments[0] == "--export-ncdu") {
        EXPECT_EQ(testsupport::readBytes(exported).size(), 6u) << "the export in place was replaced";
      }
    }
  }
}
