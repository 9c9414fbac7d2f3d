#include <tallyfox/SubtreeStats.h>

#include <array>
#include <queue>
#include <unordered_map>
#include <utility>

namespace tallyfox::SubtreeStats {

namespace {

constexpr std::size_t longestExtension = 16;

// Checked every this many nodes: often enough to stop at once, rarely enough to cost nothing.
constexpr NodeId stopStride = 1 << 16;

bool stopped(const std::atomic<bool>* stop) {
  return stop && stop->load(std::memory_order_relaxed);
}

// Every file below `folder`, level by level, until `stop` is set.
template <typename Visit>
void forEachFileBelow(const DiskTree& tree, NodeId folder, const std::atomic<bool>* stop, Visit&& visit) {
  const auto flags = tree.flagsColumn();
  bool halted = false;
  forEachLevelBelow(tree, folder, [&](NodeRange level) {
    if (halted) return;
    for (NodeId id = level.first; id < level.last; ++id) {
      if ((id == level.first || (id & (stopStride - 1)) == 0) && stopped(stop)) {
        halted = true;
        return;
      }
      if (isFile(flags[id])) visit(id);
    }
  });
}

struct Grouping {
  std::string_view extension;
  Category category;
};

// The one table of which extension is which kind of file. Lower case; looked up after
// lower-casing the name's extension.
constexpr Grouping groupings[] = {
    // Video
    {"mp4", Category::video},
    {"m4v", Category::video},
    {"mkv", Category::video},
    {"mov", Category::video},
    {"avi", Category::video},
    {"webm", Category::video},
    {"wmv", Category::video},
    {"flv", Category::video},
    {"mpg", Category::video},
    {"mpeg", Category::video},
    {"ts", Category::video},
    {"m2ts", Category::video},
    {"3gp", Category::video},
    {"ogv", Category::video},
    {"vob", Category::video},
    // Images
    {"jpg", Category::images},
    {"jpeg", Category::images},
    {"png", Category::images},
    {"gif", Category::images},
    {"webp", Category::images},
    {"heic", Category::images},
    {"heif", Category::images},
    {"avif", Category::images},
    {"bmp", Category::images},
    {"tif", Category::images},
    {"tiff", Category::images},
    {"svg", Category::images},
    {"svgz", Category::images},
    {"ico", Category::images},
    {"xpm", Category::images},
    {"raw", Category::images},
    {"cr2", Category::images},
    {"cr3", Category::images},
    {"nef", Category::images},
    {"arw", Category::images},
    {"dng", Category::images},
    {"orf", Category::images},
    {"psd", Category::images},
    {"xcf", Category::images},
    {"kra", Category::images},
    {"exr", Category::images},
    // Audio
    {"mp3", Category::audio},
    {"m4a", Category::audio},
    {"aac", Category::audio},
    {"flac", Category::audio},
    {"wav", Category::audio},
    {"ogg", Category::audio},
    {"oga", Category::audio},
    {"opus", Category::audio},
    {"wma", Category::audio},
    {"aif", Category::audio},
    {"aiff", Category::audio},
    {"alac", Category::audio},
    {"mid", Category::audio},
    {"midi", Category::audio},
    {"ape", Category::audio},
    // Archives and disk images
    {"zip", Category::archives},
    {"tar", Category::archives},
    {"gz", Category::archives},
    {"tgz", Category::archives},
    {"bz2", Category::archives},
    {"tbz2", Category::archives},
    {"xz", Category::archives},
    {"txz", Category::archives},
    {"zst", Category::archives},
    {"lz", Category::archives},
    {"lz4", Category::archives},
    {"lzma", Category::archives},
    {"7z", Category::archives},
    {"rar", Category::archives},
    {"cab", Category::archives},
    {"iso", Category::archives},
    {"img", Category::archives},
    {"dmg", Category::archives},
    {"qcow2", Category::archives},
    {"vdi", Category::archives},
    {"vmdk", Category::archives},
    {"vhd", Category::archives},
    {"vhdx", Category::archives},
    {"squashfs", Category::archives},
    {"cpio", Category::archives},
    // Documents
    {"pdf", Category::documents},
    {"doc", Category::documents},
    {"docx", Category::documents},
    {"odt", Category::documents},
    {"rtf", Category::documents},
    {"txt", Category::documents},
    {"md", Category::documents},
    {"tex", Category::documents},
    {"epub", Category::documents},
    {"xls", Category::documents},
    {"xlsx", Category::documents},
    {"ods", Category::documents},
    {"csv", Category::documents},
    {"ppt", Category::documents},
    {"pptx", Category::documents},
    {"odp", Category::documents},
    {"odg", Category::documents},
    {"pages", Category::documents},
    {"numbers", Category::documents},
    {"key", Category::documents},
    {"djvu", Category::documents},
    {"ps", Category::documents},
    {"html", Category::documents},
    {"htm", Category::documents},
    // Code
    {"c", Category::code},
    {"h", Category::code},
    {"cc", Category::code},
    {"cpp", Category::code},
    {"cxx", Category::code},
    {"hpp", Category::code},
    {"hh", Category::code},
    {"m", Category::code},
    {"mm", Category::code},
    {"rs", Category::code},
    {"go", Category::code},
    {"py", Category::code},
    {"pyc", Category::code},
    {"rb", Category::code},
    {"pl", Category::code},
    {"pm", Category::code},
    {"php", Category::code},
    {"java", Category::code},
    {"class", Category::code},
    {"kt", Category::code},
    {"swift", Category::code},
    {"js", Category::code},
    {"mjs", Category::code},
    {"tsx", Category::code},
    {"jsx", Category::code},
    {"css", Category::code},
    {"scss", Category::code},
    {"json", Category::code},
    {"xml", Category::code},
    {"yaml", Category::code},
    {"yml", Category::code},
    {"toml", Category::code},
    {"ini", Category::code},
    {"sh", Category::code},
    {"bash", Category::code},
    {"zsh", Category::code},
    {"fish", Category::code},
    {"lua", Category::code},
    {"sql", Category::code},
    {"cmake", Category::code},
    {"mk", Category::code},
    {"cs", Category::code},
    {"fs", Category::code},
    {"hs", Category::code},
    {"ml", Category::code},
    {"el", Category::code},
    {"scala", Category::code},
    {"dart", Category::code},
    {"zig", Category::code},
    {"vue", Category::code},
    {"o", Category::code},
    {"obj", Category::code},
    {"ipynb", Category::code},
    // Packages and libraries
    {"deb", Category::packages},
    {"rpm", Category::packages},
    {"apk", Category::packages},
    {"snap", Category::packages},
    {"flatpak", Category::packages},
    {"appimage", Category::packages},
    {"whl", Category::packages},
    {"egg", Category::packages},
    {"jar", Category::packages},
    {"war", Category::packages},
    {"so", Category::packages},
    {"a", Category::packages},
    {"la", Category::packages},
    {"dll", Category::packages},
    {"dylib", Category::packages},
    {"exe", Category::packages},
    {"msi", Category::packages},
    {"pkg", Category::packages},
    {"gem", Category::packages},
    {"crate", Category::packages},
    {"nupkg", Category::packages},
    {"ko", Category::packages},
    {"node", Category::packages},
    {"wasm", Category::packages},
};

struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

const std::unordered_map<std::string, Category, TextHash, std::equal_to<>>& groupingTable() {
  static const auto table = [] {
    std::unordered_map<std::string, Category, TextHash, std::equal_to<>> map;
    for (const Grouping& g : groupings) map.emplace(std::string(g.extension), g.category);
    return map;
  }();
  return table;
}

bool allDigits(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t c) { return c >= '0' && c <= '9'; });
}

