#include "../../core/src/linux/BtrfsExtents.h"
#include "../../core/src/linux/FileIO.h"
#include "../../core/src/linux/SharedExtents.h"

#include "BtrfsImage.h"
#include "CloneFixtures.h"
#include "TestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <algorithm>
#include <filesystem>
#include <map>
#include <vector>

namespace fs = std::filesystem;
using namespace tallyfox;

namespace {

std::uint64_t allocated(const fs::path& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? std::uint64_t(st.st_blocks) * 512 : 0;
}

// What the tree says of every regular file of a folder, by name.
std::map<std::string, BtrfsExtents::FileData> readTree(const fs::path& folder,
                                                       BtrfsExtents::Reader::Result& result) {
  std::vector<BtrfsExtents::FileData> files;
  std::map<std::uint64_t, std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    struct stat st;
    if (::lstat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    files.push_back({});
    files.back().inode = st.st_ino;
    names[st.st_ino] = entry.path().filename().string();
  }
  std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.inode < b.inode; });
  FileIO::Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  BtrfsExtents::Reader reader;
  result = reader.read(fd.get(), files);
  std::map<std::string, BtrfsExtents::FileData> byName;
  for (const auto& file : files) byName[names[file.inode]] = file;
  return byName;
}

}  // namespace

// The scanner trusts the tree for a file with one extent and nothing waiting to be written
// (its bytes equal the allocated size), and asks FIEMAP about every other: where the tree is
// trusted it must name the first extent exactly as FIEMAP does, or clones found one way
// would not match clones found the other.
TEST(BtrfsExtents, TreeSearchNamesTheFirstExtentAsFiemapDoes) {
  std::string why;
  auto image = testsupport::BtrfsImage::create(why);
  if (!image) GTEST_SKIP() << why;
  const fs::path folder = image->mountPoint() / "shapes";
  ASSERT_EQ(testsupport::makeExtentShapes(folder), "");

  BtrfsExtents::Reader::Result result;
  const auto tree = readTree(folder, result);
  ASSERT_EQ(result, BtrfsExtents::Reader::Result::read);
  std::vector<std::string> trusted;
  for (const auto& [name, file] : tree) {
    FileIO::Descriptor fd(SharedExtents::openForReading((folder / name).c_str()));
    ASSERT_TRUE(fd) << name;
    const SharedExtents::CloneInfo fiemap = SharedExtents::cloneInfo(fd.get());
    EXPECT_FALSE(file.unreadable) << name;
    if (file.inlineData) {
      EXPECT_FALSE(fiemap.sharesAll) << name;
    }
    if (file.extents == 1 && file.bytes == allocated(folder / name)) {
      trusted.push_back(name);
      EXPECT_EQ(file.firstPhysical, fiemap.cloneID) << name;
    }
  }
  for (const char* name : {"block", "large", "large-clone", "hole-first", "prealloc", "compressed",
                           "compressed-clone", "range-clone"})
    EXPECT_NE(std::find(trusted.begin(), trusted.end(), name), trusted.end()) << name;

  const auto& large = tree.at("large");
  EXPECT_EQ(large.extents, 1u);
  EXPECT_EQ(large.bytes, std::uint64_t(1) << 20);
  EXPECT_TRUE(tree.at("inline").inlineData);
  EXPECT_EQ(tree.at("inline").extents, 0u);
  EXPECT_TRUE(tree.at("inline-clone").inlineData);
  EXPECT_EQ(tree.at("sparse").extents, 2u);
  EXPECT_EQ(tree.at("sparse").bytes, 8192u);
  EXPECT_EQ(tree.at("hole-first").extents, 1u);
  EXPECT_EQ(tree.at("prealloc").extents, 1u);
  EXPECT_EQ(tree.at("prealloc-tail").extents, 2u);
  EXPECT_EQ(tree.at("partial").extents, 3u);
  EXPECT_EQ(tree.at("large-clone").firstPhysical, large.firstPhysical);
  EXPECT_EQ(tree.at("large-clone-2").firstPhysical, large.firstPhysical);
  EXPECT_EQ(tree.at("range-clone").firstPhysical, large.firstPhysical + 262144);
  EXPECT_EQ(tree.at("compressed-clone").firstPhysical, tree.at("compressed").firstPhysical);
  // Appended data not yet on disk has no extent yet, but counts in the allocated size.
  EXPECT_NE(tree.at("pending").bytes, allocated(folder / "pending"));
}

TEST(BtrfsExtents, OtherFileSystemsAreNotSearched) {
  testsupport::TempDir dir;
  const fs::path folder = dir.path();
  testsupport::writeFile(folder / "file", "data");
  struct statfs fileSystem;
  ASSERT_EQ(::statfs(folder.c_str(), &fileSystem), 0);
  if (BtrfsExtents::isBtrfs(long(fileSystem.f_type))) GTEST_SKIP() << "the temporary folder is on btrfs";
  BtrfsExtents::Reader::Result result;
  readTree(folder, result);
  EXPECT_NE(result, BtrfsExtents::Reader::Result::read);
}
