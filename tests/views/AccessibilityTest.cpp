#include "ViewTestSupport.h"

#include "model/Comparison.h"
#include "model/Format.h"
#include "views/Breadcrumbs.h"
#include "views/BrowserView.h"
#include "views/BrowserWindow.h"
#include "views/EntryList.h"
#include "views/SunburstView.h"
#include "views/TitleSwitcher.h"

#include <tallyfox/SnapshotFile.h>

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QTest>

// What a screen reader finds in a snapshot window, asked through QAccessible as one asks:
// rows that say more than their names, a chart whose segments can be read and walked, crumbs
// that are buttons, and every control of the bar above reachable by Tab.
namespace {

using viewtests::idOf;

QStringList childNames(QAccessibleInterface* parent) {
  QStringList names;
  for (int i = 0; i < parent->childCount(); ++i) names << parent->child(i)->text(QAccessible::Name);
  return names;
}

QString focusedName(QWidget* widget) {
  QAccessibleInterface* focus = QAccessible::queryAccessibleInterface(widget)->focusChild();
  return focus ? focus->text(QAccessible::Name) : QStringLiteral("(none)");
}

class AccessibilityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window =
        viewtests::openBrowser(viewtests::writeSnapshot(dir / "library.tfsnap", viewtests::photoLibrary()));
    model = window->browser();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }

  std::string name(std::optional<tallyfox::NodeId> node) const { return viewtests::nameOf(*model, node); }

  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  std::unique_ptr<tallyfox::BrowserWindow> window;
  tallyfox::BrowserModel* model = nullptr;
};

TEST_F(AccessibilityTest, RowsSayTheirSizeShareAndChange) {
  tallyfox::EntryList* list = window->view()->list();
  QAccessibleInterface* rows = QAccessible::queryAccessibleInterface(list);
  ASSERT_NE(rows, nullptr);
  const auto size = [](std::uint64_t bytes) { return tallyfox::Format::bytes(bytes); };
  const auto share = [](std::uint64_t part, std::uint64_t whole) {
    return tallyfox::Format::percent(part, whole);
  };
  const std::uint64_t total = 9000 + 6000 + 10;
  EXPECT_EQ(childNames(rows),
            (QStringList{"photos, " + size(9000) + ", " + share(9000, total) + " of data",
                         "music, " + size(6000) + ", " + share(6000, total) + " of data",
                         "readme.txt, " + size(10) + ", " + share(10, total) + " of data"}));

  // The keys' row is the one a reader hears about.
  list->setFocus();
  QTest::keyClick(list, Qt::Key_Down);
  EXPECT_TRUE(focusedName(list).startsWith("music, ")) << focusedName(list).toStdString();

  // Marked for the delete list, and while comparing, the change.
  QTest::keyClick(list, Qt::Key_Delete);
  EXPECT_TRUE(rows->child(1)->text(QAccessible::Name).startsWith("music, on the delete list, "));
  std::vector<testsupport::Node> earlier = viewtests::photoLibrary();
  earlier[7].size = 3000;  // a.raw grew by 2000
  tallyfox::SnapshotFile::write(testsupport::columnsOf(earlier),
                                {"/data", std::chrono::system_clock::now() - std::chrono::hours(48), 1.0},
                                dir / "earlier.tfsnap");
  model->comparing().compare(dir / "earlier.tfsnap");
  ASSERT_TRUE(viewtests::waitFor([&] { return model->comparing().comparison() != nullptr; }));
  EXPECT_EQ(childNames(rows), (QStringList{"photos, " + tallyfox::Format::signedBytes(2000) + ", " +
                                           tallyfox::Format::changeSizes(false, false, 7000, 9000) + ", " +
                                           size(9000) + ", " + share(9000, total) + " of data"}));
}

