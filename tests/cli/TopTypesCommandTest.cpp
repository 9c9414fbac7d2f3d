#include <tallyfox/ByteFormat.h>
#include <tallyfox/JsonValues.h>
#include <tallyfox/SnapshotDump.h>
#include <tallyfox/SubtreeStats.h>

#include "JsonPath.h"
#include "RandomTree.h"
#include "Subprocess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <ctime>

using namespace testsupport;
using tallyfox::NodeId;
namespace stats = tallyfox::SubtreeStats;

namespace {

std::string day(std::uint32_t mtime) {
  const std::time_t when = std::time_t(mtime);
  std::tm local{};
  ::localtime_r(&when, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

class TopTypesCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937_64 random(3434);
    tree_ = randomTree(random, 4000, "/random");
    snapshot_ = work_ / "random.tfsnap";
    tree_->write(snapshot_);
    // A folder with files below it whose name is plain text, to name on the command line.
    for (NodeId id = 1; id < tree_->totalNodes() && !folder_; ++id)
      if (tree_->isDirectory(id) && tree_->childCount(id) > 3 &&
          tree_->name(id).find('\xEF') == std::string::npos)
        folder_ = id;
    ASSERT_TRUE(folder_);
  }

  ScopedHome home_;
  TempDir work_;
  tallyfox::DiskTreePtr tree_;
  std::filesystem::path snapshot_;
  std::optional<NodeId> folder_;
};

}  // namespace

TEST_F(TopTypesCommand, TopListsTheLargestFilesAndItsJsonSaysTheSame) {
  for (const std::optional<NodeId> folder : {std::optional<NodeId>(), folder_}) {
    std::vector<std::string> words = {"--top", "25", snapshot_.string()};
    if (folder) words.push_back(tree_->filePath(*folder));
    const ProgramRun text = runTfscan(words);
    ASSERT_EQ(text.status, 0) << text.err;
    words.push_back("--json");
    const ProgramRun json = runTfscan(words);
    ASSERT_EQ(json.status, 0) << json.err;

    const auto document = nlohmann::json::parse(json.out);
    const auto expected = stats::largestFiles(*tree_, folder.value_or(0), 25);
    const auto& files = document.at("files");
    const auto textLines = lines(text.out);
    ASSERT_EQ(files.size(), expected.size());
    ASSERT_EQ(textLines.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k) {
      const std::string path = pathBytesOf(files[k].at("path"));
      // The path below the folder names the same entry.
      const std::string prefix = folder ? tree_->filePath(*folder) : tree_->rootPath();
      EXPECT_EQ(prefix + "/" + path, tree_->filePath(expected[k]));
      EXPECT_EQ(files[k].at("bytes").get<std::uint64_t>(), tree_->sizeOf(expected[k]));
      const auto mtime = files[k].at("modified").get<std::uint32_t>();
      EXPECT_EQ(mtime, tree_->mtime()[std::size_t(expected[k])]);
      // The text line is the same answer, with the name made safe for a terminal.
      std::string size = tallyfox::formatFileBytes(files[k].at("bytes").get<std::uint64_t>());
      if (size.size() < 10) size.insert(0, 10 - size.size(), ' ');
      EXPECT_EQ(textLines[k], size + "  " + day(mtime) + "  " + tallyfox::SnapshotDump::terminalSafe(path));
    }
    EXPECT_EQ(pathBytesOf(document.at("folder")), folder ? tree_->filePath(*folder) : tree_->rootPath());
  }
}

TEST_F(TopTypesCommand, TypesGroupsByCategoryAndItsJsonSaysTheSame) {
  const ProgramRun text = runTfscan({"--types", snapshot_.string()});
  ASSERT_EQ(text.status, 0) << text.err;
  const ProgramRun json = runTfscan({"--types", snapshot_.string(), "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  const auto document = nlohmann::json::parse(json.out);
  const stats::FileTypes expected = stats::fileTypes(*tree_, 0);

  EXPECT_EQ(document.at("bytes").get<std::uint64_t>(), expected.bytes);
  EXPECT_EQ(document.at("files").get<std::uint64_t>(), expected.files);
  const auto& categories = document.at("categories");
  ASSERT_EQ(categories.size(), expected.categories.size());
  std::vector<std::string> labels;
  for (std::size_t c = 0; c < expected.categories.size(); ++c) {
    const auto& category = expected.categories[c];
    EXPECT_EQ(categories[c].at("category"), std::string(stats::categoryKey(category.category)));
    EXPECT_EQ(categories[c].at("bytes").get<std::uint64_t>(), category.bytes);
    labels.push_back(categories[c].at("name").get<std::string>());
    const auto& extensions = categories[c].at("extensions");
    ASSERT_EQ(extensions.size(), category.types.size());
    for (std::size_t t = 0; t < category.types.size(); ++t) {
      EXPECT_EQ(pathBytesOf(extensions[t].at("extension")), category.types[t].extension);
      EXPECT_EQ(extensions[t].at("bytes").get<std::uint64_t>(), category.types[t].bytes);
      EXPECT_EQ(extensions[t].at("files").get<std::uint64_t>(), category.types[t].files);
      const std::string& extension = category.types[t].extension;
      labels.push_back("  " + tallyfox::SnapshotDump::terminalSafe(extension.empty() ? "(no extension)"
                                                                                     : "." + extension));
    }
  }
  labels.push_back("Total");
  // Each text line starts with its label and ends with its file count, in the same order.
  const auto textLines = lines(text.out);
  ASSERT_EQ(textLines.size(), labels.size());
  for (std::size_t k = 0; k < labels.size(); ++k)
    EXPECT_EQ(textLines[k].rfind(labels[k] + " ", 0), 0u) << textLines[k];
  EXPECT_EQ(terminalHazard(text.out), "");
}

TEST_F(TopTypesCommand, RefusesWhatItCannotAnswer) {
  const ProgramRun noCount = runTfscan({"--top", snapshot_.string(), "x"});
  EXPECT_EQ(noCount.status, 2);
  EXPECT_NE(noCount.err.find("count"), std::string::npos);
  const ProgramRun elsewhere = runTfscan({"--types", snapshot_.string(), "/not/in/it"});
  EXPECT_EQ(elsewhere.status, 1);
  EXPECT_NE(elsewhere.err.find("is not in the snapshot"), std::string::npos);
  NodeId file = 1;
  while (tree_->isDirectory(file)) ++file;
  const ProgramRun ofFile = runTfscan({"--top", "3", snapshot_.string(), tree_->filePath(file)});
  EXPECT_EQ(ofFile.status, 1);
  const ProgramRun missing = runTfscan({"--types", (work_ / "none.tfsnap").string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
}
