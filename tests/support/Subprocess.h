#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

struct ProgramRun {
  int status = -1;  // the exit status; -1 when the program did not exit normally
  int signal = 0;   // the signal that ended it, when one did
  std::string out, err;
};

// Runs words[0] (looked up in PATH when it has no slash) with the other words as arguments,
// standard input from /dev/null (so never a terminal), and both output streams captured.
// With a working folder, it runs there.
ProgramRun runProgram(const std::vector<std::string>& words, const std::filesystem::path& workingFolder = {});

// The same in two steps, for a test that acts on the program while it runs. A traced
// program asks to be traced by the test (PTRACE_TRACEME) and stops at its start.
struct StartedProgram {
  int pid = -1;  // -1 when it could not be started
  int out = -1, err = -1;
};
// Its standard output goes to `outTo` when given (and is then not collected).
StartedProgram startProgram(const std::vector<std::string>& words,
                            const std::filesystem::path& workingFolder = {}, bool traced = false,
                            int outTo = -1);
// Waits for the program to end and collects what it wrote.
ProgramRun finishProgram(StartedProgram& program);

// Runs the program with standard output a pipe that is read while it runs: for output that
// must not need a seekable file.
ProgramRun runProgramThroughPipe(const std::vector<std::string>& words);
// The words that run the tfscan built with the tests.
std::vector<std::string> tfscanWords(std::vector<std::string> arguments);

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

// What in a program's output could drive a terminal or make one name show as another, the
// first such thing described: a control byte other than the line feed, DEL, a C1 control
// (U+0080 to U+009F), a bidirectional control or mark, or a line or paragraph separator.
// Empty when there is none. Invalid UTF-8 is reported too.
std::string terminalHazard(const std::string& output);

}  // namespace testsupport
