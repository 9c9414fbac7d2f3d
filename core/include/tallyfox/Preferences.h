#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tallyfox {

enum class ScanSpeed : std::uint8_t;

// The per-user key-value store shared by the app and tfscan: one JSON object in
// $XDG_CONFIG_HOME/io.quillon.Tallyfox/preferences.json. Every read goes to the file, so
// a value written by the other program is seen at once (the text is parsed again only when
// its bytes changed); every write re-reads, changes one key and replaces the file atomically. A missing or
// broken file reads as empty and the next write replaces it. A file nested deeper than maxDepth or larger
// than maxFileBytes is refused instead: it reads as empty, refusal() says why, and no write replaces it, so
// that nothing the user may still want is lost to one setting.
class Preferences {
 public:
  // Far more than any settings file holds; a larger or deeper one is not ours. The depth
  // counts the brackets of arrays and objects around a value, the top object's included.
  static constexpr std::size_t maxFileBytes = 16 << 20;
  static constexpr int maxDepth = 100;

  // What a write into a refused file throws; what() is refusal()'s text.
  class Refused : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
  };

  static constexpr const char* domain = "io.quillon.Tallyfox";
  // Raw values of ScanSpeed ("fast", "balanced", "gentle"), shared with tfscan.
  static constexpr const char* scanSpeedKey = "scanSpeed";
  // A folder path, possibly starting with "~"; empty or absent means the built-in folder.
  static constexpr const char* snapshotsFolderKey = "snapshotsDirectory";
  // The folders scheduled scans cover: a list of paths, possibly starting with "~".
  static constexpr const char* scheduledFoldersKey = "scheduledFolders";
  // Growth in bytes past which a scheduled scan names the folders that grew.
  static constexpr const char* growthAlertBytesKey = "growthAlertBytes";

  explicit Preferences(std::filesystem::path file);

  // The store of this user, or nothing when neither XDG_CONFIG_HOME nor HOME is set.
  static std::optional<std::filesystem::path> standardFile();
  static std::optional<Preferences> standard();

  const std::filesystem::path& file() const { return file_; }

  std::optional<nlohmann::json> get(const std::string& key) const;
  std::optional<std::string> getString(const std::string& key) const;
  // Throws std::system_error when the file cannot be written, Refused when it was refused
  // (or the value would make it one that is).
  void set(const std::string& key, const nlohmann::json& value);
  void remove(const std::string& key);

  // Why the file as it is now is refused ("nested deeper than 100 levels"); nothing when it
  // is used, missing or merely broken.
  std::optional<std::string> refusal() const;

  nlohmann::json all() const;

  // The saved scan speed; fast when there is no value, or one that names no speed.
  ScanSpeed scanSpeed() const;
  // The snapshots folder this store names (SnapshotsFolder::resolve). Not created here.
  std::filesystem::path snapshotsFolder() const;
  // The folders scheduled scans cover, "~" expanded: the home folder when there is no list;
  // entries that are not paths are left out.
  std::vector<std::string> scheduledFolders() const;
  // The growth alert's threshold; 1 GB when there is no value, or one that is not a size.
  std::uint64_t growthAlertBytes() const;

 private:
  struct Contents;
  // The file as it reads now, parsed; shared with the parse of the same bytes before.
  std::shared_ptr<const Contents> read() const;
  // The object of a file that may be rewritten; throws Refused for one that is refused.
  nlohmann::json writableObject() const;
  void store(const nlohmann::json& object);

  std::filesystem::path file_;
  // The last text read and its parse. Copies of a store share it; reads may come from any
  // thread.
  struct Parsed {
    std::mutex lock;
    std::string text;
    std::shared_ptr<const Contents> contents;
  };
  std::shared_ptr<Parsed> parsed_ = std::make_shared<Parsed>();
};

// Where snapshots go when no other place is asked for: the folder the preferences name, or
// the built-in one. The callers pass the folder in, so that nothing below reads the user's
// settings behind their back.
namespace SnapshotsFolder {

inline constexpr const char* builtIn = "~/.local/share/tallyfox";

// The folder a stored value names, with a leading "~" expanded; the built-in folder when
// the value is absent or empty.
std::filesystem::path resolve(const std::optional<std::string>& stored);
// The folder of the user's store, or the built-in one without a store.
std::filesystem::path ofUser(const std::optional<Preferences>& store);
// A new snapshot's path in `folder`, which is created when missing: the root's last
// component ("root" for "/") and the local start time, "Projects-2024-03-05_130709.tfsnap";
// "-2", "-3" … are added while that name is taken. A long last component is cut (at a
// character) so that the name and its writer's temporary name fit the file system. Throws
// std::system_error naming the folder when it cannot be made or searched.
std::filesystem::path newSnapshotPath(const std::filesystem::path& folder, const std::string& root,
                                      std::chrono::system_clock::time_point started);

}  // namespace SnapshotsFolder

}  // namespace tallyfox
