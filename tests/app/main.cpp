#include <gtest/gtest.h>

#include <QCoreApplication>

// The models post their results to the main thread's event loop, so the tests need an
// application object; none of them needs a display.
int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
