#include "Subprocess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace testsupport;

// tfscan reads the saved speed and snapshots folder before it scans. A preferences file
// nested 100,000 levels deep once crashed it there; now it is set aside with one warning,
// the scan runs with the defaults, and the file is left exactly as it was.
TEST(UserPreferences, ADeeplyNestedFileIsIgnoredWithAWarningAndLeftAsItIs) {
  ScopedHome home;
  TempDir temp;
  const fs::path file = home.path() / ".config" / "io.quillon.Tallyfox" / "preferences.json";
  const std::string deep = deeplyNestedPreferences(100000);
  writeFile(file, deep);
  writeFile(temp / "root" / "a", "x");

  const ProgramRun scan = runTfscan({(temp / "root").string()});
  EXPECT_EQ(scan.status, 0) << scan.err;
  EXPECT_EQ(scan.err, "tfscan: warning: ignoring " + file.string() +
                          ", which is nested deeper than 100 levels; using the default settings\n");
  // The built-in snapshots folder, as without a preferences file.
  EXPECT_EQ(namesIn(home.path() / ".local" / "share" / "tallyfox").size(), 1u);
  EXPECT_EQ(readBytes(file), std::vector<std::uint8_t>(deep.begin(), deep.end()));
  EXPECT_EQ(namesIn(file.parent_path()), std::vector<std::string>{"preferences.json"});
}
