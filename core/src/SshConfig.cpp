#include <tallyfox/SshConfig.h>

#include <tallyfox/SnapshotPaths.h>

#include <glob.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <set>

namespace tallyfox::SshConfig {

namespace {

// ssh(1) follows Include lines at most this deep; a file that includes itself ends there.
constexpr int maxIncludeDepth = 16;
// Far above any real configuration; a larger "config" is not one to read whole.
constexpr std::uintmax_t maxFileBytes = 4 * 1024 * 1024;

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

// A line's words as ssh splits them: white space, optionally one "=" after the keyword, and
// double quotes around a word with spaces.
std::vector<std::string> words(std::string_view line) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && isSpace(line[i])) ++i;
    // "Keyword value", "Keyword=value" and "Keyword = value" are one and the same.
    if (out.size() == 1 && i < line.size() && line[i] == '=') {
      ++i;
      while (i < line.size() && isSpace(line[i])) ++i;
    }
    if (i >= line.size() || line[i] == '#') break;
    std::string word;
    if (line[i] == '"') {
      const std::size_t close = line.find('"', i + 1);
      if (close == std::string_view::npos) return {};  // ssh refuses the line
      word = std::string(line.substr(i + 1, close - i - 1));
      i = close + 1;
    } else {
      while (i < line.size() && !isSpace(line[i]) && !(out.empty() && line[i] == '=')) word += line[i++];
    }
    out.push_back(std::move(word));
  }
  return out;
}

bool isPattern(const std::string& host) {
  return host.find_first_of("*?!") != std::string::npos;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower((unsigned char)x) == std::tolower((unsigned char)y);
  });
}

void collect(const std::filesystem::path& file, int depth, std::vector<std::string>& hosts,
             std::set<std::string>& seen) {
  if (depth > maxIncludeDepth) return;
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error) ||
      std::filesystem::file_size(file, error) > maxFileBytes || error)
    return;
  std::ifstream in(file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const Parsed parsed = parse(text);
  // Hosts of an included file come where its Include line stood only in ssh's own
  // matching; for a list offered to pick from, the file's own hosts first is as good.
  for (const std::string& host : parsed.hosts)
    if (seen.insert(host).second) hosts.push_back(host);
  const std::filesystem::path folder = file.parent_path();
  for (const std::string& include : parsed.includes) {
    std::string pattern = PathText::expandTilde(include);
    if (pattern.empty()) continue;
    if (pattern.front() != '/') pattern = (folder / pattern).string();
    glob_t found{};
    if (::glob(pattern.c_str(), 0, nullptr, &found) == 0)
      for (std::size_t i = 0; i < found.gl_pathc; ++i) collect(found.gl_pathv[i], depth + 1, hosts, seen);
    ::globfree(&found);
  }
}

}  // namespace

Parsed parse(std::string_view text) {
  Parsed parsed;
  std::set<std::string> seen;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::vector<std::string> line = words(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.size() < 2) continue;
    if (equalsIgnoringCase(line[0], "Host")) {
      for (std::size_t i = 1; i < line.size(); ++i)
        if (!line[i].empty() && !isPattern(line[i]) && seen.insert(line[i]).second)
          parsed.hosts.push_back(line[i]);
    } else if (equalsIgnoringCase(line[0], "Include")) {
      parsed.includes.insert(parsed.includes.end(), line.begin() + 1, line.end());
    }
  }
  return parsed;
}

std::vector<std::string> hostAliases(const std::filesystem::path& file) {
  std::vector<std::string> hosts;
  std::set<std::string> seen;
  collect(file, 0, hosts, seen);
  return hosts;
}

}  // namespace tallyfox::SshConfig
