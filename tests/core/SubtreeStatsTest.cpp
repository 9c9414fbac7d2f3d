#include <tallyfox/SubtreeStats.h>

#include "RandomTree.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using namespace tallyfox;
using testsupport::bytesOf;
namespace stats = tallyfox::SubtreeStats;

namespace {

// The extension the slow, obvious way, to hold the pass's fast one against.
std::string plainExtension(std::string name) {
  for (;;) {
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return "";
    std::string extension = name.substr(dot + 1);
    const bool version = extension.find_first_not_of("0123456789") == std::string::npos;
    const auto earlier = name.rfind('.', dot - 1);
    if (version && earlier != std::string::npos && earlier > 0) {
      name.resize(dot);
      continue;
    }
    if (extension.size() > 16) return "";
    for (char& c : extension)
      if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return extension;
  }
}

// Folders to ask about: the root, a few random ones (empty ones among them), and a file.
std::vector<NodeId> placesToAsk(const DiskTree& tree, std::mt19937_64& random) {
  std::vector<NodeId> places = {DiskTree::root};
  std::vector<NodeId> emptyFolders, fullFolders, files;
  for (NodeId id = 1; id < tree.totalNodes(); ++id) {
    if (!tree.isDirectory(id))
      files.push_back(id);
    else
      (tree.childCount(id) ? fullFolders : emptyFolders).push_back(id);
  }
  for (int k = 0; k < 6 && !fullFolders.empty(); ++k)
    places.push_back(fullFolders[random() % fullFolders.size()]);
  if (!emptyFolders.empty()) places.push_back(emptyFolders.front());
  if (!files.empty()) places.push_back(files.front());
  return places;
}

}  // namespace

TEST(SubtreeStatsTest, ExtensionsFollowTheLastDotAndIgnoreDotFilesAndCase) {
  EXPECT_EQ(stats::extensionOf(bytesOf("Movie.MKV")), "mkv");
  EXPECT_EQ(stats::extensionOf(bytesOf("backup.tar.gz")), "gz");
  EXPECT_EQ(stats::extensionOf(bytesOf(".bashrc")), "");
  EXPECT_EQ(stats::extensionOf(bytesOf(".config.json")), "json");
  EXPECT_EQ(stats::extensionOf(bytesOf("Makefile")), "");
  EXPECT_EQ(stats::extensionOf(bytesOf("ends.")), "");
  EXPECT_EQ(stats::extensionOf(bytesOf("notes.2024-final-draft-v2")), "");
  EXPECT_EQ(stats::extensionOf(bytesOf("odd.\xff\xC3\x89")), "\xff\xC3\x89");
  EXPECT_EQ(stats::extensionOf(bytesOf("libcublasLt.so.13")), "so");
  EXPECT_EQ(stats::extensionOf(bytesOf("libz.so.1.3.1")), "so");
  EXPECT_EQ(stats::extensionOf(bytesOf("photo.2024")), "2024");
  EXPECT_EQ(stats::extensionOf(bytesOf(".history.1")), "1");
  EXPECT_EQ(stats::categoryOf("mkv"), stats::Category::video);
  EXPECT_EQ(stats::categoryOf("gz"), stats::Category::archives);
  EXPECT_EQ(stats::categoryOf("so"), stats::Category::packages);
  EXPECT_EQ(stats::categoryOf(""), stats::Category::other);
}

