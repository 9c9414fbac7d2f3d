#include <tallyfox/SnapshotDump.h>

#include <tallyfox/ByteFormat.h>
#include <tallyfox/NcduExport.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/Unicode.h>
#include <tallyfox/VokSnapshotReader.h>

#include <cstdio>

namespace tallyfox::SnapshotDump {

DiskTreePtr open(const std::filesystem::path& path, const std::function<void(double)>& progress) {
  if (SnapshotFile::matches(path)) {
    auto tree = SnapshotFile::map(path);
    if (progress) progress(1.0);
    return tree;
  }
  if (NcduExport::matches(path)) return NcduExport::read(path, progress);
  return VokSnapshotReader::read(path, progress);
}

DiskTree::Totals totalsOf(const std::filesystem::path& path) {
  // An export's tree is summed by the builder like a scan's; a vok file's totals are its own.
  if (SnapshotFile::matches(path) || NcduExport::matches(path)) return DiskTree::Totals::summed;
  return DiskTree::Totals::asStored;
}

std::string terminalSafe(std::string_view text) {
  const std::string decoded = Unicode::decodeLossy(text);
  const std::string_view rest(decoded);
  std::string out;
  out.reserve(decoded.size());
  for (std::size_t k = 0; k < rest.size();) {
    std::size_t length;
    const char32_t c = Unicode::leadingCodePoint(rest.substr(k), length);
    const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
    if (control || Unicode::isLayoutControl(c))
      out += '?';
    else
      out.append(rest.substr(k, length));
    k += length;
  }
  return out;
}

std::string summary(const DiskTree& tree, double readSeconds) {
  const std::uint64_t total = tree.sizeOf(DiskTree::root);
  char seconds[64];
  std::snprintf(seconds, sizeof seconds, "%.2f", readSeconds);
  std::string out = "entries: " + std::to_string(tree.nodeCount()) + "  total: " + std::to_string(total) +
                    " bytes (" + formatFileBytes(total) + ")  errors: " + std::to_string(tree.errorCount()) +
                    "  read: " + seconds + "s\n";
  out += "root: " + terminalSafe(tree.rootPath()) + "\n";
  int shown = 0;
  for (NodeId child : tree.children(DiskTree::root)) {
    if (shown++ == 8) break;
    std::string size = formatFileBytes(tree.sizeOf(child));
    if (size.size() < 10) size.append(10 - size.size(), ' ');
    out += "  " + size + " " + terminalSafe(tree.path(child)) + "\n";
  }
  return out;
}

}  // namespace tallyfox::SnapshotDump
