// A window whose snapshot file another process changes while it is open: it says so in its
// health, which the status line shows, and stays usable.

#include "ChangingFile.h"
#include "ModelTestSupport.h"

#include <tallyfox/SnapshotFile.h>

#include <gtest/gtest.h>

using namespace tallyfox;
using testsupport::TempDir;

namespace {

class FileChange : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::writeSnapshot(file, testsupport::wideTree(30, 2000));
    // Written long enough ago that a rewrite within the same clock tick still changes its time.
    testsupport::ageFile(file);
    model = testsupport::loadedModel(file);
    ASSERT_TRUE(model->state().isReady());
    ASSERT_TRUE(testsupport::waitFor([&] { return model->health().has_value(); }));
    ASSERT_FALSE(model->health()->fileChanged);
    ASSERT_EQ(model->health()->damage, QString());
  }

  bool changeReported() {
    return testsupport::waitFor([&] { return model->health() && model->health()->fileChanged; });
  }

  // What a person does next: opens folders, moves, goes back.
  void browse() {
    const NodeId top = model->current();
    for (NodeId folder : model->tree()->children(top)) {
      model->navigate(folder);
      (void)model->rows();
      model->move(1);
      model->goBack();
      if (folder > top + 20) break;
    }
    model->selectLast();
    (void)model->windowTitle();
    (void)model->path();
  }

  TempDir dir;
  std::filesystem::path file = dir / "wide.tfsnap";
  std::unique_ptr<BrowserModel> model;
};

TEST_F(FileChange, CutShortWhileOpenIsReportedAndTheWindowStaysUsable) {
  testsupport::cutShortElsewhere(file, SnapshotFile::headerSize);
  browse();  // reads past the cut
  ASSERT_TRUE(changeReported());
  EXPECT_TRUE(model->tree()->fileChanged());
  EXPECT_TRUE(model->state().isReady());
  browse();
  EXPECT_EQ(model->state(), LoadState::ready());
}

TEST_F(FileChange, RewrittenInPlaceIsFoundWithoutAnyRead) {
  auto bytes = testsupport::readBytes(file);
  bytes[bytes.size() - 1] ^= 0x20;
  testsupport::rewriteElsewhere(file, bytes);
  // The window reads nothing; its periodic look at the file finds the change.
  ASSERT_TRUE(changeReported());
  EXPECT_EQ(model->health()->errorCount, 0u);
}

}  // namespace
