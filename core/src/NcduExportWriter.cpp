#include <tallyfox/NcduExport.h>

#include "linux/FileIO.h"

#include <chrono>
#include <string_view>
#include <vector>

namespace tallyfox::NcduExport {

namespace {

// Buffered output to a descriptor.
class Output {
 public:
  explicit Output(int fd) : out_(fd) {}

  void text(std::string_view s) { out_.put(s.data(), s.size()); }

  void number(std::uint64_t value) {
    char digits[24];
    char* end = digits + sizeof digits;
    char* p = end;
    do {
      *--p = char('0' + value % 10);
      value /= 10;
    } while (value);
    text({p, std::size_t(end - p)});
  }

  // A JSON string of the name's bytes. Bytes that are not UTF-8 are written as they are, as
  // ncdu writes them: the readers of the format keep them. Control characters are escaped,
  // DEL too, as ncdu escapes them: its reader stops at a raw one.
  void string(std::span<const std::uint8_t> bytes) {
    static constexpr char hex[] = "0123456789abcdef";
    text("\"");
    std::size_t from = 0;
    for (std::size_t k = 0; k < bytes.size(); ++k) {
      const std::uint8_t c = bytes[k];
      if (c >= 0x20 && c != 0x7F && c != '"' && c != '\\') continue;
      text({reinterpret_cast<const char*>(bytes.data()) + from, k - from});
      from = k + 1;
      if (c == '"' || c == '\\') {
        const char escaped[2] = {'\\', char(c)};
        text({escaped, 2});
      } else {
        const char escaped[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
        text({escaped, 6});
      }
    }
    text({reinterpret_cast<const char*>(bytes.data()) + from, bytes.size() - from});
    text("\"");
  }

  void flush() { out_.flush(); }

 private:
  FileIO::SequentialWriter out_;
};

void entry(Output& out, const DiskTree& tree, NodeId id, std::span<const std::uint8_t> name) {
  const bool folder = tree.isDirectory(id);
  out.text(folder ? "[{\"name\":" : "{\"name\":");
  out.string(name);
  const std::uint64_t size = folder ? 0 : tree.sizeOf(id);
  if (size > 0) {
    out.text(",\"asize\":");
    out.number(size);
    out.text(",\"dsize\":");
    out.number(size);
  }
  const std::uint8_t flags = tree.flags(id);
  if (flags & EntryFlags::error) out.text(",\"read_error\":true");
  if (flags & EntryFlags::notDescended) out.text(",\"excluded\":\"pattern\"");
  // The mode's type is what says "symbolic link" in the format; the rest of it is unknown.
  if (!folder && (flags & EntryFlags::symlink)) out.text(",\"notreg\":true,\"mode\":41471");
  const std::uint32_t mtime = tree.mtime()[std::size_t(id)];
  if (mtime > 0) {
    out.text(",\"mtime\":");
    out.number(mtime);
  }
  out.text("}");
}

}  // namespace

void write(const DiskTree& tree, const std::filesystem::path& to) {
  FileIO::writeAtomically(to, [&tree](int fd) { stream(tree, fd); });
}

void stream(const DiskTree& tree, int fd) {
  Output out(fd);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(tree.scanStart().time_since_epoch());
  out.text("[1,2,{\"progname\":\"tfscan\",\"progver\":\"1\",\"timestamp\":");
  out.number(std::uint64_t(std::max<std::int64_t>(seconds.count(), 0)));
  out.text("},\n");
  const std::string& rootPath = tree.rootPath().empty() ? std::string("/") : tree.rootPath();
  if (tree.totalNodes() == 0) {
    out.text("[{\"name\":");
    out.string({reinterpret_cast<const std::uint8_t*>(rootPath.data()), rootPath.size()});
    out.text("}]]\n");
    out.flush();
    return;
  }
  entry(out, tree, DiskTree::root, {reinterpret_cast<const std::uint8_t*>(rootPath.data()), rootPath.size()});

  // Depth first, as the format nests: each open folder and the next of its children.
  struct Open {
    NodeId folder, next, last;
  };
  std::vector<Open> open;
  const NodeRange top = tree.children(DiskTree::root);
  open.push_back({DiskTree::root, top.first, top.last});
  while (!open.empty()) {
    Open& folder = open.back();
    if (folder.next >= folder.last) {
      out.text("]");
      open.pop_back();
      continue;
    }
    const NodeId id = folder.next++;
    // Only a child naming this folder is its own: child ranges that overlap, in a file
    // rewritten while it is read, would otherwise be walked in exponential time.
    if (tree.parentOf(id) != folder.folder) continue;
    out.text(",\n");
    entry(out, tree, id, tree.nameView(id));
    if (tree.isDirectory(id)) {
      const NodeRange children = tree.children(id);
      open.push_back({id, children.first, children.last});
    }
  }
  out.text("]\n");
  out.flush();
  // An export of a file that changed meanwhile may be two files mixed: not put in place.
  tree.expectUnchanged();
}

}  // namespace tallyfox::NcduExport
