#include "ModelTestSupport.h"
#include "RandomTree.h"
#include "model/BrowserCommands.h"
#include "model/FileTypes.h"
#include "model/LargestFiles.h"

#include <tallyfox/SubtreeStats.h>

#include <gtest/gtest.h>

using namespace tallyfox;
using testsupport::waitFor;
namespace stats = tallyfox::SubtreeStats;

namespace {

// A window on a random tree of a few thousand entries.
class SubtreeViews : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937_64 random(2034);
    const auto tree = testsupport::randomTree(random, 5000, "/random");
    file_ = dir_ / "random.tfsnap";
    tree->write(file_);
    model_ = testsupport::loadedModel(file_);
    ASSERT_TRUE(model_->tree());
    // A folder with folders in it, one level down, so relative folders have a few steps.
    for (NodeId id = 1; id < model_->tree()->totalNodes() && !folder_; ++id)
      if (model_->tree()->isDirectory(id) && model_->tree()->entryCount()[std::size_t(id)] > 50) folder_ = id;
    ASSERT_TRUE(folder_);
  }

  const DiskTree& tree() const { return *model_->tree(); }

  testsupport::ScopedHome home_;
  testsupport::TempDir dir_;
  std::filesystem::path file_;
  std::unique_ptr<BrowserModel> model_;
  std::optional<NodeId> folder_;
};

}  // namespace

TEST_F(SubtreeViews, LargestFilesFillInOffTheMainThreadAndLeadBackToTheList) {
  LargestFiles& largest = model_->largestFiles();
  largest.show(*folder_);
  EXPECT_TRUE(largest.isOpen());
  // The list's keys wait while the view has the centre.
  EXPECT_FALSE(BrowserCommands::find(QStringLiteral("moveDown"))->isEnabled(*model_));
  EXPECT_FALSE(BrowserCommands::find(QStringLiteral("fileTypes"))->isEnabled(*model_));
  ASSERT_TRUE(waitFor([&] { return !largest.isFinding(); }));
  const std::vector<NodeId> files = largest.files();
  EXPECT_EQ(files, stats::largestFiles(tree(), *folder_, LargestFiles::limit));
  ASSERT_FALSE(files.empty());

  // Each file's folder is named from the scope down.
  for (const NodeId file : files) {
    const QString folder = largest.folderOf(file);
    const std::string expected = tree().path(tree().parentOf(file));
    const std::string scope = tree().path(*folder_);
    EXPECT_EQ(folder.isEmpty() ? QString::fromStdString(scope) : QString::fromStdString(scope) + "/" + folder,
              QString::fromStdString(expected));
  }

  // A file gone to the Trash leaves the list.
  SizeOverlay trashed(model_->overlay());
  trashed.hidden.insert(files.front());
  model_->setOverlay(SizeOverlay::share(std::move(trashed)));
  EXPECT_EQ(largest.files().size(), files.size() - 1);

  largest.showInList(files[1]);
  EXPECT_FALSE(largest.isOpen());
  EXPECT_EQ(model_->current(), tree().parentOf(files[1]));
  EXPECT_EQ(model_->selection(), files[1]);
  EXPECT_TRUE(BrowserCommands::find(QStringLiteral("moveDown"))->isEnabled(*model_));
}

TEST_F(SubtreeViews, ClosingDropsAPassStillRunningAndAnotherTreeClosesTheView) {
  LargestFiles& largest = model_->largestFiles();
  largest.show(DiskTree::root);
  largest.close();
  largest.show(*folder_);
  ASSERT_TRUE(waitFor([&] { return !largest.isFinding(); }));
  // Only the folder asked last answers.
  EXPECT_EQ(largest.files(), stats::largestFiles(tree(), *folder_, LargestFiles::limit));
  EXPECT_EQ(largest.scope(), folder_);
}

TEST_F(SubtreeViews, ChoosingAFileTypePicksOutItsFilesAndTheFoldersHoldingThem) {
  FileTypes& types = model_->fileTypes();
  types.show(DiskTree::root);
  ASSERT_TRUE(waitFor([&] { return !types.isCounting(); }));
  EXPECT_EQ(types.totals(), stats::fileTypes(tree(), DiskTree::root));
  EXPECT_TRUE(types.summary().contains("files"));

  // Everything shows in full until a kind is chosen.
  EXPECT_TRUE(types.isHighlighted(1));
  const FileTypes::Choice jpegs{stats::Category::images, std::string("jpg")};
  types.choose(jpegs);
  EXPECT_FALSE(types.isOpen());
  ASSERT_TRUE(waitFor([&] { return types.isHighlightReady(); }));

  // Each folder holds, below it, exactly the bytes of the JPEG files that climb up to it, and
  // is picked out when it holds any, empty ones too.
  std::vector<std::uint64_t> expected(std::size_t(tree().totalNodes()), 0);
  std::vector<int> jpegsBelow(std::size_t(tree().totalNodes()), 0);
  for (NodeId id = 1; id < tree().totalNodes(); ++id) {
    if (tree().isDirectory(id)) continue;
    const bool jpeg = stats::extensionOf(tree().nameView(id)) == "jpg";
    EXPECT_EQ(types.isHighlighted(id), jpeg);
    if (!jpeg) continue;
    for (NodeId up = id; up >= 0; up = tree().parentOf(up)) {
      expected[std::size_t(up)] += tree().sizeOf(id);
      ++jpegsBelow[std::size_t(up)];
    }
  }
  for (NodeId id = 0; id < tree().totalNodes(); ++id)
    if (tree().isDirectory(id)) {
      EXPECT_EQ(types.chosenBytes(id), expected[std::size_t(id)]) << id;
      EXPECT_EQ(types.isHighlighted(id), jpegsBelow[std::size_t(id)] > 0) << id;
    }

  EXPECT_TRUE(BrowserCommands::run(QStringLiteral("clearFileType"), *model_));
  EXPECT_FALSE(types.chosen());
  EXPECT_TRUE(types.isHighlighted(1));
}

// The kind picked out belongs to the folder it was chosen in: it holds in the folders below,
// and ends when the window leaves for a folder outside.
TEST_F(SubtreeViews, AChosenKindHoldsBelowItsFolderAndEndsOutsideIt) {
  FileTypes& types = model_->fileTypes();
  model_->navigate(*folder_);
  types.show();
  types.choose({stats::Category::other, std::nullopt});
  NodeId below = -1;
  for (const NodeId child : tree().children(*folder_))
    if (tree().isDirectory(child)) below = child;
  ASSERT_GE(below, 0);
  model_->navigate(below);
  EXPECT_TRUE(types.chosen());
  model_->goUp();
  EXPECT_TRUE(types.chosen());
  model_->goUp();
  EXPECT_FALSE(types.chosen());
}