// The last dot before `end`, or `end` when there is none.
std::size_t lastDot(std::span<const std::uint8_t> name, std::size_t end) {
  for (std::size_t k = end; k > 0; --k)
    if (name[k - 1] == '.') return k - 1;
  return end;
}

// The extension into a fixed buffer, lower-cased; its length, 0 for none. Version numbers
// after it are passed over, so that "libssl.so.3" and "libz.so.1.3" are shared libraries.
std::size_t extensionInto(std::span<const std::uint8_t> name, std::array<char, longestExtension>& out) {
  std::size_t end = name.size();
  std::size_t dot = lastDot(name, end);
  while (dot != end && dot > 0 && allDigits(name.subspan(dot + 1, end - dot - 1))) {
    const std::size_t earlier = lastDot(name, dot);
    if (earlier == dot || earlier == 0) break;
    end = dot;
    dot = earlier;
  }
  // No dot, a dot file's leading dot, or a trailing dot.
  if (dot == end || dot == 0 || dot + 1 == end) return 0;
  const std::size_t length = end - dot - 1;
  if (length > longestExtension) return 0;
  for (std::size_t k = 0; k < length; ++k) {
    const char c = char(name[dot + 1 + k]);
    out[k] = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
  }
  return length;
}

}  // namespace

std::string_view categoryName(Category category) {
  switch (category) {
    case Category::video:
      return "Video";
    case Category::images:
      return "Images";
    case Category::audio:
      return "Audio";
    case Category::archives:
      return "Archives and disk images";
    case Category::documents:
      return "Documents";
    case Category::code:
      return "Code";
    case Category::packages:
      return "Packages and libraries";
    case Category::other:
      break;
  }
  return "Other";
}

