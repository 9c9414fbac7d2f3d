#pragma once

#include <QString>

#include <filesystem>
#include <optional>
#include <string>
#include <variant>

namespace tallyfox {

// What the notification after a scheduled scan says, and what its action opens: the new
// snapshot compared with the previous one of its place, at the folder that grew most.
struct GrowthAlert {
  QString summary;
  QString body;  // plain text, one line per folder
  std::filesystem::path snapshot;
  std::optional<std::filesystem::path> previous;
  // Where the comparison opens: the folder that grew most, else the place.
  std::string folder;

  // The alert of a scheduled snapshot, from the growth report its index entry keeps; else
  // why there is none (not a scheduled snapshot, nothing crossed the threshold). Reads the
  // index only, never the snapshot.
  static std::variant<GrowthAlert, QString> forSnapshot(const std::filesystem::path& snapshot);
};

}  // namespace tallyfox
