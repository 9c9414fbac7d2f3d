#include <tallyfox/Retention.h>

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

using namespace tallyfox;
using testsupport::localDate;
using testsupport::localDay;
using Clock = std::chrono::system_clock;

namespace {

// The local dates of the snapshots of `place` that the rule keeps at `now`.
std::vector<std::string> keptDates(const std::vector<Retention::Snapshot>& snapshots, Clock::time_point now,
                                   const std::string& place) {
  const auto expired = Retention::expired(snapshots, now);
  const std::set<std::size_t> gone(expired.begin(), expired.end());
  std::vector<std::string> dates;
  for (std::size_t k = 0; k < snapshots.size(); ++k)
    if (!gone.contains(k) && snapshots[k].place == place) dates.push_back(localDate(snapshots[k].taken));
  std::sort(dates.begin(), dates.end());
  return dates;
}

}  // namespace

TEST(Retention, TwoYearsOfSnapshotsThinOutToDaysWeeksAndMonths) {
  // Two places: one scanned every day at noon, the other on the 15th of every month. Both are
  // scheduled for two years up to Wednesday 18 June 2025, noon.
  std::vector<Retention::Snapshot> snapshots;
  for (int day = 0; day < 731; ++day) snapshots.push_back({localDay(2023, 6, 19 + day), "/home/ann"});
  for (int month = 0; month <= 24; ++month)
    snapshots.push_back({localDay(2023 + (5 + month) / 12, (5 + month) % 12 + 1, 15), "/srv"});
  ASSERT_EQ(snapshots.size(), 731u + 25u);
  const auto now = localDay(2025, 6, 18);

  EXPECT_EQ(
      keptDates(snapshots, now, "/home/ann"),
      (std::vector<std::string>{
          // the first of each of the last twelve months, June included, and the Monday of
          // each of the last eight weeks (28 April on), beyond the last seven days
          "2024-07-01", "2024-08-01", "2024-09-01", "2024-10-01", "2024-11-01", "2024-12-01", "2025-01-01",
          "2025-02-01", "2025-03-01", "2025-04-01", "2025-04-28", "2025-05-01", "2025-05-05", "2025-05-12",
          "2025-05-19", "2025-05-26", "2025-06-01", "2025-06-02", "2025-06-09",
          // every day of the last seven: 11 June is exactly seven days ago
          "2025-06-12", "2025-06-13", "2025-06-14", "2025-06-15", "2025-06-16", "2025-06-17", "2025-06-18"}));
  // The other place keeps its own: its 15ths would never be the first of a month among the
  // daily snapshots, and they do not take the daily place's weeks.
  EXPECT_EQ(keptDates(snapshots, now, "/srv"),
            (std::vector<std::string>{"2024-07-15", "2024-08-15", "2024-09-15", "2024-10-15", "2024-11-15",
                                      "2024-12-15", "2025-01-15", "2025-02-15", "2025-03-15", "2025-04-15",
                                      "2025-05-15", "2025-06-15"}));
}

TEST(Retention, PruningAfterEveryRunKeepsWhatOnePruningAtTheEndKeeps) {
  // Irregular runs of two places over two years: some days skipped, some with two runs, at
  // any hour. Each run prunes what is there; nothing removed early may be missed later.
  std::mt19937_64 random(32);
  std::vector<Retention::Snapshot> all, present;
  auto when = localDay(2023, 3, 1, 0);
  for (int run = 0; run < 1000; ++run) {
    when += std::chrono::minutes(std::uniform_int_distribution<int>(60, 3 * 24 * 60)(random));
    all.push_back({when, run % 3 == 0 ? "/srv" : "/home/ann"});
    present.push_back(all.back());
    const auto expired = Retention::expired(present, when);
    for (auto k = expired.rbegin(); k != expired.rend(); ++k)
      present.erase(present.begin() + std::ptrdiff_t(*k));
    // Never more than a week of runs (at most ~170 at one an hour) plus weeks and months.
    ASSERT_LE(present.size(), 2u * (7 * 24 + 8 + 12)) << run;
  }
  std::vector<Clock::time_point> batch, incremental;
  const auto expired = Retention::expired(all, when);
  for (std::size_t k = 0, e = 0; k < all.size(); ++k) {
    if (e < expired.size() && expired[e] == k) {
      ++e;
      continue;
    }
    batch.push_back(all[k].taken);
  }
  for (const auto& s : present) incremental.push_back(s.taken);
  EXPECT_EQ(incremental, batch);
  EXPECT_GT(batch.size(), 20u);
}

TEST(Retention, SnapshotsFromAClockSetBackAreKept) {
  const auto now = localDay(2025, 1, 10);
  const std::vector<Retention::Snapshot> snapshots{
      {now + std::chrono::hours(24 * 400), "/p"}, {now, "/p"}, {localDay(2020, 1, 1), "/p"}};
  EXPECT_EQ(Retention::expired(snapshots, now), std::vector<std::size_t>{2});
}
