#include <gtest/gtest.h>

#include "TestSupport.h"

#include <QApplication>
#include <QThreadPool>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// TALLYFOX_TEST_SCREEN=WIDTHxHEIGHT gives the offscreen platform one screen of that size
// instead of its default, for the tests of how windows fit a small screen. The plugin takes
// its screens from a JSON file.
void useTestScreen(const std::filesystem::path& folder) {
  const QByteArray wanted = qgetenv("TALLYFOX_TEST_SCREEN");
  const qsizetype x = wanted.indexOf('x');
  if (x <= 0) return;
  const std::filesystem::path config = folder / "offscreen-screen.json";
  std::ofstream(config) << R"({"screens": [{"name": "test", "x": 0, "y": 0, "width": )"
                        << wanted.left(x).toInt() << R"(, "height": )" << wanted.mid(x + 1).toInt()
                        << R"(, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})";
  qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QByteArray::fromStdString(config.string()));
}

}  // namespace

// Widgets need an application object with a platform; the tests run on the offscreen one.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The recent-snapshot lists leave out files in /tmp, and the start window tests want to see
  // theirs; the checkout (and so the build folder) may itself lie below /tmp. /var/tmp is
  // neither.
  std::string folder = "/var/tmp/tallyfox-view-tests-XXXXXX";
  const bool own = ::mkdtemp(folder.data()) != nullptr;
  qputenv("TMPDIR", own ? folder.c_str() : VIEW_TEST_TMP);
  useTestScreen(own ? folder : VIEW_TEST_TMP);
  // Only the tests given a private session bus talk D-Bus: the others must not show a file in
  // the person's own previewer or file manager, nor depend on whether the desktop offers one.
  if (!qEnvironmentVariableIsSet("TALLYFOX_TEST_PRIVATE_BUS"))
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tallyfox-view-tests");
  int status;
  {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    testsupport::ScopedHome::beforeLeaving([] { QThreadPool::globalInstance()->waitForDone(); });
    ::testing::InitGoogleTest(&argc, argv);
    status = RUN_ALL_TESTS();
  }
  std::error_code ignored;
  if (own) std::filesystem::remove_all(folder, ignored);
  return status;
}
