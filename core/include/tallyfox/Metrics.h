#pragma once

#include <tallyfox/DiskTree.h>

#include <string>
#include <string_view>

// A snapshot in the Prometheus text exposition format, for node_exporter's textfile collector:
// the folders that hold more than 1 % of the root (tallyfox_folder_bytes, tallyfox_folder_entries,
// labelled with the scanned root and the folder's path) and when and how long the scan ran.
namespace tallyfox::Metrics {

// The share of the root a folder must exceed to be shown, in percent.
inline constexpr int shownPercent = 1;

// The whole exposition, one family after another, each with its HELP and TYPE lines.
std::string exposition(const DiskTree& tree);

// A label value as the format requires: backslash, double quote and line feed escaped; bytes
// that are not UTF-8 written as the text \xHH (so that two such names stay two series).
std::string labelValue(std::string_view bytes);

}  // namespace tallyfox::Metrics
