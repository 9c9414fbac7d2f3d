#include "ViewTestSupport.h"

#include "views/Breadcrumbs.h"
#include "views/BrowserView.h"
#include "views/BrowserWindow.h"
#include "views/EntryList.h"
#include "views/Preview.h"
#include "views/RelativeDate.h"
#include "views/RowDelegate.h"
#include "views/RowListModel.h"

#include <tallyfox/TreeColumns.h>

#include <gtest/gtest.h>

#include <QHelpEvent>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

namespace {

using testsupport::Node;
using viewtests::idOf;
using namespace std::chrono_literals;

TEST(RelativeDateTest, NamesTheNearestUnit) {
  // A fixed noon, so that hours back stay on the same calendar day.
  const QDateTime noon(QDate(2024, 3, 14), QTime(12, 0));
  const auto now = std::chrono::system_clock::from_time_t(noon.toSecsSinceEpoch());
  EXPECT_EQ(tallyfox::relativeDate(now, now), QStringLiteral("now"));
  EXPECT_EQ(tallyfox::relativeDate(now - 20s, now), QStringLiteral("20 seconds ago"));
  EXPECT_EQ(tallyfox::relativeDate(now - 5min, now), QStringLiteral("5 minutes ago"));
  EXPECT_EQ(tallyfox::relativeDate(now - 1h, now), QStringLiteral("1 hour ago"));
  EXPECT_EQ(tallyfox::relativeDate(now - 20h, now), QStringLiteral("yesterday"));
  EXPECT_EQ(tallyfox::relativeDate(now - 72h, now), QStringLiteral("3 days ago"));
  EXPECT_EQ(tallyfox::relativeDate(now - 24h * 9, now), QStringLiteral("last week"));
  EXPECT_EQ(tallyfox::relativeDate(now - 24h * 15, now), QStringLiteral("2 weeks ago"));
  EXPECT_EQ(tallyfox::relativeDate(now - 24h * 400, now), QStringLiteral("last year"));
  EXPECT_EQ(tallyfox::relativeDate(now + 72h, now), QStringLiteral("in 3 days"));
}

class ListPartsTest : public ::testing::Test {
 protected:
  testsupport::ScopedHome home;
  testsupport::TempDir dir;
};

TEST_F(ListPartsTest, BadgesExplainThemselves) {
  using namespace tallyfox::EntryFlags;
  auto window = viewtests::openBrowser(viewtests::writeSnapshot(
      dir / "flags.tfsnap", {{-1, "f"},
                             {0, "odd", 100, std::uint8_t(error | dataless | sharedClone)},
                             {0, "plain", 10},
                             {0, "skipped", 0, std::uint8_t(directory | notDescended)}}));
  tallyfox::EntryList* list = window->view()->list();
  tallyfox::RowDelegate* delegate = list->rowDelegate();
  const tallyfox::NodeId odd = idOf(*window->browser(), "odd");
  const QModelIndex index = list->rows()->index(0);
  QStyleOptionViewItem option;
  option.initFrom(list->viewport());
  option.rect = list->visualRect(index);
  option.font = list->font();
  const auto layout = delegate->layout(option, window->browser()->rowValues({odd, 0}));
  ASSERT_EQ(layout.badges.size(), 3u);

  const auto tooltipAt = [&](QPointF point) {
    return tallyfox::RowDelegate::tooltip(delegate->partAt(option, index, point));
  };
  EXPECT_EQ(tooltipAt(layout.badges[0].rect.center()), QStringLiteral("Part of this couldn't be read"));
  EXPECT_TRUE(tooltipAt(layout.badges[1].rect.center()).startsWith(QStringLiteral("Not downloaded")));
  EXPECT_TRUE(tooltipAt(layout.badges[2].rect.center()).startsWith(QStringLiteral("A clone of a file")));
  EXPECT_EQ(tooltipAt(layout.icon.center()), QString());  // nothing offered on the icon yet

  // A folder the scan did not enter says so, and why as far as the disk still tells.
  const QModelIndex skippedRow = list->rows()->index(2);
  option.rect = list->visualRect(skippedRow);
  const auto skipped =
      delegate->layout(option, window->browser()->rowValues({idOf(*window->browser(), "skipped"), 0}));
  ASSERT_EQ(skipped.badges.size(), 1u);
  EXPECT_EQ(skipped.badges[0].part, tallyfox::RowDelegate::Part::notScannedBadge);
  EXPECT_EQ(delegate->tooltipAt(option, skippedRow, skipped.badges[0].rect.center()),
            QStringLiteral("Not scanned"));
  option.rect = list->visualRect(index);
  // The columns on the right keep their widths whatever the name.
  EXPECT_EQ(layout.size.width(), tallyfox::RowDelegate::sizeWidth);
  EXPECT_EQ(layout.bar.width(), tallyfox::RowDelegate::barWidth);
  EXPECT_LE(layout.badges.back().rect.right(), layout.percent.left());

  // The icon is part of the row: a click on it selects.
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, layout.icon.center().toPoint());
  EXPECT_EQ(viewtests::nameOf(*window->browser(), window->browser()->selection()), "odd");
}

