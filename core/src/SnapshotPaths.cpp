#include <tallyfox/SnapshotPaths.h>

#include "NameIndex.h"

#include <tallyfox/Unicode.h>

#include <pwd.h>
#include <unistd.h>
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <system_error>

namespace tallyfox {

namespace PathText {

std::string homeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

std::optional<std::string> dataHome() {
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/') return data;
  std::string home;
  if (const char* value = std::getenv("HOME"); value && value[0] == '/') {
    home = value;
  } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') {
    home = pw->pw_dir;
  } else {
    return std::nullopt;
  }
  return appendComponent(home, ".local/share");
}

std::string expandTilde(const std::string& path) {
  if (path == "~") return homeDirectory();
  if (path.size() >= 2 && path[0] == '~' && path[1] == '/') {
    std::string home = homeDirectory();
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    return (home == "/" ? std::string() : home) + path.substr(1);
  }
  return path;
}

std::string standardize(const std::string& input) {
  const std::string path = expandTilde(input);
  if (path.empty()) return path;
  const bool absolute = path.front() == '/';
  std::vector<std::string_view> parts;
  std::string_view rest(path);
  while (!rest.empty()) {
    const auto slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
        continue;
      }
      if (absolute) continue;  // "/.." is "/"
    }
    parts.push_back(part);
  }
  std::string out = absolute ? "/" : "";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += '/';
    out += parts[i];
  }
  if (out.empty()) out = ".";
  return out;
}

std::string abbreviateTilde(const std::string& path) {
  std::string home = homeDirectory();
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  if (home.empty() || home == "/") return path;
  if (path == home) return "~";
  if (path.size() > home.size() && path.compare(0, home.size(), home) == 0 && path[home.size()] == '/')
    return "~" + path.substr(home.size());
  return path;
}

std::string lastComponent(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (p == "/") return "/";
  const auto slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string appendComponent(const std::string& base, const std::string& name) {
  std::string out = base;
  appendComponentTo(out, name);
  return out;
}

void appendComponentTo(std::string& base, std::string_view name) {
  if (base.empty()) {
    base = name;
    return;
  }
  if (base.back() == '/') {
    while (!name.empty() && name.front() == '/') name.remove_prefix(1);
  } else if (name.empty() || name.front() != '/') {
    base += '/';
  }
  base += name;
}

}  // namespace PathText

namespace SnapshotPaths {

namespace {

constexpr std::string_view dataVolume = "/System/Volumes/Data";

// The names of a standardized path, empty pieces left out.
std::vector<std::string_view> pieces(std::string_view path) {
  std::vector<std::string_view> out;
  while (!path.empty()) {
    const auto slash = path.find('/');
    if (slash != 0) out.push_back(path.substr(0, slash));
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return out;
}

}  // namespace

std::string canonical(const std::string& path) {
  std::string p = PathText::standardize(path);
  if (p == dataVolume) return "/";
  if (p.size() > dataVolume.size() && p.compare(0, dataVolume.size(), dataVolume) == 0 &&
      p[dataVolume.size()] == '/')
    return p.substr(dataVolume.size());
  return p;
}

std::optional<std::vector<std::string>> components(const std::string& path, const std::string& root) {
  // Compared in canonical form, but the names come back as the path spells them: on Linux
  // a name is its bytes, and a folder created or found under another spelling would not be
  // the one on disk.
  const std::string p = canonical(path);
  const std::string r = canonical(root);
  if (p == r) return std::vector<std::string>{};
  if (p.starts_with('/') != r.starts_with('/')) return std::nullopt;
  const auto names = pieces(p);
  const auto prefix = pieces(r);
  if (names.size() < prefix.size()) return std::nullopt;
  for (std::size_t k = 0; k < prefix.size(); ++k)
    if (!Unicode::canonicallyEqual(names[k], prefix[k])) return std::nullopt;
  return std::vector<std::string>(names.begin() + std::ptrdiff_t(prefix.size()), names.end());
}

std::optional<NodeId> node(const std::string& path, const DiskTree& tree) {
  if (tree.rootPath().empty()) return std::nullopt;
  const auto names = components(path, tree.rootPath());
  if (!names) return std::nullopt;
  NodeId current = DiskTree::root;
  detail::NameIndex children;
  for (const std::string& wanted : *names) {
    const auto found = children.child(tree, current, wanted);
    if (!found) return std::nullopt;
    current = *found;
  }
  return current;
}

std::vector<Listed> snapshots(const std::string& covering, const std::filesystem::path& folder,
                              const std::optional<std::filesystem::path>& excluding) {
  std::vector<Listed> found;
  std::error_code error;
  std::filesystem::directory_iterator it(folder, error);
  if (error) return found;
  const std::string extension = std::string(".") + SnapshotFile::fileExtension;
  const std::string excluded =
      excluding ? PathText::standardize(std::filesystem::absolute(*excluding, error).string()) : "";
  for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
    if (error) break;
    const auto& url = it->path();
    if (url.extension() != extension) continue;
    if (excluding && PathText::standardize(url.string()) == excluded) continue;
    const auto header = SnapshotFile::readInfo(url);
    if (!header || !header->complete || header->info.rootPath.empty()) continue;
    if (!components(covering, header->info.rootPath)) continue;
    found.push_back({url, header->info, std::int64_t(header->nodeCount) - 1});
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const Listed& a, const Listed& b) { return a.info.scanStart > b.info.scanStart; });
  return found;
}

}  // namespace SnapshotPaths

}  // namespace tallyfox
