#include <tallyfox/Metrics.h>

#include <tallyfox/Unicode.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <limits>
#include <set>
#include <vector>

namespace tallyfox::Metrics {

namespace {

struct Shown {
  NodeId node;
  std::string path;  // as labelled
};

bool aboveShare(std::uint64_t size, std::uint64_t rootSize) {
  // size / rootSize > 1 / 100 without overflow: rootSize / 100 is exact enough at this scale.
  return double(size) * 100.0 > double(rootSize) * shownPercent;
}

// The root and every folder above the share, parents before children. A folder at or below the
// share holds no folder above it, so only shown folders are entered.
std::vector<Shown> shownFolders(const DiskTree& tree) {
  const std::uint64_t rootSize = tree.sizeOf(DiskTree::root);
  std::vector<Shown> shown;
  std::set<std::string> labelled;  // two names may label alike; a series must appear once
  // Breadth first, children in their order (largest first): of two folders that label alike,
  // the larger is shown.
  std::vector<NodeId> pending{DiskTree::root};
  for (std::size_t next = 0; next < pending.size(); ++next) {
    const NodeId folder = pending[next];
    std::string path = labelValue(tree.filePath(folder));
    if (!labelled.insert(path).second) continue;
    shown.push_back({folder, std::move(path)});
    for (NodeId child : tree.children(folder))
      if (tree.isDirectory(child) && aboveShare(tree.sizeOf(child), rootSize)) pending.push_back(child);
  }
  return shown;
}

std::string number(double value) {
  // A damaged header may hold anything; the format spells the special values its own way.
  if (value != value) return "NaN";
  if (value > std::numeric_limits<double>::max()) return "+Inf";
  if (value < -std::numeric_limits<double>::max()) return "-Inf";
  // The shortest text that reads back as the same double.
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

void family(std::string& out, const char* name, const char* help) {
  out += "# HELP ";
  out += name;
  out += ' ';
  out += help;
  out += "\n# TYPE ";
  out += name;
  out += " gauge\n";
}

}  // namespace

std::string labelValue(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  // A valid sequence is copied, an invalid byte written out as text.
  std::size_t at = 0;
  while (at < bytes.size()) {
    const auto c = static_cast<unsigned char>(bytes[at]);
    std::size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    const std::string_view sequence = bytes.substr(at, length);
    const bool valid = c < 0x80 || (sequence.size() == length && Unicode::decodeLossy(sequence) == sequence);
    if (!valid) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\\\x%02X", unsigned(c));
      out += escaped;
      ++at;
      continue;
    }
    if (c == '\\')
      out += "\\\\";
    else if (c == '"')
      out += "\\\"";
    else if (c == '\n')
      out += "\\n";
    else
      out.append(sequence);
    at += length;
  }
  return out;
}

std::string exposition(const DiskTree& tree) {
  const std::string root = labelValue(tree.rootPath().empty() ? "/" : tree.rootPath());
  const std::vector<Shown> shown = shownFolders(tree);
  std::string out;
  auto sample = [&](const char* name, const std::string& path, const std::string& value) {
    out += name;
    out += "{root=\"" + root + '"';
    if (!path.empty()) out += ",path=\"" + path + '"';
    out += "} " + value + "\n";
  };
  family(out, "tallyfox_folder_bytes",
         "Bytes allocated on disk below a folder holding more than 1% of the root.");
  for (const Shown& s : shown) sample("tallyfox_folder_bytes", s.path, std::to_string(tree.sizeOf(s.node)));
  family(out, "tallyfox_folder_entries", "Entries below a folder holding more than 1% of the root.");
  for (const Shown& s : shown)
    sample("tallyfox_folder_entries", s.path, std::to_string(tree.entryCount()[std::size_t(s.node)]));
  family(out, "tallyfox_scan_timestamp_seconds", "When the scan started, in seconds since 1970.");
  sample("tallyfox_scan_timestamp_seconds", {},
         number(std::chrono::duration<double>(tree.scanStart().time_since_epoch()).count()));
  family(out, "tallyfox_scan_duration_seconds", "How long the scan took, in seconds.");
  sample("tallyfox_scan_duration_seconds", {}, number(tree.scanSeconds()));
  return out;
}

}  // namespace tallyfox::Metrics
