#include "../../core/src/linux/BtrfsExtents.h"
#include "../../core/src/linux/FileIO.h"
#include "../../core/src/linux/SharedExtents.h"

#include "BtrfsImage.h"
#include "CloneFixtures.h"
#include "TestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;
using namespace tallyfox;
using testsupport::allocated;

namespace {

struct TreeView {
  BtrfsExtents::Reader::Result result = BtrfsExtents::Reader::Result::failed;
  std::map<std::string, BtrfsExtents::FileData> files;
  // Whether every extent after the first is referred to from elsewhere; absent when unclear.
  std::map<std::string, bool> laterShared;
  // Each extent after the first whose references are clear: file, where it begins, shared.
  std::vector<std::tuple<std::string, std::uint64_t, bool>> later;
};

// What the trees say of every regular file of a folder, by name.
TreeView readTree(const fs::path& folder) {
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
  TreeView view;
  std::vector<BtrfsExtents::LaterExtent> later;
  view.result = reader.read(fd.get(), files, later);
  for (const auto& file : files) view.files[names[file.inode]] = file;
  if (view.result != BtrfsExtents::Reader::Result::read || later.empty()) return view;
  std::sort(later.begin(), later.end(), [](const auto& a, const auto& b) { return a.disk < b.disk; });
  const std::uint64_t subvolume = BtrfsExtents::subvolumeOf(fd.get());
  EXPECT_EQ(subvolume, 5u);  // the top subvolume of a new file system
  EXPECT_EQ(reader.readReferences(fd.get(), subvolume, later), BtrfsExtents::Reader::Result::read);
  std::map<std::string, bool> unclear;
  for (const auto& extent : later) {
    const std::string& name = names[extent.inode];
    unclear[name] = unclear[name] || !extent.found || extent.unclear;
    auto [entry, added] = view.laterShared.try_emplace(name, true);
    entry->second = entry->second && extent.referredElsewhere;
    if (extent.found && !extent.unclear)
      view.later.emplace_back(name, extent.fileOffset, extent.referredElsewhere);
  }
  for (const auto& [name, isUnclear] : unclear)
    if (isUnclear) view.laterShared.erase(name);
  return view;
}

// FIEMAP's shared flag for the extent holding a place in a file; false when there is none.
bool fiemapShared(const fs::path& path, std::uint64_t at) {
  FileIO::Descriptor fd(SharedExtents::openForReading(path.c_str()));
  alignas(struct fiemap) unsigned char buffer[sizeof(struct fiemap) + sizeof(struct fiemap_extent)] = {};
  auto* map = reinterpret_cast<struct fiemap*>(buffer);
  map->fm_start = at;
  map->fm_length = 1;
  map->fm_extent_count = 1;
  EXPECT_TRUE(fd && ::ioctl(fd.get(), FS_IOC_FIEMAP, map) == 0) << path;
  return map->fm_mapped_extents == 1 && (map->fm_extents[0].fe_flags & FIEMAP_EXTENT_SHARED);
}

// A btrfs image holding files of every shape in one folder.
class BtrfsShapes : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    image_ = testsupport::BtrfsImage::create(why);
    if (!image_) GTEST_SKIP() << why;
    folder = image_->mountPoint() / "shapes";
    ASSERT_EQ(testsupport::makeExtentShapes(folder), "");
  }
  fs::path folder;

 private:
  std::unique_ptr<testsupport::BtrfsImage> image_;
};

}  // namespace

// The scanner trusts the tree for a file with one extent and nothing waiting to be written
// (its bytes equal the allocated size), and asks FIEMAP about every other: where the tree is
// trusted it must name the first extent exactly as FIEMAP does, or clones found one way
// would not match clones found the other.
TEST_F(BtrfsShapes, TreeSearchNamesTheFirstExtentAsFiemapDoes) {
  const TreeView view = readTree(folder);
  ASSERT_EQ(view.result, BtrfsExtents::Reader::Result::read);
  const auto& tree = view.files;
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
  // Appended data not yet on disk has no extent yet, but counts in the allocated size (unless
  // the kernel has written it meanwhile).
  if (tree.at("pending").extents == 1) {
    EXPECT_NE(tree.at("pending").bytes, allocated(folder / "pending"));
  }
}

// For a file of several extents the scanner asks the extent tree whether every extent after
// the first is referred to from anywhere else: the answer must be FIEMAP's.
TEST_F(BtrfsShapes, BackReferencesTellSharingAsFiemapDoes) {
  testsupport::syncFileSystem(folder);  // references reach the extent tree at a commit

  const TreeView view = readTree(folder);
  ASSERT_EQ(view.result, BtrfsExtents::Reader::Result::read);
  // Extent by extent, as FIEMAP joins neighbours it finds contiguous (writing back while a
  // file is written can split one write in two).
  for (const auto& [name, at, shared] : view.later)
    EXPECT_EQ(shared, fiemapShared(folder / name, at)) << name << " at " << at;
  const std::map<std::string, bool> expected = {{"sparse", true},     {"sparse-clone", true},
                                                {"partial", false},   {"prealloc-tail", false},
                                                {"self-clone", true}, {"split", false}};
  for (const auto& [name, shared] : expected) {
    ASSERT_TRUE(view.laterShared.count(name)) << name;
    EXPECT_EQ(view.laterShared.at(name), shared) << name;
  }
}

// The entries of a folder are items of the folder's inode: a large folder numbered between
// two files lies inside the range searched for them and fills more than one buffer.
TEST_F(BtrfsShapes, FilesAroundALargeFolderAreFound) {
  const fs::path mixed = folder.parent_path() / "mixed";
  fs::create_directory(mixed);
  const std::string block = testsupport::patternedBytes(4096, 7);
  testsupport::writeFile(mixed / "a", block);
  fs::create_directory(mixed / "large");
  testsupport::writeFile(mixed / "z", block);
  for (int k = 0; k < 3000; ++k)
    testsupport::writeFile(mixed / "large" / (std::string(100, 'n') + std::to_string(k)), "");
  testsupport::syncFileSystem(mixed);  // written data gets its extent

  const TreeView view = readTree(mixed);
  ASSERT_EQ(view.result, BtrfsExtents::Reader::Result::read);
  for (const char* name : {"a", "z"}) {
    const auto& file = view.files.at(name);
    EXPECT_EQ(file.extents, 1u) << name;
    EXPECT_EQ(file.bytes, 4096u) << name;
    FileIO::Descriptor fd(SharedExtents::openForReading((mixed / name).c_str()));
    EXPECT_EQ(file.firstPhysical, SharedExtents::cloneInfo(fd.get()).cloneID) << name;
  }
}

TEST(BtrfsExtents, OtherFileSystemsAreNotSearched) {
  testsupport::TempDir dir;
  const fs::path folder = dir.path();
  testsupport::writeFile(folder / "file", "data");
  struct statfs fileSystem;
  ASSERT_EQ(::statfs(folder.c_str(), &fileSystem), 0);
  if (BtrfsExtents::isBtrfs(long(fileSystem.f_type))) GTEST_SKIP() << "the temporary folder is on btrfs";
  EXPECT_NE(readTree(folder).result, BtrfsExtents::Reader::Result::read);
}
