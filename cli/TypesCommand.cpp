#include "Commands.h"

#include <tallyfox/ByteFormat.h>
#include <tallyfox/JsonValues.h>
#include <tallyfox/SnapshotDump.h>
#include <tallyfox/SubtreeStats.h>

#include <iostream>
#include <sstream>

namespace tfscan {

namespace {

namespace stats = tallyfox::SubtreeStats;
using tallyfox::SnapshotDump::terminalSafe;

std::string filesText(std::uint64_t files) {
  return std::to_string(files) + (files == 1 ? " file" : " files");
}

// "label   12.5 GB   40.1%   1234 files", the label padded by characters.
void line(std::ostream& out, const std::string& label, std::uint64_t bytes, std::uint64_t files,
          std::uint64_t whole) {
  std::size_t width = 0;
  for (char c : label) width += (c & 0xC0) != 0x80;
  std::string size = tallyfox::formatFileBytes(bytes);
  std::string share = percent(bytes, whole);
  out << label << std::string(width < 28 ? 28 - width : 1, ' ')
      << std::string(size.size() < 10 ? 10 - size.size() : 0, ' ') << size
      << std::string(share.size() < 8 ? 8 - share.size() : 0, ' ') << share << "  " << filesText(files)
      << "\n";
}

std::string typeLabel(const std::string& extension) {
  return extension.empty() ? "(no extension)" : "." + extension;
}

}  // namespace

int runTypes(const TypesArgs& args) {
  const auto opened = openFolder(args.file, args.path);
  if (!opened) return 1;
  const tallyfox::DiskTree& tree = *opened->tree;
  const stats::FileTypes types = stats::fileTypes(tree, opened->folder);
  if (reportChange(tree, args.file)) return 1;

  if (args.json) {
    nlohmann::json categories = nlohmann::json::array();
    for (const auto& category : types.categories) {
      nlohmann::json extensions = nlohmann::json::array();
      for (const auto& type : category.types)
        extensions.push_back({{"extension", tallyfox::detail::pathToJson(type.extension)},
                              {"bytes", type.bytes},
                              {"files", type.files}});
      categories.push_back({{"category", stats::categoryKey(category.category)},
                            {"name", stats::categoryName(category.category)},
                            {"bytes", category.bytes},
                            {"files", category.files},
                            {"extensions", extensions}});
    }
    printJson({{"folder", tallyfox::detail::pathToJson(tree.filePath(opened->folder))},
               {"bytes", types.bytes},
               {"files", types.files},
               {"categories", categories}});
    return 0;
  }

  std::ostringstream text;
  for (const auto& category : types.categories) {
    line(text, std::string(stats::categoryName(category.category)), category.bytes, category.files,
         types.bytes);
    for (const auto& type : category.types)
      line(text, "  " + terminalSafe(typeLabel(type.extension)), type.bytes, type.files, types.bytes);
  }
  if (types.files == 0)
    text << "No files\n";
  else
    line(text, "Total", types.bytes, types.files, types.bytes);
  std::cout << text.str();
  return 0;
}

}  // namespace tfscan
