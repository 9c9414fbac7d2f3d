#pragma once

#include <QString>

#include <chrono>

namespace tallyfox {

// A moment relative to now in words, with named days where they exist: "now",
// "5 minutes ago", "yesterday", "last week", "2 weeks ago", "in 3 days". The largest unit
// that is at least one whole step wins.
QString relativeDate(std::chrono::system_clock::time_point when, std::chrono::system_clock::time_point now);

}  // namespace tallyfox
