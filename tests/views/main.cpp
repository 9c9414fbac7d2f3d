#include <gtest/gtest.h>

#include <QApplication>

// Widgets need an application object with a platform; the tests run on the offscreen one.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Temporary folders below the build folder: the recent-snapshot lists leave out files in
  // /tmp, and the start window tests want to see theirs.
  qputenv("TMPDIR", VIEW_TEST_TMP);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
