// A window compared with an earlier snapshot: candidates, the rows of changes, what is gone,
// the growth chart, and the errors a person can meet.
#include "ModelTestSupport.h"
#include "VokWriter.h"
#include "model/Comparison.h"
#include "model/CountMode.h"
#include "model/Format.h"
#include "model/Settings.h"
#include "model/SunburstLayout.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/VokSnapshotReader.h>

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <sys/xattr.h>

using namespace tallyfox;
using testsupport::idOf;
using testsupport::namesOf;
using testsupport::Node;

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;
using std::chrono::hours;

using testsupport::now;

// Last week: data/ holds a folder that will grow, one that stays, one that goes, and a file
// that grows from 1 to 3 bytes.
const std::vector<Node> lastWeek = {{-1, ""},          {0, "data"},      {1, "grows"},
                                    {1, "same"},       {1, "old"},       {1, "tiny.txt", 1},
                                    {2, "a.bin", 100}, {3, "s.bin", 50}, {4, "o.bin", 40}};
// Today: grows/ got bigger and a new file; same/ is unchanged; old/ is gone.
const std::vector<Node> today = {{-1, ""},           {0, "data"},       {1, "grows"},       {1, "same"},
                                 {1, "tiny.txt", 3}, {2, "a.bin", 100}, {2, "new.bin", 70}, {3, "s.bin", 50}};

class ComparisonTest : public testsupport::SnapshotsFolderTest {
 protected:
  void compare(BrowserModel& m, const fs::path& earlier) {
    QSignalSpy changed(&m.comparing(), &ComparisonModel::comparisonChanged);
    QSignalSpy failed(&m.comparing(), &ComparisonModel::comparisonErrorChanged);
    m.comparing().compare(earlier);
    EXPECT_TRUE(testsupport::waitFor([&] { return changed.count() + failed.count() > 0; }));
  }
  Names rowNames(const BrowserModel& m) {
    std::vector<NodeId> ids;
    for (const auto& row : m.rows()) ids.push_back(row.node);
    return namesOf(m, ids);
  }
};

TEST_F(ComparisonTest, ListsOnlyChangesAndKeepsTheGoneApart) {
  const fs::path earlier = snapshot("a.tfsnap", lastWeek, "/srv", now - hours(24 * 7));
  auto m = open(snapshot("b.tfsnap", today, "/srv", now));
  EXPECT_EQ(rowNames(*m), (Names{"grows", "same", "tiny.txt"}));
  compare(*m, earlier);
  ASSERT_TRUE(m->comparing().comparison());
  EXPECT_EQ(m->comparing().comparisonError(), std::nullopt);
  // Largest change first; same/ did not change and is not listed; old/ is gone, not a row.
  EXPECT_EQ(rowNames(*m), (Names{"grows", "tiny.txt"}));
  EXPECT_EQ(m->selection(), idOf(*m, "grows"));
  const auto gone = m->comparing().goneEntries();
  ASSERT_EQ(gone.size(), 1u);
  EXPECT_EQ(gone[0].name, "old");
  EXPECT_TRUE(gone[0].isDirectory);

  // 1 → 3 bytes: the sign, the magnitude and both sizes.
  const auto tiny = m->rowValues({idOf(*m, "tiny.txt"), 0});
  ASSERT_TRUE(tiny.change);
  EXPECT_EQ(Format::signedBytes(tiny.change->delta()), QStringLiteral("+2 bytes"));
  EXPECT_EQ(Format::changeSizes(false, false, tiny.change->oldSize, tiny.change->newSize),
            QStringLiteral("1 byte \u2192 3 bytes"));
  EXPECT_EQ(tiny.largestChange, 70u);  // grows/ gained 70 bytes, the most of its siblings
  EXPECT_EQ(Format::signedBytes(-40), QStringLiteral("\u221240 bytes"));

  // Inside a changed folder only the changed files are listed, and only changed folders expand.
  EXPECT_FALSE(m->isExpandable(idOf(*m, "same")));
  m->click(idOf(*m, "grows"));
  EXPECT_EQ(rowNames(*m), (Names{"new.bin"}));
  EXPECT_TRUE(m->rowValues(m->rows()[0]).change->isNew());

  // Stop: every child again, no change columns, and the chart measures sizes.
  m->goUp();
  m->comparing().stop();
  EXPECT_EQ(m->comparing().comparison(), nullptr);
  EXPECT_EQ(rowNames(*m), (Names{"grows", "same", "tiny.txt"}));
  EXPECT_FALSE(m->rowValues(m->rows()[0]).change);
}

TEST_F(ComparisonTest, TheGrowthChartDrawsOnlyWhatGrew) {
  const fs::path earlier = snapshot("a.tfsnap", lastWeek, "/srv", now - hours(24));
  auto m = open(snapshot("b.tfsnap", today, "/srv", now));
  compare(*m, earlier);
  const ComparisonPtr comparison = m->comparing().comparison();
  ASSERT_TRUE(comparison);
  const NodeId data = idOf(*m, "data");
  const SunburstLayout growth(comparison->diff(), *comparison->entry(data), data, comparison->id());
  ASSERT_EQ(growth.segments.size(), 3u);  // grows/, its new file, tiny.txt; never old/ or same/
  EXPECT_EQ(growth.segments[0].node, idOf(*m, "grows"));
  EXPECT_NEAR(growth.segments[0].end, 2 * M_PI * 70 / 72, 1e-9);
  EXPECT_EQ(growth.segments[1].node, idOf(*m, "new.bin"));
  EXPECT_EQ(growth.key().comparing, comparison->id());
  // Where nothing grew, nothing is drawn.
  const NodeId same = idOf(*m, "same");
  EXPECT_TRUE(
      SunburstLayout(comparison->diff(), *comparison->entry(same), same, comparison->id()).segments.empty());
}

