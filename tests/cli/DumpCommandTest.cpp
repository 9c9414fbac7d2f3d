#include <tallyfox/SnapshotFile.h>

#include "Subprocess.h"
#include "TestSupport.h"
#include "VokWriter.h"

#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <sstream>

using testsupport::TempDir;

namespace {

using testsupport::runTfscan;

using testsupport::lines;

}  // namespace

TEST(DumpCommand, SummarisesATallyfoxSnapshot) {
  TempDir temp;
  // Ten children of the root, the first a folder holding everything of its size.
  const auto columns = testsupport::columnsOf({{-1, "", 0},
                                               {0, "c0", 0},
                                               {0, "c1", 20'000'000},
                                               {0, "c2", 1'000'000, tallyfox::EntryFlags::error},
                                               {0, "c3", 12'000},
                                               {0, "c4", 999},
                                               {0, "c5", 500},
                                               {0, "c6", 400},
                                               {0, "c7", 300},
                                               {0, "c8", 200},
                                               {0, "c9", 100},
                                               {1, "inner", 1'500'000'000}});
  const auto path = temp / "x.tfsnap";
  tallyfox::SnapshotFile::write(columns, {"/data/x", {}, 1.0}, path);

  const testsupport::ProgramRun run = runTfscan({"--dump", path.string()});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  const auto out = lines(run.out);
  ASSERT_EQ(out.size(), 10u) << run.out;
  EXPECT_TRUE(std::regex_match(
      out[0], std::regex(R"(entries: 11  total: 1521014499 bytes \(1\.5 GB\)  errors: 1  read: \d+\.\d\ds)")))
      << out[0];
  EXPECT_EQ(out[1], "root: /data/x");
  EXPECT_EQ(out[2], "  1.5 GB     /data/x/c0");
  EXPECT_EQ(out[3], "  20.0 MB    /data/x/c1");
  EXPECT_EQ(out[4], "  1.0 MB     /data/x/c2");
  EXPECT_EQ(out[5], "  12.0 kB    /data/x/c3");
  EXPECT_EQ(out[6], "  999 bytes  /data/x/c4");
  EXPECT_EQ(out[9], "  300 bytes  /data/x/c7");
}

TEST(DumpCommand, ReadsVokFilesAndRefusesOtherFiles) {
  TempDir temp;
  std::filesystem::create_directory(temp / "Music");
  std::filesystem::create_directory(temp / "Photos");
  testsupport::VokWriter vok;
  auto record = [](std::uint64_t distance, std::string name, std::uint64_t size,
                   std::optional<std::uint64_t> entries) {
    testsupport::VokRecord r;
    r.distance = distance;
    r.kind = entries ? tallyfox::EntryFlags::directory : 0;
    r.name = std::move(name);
    r.size = size;
    r.entryCount = entries;
    return r;
  };
  vok.add(record(1, "Music", 2000, 1)).add(record(2, "Photos", 1000, 0)).add(record(2, "song", 2000, {}));
  vok.write(temp / "home.vok", true);

  const testsupport::ProgramRun run = runTfscan({"--dump", (temp / "home.vok").string()});
  EXPECT_EQ(run.status, 0) << run.err;
  const auto out = lines(run.out);
  ASSERT_EQ(out.size(), 4u) << run.out;
  EXPECT_TRUE(std::regex_match(
      out[0], std::regex(R"(entries: 3  total: 3000 bytes \(3\.0 kB\)  errors: 0  read: .*)")))
      << out[0];
  EXPECT_EQ(out[1], "root: " + temp.path().string());
  EXPECT_EQ(out[2], "  2.0 kB     " + temp.path().string() + "/Music");
  EXPECT_EQ(out[3], "  1.0 kB     " + temp.path().string() + "/Photos");

  testsupport::writeFile(temp / "notes.txt", "neither kind of snapshot\n");
  const testsupport::ProgramRun refused = runTfscan({"--dump", (temp / "notes.txt").string()});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "Not a readable vok snapshot: bad magic\n");
}
