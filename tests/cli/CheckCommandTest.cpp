#include "Subprocess.h"
#include "TestSupport.h"
#include "VokWriter.h"

#include <gtest/gtest.h>

#include <cstring>

using testsupport::TempDir;

namespace {

testsupport::ProgramRun run(std::vector<std::string> args) {
  args.insert(args.begin(), TFSCAN_PATH);
  return testsupport::runProgram(args);
}

// A copy of a snapshot file with `bytes` written over the start of column `column`.
std::filesystem::path damaged(const std::filesystem::path& file, int column, std::vector<std::uint8_t> bytes,
                              const std::string& name) {
  auto image = testsupport::readBytes(file);
  std::uint64_t offset;
  std::memcpy(&offset, image.data() + 48 + 16 * column, 8);
  std::copy(bytes.begin(), bytes.end(), image.begin() + std::ptrdiff_t(offset));
  const auto copy = file.parent_path() / name;
  testsupport::writeBytes(copy, image);
  return copy;
}

}  // namespace

TEST(CheckCommand, SoundSnapshotsPassAndDamagedOnesAreRefusedByEveryCommand) {
  TempDir temp;
  testsupport::writeFile(temp / "data" / "a" / "one.bin", std::string(10000, 'x'));
  testsupport::writeFile(temp / "data" / "a" / "two.bin", std::string(10000, 'x'));
  testsupport::writeFile(temp / "data" / "b.txt", "b");
  const auto sound = temp / "sound.tfsnap";
  ASSERT_EQ(run({"-o", sound.string(), (temp / "data").string()}).status, 0);

  const auto ok = run({"--check", sound.string()});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out, sound.string() + ": OK, 4 entries\n");
  EXPECT_EQ(ok.err, "");

  // The root claims every id as its child; the first three sizes (root, a, b.txt) are zeroed.
  const auto wideRoot = damaged(sound, 6, {0xFF, 0xFF, 0xFF, 0xFF}, "wide.tfsnap");
  const auto zeroed = damaged(sound, 1, std::vector<std::uint8_t>(8 * 3, 0), "zeroed.tfsnap");
  for (const auto& [file, violation] :
       {std::pair{wideRoot,
                  "The children of node 0 (" + (temp / "data").string() + ") run past the end of the tree."},
        std::pair{zeroed, "The size of node 1 (" + (temp / "data" / "a").string() +
                              ") is not the sum of its children's sizes."}}) {
    const std::string expected = "tfscan: " + file.string() + " is damaged: " + violation + "\n";
    for (const auto& args : std::vector<std::vector<std::string>>{{"--check", file.string()},
                                                                  {"--dump", file.string()},
                                                                  {"--diff", sound.string(), file.string()},
                                                                  {"--diff", file.string(), sound.string()},
                                                                  {"--dupes", file.string()}}) {
      SCOPED_TRACE(args[0] + " " + args[1]);
      const auto result = run(args);
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.out, "");
      EXPECT_EQ(result.err, expected);
    }
  }
}

// A vok file's folder totals follow its writer's rules (here a folder counts its own blocks
// and itself); its checksum vouches for its bytes, so they are not called damage.
TEST(CheckCommand, VokTotalsAreTakenAsStored) {
  TempDir temp;
  auto record = [](std::uint64_t distance, std::uint8_t kind, std::string name, std::uint64_t size) {
    testsupport::VokRecord r;
    r.distance = distance, r.kind = kind, r.name = std::move(name), r.size = size;
    return r;
  };
  testsupport::VokWriter vok;
  auto docs = record(1, 1 | 4, "docs", 4096 + 100);
  docs.entryCount = 3;
  vok.add(docs).add(record(1, 0, "a.txt", 60)).add(record(2, 0, "b.txt", 40));
  const auto file = temp / "home.vok";
  vok.write(file, true);

  const auto check = run({"--check", file.string()});
  EXPECT_EQ(check.status, 0) << check.err;
  EXPECT_EQ(check.out, file.string() + ": OK, 3 entries\n");
  EXPECT_EQ(run({"--dump", file.string()}).status, 0);
}
