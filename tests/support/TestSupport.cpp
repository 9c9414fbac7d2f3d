#include "TestSupport.h"

#include <tallyfox/SnapshotFile.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <sys/stat.h>

namespace testsupport {

namespace {

std::filesystem::path temporaryBase() {
  const char* base = std::getenv("TMPDIR");
  return base && *base ? base : "/tmp";
}

}  // namespace

TempDir::TempDir() : TempDir(temporaryBase()) {}

TempDir::TempDir(const std::filesystem::path& base) {
  std::string pattern = (base / "tallyfox-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests may leave folders without permissions behind.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::remove_all(path_, ignored);
}

void writeFile(const std::filesystem::path& path, const std::string& contents) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  writeFile(path, std::string(bytes.begin(), bytes.end()));
}

std::vector<std::string> namesIn(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::uint8_t> readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// /var/tmp, where the machine has it: the recent snapshot lists leave out /tmp.
ScopedHome::ScopedHome() : dir_(std::filesystem::is_directory("/var/tmp") ? "/var/tmp" : temporaryBase()) {
  for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
    const char* value = std::getenv(name);
    saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    ::unsetenv(name);
  }
  ::setenv("HOME", dir_.path().c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (dir_.path() / ".config").c_str(), 1);
}

ScopedHome::~ScopedHome() {
  if (settle_) settle_();
  for (const auto& [name, value] : saved_) {
    if (value)
      ::setenv(name.c_str(), value->c_str(), 1);
    else
      ::unsetenv(name.c_str());
  }
}

std::chrono::system_clock::time_point localDay(int year, int month, int day, int hour) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&local));
}

std::string localDate(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  ::localtime_r(&seconds, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

tallyfox::TreeColumns columnsOf(const std::vector<Node>& nodes) {
  tallyfox::TreeColumns c;
  const std::size_t n = nodes.size();
  c.parent.resize(n);
  c.size.resize(n);
  c.mtime.resize(n);
  c.entryCount.assign(n, 1);
  c.flags.resize(n);
  c.childStart.assign(n, 0);
  c.childCount.assign(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    c.parent[i] = nodes[i].parent;
    c.size[i] = nodes[i].size;
    c.mtime[i] = nodes[i].mtime;
    c.flags[i] = nodes[i].flags;
  }
  for (std::size_t i = 1; i < n; ++i) {
    const auto p = std::size_t(nodes[i].parent);
    if (c.childCount[p]++ == 0) c.childStart[p] = std::uint32_t(i);
    c.flags[p] |= tallyfox::EntryFlags::directory;
  }
  if (n) c.flags[0] |= tallyfox::EntryFlags::directory;
  // Sum upward: children always have larger ids than their parent.
  for (std::size_t i = 0; i < n; ++i)
    if (c.flags[i] & tallyfox::EntryFlags::directory) c.entryCount[i] = 0;
  for (std::size_t i = n; i-- > 1;) {
    const auto p = std::size_t(nodes[i].parent);
    if (c.flags[i] & tallyfox::EntryFlags::directory) {
      c.entryCount[p] += c.entryCount[i] + 1;
    } else {
      c.entryCount[p] += 1;
    }
    // Saturated, as the builder sums.
    if (__builtin_add_overflow(c.size[p], c.size[i], &c.size[p])) c.size[p] = ~std::uint64_t(0);
  }
  for (const Node& node : nodes) {
    c.nameOffset.push_back(std::uint32_t(c.names.size()));
    c.names.insert(c.names.end(), node.name.begin(), node.name.end());
  }
  c.nameOffset.push_back(std::uint32_t(c.names.size()));
  return c;
}

std::span<const std::uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::uint64_t allocated(const std::filesystem::path& path) {
  struct stat st;
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return std::uint64_t(st.st_blocks) * 512;
}

tallyfox::DiskTreePtr memoryTree(const std::string& root, const std::vector<Node>& nodes,
                                 std::chrono::system_clock::time_point started, double took) {
  return tallyfox::SnapshotFile::inMemory(columnsOf(nodes), {root, started, took});
}

tallyfox::TreeColumns randomColumns(std::mt19937_64& random, std::size_t n) {
  tallyfox::TreeColumns c;
  auto u32 = [&] { return std::uint32_t(random()); };
  for (std::size_t i = 0; i < n; ++i) {
    c.parent.push_back(std::int32_t(random() % (i + 1)) - (i == 0 ? 1 : 0));
    c.size.push_back(random());
    c.mtime.push_back(u32());
    c.entryCount.push_back(u32());
    c.flags.push_back(std::uint8_t(random()));
    c.childStart.push_back(u32() % std::uint32_t(n + 1));
    c.childCount.push_back(u32() % 4);
    c.nameOffset.push_back(std::uint32_t(c.names.size()));
    const std::size_t length = random() % 12;
    for (std::size_t k = 0; k < length; ++k) c.names.push_back(std::uint8_t(random()));
  }
  c.nameOffset.push_back(std::uint32_t(c.names.size()));
  return c;
}

void expectSameColumns(const tallyfox::DiskTree& tree, const tallyfox::TreeColumns& c) {
  auto same = [](auto span, const auto& vector) {
    return std::equal(span.begin(), span.end(), vector.begin(), vector.end());
  };
  EXPECT_TRUE(same(tree.parent(), c.parent));
  EXPECT_TRUE(same(tree.size(), c.size));
  EXPECT_TRUE(same(tree.mtime(), c.mtime));
  EXPECT_TRUE(same(tree.entryCount(), c.entryCount));
  EXPECT_TRUE(same(tree.flagsColumn(), c.flags));
  EXPECT_TRUE(same(tree.childStartColumn(), c.childStart));
  EXPECT_TRUE(same(tree.childCountColumn(), c.childCount));
  EXPECT_TRUE(same(tree.nameOffset(), c.nameOffset));
  EXPECT_TRUE(same(tree.names(), c.names));
}

tallyfox::TreeColumns columnsOf(const tallyfox::DiskTree& tree) {
  auto copy = [](auto span) { return std::vector(span.begin(), span.end()); };
  return {copy(tree.parent()),           copy(tree.size()),        copy(tree.mtime()),
          copy(tree.entryCount()),       copy(tree.flagsColumn()), copy(tree.childStartColumn()),
          copy(tree.childCountColumn()), copy(tree.nameOffset()),  copy(tree.names())};
}

std::string deeplyNestedPreferences(int depth) {
  return "{\"scanSpeed\": \"gentle\", \"deep\": " + std::string(std::size_t(depth), '[') +
         std::string(std::size_t(depth), ']') + "}\n";
}

std::filesystem::path damagedCopy(const std::filesystem::path& file, int column,
                                  std::vector<std::uint8_t> bytes, const std::string& name) {
  auto image = readBytes(file);
  std::uint64_t offset;
  std::memcpy(&offset, image.data() + 48 + 16 * column, 8);
  std::copy(bytes.begin(), bytes.end(), image.begin() + std::ptrdiff_t(offset));
  const auto copy = file.parent_path() / name;
  writeBytes(copy, image);
  return copy;
}

}  // namespace testsupport