TEST_F(ComparisonTest, CandidatesAndThePreviousSnapshotByScanStart) {
  const fs::path older = snapshot("older.tfsnap", lastWeek, "/srv", now - hours(48));
  snapshot("same-moment.tfsnap", lastWeek, "/srv", now - hours(1));
  snapshot("later.tfsnap", lastWeek, "/srv", now);
  snapshot("elsewhere.tfsnap", lastWeek, "/other", now - hours(72));
  const fs::path own = snapshot("own.tfsnap", today, "/srv", now - hours(1));
  auto m = open(own);
  QSignalSpy listed(&m->comparing(), &ComparisonModel::candidatesChanged);
  EXPECT_TRUE(testsupport::waitFor([&] { return !m->comparing().comparisonCandidates().empty(); }));
  std::vector<std::string> names;
  for (const auto& c : m->comparing().comparisonCandidates()) names.push_back(c.url.filename().string());
  EXPECT_EQ(names, (Names{"later.tfsnap", "same-moment.tfsnap", "older.tfsnap"}));
  // Neither one started at the same moment nor a later one is "previous".
  EXPECT_EQ(m->comparing().previousSnapshot(), older);
}

TEST_F(ComparisonTest, AFolderMissingFromTheEarlierSnapshotIsNamedWithTheHomeFolderAsTilde) {
  const std::string ann = (home.path() / "ann").string();
  const fs::path projects =
      snapshot("Projects.tfsnap", {{-1, ""}, {0, "x", 5}}, ann + "/Projects", now - hours(24));
  const fs::path whole = snapshot("ann.tfsnap", {{-1, ""}, {0, "Projects"}, {1, "x", 9}}, ann, now);
  auto m = open(whole);
  compare(*m, projects);
  EXPECT_EQ(m->comparing().comparison(), nullptr);
  EXPECT_EQ(m->comparing().comparisonError(), QStringLiteral("Projects.tfsnap doesn't include ~/ann."));

  // The other way the earlier root holds the compared folder.
  const fs::path wholeEarlier =
      snapshot("ann-old.tfsnap", {{-1, ""}, {0, "Projects"}, {1, "x", 2}}, ann, now - hours(48));
  auto inner = open(projects);
  compare(*inner, wholeEarlier);
  ASSERT_TRUE(inner->comparing().comparison());
  EXPECT_EQ(inner->comparing().comparison()->entry(DiskTree::root)->delta(), 3);

  // A file that is no snapshot: the reader's message, and the comparison shown stays.
  testsupport::writeFile(folder / "junk.tfsnap", "not a snapshot");
  compare(*inner, folder / "junk.tfsnap");
  EXPECT_TRUE(inner->comparing().comparison());
  EXPECT_TRUE(inner->comparing().comparisonError());
}

TEST_F(ComparisonTest, AVokSnapshotIsAnEarlierSnapshotToo) {
  testsupport::VokWriter::fromColumns(testsupport::columnsOf(lastWeek)).write(folder / "old.vok", true);
  // The sibling tool records the scanned folder beside the file.
  const std::string root = "/srv";
  ASSERT_EQ(::setxattr((folder / "old.vok").c_str(), VokSnapshotReader::basePathAttribute, root.data(),
                       root.size(), 0),
            0);
  auto m = open(snapshot("b.tfsnap", today, "/srv", now));
  compare(*m, folder / "old.vok");
  ASSERT_TRUE(m->comparing().comparison()) << m->comparing().comparisonError().value_or("").toStdString();
  EXPECT_EQ(rowNames(*m), (Names{"grows", "tiny.txt"}));
}

}  // namespace

// Counting entries, a comparison is of entries: the rows are those whose count changed, with
// that change and the largest among them, and the chart grows by entries.
TEST_F(ComparisonTest, CountingEntriesComparesEntries) {
  const fs::path earlier = snapshot("a.tfsnap", lastWeek, "/srv", now - hours(24 * 7));
  auto m = open(snapshot("b.tfsnap", today, "/srv", now));
  compare(*m, earlier);
  ASSERT_TRUE(m->comparing().comparison());
  m->countMode().setMeasure(CountMode::Measure::entries);
  // tiny.txt grew by two bytes but is still one entry.
  EXPECT_EQ(rowNames(*m), (Names{"grows"}));
  const auto grows = m->rowValues({idOf(*m, "grows"), 0});
  ASSERT_TRUE(grows.change);
  EXPECT_EQ(CountMode::changeCounts(false, false, grows.change->oldSize, grows.change->newSize),
            QStringLiteral("2 \u2192 3"));
  EXPECT_EQ(grows.largestChange, 2u);  // old/ and its file went
  const Comparison& comparison = *m->comparing().comparison();
  const auto here = comparison.entry(m->current());
  ASSERT_TRUE(here);
  // old/ and its file went, new.bin came: one entry fewer.
  EXPECT_EQ(m->countMode().changeText(m->countMode().measured(comparison, *here).delta()),
            QStringLiteral("\u22121 entries"));

  const SunburstLayout growth(comparison.diff(), *here, m->current(), comparison.id(), true);
  ASSERT_EQ(growth.segments.size(), 2u);
  EXPECT_EQ(growth.segments[0].node, idOf(*m, "grows"));
  EXPECT_EQ(growth.segments[1].node, idOf(*m, "new.bin"));
  EXPECT_NE(growth.key(), SunburstLayout(comparison.diff(), *here, m->current(), comparison.id()).key());

  m->countMode().setMeasure(CountMode::Measure::size);
  EXPECT_EQ(rowNames(*m), (Names{"grows", "tiny.txt"}));
}
