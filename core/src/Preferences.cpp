#include <tallyfox/Preferences.h>

#include <tallyfox/GrowthReport.h>
#include <tallyfox/Scanner.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotPaths.h>

#include <tallyfox/Unicode.h>

#include "linux/FileIO.h"

#include <sys/stat.h>

#include <cerrno>

#include <cstdlib>
#include <ctime>
#include <string_view>
#include <system_error>

namespace tallyfox {

namespace {

// Whether JSON text nests arrays and objects deeper than `limit`, by counting brackets
// outside strings. The parsed document is copied, compared and written by recursive code,
// so a deep file must be turned away before it is parsed at all.
bool nestedDeeperThan(std::string_view text, int limit) {
  int depth = 0;
  bool inString = false;
  for (std::size_t k = 0; k < text.size(); ++k) {
    const char c = text[k];
    if (inString) {
      if (c == '\\')
        ++k;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return true;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return false;
}

std::string tooDeep() {
  return "nested deeper than " + std::to_string(Preferences::maxDepth) + " levels";
}

}  // namespace

struct Preferences::Contents {
  nlohmann::json object = nlohmann::json::object();
  std::optional<std::string> refusal;
};

std::shared_ptr<const Preferences::Contents> Preferences::read() const {
  std::string text;
  try {
    text = FileIO::readWholeFile(file_, maxFileBytes);
  } catch (const std::system_error& e) {
    if (e.code() == std::errc::file_too_large)
      return std::make_shared<const Contents>(
          Contents{nlohmann::json::object(), "larger than " + std::to_string(maxFileBytes >> 20) + " MB"});
    return std::make_shared<const Contents>();
  }
  // Reading the file each time keeps another writer's change visible; parsing it again only
  // when its bytes differ keeps a burst of reads (a window's settings at start) cheap.
  std::lock_guard guard(parsed_->lock);
  if (parsed_->contents && parsed_->text == text) return parsed_->contents;
  Contents contents;
  if (nestedDeeperThan(text, maxDepth)) {
    contents.refusal = tooDeep();
  } else if (auto value = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
             value.is_object()) {
    contents.object = std::move(value);
  }
  parsed_->text = std::move(text);
  parsed_->contents = std::make_shared<const Contents>(std::move(contents));
  return parsed_->contents;
}

Preferences::Preferences(std::filesystem::path file) : file_(std::move(file)) {}

std::optional<std::filesystem::path> Preferences::standardFile() {
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::filesystem::path(home) / ".config";
  } else {
    return std::nullopt;
  }
  return base / "io.quillon.Tallyfox" / "preferences.json";
}

std::optional<Preferences> Preferences::standard() {
  const auto file = standardFile();
  if (!file) return std::nullopt;
  return Preferences(*file);
}

nlohmann::json Preferences::all() const {
  return read()->object;
}

std::optional<nlohmann::json> Preferences::get(const std::string& key) const {
  const auto contents = read();
  const auto it = contents->object.find(key);
  if (it == contents->object.end()) return std::nullopt;
  return *it;
}

std::optional<std::string> Preferences::refusal() const {
  return read()->refusal;
}

std::optional<std::string> Preferences::getString(const std::string& key) const {
  const auto value = get(key);
  if (!value || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

nlohmann::json Preferences::writableObject() const {
  const auto contents = read();
  if (contents->refusal) throw Refused(file_.string() + " is " + *contents->refusal);
  return contents->object;
}

void Preferences::set(const std::string& key, const nlohmann::json& value) {
  auto object = writableObject();
  object[key] = value;
  store(object);
}

void Preferences::remove(const std::string& key) {
  auto object = writableObject();
  if (object.erase(key) == 0) return;
  store(object);
}

void Preferences::store(const nlohmann::json& object) {
  std::error_code ignored;
  std::filesystem::create_directories(file_.parent_path(), ignored);
  // Invalid UTF-8 in a value must not make the whole store unwritable. Compact: indenting
  // costs a deep value as many bytes per line as it is deep.
  const std::string text = object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  if (nestedDeeperThan(text, maxDepth))
    throw Refused("a value " + tooDeep() + " is not saved in " + file_.string());
  FileIO::writeAtomically(file_, [&](int fd) { FileIO::writeAll(fd, text.data(), text.size()); });
}

ScanSpeed Preferences::scanSpeed() const {
  const auto value = getString(scanSpeedKey);
  if (!value) return ScanSpeed::fast;
  return scanSpeedFromRawValue(*value).value_or(ScanSpeed::fast);
}

std::filesystem::path Preferences::snapshotsFolder() const {
  return SnapshotsFolder::resolve(getString(snapshotsFolderKey));
}

std::vector<std::string> Preferences::scheduledFolders() const {
  const auto value = get(scheduledFoldersKey);
  if (!value || !value->is_array()) return {PathText::standardize(PathText::homeDirectory())};
  std::vector<std::string> folders;
  for (const auto& entry : *value) {
    if (!entry.is_string() || entry.get<std::string>().empty()) continue;
    // The scheduled scan runs wherever the service manager starts it: a relative path means
    // one in the home folder, not in that working folder.
    std::string folder = PathText::expandTilde(entry.get<std::string>());
    if (!folder.starts_with('/')) folder = PathText::appendComponent(PathText::homeDirectory(), folder);
    folders.push_back(PathText::standardize(folder));
  }
  return folders;
}

std::uint64_t Preferences::growthAlertBytes() const {
  constexpr std::uint64_t fallback = GrowthReport::defaultThreshold;
  const auto value = get(growthAlertBytesKey);
  if (!value || !value->is_number()) return fallback;
  if (value->is_number_unsigned()) return value->get<std::uint64_t>();
  const double bytes = value->get<double>();
  // A float from a hand-edited file; negative, NaN or beyond 2^64 means nothing.
  return bytes >= 0 && bytes < 1.8e19 ? std::uint64_t(bytes) : fallback;
}

namespace SnapshotsFolder {

std::filesystem::path resolve(const std::optional<std::string>& stored) {
  return PathText::expandTilde(stored && !stored->empty() ? *stored : std::string(builtIn));
}

std::filesystem::path ofUser(const std::optional<Preferences>& store) {
  return store ? store->snapshotsFolder() : resolve(std::nullopt);
}

namespace {

// The error of a snapshots folder that cannot be used, naming it.
[[noreturn]] void throwFolderError(int code, const std::filesystem::path& folder) {
  throw std::system_error(code, std::generic_category(), "snapshots folder " + folder.string());
}

}  // namespace

std::filesystem::path newSnapshotPath(const std::filesystem::path& folder, const std::string& root,
                                      std::chrono::system_clock::time_point started) {
  std::string label;
  if (root == "/")
    label = "root";
  else if (root == "/System/Volumes/Data")
    label = "disk";
  else
    label = PathText::lastComponent(root);
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) throwFolderError(error.value(), folder);
  const std::time_t seconds = std::chrono::system_clock::to_time_t(started);
  std::tm local{};
  ::localtime_r(&seconds, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H%M%S", &local);
  // Two scans of one place within a second (a rescan right after a scan) would get one name;
  // the later must not replace the earlier.
  constexpr int lastNumber = 9999;
  const std::string extension = std::string(".") + SnapshotFile::fileExtension;
  const std::string after = "-" + std::string(stamp);
  // The folder's name is cut so that the longest numbered name, and its temporary, fit.
  const std::size_t fixed =
      after.size() + 1 + std::to_string(lastNumber).size() + extension.size() + FileIO::temporaryExtraBytes;
  const std::size_t limit = FileIO::maxNameBytes(folder);
  const std::string base =
      std::string(Unicode::prefixWithin(label, limit > fixed ? limit - fixed : 0)) + after;
  for (int k = 1; k <= lastNumber; ++k) {
    const std::filesystem::path path =
        folder / (k == 1 ? base + extension : base + "-" + std::to_string(k) + extension);
    struct stat status;
    if (::lstat(path.c_str(), &status) == 0) continue;
    // Anything but "no such file" (a folder that cannot be searched) is no free name: asking
    // again would never end.
    if (errno != ENOENT) throwFolderError(errno, folder);
    return path;
  }
  throwFolderError(EEXIST, folder);
}

}  // namespace SnapshotsFolder

}  // namespace tallyfox
