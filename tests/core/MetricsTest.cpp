#include <tallyfox/Metrics.h>
#include <tallyfox/SnapshotFile.h>

#include "Exposition.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <map>

using namespace tallyfox;

TEST(Metrics, FoldersAboveOnePercentAsValidExposition) {
  // 10,000 bytes in all, children largest first as in every snapshot: "just" holds 101 (above
  // 1 %), "exact" 100 (not above), and the names need every kind of escaping. Two names differ
  // only in a byte that is not UTF-8 and its spelling as text: they would label alike, and a
  // series must not appear twice, so the larger is shown.
  const auto tree = SnapshotFile::inMemory(testsupport::columnsOf({{-1, ""},
                                                                   {0, "back\\slash\nline"},
                                                                   {0, "big \"quoted\""},
                                                                   {0, "caf\xE9"},
                                                                   {0, "caf\\xE9"},
                                                                   {0, "just"},
                                                                   {0, "exact"},
                                                                   {1, "data", 3000},
                                                                   {2, "inner"},
                                                                   {2, "file", 1000},
                                                                   {3, "x", 2000},
                                                                   {4, "x", 1999},
                                                                   {5, "x", 101},
                                                                   {6, "x", 100},
                                                                   {8, "y", 1700},
                                                                   {8, "tiny", 100}}),
                                           {"/srv/\"r\"", testsupport::localDay(2025, 5, 1), 12.5});
  ASSERT_EQ(tree->sizeOf(DiskTree::root), 10'000u);
  const std::string text = Metrics::exposition(*tree);
  testsupport::Exposition parsed;
  ASSERT_NO_THROW(parsed = testsupport::parseExposition(text)) << text;

  std::map<std::string, double> bytes, entries;
  double started = 0, seconds = 0;
  for (const auto& sample : parsed.samples) {
    EXPECT_FALSE(sample.timestamped);
    EXPECT_EQ(sample.labels.at("root"), "/srv/\"r\"");
    if (sample.name == "tallyfox_folder_bytes") bytes[sample.labels.at("path")] = sample.value;
    if (sample.name == "tallyfox_folder_entries") entries[sample.labels.at("path")] = sample.value;
    if (sample.name == "tallyfox_scan_timestamp_seconds") started = sample.value;
    if (sample.name == "tallyfox_scan_duration_seconds") seconds = sample.value;
  }
  const std::map<std::string, double> expected{{"/srv/\"r\"", 10'000},
                                               {"/srv/\"r\"/big \"quoted\"", 2800},
                                               {"/srv/\"r\"/big \"quoted\"/inner", 1800},
                                               {"/srv/\"r\"/back\\slash\nline", 3000},
                                               {"/srv/\"r\"/just", 101},
                                               {"/srv/\"r\"/caf\\xE9", 2000}};
  EXPECT_EQ(bytes, expected);
  EXPECT_EQ(entries.size(), expected.size());
  EXPECT_EQ(entries.at("/srv/\"r\""), double(tree->nodeCount()));
  EXPECT_EQ(entries.at("/srv/\"r\"/big \"quoted\""), 4);  // inner, its two entries, file
  EXPECT_EQ(started,
            std::chrono::duration<double>(testsupport::localDay(2025, 5, 1).time_since_epoch()).count());
  EXPECT_EQ(seconds, 12.5);
  for (const char* name : {"tallyfox_folder_bytes", "tallyfox_folder_entries",
                           "tallyfox_scan_timestamp_seconds", "tallyfox_scan_duration_seconds"}) {
    EXPECT_EQ(parsed.type[name], "gauge") << name;
    EXPECT_FALSE(parsed.help[name].empty()) << name;
  }
}

TEST(Metrics, LabelValuesAreEscapedAndMadeUtf8) {
  EXPECT_EQ(Metrics::labelValue("a\"b\\c\nd"), "a\\\"b\\\\c\\nd");
  EXPECT_EQ(Metrics::labelValue("Caf\xC3\xA9\t"), "Caf\xC3\xA9\t");
  // A byte that cannot be UTF-8 is spelled out; a sequence cut short loses only its own bytes.
  EXPECT_EQ(Metrics::labelValue("\xFF"
                                "a\xE2\x82"),
            "\\\\xFFa\\\\xE2\\\\x82");
  EXPECT_EQ(Metrics::labelValue("\xED\xA0\x80"), "\\\\xED\\\\xA0\\\\x80");
}