std::string_view categoryKey(Category category) {
  switch (category) {
    case Category::video:
      return "video";
    case Category::images:
      return "images";
    case Category::audio:
      return "audio";
    case Category::archives:
      return "archives";
    case Category::documents:
      return "documents";
    case Category::code:
      return "code";
    case Category::packages:
      return "packages";
    case Category::other:
      break;
  }
  return "other";
}

std::string extensionOf(std::span<const std::uint8_t> name) {
  std::array<char, longestExtension> buffer;
  return std::string(buffer.data(), extensionInto(name, buffer));
}

Category categoryOf(std::string_view extension) {
  const auto& table = groupingTable();
  const auto found = table.find(extension);
  return found == table.end() ? Category::other : found->second;
}

bool isOfType(std::span<const std::uint8_t> name, const TypeChoice& choice) {
  std::array<char, longestExtension> buffer;
  const std::string_view extension(buffer.data(), extensionInto(name, buffer));
  if (choice.extension) return extension == *choice.extension;
  return categoryOf(extension) == choice.category;
}

std::vector<NodeId> largestFiles(const DiskTree& tree, NodeId folder, std::size_t limit,
                                 const std::atomic<bool>* stop) {
  if (limit == 0) return {};
  using Entry = std::pair<std::uint64_t, NodeId>;
  // The heap's top is the file that goes first when a larger one comes: the smallest, and of
  // equal sizes the one found last.
  const auto ranksAbove = [](const Entry& a, const Entry& b) {
    return a.first != b.first ? a.first > b.first : a.second < b.second;
  };
  std::vector<Entry> heap;
  heap.reserve(limit);
  const auto sizes = tree.size();
  forEachFileBelow(tree, folder, stop, [&](NodeId id) {
    const Entry entry{sizes[id], id};
    if (heap.size() < limit) {
      heap.push_back(entry);
      std::push_heap(heap.begin(), heap.end(), ranksAbove);
    } else if (ranksAbove(entry, heap.front())) {
      std::pop_heap(heap.begin(), heap.end(), ranksAbove);
      heap.back() = entry;
      std::push_heap(heap.begin(), heap.end(), ranksAbove);
    }
  });
  std::sort_heap(heap.begin(), heap.end(), ranksAbove);
  std::vector<NodeId> ids;
  ids.reserve(heap.size());
  for (const Entry& e : heap) ids.push_back(e.second);
  return ids;
}

FileTypes fileTypes(const DiskTree& tree, NodeId folder, const std::atomic<bool>* stop) {
  struct Totals {
    std::uint64_t bytes = 0;
    std::uint64_t files = 0;
  };
  // One entry per distinct extension, so a handful of allocations for the whole pass.
  std::unordered_map<std::string, Totals, TextHash, std::equal_to<>> byExtension;
  const auto sizes = tree.size();
  std::array<char, longestExtension> buffer;
  // Files of one folder often share their extension: the last one found is tried first.
  std::string_view lastExtension;
  Totals* last = nullptr;
  forEachFileBelow(tree, folder, stop, [&](NodeId id) {
    const std::string_view extension(buffer.data(), extensionInto(tree.nameView(id), buffer));
    if (!last || extension != lastExtension) {
      auto found = byExtension.find(extension);
      if (found == byExtension.end()) found = byExtension.emplace(std::string(extension), Totals{}).first;
      last = &found->second;
      lastExtension = found->first;
    }
    last->bytes += sizes[id];
    ++last->files;
  });

  FileTypes result;
  std::array<CategoryTotal, categoryCount> categories;
  for (std::size_t k = 0; k < categoryCount; ++k) categories[k].category = Category(k);
  for (const auto& [extension, totals] : byExtension) {
    CategoryTotal& category = categories[std::size_t(categoryOf(extension))];
    category.bytes += totals.bytes;
    category.files += totals.files;
    category.types.push_back({extension, totals.bytes, totals.files});
    result.bytes += totals.bytes;
    result.files += totals.files;
  }
  for (CategoryTotal& category : categories) {
    if (category.files == 0) continue;
    std::sort(category.types.begin(), category.types.end(), [](const TypeTotal& a, const TypeTotal& b) {
      return a.bytes != b.bytes ? a.bytes > b.bytes : a.extension < b.extension;
    });
    result.categories.push_back(std::move(category));
  }
  std::stable_sort(result.categories.begin(), result.categories.end(),
                   [](const CategoryTotal& a, const CategoryTotal& b) { return a.bytes > b.bytes; });
  return result;
}

}  // namespace tallyfox::SubtreeStats
