#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <filesystem>
#include <string>

// Widgets need an application object with a platform; the tests run on the offscreen one.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The recent-snapshot lists leave out files in /tmp, and the start window tests want to see
  // theirs; the checkout (and so the build folder) may itself lie below /tmp. /var/tmp is
  // neither.
  std::string folder = "/var/tmp/tallyfox-view-tests-XXXXXX";
  const bool own = ::mkdtemp(folder.data()) != nullptr;
  qputenv("TMPDIR", own ? folder.c_str() : VIEW_TEST_TMP);
  int status;
  {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    status = RUN_ALL_TESTS();
  }
  std::error_code ignored;
  if (own) std::filesystem::remove_all(folder, ignored);
  return status;
}
