// The real desktop services, on real files, with names that are not UTF-8.
#include "AppTestSupport.h"
#include "TestSupport.h"
#include "platform/Clipboard.h"
#include "platform/IdleTime.h"
#include "platform/Spawn.h"
#include "platform/Trash.h"

#include <sys/stat.h>
#include <QElapsedTimer>
#include <QFile>
#include <fstream>

#include <gtest/gtest.h>

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <QTest>
#include <QWidget>

#include <cmath>

namespace {

namespace fs = std::filesystem;
using testsupport::pathBytes;

const QByteArray latin1Name = "/tmp/d\xfcr/caf\xe9.txt";

std::string read(const fs::path& file) {
  std::ifstream in(file);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(DesktopServices, AFileReferenceOnTheClipboardKeepsTheNameBytes) {
  tallyfox::Clipboard::system()->copyFileReference(latin1Name);
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->data(QStringLiteral("text/uri-list")).trimmed(), "file:///tmp/d%FCr/caf%E9.txt");
  EXPECT_EQ(data->data(QStringLiteral("x-special/gnome-copied-files")), "copy\nfile:///tmp/d%FCr/caf%E9.txt");
  EXPECT_EQ(data->text(), QStringLiteral("/tmp/d\uFFFDr/caf\uFFFD.txt"));
}

TEST(DesktopServices, TheTrashKeepsNameBytesAndEmptiesEverything) {
  testsupport::ScopedHome home;
  const fs::path trash = tallyfox::FreedesktopTrash::homeTrash();
  const fs::path plain = home.path() / "report.txt";
  const fs::path latin1 = home.path() / "caf\xe9.txt";
  const fs::path folder = home.path() / "old";
  testsupport::writeFile(plain, "a");
  testsupport::writeFile(latin1, "b");
  fs::create_directories(folder / "locked");
  testsupport::writeFile(folder / "locked" / "inside", "c");
  ::chmod((folder / "locked").c_str(), 0500);  // emptying makes it writable first

  auto system = tallyfox::Trash::system();
  EXPECT_EQ(system->moveToTrash(pathBytes(plain)), std::nullopt);
  EXPECT_EQ(system->moveToTrash(pathBytes(latin1)), std::nullopt);
  EXPECT_EQ(system->moveToTrash(pathBytes(folder)), std::nullopt);
  testsupport::writeFile(latin1, "again");  // the same name twice gets a second entry
  EXPECT_EQ(system->moveToTrash(pathBytes(latin1)), std::nullopt);
  EXPECT_FALSE(fs::exists(plain) || fs::exists(latin1) || fs::exists(folder));
  const auto missing = system->moveToTrash(pathBytes(home.path() / "gone"));
  ASSERT_TRUE(missing);
  EXPECT_TRUE(missing->endsWith(QStringLiteral("gone: No such file or directory"))) << missing->toStdString();

  EXPECT_EQ(testsupport::namesIn(trash / "files"),
            (std::vector<std::string>{"caf\xe9.txt", "caf\xe9.txt.2", "old", "report.txt"}));
  const std::string info = read(trash / "info" / "caf\xe9.txt.2.trashinfo");
  EXPECT_NE(info.find("[Trash Info]\nPath=" + pathBytes(latin1).toPercentEncoding("/").toStdString() + "\n"),
            std::string::npos)
      << info;
  EXPECT_NE(info.find("DeletionDate="), std::string::npos);

  // What file managers leave behind: an orphan on either side, the expunged folder and the
  // size cache.
  testsupport::writeFile(trash / "files" / "orphan", "x");
  testsupport::writeFile(trash / "info" / "lost.trashinfo", "[Trash Info]\n");
  fs::create_directories(trash / "expunged" / "half");
  testsupport::writeFile(trash / "directorysizes", "1 2 old\n");
  EXPECT_EQ(tallyfox::FreedesktopTrash::emptyFolder(trash), tallyfox::FreedesktopTrash::FolderResult{});
  EXPECT_TRUE(testsupport::namesIn(trash / "files").empty());
  EXPECT_TRUE(testsupport::namesIn(trash / "info").empty());
  EXPECT_FALSE(fs::exists(trash / "expunged") || fs::exists(trash / "directorysizes"));
  EXPECT_EQ(tallyfox::FreedesktopTrash::folders().front(), trash);
}

TEST(DesktopServices, ProgramsStartInAFolderWhoseNameIsNotUtf8) {
  testsupport::TempDir dir;
  const fs::path folder = dir / "d\xfcr";
  fs::create_directory(folder);
  EXPECT_EQ(tallyfox::spawnDetached({"sh", "-c", "pwd -P > where.txt"}, pathBytes(folder)), std::nullopt);
  EXPECT_TRUE(testsupport::waitFor([&] { return read(folder / "where.txt") == folder.native() + "\n"; }));

  EXPECT_TRUE(tallyfox::spawnDetached({"no-such-program-here"}));
  const auto noFolder = tallyfox::spawnDetached({"true"}, pathBytes(dir / "missing"));
  ASSERT_TRUE(noFolder);
  EXPECT_EQ(*noFolder, QStringLiteral("No such file or directory"));
}

// Without an X server or GNOME to ask, as here, only the app's own windows tell whether
// the person is there: any key or mouse input to them starts the count again.
TEST(DesktopServices, IdleTimeCountsFromTheLastInputToTheApp) {
  tallyfox::IdleTime idle;
  QWidget window;
  window.show();
  QTest::qWait(300);
  EXPECT_GE(idle.secondsInApp(), 0.25);
  const double seconds = idle.seconds();
  EXPECT_TRUE(std::isfinite(seconds) && seconds >= 0) << seconds;
  // Input restarts the count: it is never more than the time since the input was sent,
  // however slow the machine.
  auto countsFromInput = [&](auto sendInput) {
    QElapsedTimer sinceInput;
    sinceInput.start();
    sendInput();
    const double counted = idle.secondsInApp();
    EXPECT_LE(counted, double(sinceInput.nsecsElapsed()) / 1e9);
  };
  countsFromInput([&] { QTest::keyClick(&window, Qt::Key_A); });
  QTest::qWait(300);
  countsFromInput([&] { QTest::mouseMove(&window, QPoint(5, 5)); });
}

}  // namespace