TEST(SubtreeStatsTest, AnswersMatchAWalkOfRandomTrees) {
  std::mt19937_64 random(34);
  for (const std::size_t entries : {0u, 1u, 40u, 3000u}) {
    const auto tree = testsupport::randomTree(random, entries);
    for (const NodeId folder : placesToAsk(*tree, random)) {
      SCOPED_TRACE("entries " + std::to_string(entries) + ", folder " + std::to_string(folder));
      std::vector<NodeId> files;
      std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> byExtension;
      std::uint64_t bytes = 0;
      for (const NodeId id : testsupport::nodesBelow(*tree, folder)) {
        if (tree->isDirectory(id)) continue;
        files.push_back(id);
        const std::string name(reinterpret_cast<const char*>(tree->nameView(id).data()),
                               tree->nameView(id).size());
        auto& totals = byExtension[plainExtension(name)];
        totals.first += tree->sizeOf(id);
        ++totals.second;
        bytes += tree->sizeOf(id);
      }

      std::stable_sort(files.begin(), files.end(),
                       [&](NodeId a, NodeId b) { return tree->sizeOf(a) > tree->sizeOf(b); });
      for (const std::size_t limit : {std::size_t(1), std::size_t(7), std::size_t(1000)}) {
        std::vector<NodeId> expected(files.begin(), files.begin() + std::min(limit, files.size()));
        EXPECT_EQ(stats::largestFiles(*tree, folder, limit), expected) << "limit " << limit;
      }

      const stats::FileTypes types = stats::fileTypes(*tree, folder);
      EXPECT_EQ(types.bytes, bytes);
      EXPECT_EQ(types.files, files.size());
      std::size_t listed = 0;
      for (std::size_t c = 0; c < types.categories.size(); ++c) {
        const auto& category = types.categories[c];
        if (c > 0) {
          EXPECT_GE(types.categories[c - 1].bytes, category.bytes);
        }
        std::uint64_t categoryBytes = 0;
        for (std::size_t t = 0; t < category.types.size(); ++t) {
          const auto& type = category.types[t];
          if (t > 0) {
            EXPECT_GE(category.types[t - 1].bytes, type.bytes);
          }
          EXPECT_EQ(stats::categoryOf(type.extension), category.category);
          ASSERT_TRUE(byExtension.count(type.extension)) << type.extension;
          EXPECT_EQ(type.bytes, byExtension[type.extension].first) << type.extension;
          EXPECT_EQ(type.files, byExtension[type.extension].second) << type.extension;
          categoryBytes += type.bytes;
          ++listed;
        }
        EXPECT_EQ(category.bytes, categoryBytes);
      }
      EXPECT_EQ(listed, byExtension.size());
    }
  }
}

TEST(SubtreeStatsTest, MatchingSumsEachFoldersMatchingFilesBelowIt) {
  std::mt19937_64 random(99);
  const auto tree = testsupport::randomTree(random, 3000);
  const auto old = [&](NodeId id) { return tree->mtime()[std::size_t(id)] < 1'600'000'000; };
  for (const NodeId folder : placesToAsk(*tree, random)) {
    if (!tree->isDirectory(folder)) continue;
    const auto found = stats::matching(*tree, folder, old);
    std::vector<std::uint64_t> bytes(std::size_t(tree->totalNodes()), 0);
    std::vector<std::uint32_t> files(std::size_t(tree->totalNodes()), 0);
    for (const NodeId id : testsupport::nodesBelow(*tree, folder)) {
      if (tree->isDirectory(id) || !old(id)) continue;
      for (NodeId up = id; up >= 0; up = tree->parentOf(up)) {
        bytes[std::size_t(up)] += tree->sizeOf(id);
        ++files[std::size_t(up)];
        if (up == folder) break;
      }
    }
    EXPECT_EQ(found.bytes, bytes) << "folder " << folder;
    EXPECT_EQ(found.files, files) << "folder " << folder;
  }
}

TEST(SubtreeStatsTest, AStoppedPassEndsEarlyWithoutFailing) {
  std::mt19937_64 random(7);
  const auto tree = testsupport::randomTree(random, 200000);
  const std::atomic<bool> stop{true};
  EXPECT_LT(stats::largestFiles(*tree, DiskTree::root, 1000, &stop).size(), 1000u);
  EXPECT_LT(stats::fileTypes(*tree, DiskTree::root, &stop).files, 1000u);
}
