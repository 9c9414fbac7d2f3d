#include "TestSupport.h"

#include <tallyfox/ProgressRecord.h>
#include <tallyfox/SshConfig.h>

#include <gtest/gtest.h>

using namespace tallyfox;

namespace {

TEST(ProgressRecordTest, ReadsWhatTfscanWritesAndNothingElse) {
  const ProgressRecord record{123456, 7890123, 4.5};
  std::string line = record.line();
  ASSERT_EQ(line.back(), '\n');
  line.pop_back();
  EXPECT_EQ(ProgressRecord::parse(line), record);

  for (const char* other :
       {"", "progress", "progress entries=1 bytes=2", "progress entries=1 bytes=2 seconds=x",
        "progress entries=-1 bytes=2 seconds=1", "progress entries=99999999999999999999 bytes=2 seconds=1",
        "progress entries=1 bytes=2 seconds=1 more=3", "progress entries=1 bytes=2 seconds=nan",
        "tfscan: /x: Permission denied", "progress  entries=1 bytes=2 seconds=1"})
    EXPECT_FALSE(ProgressRecord::parse(other)) << other;
}

TEST(SshConfigTest, OffersTheHostsThatNameOneMachine) {
  const auto parsed = SshConfig::parse(
      "# comment\n"
      "Host web db-1  # two\n"
      "  HostName 10.0.0.1\n"
      "host=backup\n"
      "HOST = \"quoted name\"\n"
      "Host *.example.org !bad gate?\n"
      "Host web\n"
      "Match host x\n"
      "Include config.d/*\n");
  EXPECT_EQ(parsed.hosts, (std::vector<std::string>{"web", "db-1", "backup", "quoted name"}));
  EXPECT_EQ(parsed.includes, (std::vector<std::string>{"config.d/*"}));
}

TEST(SshConfigTest, FollowsIncludesWithoutLoopingAndSkipsUnreadableFiles) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir / "config", "Host main\nInclude config.d/*\nInclude config\n");
  testsupport::writeFile(dir / "config.d" / "work", "Host work-1 work-2\n");
  EXPECT_EQ(SshConfig::hostAliases(dir / "config"), (std::vector<std::string>{"main", "work-1", "work-2"}));
  EXPECT_TRUE(SshConfig::hostAliases(dir / "missing").empty());
  EXPECT_TRUE(SshConfig::hostAliases(dir.path()).empty());
}

}  // namespace
