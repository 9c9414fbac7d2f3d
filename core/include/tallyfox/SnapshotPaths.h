#pragma once

#include <tallyfox/DiskTree.h>
#include <tallyfox/SnapshotFile.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallyfox {

namespace SnapshotPaths {

struct Listed {
  std::filesystem::path url;
  SnapshotFile::Info info;
  std::int64_t entries = 0;
};

// Standardized path (leading "~", ".", "..", repeated and trailing "/") with the data
// volume prefix "/System/Volumes/Data" folded away.
std::string canonical(const std::string& path);
// The names leading from root to path, or nothing when path is not at or below root.
std::optional<std::vector<std::string>> components(const std::string& path, const std::string& root);
std::optional<NodeId> node(const std::string& path, const DiskTree& tree);
// Complete snapshots in folder whose root is the place or an ancestor, newest first.
std::vector<Listed> snapshots(const std::string& covering, const std::filesystem::path& folder,
                              const std::optional<std::filesystem::path>& excluding = std::nullopt);

}  // namespace SnapshotPaths

// Path helpers shared by the core.
namespace PathText {
std::string homeDirectory();
// Where the user's data files go: $XDG_DATA_HOME when it is absolute, else
// ~/.local/share. None when there is no home folder to put it in (no absolute $HOME and no
// entry in the user database): a caller writes nothing then, rather than below "/".
std::optional<std::string> dataHome();
// Lexical standardization: leading "~", ".", "..", repeated "/", trailing "/".
std::string standardize(const std::string& path);
std::string expandTilde(const std::string& path);
std::string abbreviateTilde(const std::string& path);
std::string lastComponent(const std::string& path);
// Appends a component with exactly one "/" between.
std::string appendComponent(const std::string& base, const std::string& name);
void appendComponentTo(std::string& base, std::string_view name);
}  // namespace PathText

}  // namespace tallyfox
