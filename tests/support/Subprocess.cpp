#include "Subprocess.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

namespace testsupport {

namespace {

std::string contents(int fd) {
  std::string text;
  char buffer[4096];
  off_t offset = 0;
  for (ssize_t n; (n = ::pread(fd, buffer, sizeof buffer, offset)) > 0; offset += n)
    text.append(buffer, std::size_t(n));
  return text;
}

// Runs the program with standard output on `out`, standard error captured; `drain` reads
// what must be read while it runs.
template <typename Drain>
ProgramRun runWith(const std::vector<std::string>& words, const std::filesystem::path& workingFolder, int out,
                   Drain drain) {
  ProgramRun run;
  if (words.empty()) return run;
  std::vector<std::string> copies(words);
  std::vector<char*> argv;
  for (auto& word : copies) argv.push_back(word.data());
  argv.push_back(nullptr);
  // An anonymous file rather than a pipe: nothing has to drain it while the program runs.
  const int err = ::memfd_create("stderr", MFD_CLOEXEC);
  const pid_t child = out >= 0 && err >= 0 ? ::fork() : -1;
  if (child == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    if (in < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(126);
    if (!workingFolder.empty() && ::chdir(workingFolder.c_str()) != 0) ::_exit(126);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  if (child > 0) {
    drain();
    while (::waitpid(child, &status, 0) < 0) {
    }
    if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  }
  if (err >= 0) {
    run.err = contents(err);
    ::close(err);
  }
  return run;
}

}  // namespace

ProgramRun runProgram(const std::vector<std::string>& words, const std::filesystem::path& workingFolder) {
  const int out = ::memfd_create("stdout", MFD_CLOEXEC);
  ProgramRun run = runWith(words, workingFolder, out, [] {});
  if (out >= 0) {
    run.out = contents(out);
    ::close(out);
  }
  return run;
}

ProgramRun runProgramThroughPipe(const std::vector<std::string>& words) {
  int ends[2] = {-1, -1};
  if (::pipe2(ends, O_CLOEXEC) != 0) return {};
  std::string out;
  ProgramRun run = runWith(words, {}, ends[1], [&] {
    ::close(ends[1]);
    ends[1] = -1;
    char buffer[65536];
    for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;) out.append(buffer, std::size_t(n));
  });
  if (ends[1] >= 0) ::close(ends[1]);
  ::close(ends[0]);
  run.out = std::move(out);
  return run;
}

int pidOfAnEndedProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

ProgramRun runTfscan(std::vector<std::string> arguments, const std::filesystem::path& workingFolder) {
#ifdef TFSCAN_PATH
  arguments.insert(arguments.begin(), TFSCAN_PATH);
#else
  arguments.insert(arguments.begin(), "tfscan");
#endif
  return runProgram(arguments, workingFolder);
}

int runCommand(const std::vector<std::string>& words, std::string* output) {
  ProgramRun run = runProgram(words);
  if (output) *output = std::move(run.out);
  return run.status;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> all;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) all.push_back(line);
  return all;
}

}  // namespace testsupport
