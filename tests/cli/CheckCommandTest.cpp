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
  const auto wideRoot = testsupport::damagedCopy(sound, 6, {0xFF, 0xFF, 0xFF, 0xFF}, "wide.tfsnap");
  const auto zeroed =
      testsupport::damagedCopy(sound, 1, std::vector<std::uint8_t>(8 * 3, 0), "zeroed.tfsnap");
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

// Every line that names a file or an entry passes it through one filter, whichever command
// prints it and whether it comes from the command line, the disk or a damaged snapshot: no
// escape sequence reaches the terminal and no name can turn the line around to pass for
// another ("bidi" U+202E "gpj.exe" shows as "bidiexe.jpg").
TEST(CheckCommand, NamesInEveryMessageAreDefused) {
  TempDir temp;
  const std::string evil = "\x1b[31mbidi\u202egpj.exe\u2028";
  const std::string evilShown = "?[31mbidi?gpj.exe?";
  const std::string contents(70000, 'x');
  testsupport::writeFile(temp / "data" / evil / "one.bin", contents);
  testsupport::writeFile(temp / "data" / evil / "t\u2067wo.bin", contents);
  testsupport::writeFile(temp / "data" / "b.txt", "b");
  const auto sound = temp / "snap\u202e\x1b]0;t\x07.tfsnap";
  const std::string soundShown = temp.path().string() + "/snap??]0;t?.tfsnap";

  const auto scan = run({"-o", sound.string(), (temp / "data").string()});
  ASSERT_EQ(scan.status, 0) << scan.err;
  EXPECT_EQ(testsupport::terminalHazard(scan.out + scan.err), "") << scan.out;
  EXPECT_NE(scan.out.find("data/" + evilShown + "\n"), std::string::npos) << scan.out;
  EXPECT_NE(scan.out.find("snapshot: " + soundShown + "\n"), std::string::npos) << scan.out;

  const auto ok = run({"--check", sound.string()});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out, soundShown + ": OK, 4 entries\n");

  testsupport::writeFile(temp / "data" / evil / "new\u200f.bin", "n");
  const auto later = temp / "later.tfsnap";
  ASSERT_EQ(run({"-o", later.string(), (temp / "data").string()}).status, 0);
  const std::string laterShown = temp.path().string() + "/later.tfsnap";
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"--dupes", sound.string()},
                                             {"--diff", sound.string(), later.string()},
                                             {"--diff", sound.string(), later.string(), "--depth", "1"},
                                             {"--dump", sound.string()},
                                             {"--check", (temp / "gone\u202e.tfsnap").string()},
                                             {"--speed", "\x1b]0;x\x07\u202e", "."}}) {
    SCOPED_TRACE(args[0]);
    const auto result = run(args);
    EXPECT_EQ(testsupport::terminalHazard(result.out + result.err), "") << result.out << result.err;
    EXPECT_FALSE(result.out.empty() && result.err.empty());
  }
  const auto dupes = run({"--dupes", sound.string()});
  EXPECT_NE(dupes.out.find("  clone  " + temp.path().string() + "/data/" + evilShown + "/t?wo.bin\n"),
            std::string::npos)
      << dupes.out;
  const auto diff = run({"--diff", sound.string(), later.string(), "--depth", "1"});
  EXPECT_NE(diff.out.find("new?.bin"), std::string::npos) << diff.out;

  // A damaged snapshot names its damaged node by a path the file chose.
  const auto zeroed =
      testsupport::damagedCopy(sound, 1, std::vector<std::uint8_t>(8 * 3, 0), "dam\u202eaged\x1b[2J.tfsnap");
  const std::string expected =
      "tfscan: " + temp.path().string() + "/dam?aged?[2J.tfsnap is damaged: The size of node 1 (" +
      temp.path().string() + "/data/" + evilShown + ") is not the sum of its children's sizes.\n";
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--check", zeroed.string()},
           {"--dump", zeroed.string()},
           {"--diff", sound.string(), zeroed.string()},
           {"--dupes", zeroed.string()},
           {"--export-ncdu", (temp / "out.json").string(), zeroed.string()}}) {
    SCOPED_TRACE(args[0]);
    const auto result = run(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, expected);
  }
}
