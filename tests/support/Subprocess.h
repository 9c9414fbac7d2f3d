#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

struct ProgramRun {
  int status = -1;  // the exit status; -1 when the program did not exit normally
  std::string out, err;
};

// Runs words[0] (looked up in PATH when it has no slash) with the other words as arguments,
// standard input from /dev/null (so never a terminal), and both output streams captured.
// With a working folder, it runs there.
ProgramRun runProgram(const std::vector<std::string>& words, const std::filesystem::path& workingFolder = {});

// The same, with standard output a pipe that is read while the program runs: for output
// that must not need a seekable file.
ProgramRun runProgramThroughPipe(const std::vector<std::string>& words);

// Runs the tfscan built with the tests, as runProgram does.
ProgramRun runTfscan(std::vector<std::string> arguments, const std::filesystem::path& workingFolder = {});

// Runs a command given as words, without a shell; returns its exit status (-1 when it could
// not be started). Standard output goes to `output` when given; both streams are dropped
// otherwise.
int runCommand(const std::vector<std::string>& words, std::string* output = nullptr);

// The id of a process that has ended (and is not running again, until ids wrap).
int pidOfAnEndedProcess();

// The lines of a text, without their line ends.
std::vector<std::string> lines(const std::string& text);

}  // namespace testsupport
