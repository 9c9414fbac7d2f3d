// tfscan --progress run from afar (ssh, pkexec): when whoever reads the progress records
// has gone, the scan stops and writes nothing, even where a broken pipe would not end it by
// itself (a parent that ignores SIGPIPE passes that on).
#include "Subprocess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

namespace {

TEST(ProgressReaderGoneTest, AScanWhoseProgressNobodyReadsStopsWithoutASnapshot) {
  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  for (int i = 0; i < 50; ++i) testsupport::writeFile(dir / "tree" / ("f" + std::to_string(i)), "x");
  const testsupport::TempDir outDir;
  const std::string out = (outDir / "stdout").string();
  std::vector<std::string> words =
      testsupport::tfscanWords({"-o", "-", "--progress", (dir / "tree").string()});

  int errors[2];
  ASSERT_EQ(::pipe(errors), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    std::signal(SIGPIPE, SIG_IGN);
    const int in = ::open("/dev/null", O_RDONLY);
    const int output = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(in, 0);
    ::dup2(output, 1);
    ::dup2(errors[1], 2);
    ::close(errors[0]);
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  // Nobody will read a record.
  ::close(errors[0]);
  ::close(errors[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_TRUE(testsupport::readBytes(out).empty()) << "no snapshot after its reader left";
}

}  // namespace
