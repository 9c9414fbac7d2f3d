#include "ViewTestSupport.h"

#include "model/Palette.h"
#include "views/BrowserView.h"
#include "views/BrowserWindow.h"
#include "views/RowDelegate.h"
#include "views/SunburstView.h"

#include <gtest/gtest.h>

#include <QTest>

#include <numbers>

namespace {

using testsupport::Node;
using viewtests::idOf;
using viewtests::nameOf;

constexpr double pi = std::numbers::pi;

// Two branches in the ratio 3 : 1, so ring 1 is split at three quarters of the circle.
std::vector<Node> split() {
  return {
      {-1, "split"}, {0, "big"}, {0, "small"}, {1, "inside", 3000}, {2, "tiny", 1000},
  };
}

// Within a few units per channel: antialiasing and rounding may touch the last bits.
::testing::AssertionResult near(const QColor& seen, const QColor& expected, int tolerance = 3) {
  const int d = std::max({std::abs(seen.red() - expected.red()), std::abs(seen.green() - expected.green()),
                          std::abs(seen.blue() - expected.blue())});
  if (d <= tolerance) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "saw " << seen.name().toStdString() << ", expected " << expected.name().toStdString();
}

QColor over(const QColor& top, double alpha, const QColor& bottom) {
  auto mix = [&](int a, int b) { return int(std::lround(a * alpha + b * (1 - alpha))); };
  return QColor(mix(top.red(), bottom.red()), mix(top.green(), bottom.green()),
                mix(top.blue(), bottom.blue()));
}

class SunburstViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = viewtests::openBrowser(viewtests::writeSnapshot(dir / "split.tfsnap", split()));
    ASSERT_TRUE(window->browser()->state().isReady());
    model = window->browser();
    chart = window->view()->chart();
  }

  void clickAt(QPointF point) { QTest::mouseClick(chart, Qt::LeftButton, {}, point.toPoint()); }
  bool waitForLayoutOf(tallyfox::NodeId center) {
    return viewtests::waitFor([&] { return chart->layout() && chart->layout()->center == center; });
  }

  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  std::unique_ptr<tallyfox::BrowserWindow> window;
  tallyfox::BrowserModel* model = nullptr;
  tallyfox::SunburstView* chart = nullptr;
};

TEST_F(SunburstViewTest, ClickingARingOneSegmentEntersItAndTheCentreGoesUp) {
  ASSERT_EQ(model->current(), 0);
  const auto& segments = chart->layout()->segments;
  ASSERT_EQ(segments.size(), 4u);
  EXPECT_DOUBLE_EQ(segments[0].end, 1.5 * pi);

  // "small" spans the last quarter of the circle.
  clickAt(chart->pointAt(1.75 * pi, 1));
  EXPECT_EQ(nameOf(*model, model->current()), "small");
  EXPECT_EQ(nameOf(*model, model->selection()), "tiny");
  ASSERT_TRUE(waitForLayoutOf(idOf(*model, "small")));
  EXPECT_FALSE(chart->isLayoutPending());

  clickAt(chart->chartGeometry().center);
  EXPECT_EQ(model->current(), 0);
  EXPECT_EQ(nameOf(*model, model->selection()), "small");

  // A file in ring 2 selects it inside its folder.
  ASSERT_TRUE(waitForLayoutOf(0));
  clickAt(chart->pointAt(0.5 * pi, 2));
  EXPECT_EQ(nameOf(*model, model->current()), "big");
  EXPECT_EQ(nameOf(*model, model->selection()), "inside");
}

TEST_F(SunburstViewTest, ThePreviousLayoutStaysUntilTheNextArrives) {
  model->navigate(idOf(*model, "big"));
  EXPECT_TRUE(chart->isLayoutPending());
  EXPECT_EQ(chart->layout()->center, 0);
  model->goUp();
  model->navigate(idOf(*model, "small"));
  // Only the newest request lands: the result for "big" is dropped when it arrives.
  ASSERT_TRUE(waitForLayoutOf(idOf(*model, "small")));
  EXPECT_FALSE(chart->isLayoutPending());
}

TEST_F(SunburstViewTest, HoverNamesTheSegmentInTheCentre) {
  QTest::mouseMove(chart, chart->pointAt(0.25 * pi, 1).toPoint());
  EXPECT_EQ(nameOf(*model, model->hovered()), "big");
  auto lines = tallyfox::CenterLabel::lines(*model);
  EXPECT_EQ(lines.name, QStringLiteral("big"));
  EXPECT_EQ(lines.percent, QStringLiteral("75.0%"));

  QTest::mouseMove(chart, chart->chartGeometry().center.toPoint());
  EXPECT_FALSE(model->hovered().has_value());
  lines = tallyfox::CenterLabel::lines(*model);
  EXPECT_EQ(lines.name, QStringLiteral("data"));
  EXPECT_TRUE(lines.percent.isEmpty());

  // Clicking the hovered segment enters it: the centre names the new folder, not the
  // segment that was under the pointer with its share of the folder left.
  const QPoint onBig = chart->pointAt(0.25 * pi, 1).toPoint();
  QTest::mouseMove(chart, onBig);
  clickAt(onBig);
  EXPECT_EQ(nameOf(*model, model->current()), "big");
  EXPECT_FALSE(model->hovered().has_value());
  lines = tallyfox::CenterLabel::lines(*model);
  EXPECT_EQ(lines.name, QStringLiteral("big"));
  EXPECT_TRUE(lines.percent.isEmpty());
  ASSERT_TRUE(waitForLayoutOf(idOf(*model, "big")));
  QTest::mouseMove(chart, chart->pointAt(1.75 * pi, 1).toPoint());
  EXPECT_EQ(tallyfox::CenterLabel::lines(*model).percent, QStringLiteral("100.0%"));
}

TEST_F(SunburstViewTest, RenderingShowsBranchColoursFocusAndTheCentreDisc) {
  window->resize(1000, 640);
  ASSERT_TRUE(viewtests::waitFor([&] { return chart->width() > 300 && chart->height() > 300; }));
  QCoreApplication::processEvents();
  const QImage shot = window->grab().toImage();
  const auto pixel = [&](QPointF inChart) {
    return shot.pixelColor(chart->mapTo(window.get(), inChart.toPoint()));
  };

  // The selection ("big", the largest) is in focus: its branch at full strength, the other
  // branch dimmed over the window's background.
  ASSERT_EQ(nameOf(*model, model->selection()), "big");
  EXPECT_TRUE(
      near(pixel(chart->pointAt(0.75 * pi, 1)), tallyfox::colorOf(tallyfox::Palette::entry(0, 0, true))));
  EXPECT_TRUE(
      near(pixel(chart->pointAt(0.75 * pi, 2)), tallyfox::colorOf(tallyfox::Palette::entry(0, 1, false))));
  const QColor background = chart->palette().color(QPalette::Window);
  EXPECT_TRUE(near(pixel(chart->pointAt(1.75 * pi, 1)),
                   over(tallyfox::colorOf(tallyfox::Palette::entry(1, 0, true)), 0.4, background)));

  // The centre disc, away from its label; and nothing beyond the rings of this shallow tree.
  const auto g = chart->chartGeometry();
  EXPECT_TRUE(near(pixel(g.center + QPointF(0, g.hole * 0.85)), chart->palette().color(QPalette::Base)));
  EXPECT_TRUE(near(pixel(chart->pointAt(0.75 * pi, 4)), background));
}

}  // namespace