TEST_F(ListPartsTest, ExpandingInsertsRowsInsteadOfStartingOver) {
  auto window = viewtests::openBrowser(viewtests::writeSnapshot(
      dir / "tree.tfsnap", {{-1, "t"}, {0, "a"}, {0, "b"}, {1, "a1", 50}, {1, "a2", 40}, {2, "b1", 30}}));
  tallyfox::RowListModel* rows = window->view()->list()->rows();
  QSignalSpy resets(rows, &QAbstractItemModel::modelReset);
  QSignalSpy inserted(rows, &QAbstractItemModel::rowsInserted);
  QSignalSpy removed(rows, &QAbstractItemModel::rowsRemoved);
  tallyfox::BrowserModel* model = window->browser();
  model->toggleExpanded(idOf(*model, "a"));
  ASSERT_EQ(inserted.size(), 1);
  EXPECT_EQ(inserted[0][1].toInt(), 1);  // first new row
  EXPECT_EQ(inserted[0][2].toInt(), 2);  // last new row
  model->toggleExpanded(idOf(*model, "a"));
  EXPECT_EQ(removed.size(), 1);
  EXPECT_EQ(resets.size(), 0);
  // Another folder is a new list.
  model->navigate(idOf(*model, "b"));
  EXPECT_EQ(resets.size(), 1);
}

TEST_F(ListPartsTest, BreadcrumbsGiveWayFromTheMiddle) {
  std::vector<Node> deep{{-1, "deep"}};
  for (int i = 0; i < 12; ++i) deep.push_back({i, "a-rather-long-folder-name-" + std::to_string(i)});
  deep.push_back({12, "leaf", 10});
  auto window = viewtests::openBrowser(viewtests::writeSnapshot(dir / "deep.tfsnap", deep));
  tallyfox::BrowserModel* model = window->browser();
  tallyfox::Breadcrumbs* crumbs = window->view()->breadcrumbs();
  const tallyfox::NodeId last = idOf(*model, "a-rather-long-folder-name-11");
  model->navigate(last);
  QCoreApplication::processEvents();
  ASSERT_EQ(crumbs->crumbs().size(), 13u);
  EXPECT_FALSE(crumbs->crumbRect(0).isEmpty());
  EXPECT_FALSE(crumbs->crumbRect(last).isEmpty());
  EXPECT_TRUE(crumbs->crumbRect(idOf(*model, "a-rather-long-folder-name-1")).isEmpty());
  EXPECT_LE(crumbs->crumbRect(last).right(), crumbs->width());
  // The root's crumb still works: it shows the root with the way down selected.
  QTest::mouseClick(crumbs, Qt::LeftButton, {}, crumbs->crumbRect(0).center());
  EXPECT_EQ(model->current(), 0);
  EXPECT_EQ(viewtests::nameOf(*model, model->selection()), "a-rather-long-folder-name-0");
}

TEST_F(ListPartsTest, PreviewShowsPicturesTextAndOtherwiseFacts) {
  QImage picture(64, 48, QImage::Format_RGB32);
  picture.fill(Qt::red);
  std::filesystem::create_directories(dir / "files");
  ASSERT_TRUE(picture.save(QString::fromStdString((dir / "files" / "red.png").string())));
  // Names that are not UTF-8 are read by their bytes like any other.
  std::filesystem::rename(dir / "files" / "red.png", dir / "files" /
                                                         "r\xf6"
                                                         "d.png");
  testsupport::writeBytes(dir / "files" / "blob\xff.bin", {0, 1, 2, 0, 255, 0});
  testsupport::writeFile(dir / "files" / "caf\xe9.txt", "caf\xc3\xa9\n");
  auto bytesOf = [&](const std::string& name) { return QByteArray::fromStdString((dir / name).string()); };
  tallyfox::PreviewWindow preview;
  // The file is read off the main thread; the window settles on a kind when it arrives.
  const auto kindOf = [&](const QByteArray& path) {
    preview.showFile(path);
    EXPECT_TRUE(viewtests::waitFor([&] { return !preview.kind().isEmpty(); }));
    return preview.kind();
  };
  EXPECT_EQ(kindOf(bytesOf("files/r\xf6"
                           "d.png")),
            QStringLiteral("image"));
  EXPECT_EQ(kindOf(bytesOf("files/caf\xe9.txt")), QStringLiteral("text"));
  EXPECT_EQ(kindOf(bytesOf("files/blob\xff.bin")), QStringLiteral("facts"));
  EXPECT_EQ(kindOf(bytesOf("files")), QStringLiteral("facts"));
  QSignalSpy dismissed(&preview, &tallyfox::PreviewWindow::dismissed);
  QTest::keyClick(&preview, Qt::Key_Escape);
  EXPECT_EQ(dismissed.size(), 1);
}

}  // namespace
