#include "BtrfsImage.h"
#include "Subprocess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/vfs.h>

// The clone tests rely on this fixture; when it cannot work here, say why once.
TEST(BtrfsImage, MountsAWritableBtrfs) {
  std::string why;
  auto image = testsupport::BtrfsImage::create(why);
  if (!image) GTEST_SKIP() << why;
  struct statfs fs;
  ASSERT_EQ(::statfs(image->mountPoint().c_str(), &fs), 0);
  EXPECT_EQ(fs.f_type, 0x9123683E);  // BTRFS_SUPER_MAGIC
  testsupport::writeFile(image->mountPoint() / "a", "hello");
  EXPECT_EQ(testsupport::runCommand({"cp", "--reflink=always", (image->mountPoint() / "a").string(),
                                     (image->mountPoint() / "b").string()}),
            0);
}