TEST_F(AccessibilityTest, TheChartHandsOutItsSegmentsAndTheKeyboardWalksThem) {
  tallyfox::SunburstView* chart = window->view()->chart();
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(chart);
  ASSERT_NE(iface, nullptr);
  EXPECT_EQ(iface->role(), QAccessible::Chart);
  ASSERT_EQ(iface->childCount(), int(chart->layout()->segments.size()));
  const QStringList names = childNames(iface);
  const std::uint64_t total = 9000 + 6000 + 10;
  EXPECT_TRUE(names.contains("photos, " + tallyfox::Format::bytes(9000) + ", " +
                             tallyfox::Format::percent(9000, total)))
      << names.join(" | ").toStdString();
  EXPECT_TRUE(names.contains("a.raw, " + tallyfox::Format::bytes(5000) + ", " +
                             tallyfox::Format::percent(5000, total)));
  const QRect chartOnScreen(chart->mapToGlobal(QPoint()), chart->size());
  for (int i = 0; i < iface->childCount(); ++i) {
    QAccessibleInterface* segment = iface->child(i);
    EXPECT_EQ(segment->role(), QAccessible::ListItem);
    EXPECT_EQ(segment->parent(), iface);
    EXPECT_EQ(iface->indexOfChild(segment), i);
    EXPECT_TRUE(chartOnScreen.contains(segment->rect())) << segment->text(QAccessible::Name).toStdString();
  }

  // Tab reaches the chart; the keyboard starts on the selection and goes round, out and in.
  window->view()->rescanButton()->setFocus(Qt::TabFocusReason);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), chart);
  EXPECT_TRUE(focusedName(chart).startsWith("photos, ")) << focusedName(chart).toStdString();
  EXPECT_EQ(name(model->hovered()), "photos") << "the centre names it";
  QTest::keyClick(chart, Qt::Key_Right);
  EXPECT_TRUE(focusedName(chart).startsWith("music, "));
  QTest::keyClick(chart, Qt::Key_Left);
  QTest::keyClick(chart, Qt::Key_Down);
  EXPECT_TRUE(focusedName(chart).startsWith("2023, "));
  EXPECT_EQ(iface->focusChild()->text(QAccessible::Description), "Ring 2, in photos");
  QTest::keyClick(chart, Qt::Key_Down);
  EXPECT_TRUE(focusedName(chart).startsWith("a.raw, "));
  QTest::keyClick(chart, Qt::Key_Up);
  EXPECT_TRUE(focusedName(chart).startsWith("2023, "));

  // Return clicks it: the folder opens, and the walk goes on in the new chart.
  QTest::keyClick(chart, Qt::Key_Return);
  EXPECT_EQ(name(model->current()), "2023");
  ASSERT_TRUE(
      viewtests::waitFor([&] { return chart->layout() && chart->layout()->center == model->current(); }));
  EXPECT_TRUE(focusedName(chart).startsWith("a.raw, ")) << focusedName(chart).toStdString();
  QTest::keyClick(chart, Qt::Key_Escape);
  EXPECT_EQ(name(model->current()), "photos");

  // A reader can press a segment as a click would.
  ASSERT_TRUE(viewtests::waitFor([&] { return chart->layout()->center == model->current(); }));
  iface = QAccessible::queryAccessibleInterface(chart);
  for (int i = 0; i < iface->childCount(); ++i)
    if (iface->child(i)->text(QAccessible::Name).startsWith("cover.jpg, "))
      iface->child(i)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_EQ(name(model->selection()), "cover.jpg");
}

TEST_F(AccessibilityTest, CrumbsAreButtonsAndTheBarIsReachedByTab) {
  model->navigate(idOf(*model, "2023"));
  tallyfox::Breadcrumbs* crumbs = window->view()->breadcrumbs();
  QCoreApplication::processEvents();
  QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(crumbs);
  ASSERT_NE(bar, nullptr);
  QStringList expected = crumbs->labels();
  EXPECT_EQ(childNames(bar), expected);
  EXPECT_EQ(expected.mid(expected.size() - 3), (QStringList{"data", "photos", "2023"}));
  for (int i = 0; i < bar->childCount(); ++i) {
    EXPECT_EQ(bar->child(i)->role(), QAccessible::Button);
    EXPECT_EQ(bar->child(i)->actionInterface()->actionNames(),
              QStringList{QAccessibleActionInterface::pressAction()});
  }
  EXPECT_EQ(bar->child(0)->text(QAccessible::Description), "Not in this snapshot");
  EXPECT_EQ(bar->child(bar->childCount() - 1)->text(QAccessible::Description), "Shown now");

  // Pressed, the grandparent's crumb shows it with the way back down selected.
  bar->child(bar->childCount() - 3)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_EQ(name(model->current()), "(root)");
  EXPECT_EQ(name(model->selection()), "photos");

  // Tab order: the switcher, the crumbs, the rescan button, the chart, the list.
  auto* switcher = window->view()->findChild<tallyfox::TitleSwitcher*>();
  switcher->setFocus(Qt::TabFocusReason);
  ASSERT_EQ(QApplication::focusWidget(), switcher);
  std::vector<QWidget*> order;
  for (int i = 0; i < 4; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    order.push_back(QApplication::focusWidget());
  }
  EXPECT_EQ(order, (std::vector<QWidget*>{crumbs, window->view()->rescanButton(), window->view()->chart(),
                                          window->view()->list()}));
  for (QWidget* control : {static_cast<QWidget*>(switcher), window->view()->rescanButton()}) {
    QAccessibleInterface* button = QAccessible::queryAccessibleInterface(control);
    EXPECT_FALSE(button->text(QAccessible::Name).isEmpty());
  }

  // On the crumbs, the keys go along them and Return clicks one.
  model->navigate(idOf(*model, "2023"));
  crumbs->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(focusedName(crumbs), "2023");
  QTest::keyClick(crumbs, Qt::Key_Left);
  EXPECT_EQ(focusedName(crumbs), "photos");
  QTest::keyClick(crumbs, Qt::Key_Return);
  EXPECT_EQ(name(model->current()), "photos");
  EXPECT_EQ(name(model->selection()), "2023");
}

}  // namespace
