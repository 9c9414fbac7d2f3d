#include "Subprocess.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
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

}  // namespace

StartedProgram startProgram(const std::vector<std::string>& words, const std::filesystem::path& workingFolder,
                            bool traced, int outTo) {
  StartedProgram program;
  if (words.empty()) return program;
  std::vector<std::string> copies(words);
  std::vector<char*> argv;
  for (auto& word : copies) argv.push_back(word.data());
  argv.push_back(nullptr);
  // Anonymous files rather than pipes: nothing has to drain them while the program runs.
  program.out = outTo >= 0 ? -1 : ::memfd_create("stdout", MFD_CLOEXEC);
  program.err = ::memfd_create("stderr", MFD_CLOEXEC);
  const int out = outTo >= 0 ? outTo : program.out;
  const pid_t child = out >= 0 && program.err >= 0 ? ::fork() : -1;
  if (child == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    if (in < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(program.err, 2) < 0) ::_exit(126);
    if (!workingFolder.empty() && ::chdir(workingFolder.c_str()) != 0) ::_exit(126);
    if (traced && ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) ::_exit(126);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  program.pid = child;
  return program;
}

ProgramRun finishProgram(StartedProgram& program) {
  ProgramRun run;
  int status = 0;
  if (program.pid > 0) {
    while (::waitpid(program.pid, &status, 0) < 0) {
    }
    if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    program.pid = -1;
  }
  if (program.out >= 0) {
    run.out = contents(program.out);
    ::close(program.out);
    program.out = -1;
  }
  if (program.err >= 0) {
    run.err = contents(program.err);
    ::close(program.err);
    program.err = -1;
  }
  return run;
}

ProgramRun runProgram(const std::vector<std::string>& words, const std::filesystem::path& workingFolder) {
  StartedProgram program = startProgram(words, workingFolder);
  return finishProgram(program);
}

ProgramRun runProgramThroughPipe(const std::vector<std::string>& words) {
  int ends[2] = {-1, -1};
  if (::pipe2(ends, O_CLOEXEC) != 0) return {};
  StartedProgram program = startProgram(words, {}, false, ends[1]);
  ::close(ends[1]);
  std::string out;
  char buffer[65536];
  for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;) out.append(buffer, std::size_t(n));
  ::close(ends[0]);
  ProgramRun run = finishProgram(program);
  run.out = std::move(out);
  return run;
}

int pidOfAnEndedProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

std::vector<std::string> tfscanWords(std::vector<std::string> arguments) {
#ifdef TFSCAN_PATH
  arguments.insert(arguments.begin(), TFSCAN_PATH);
#else
  arguments.insert(arguments.begin(), "tfscan");
#endif
  return arguments;
}

ProgramRun runTfscan(std::vector<std::string> arguments, const std::filesystem::path& workingFolder) {
  return runProgram(tfscanWords(std::move(arguments)), workingFolder);
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

std::string terminalHazard(const std::string& output) {
  for (std::size_t k = 0; k < output.size();) {
    const auto b = static_cast<unsigned char>(output[k]);
    const std::size_t length = b < 0x80             ? 1
                               : (b & 0xE0) == 0xC0 ? 2
                               : (b & 0xF0) == 0xE0 ? 3
                               : (b & 0xF8) == 0xF0 ? 4
                                                    : 0;
    if (length == 0 || k + length > output.size()) return "invalid UTF-8 at byte " + std::to_string(k);
    std::uint32_t c = length == 1 ? b : b & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
      const auto next = static_cast<unsigned char>(output[k + i]);
      if ((next & 0xC0) != 0x80) return "invalid UTF-8 at byte " + std::to_string(k);
      c = (c << 6) | (next & 0x3F);
    }
    const bool control = (c < 0x20 && c != '\n') || (c >= 0x7F && c <= 0x9F);
    const bool layout = c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x2028 && c <= 0x202E) ||
                        (c >= 0x2066 && c <= 0x2069);
    if (control || layout) {
      char text[16];
      std::snprintf(text, sizeof text, "U+%04X", unsigned(c));
      return std::string(text) + " at byte " + std::to_string(k);
    }
    k += length;
  }
  return {};
}

}  // namespace testsupport
