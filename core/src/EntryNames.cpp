#include <tallyfox/EntryNames.h>

#include <tallyfox/SnapshotPaths.h>
#include <tallyfox/Unicode.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

namespace tallyfox::EntryNames {

namespace {

bool isEntryNameOrEmpty(std::string_view name) {
  return name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

std::string_view nameOf(const TreeColumns& c, std::size_t id) {
  const std::uint32_t from = c.nameOffset[id], to = c.nameOffset[id + 1];
  if (from > to || to > c.names.size()) return {};
  return {reinterpret_cast<const char*>(c.names.data()) + from, to - from};
}

// Bytes of a message piece at most, either side of the cut.
constexpr std::size_t shownEdge = 60;

bool continues(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

bool isEntryName(std::string_view name) {
  return !name.empty() && name.find('\0') == std::string_view::npos && isEntryNameOrEmpty(name);
}

bool isTopLevelName(std::string_view name) {
  return isEntryName(name) || (name.size() > 1 && isPlainPath(name));
}

bool isPlainPath(std::string_view path) {
  if (!path.starts_with('/') || path.find('\0') != std::string_view::npos) return false;
  if (path.size() == 1) return true;
  for (std::size_t start = 1; start <= path.size();) {
    const std::size_t slash = std::min(path.find('/', start), path.size());
    const std::string_view component = path.substr(start, slash - start);
    if (component.empty() || !isEntryNameOrEmpty(component)) return false;
    start = slash + 1;
  }
  return true;
}

bool hasPlainPath(const DiskTree& tree, NodeId id) {
  if (!tree.contains(id)) return false;
  const std::vector<NodeId> lineage = tree.lineage(id);
  for (std::size_t k = 0; k < lineage.size(); ++k) {
    const auto bytes = tree.nameView(lineage[k]);
    const std::string_view name(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (k == 0 ? !isTopLevelName(name) : !isEntryName(name)) return false;
  }
  return isPlainPath(tree.filePath(id));
}

std::optional<Repeated> firstRepeated(const TreeColumns& c) {
  const std::size_t n = c.parent.size();
  if (c.childStart.size() < n || c.childCount.size() < n || c.nameOffset.size() < n + 1) return std::nullopt;
  // Each folder's names sorted by their hashes: whole numbers compare cheaply, and names are
  // compared byte by byte only where hashes are equal (so names made to share a hash cost a
  // sort, not a comparison of every pair). Equal names then lie next to each other.
  struct Hashed {
    std::size_t hash;
    std::uint32_t id;
  };
  std::vector<Hashed> hashed;
  const std::hash<std::string_view> hash;
  for (std::size_t folder = 0; folder < n; ++folder) {
    const std::uint64_t first = c.childStart[folder], count = c.childCount[folder];
    if (count < 2 || first > n || count > n - first) continue;
    hashed.clear();
    for (std::uint64_t id = first; id < first + count; ++id)
      hashed.push_back({hash(nameOf(c, std::size_t(id))), std::uint32_t(id)});
    std::sort(hashed.begin(), hashed.end(), [&c](const Hashed& a, const Hashed& b) {
      if (a.hash != b.hash) return a.hash < b.hash;
      const int order = nameOf(c, a.id).compare(nameOf(c, b.id));
      return order != 0 ? order < 0 : a.id < b.id;
    });
    for (std::size_t k = 1; k < hashed.size(); ++k) {
      const std::string_view name = nameOf(c, hashed[k].id);
      if (hashed[k].hash == hashed[k - 1].hash && name == nameOf(c, hashed[k - 1].id))
        return Repeated{NodeId(folder), std::string(name)};
    }
  }
  return std::nullopt;
}

std::string pathIn(const TreeColumns& c, const std::string& rootPath, NodeId id) {
  std::vector<std::string_view> names;
  // Parents are smaller ids in a built tree; anything else ends the walk.
  for (std::size_t at = std::size_t(std::max<NodeId>(id, 0)); at > 0 && at < c.parent.size();) {
    names.push_back(nameOf(c, at));
    const std::int32_t up = c.parent[at];
    if (up < 0 || std::size_t(up) >= at) break;
    at = std::size_t(up);
  }
  std::string path = rootPath;
  for (auto name = names.rbegin(); name != names.rend(); ++name) PathText::appendComponentTo(path, *name);
  return path;
}

std::string quoted(std::string_view text) {
  std::string decoded = Unicode::decodeLossy(text);
  if (decoded.size() > 2 * shownEdge + 3) {
    std::size_t head = shownEdge, tail = decoded.size() - shownEdge;
    while (head > 0 && continues(decoded[head])) --head;
    while (tail < decoded.size() && continues(decoded[tail])) ++tail;
    decoded = decoded.substr(0, head) + "\xE2\x80\xA6" + decoded.substr(tail);
  }
  static constexpr char hex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : decoded) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\u00";
      out += hex[byte >> 4];
      out += hex[byte & 15];
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

}  // namespace tallyfox::EntryNames
