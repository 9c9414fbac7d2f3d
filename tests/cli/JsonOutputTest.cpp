#include <tallyfox/ByteFormat.h>
#include <tallyfox/JsonValues.h>
#include <tallyfox/SnapshotDump.h>

#include "JsonPath.h"
#include "RandomTree.h"
#include "Subprocess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

using namespace testsupport;
using tallyfox::SnapshotDump::terminalSafe;

namespace {

// Two random snapshots of one place: most names come and go between them.
class JsonOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937_64 random(77);
    randomTree(random, 3000, "/place")->write(older_);
    randomTree(random, 3000, "/place")->write(newer_);
  }

  ScopedHome home_;
  TempDir work_;
  std::filesystem::path older_ = work_ / "older.tfsnap", newer_ = work_ / "newer.tfsnap";
};

}  // namespace

TEST_F(JsonOutput, DumpAndCheckSayWhatTheirTextSays) {
  const ProgramRun text = runTfscan({"--dump", newer_.string()});
  const ProgramRun json = runTfscan({"--dump", newer_.string(), "--json"});
  ASSERT_EQ(text.status, 0) << text.err;
  ASSERT_EQ(json.status, 0) << json.err;
  const auto dump = nlohmann::json::parse(json.out);
  const auto textLines = lines(text.out);
  ASSERT_GE(textLines.size(), 2u);
  const std::uint64_t total = dump.at("bytes");
  EXPECT_EQ(textLines[0].rfind(
                "entries: " + std::to_string(dump.at("entries").get<std::int64_t>()) +
                    "  total: " + std::to_string(total) + " bytes (" + tallyfox::formatFileBytes(total) +
                    ")  errors: " + std::to_string(dump.at("errors").get<std::uint64_t>()) + "  read: ",
                0),
            0u)
      << textLines[0];
  EXPECT_EQ(textLines[1], "root: " + terminalSafe(pathBytesOf(dump.at("root"))));
  // The text shows the first eight children; the document has them all, in the same order.
  const auto& children = dump.at("children");
  ASSERT_EQ(textLines.size(), 2 + std::min<std::size_t>(8, children.size()));
  for (std::size_t k = 2; k < textLines.size(); ++k) {
    std::string size = tallyfox::formatFileBytes(children[k - 2].at("bytes"));
    if (size.size() < 10) size.append(10 - size.size(), ' ');
    EXPECT_EQ(textLines[k], "  " + size + " " + terminalSafe(pathBytesOf(children[k - 2].at("path"))));
  }

  const ProgramRun check = runTfscan({"--check", newer_.string(), "--json"});
  ASSERT_EQ(check.status, 0) << check.err;
  const auto verdict = nlohmann::json::parse(check.out);
  EXPECT_TRUE(verdict.at("sound").get<bool>());
  EXPECT_TRUE(verdict.at("damage").is_null());
  EXPECT_EQ(
      runTfscan({"--check", newer_.string()}).out,
      newer_.string() + ": OK, " + std::to_string(verdict.at("entries").get<std::int64_t>()) + " entries\n");
  EXPECT_EQ(verdict.at("entries"), dump.at("entries"));
}

TEST_F(JsonOutput, ADamagedSnapshotIsAVerdictInJson) {
  // The root and its first children say they hold nothing: the sizes no longer add up.
  const auto damaged = damagedCopy(newer_, 1, std::vector<std::uint8_t>(8 * 3, 0), "damaged.tfsnap");
  const ProgramRun check = runTfscan({"--check", damaged.string(), "--json"});
  EXPECT_EQ(check.status, 1);
  const auto verdict = nlohmann::json::parse(check.out);
  EXPECT_FALSE(verdict.at("sound").get<bool>());
  EXPECT_NE(pathBytesOf(verdict.at("damage")).find("node 0"), std::string::npos) << verdict.dump();
}

TEST_F(JsonOutput, DiffListsTheSameChangesAsItsText) {
  const std::vector<std::string> words = {"--diff", older_.string(), newer_.string(), "-n", "6", "--depth",
                                          "1"};
  const ProgramRun text = runTfscan(words);
  auto jsonWords = words;
  jsonWords.push_back("--json");
  const ProgramRun json = runTfscan(jsonWords);
  ASSERT_EQ(text.status, 0) << text.err;
  ASSERT_EQ(json.status, 0) << json.err;
  const auto diff = nlohmann::json::parse(json.out);
  const auto textLines = lines(text.out);
  const auto& changes = diff.at("changes");
  ASSERT_FALSE(changes.empty());
  ASSERT_GT(textLines.size(), changes.size());
  EXPECT_EQ(pathBytesOf(diff.at("path")), "/place");
  // Line k + 1 is change k: its name (a folder's with a slash), indented by its depth.
  for (std::size_t k = 0; k < changes.size(); ++k) {
    const auto& change = changes[k];
    const std::string& line = textLines[k + 1];
    const std::string name =
        terminalSafe(pathBytesOf(change.at("name"))) + (change.at("folder").get<bool>() ? "/" : "");
    const std::string indent(std::size_t(change.at("depth").get<int>()) * 2, ' ');
    EXPECT_EQ(line.substr(line.size() - std::min(line.size(), name.size() + indent.size())), indent + name)
        << line;
    const bool isNew = change.at("new").get<bool>(), isGone = change.at("gone").get<bool>();
    const std::string sizes = isNew ? " new " : isGone ? " gone " : " \u2192 ";
    EXPECT_NE(line.find(sizes), std::string::npos) << line;
    if (isNew || isGone) continue;
    EXPECT_EQ(change.at("change").get<std::int64_t>(),
              std::int64_t(change.at("newBytes").get<std::uint64_t>() -
                           change.at("oldBytes").get<std::uint64_t>()));
  }
  const auto more = diff.at("moreChanged").get<std::size_t>();
  if (more > 0) {
    EXPECT_EQ(textLines[changes.size() + 1], "  ... and " + std::to_string(more) + " more changed entries");
  }
}

TEST_F(JsonOutput, IsRefusedWhereNoDocumentIsMade) {
  // Anywhere on the line, also straight after the option it goes with.
  const ProgramRun early = runTfscan({"--types", "--json", newer_.string()});
  EXPECT_EQ(early.status, 0) << early.err;
  EXPECT_TRUE(nlohmann::json::parse(early.out).contains("categories"));
  EXPECT_EQ(runTfscan({"--dupes", newer_.string(), "--json"}).status, 2);
  EXPECT_EQ(runTfscan({"--json", work_.path().string()}).status, 2);
}
