#pragma once

#include <chrono>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

// Which scheduled snapshots a timeline keeps as they age: many recent ones, fewer old ones.
namespace tallyfox::Retention {

// What the rule knows of one snapshot.
struct Snapshot {
  std::chrono::system_clock::time_point taken;
  // The folder scanned, canonical: snapshots of different places never take each other's turn.
  std::string place;
};

// Every snapshot younger than `days` days is kept; beyond that, per place, the first snapshot of
// each of the last `weeks` calendar weeks (Monday to Sunday) and of each of the last `months`
// calendar months, the current week and month included, in local time.
//
// The first of a week or month, not the last, so that a kept snapshot stays kept until its week
// or month has passed out of reach: a new snapshot can never take its place. Pruning after every
// run therefore keeps exactly what one pruning at the end would keep.
struct Policy {
  int days = 7;
  int weeks = 8;
  int months = 12;
};

// The positions in `snapshots` of those the rule lets go at `now`, ascending. A snapshot taken
// after `now` (a clock set back) is kept. Pure: depends only on its arguments and the local time
// zone.
std::vector<std::size_t> expired(std::span<const Snapshot> snapshots,
                                 std::chrono::system_clock::time_point now, const Policy& policy = {});

}  // namespace tallyfox::Retention
