#include "ModelTestSupport.h"
#include "model/DumpMode.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <sstream>

using namespace tallyfox;
using testsupport::Node;
using testsupport::TempDir;

namespace {

QStringList linesOf(const QByteArray& text) {
  return QString::fromUtf8(text).split('\n', Qt::SkipEmptyParts);
}

// Runs tallyfox as a user would, with no display of any kind.
struct Outcome {
  int status = -1;
  QStringList out, err;
};
Outcome runTallyfox(const QStringList& arguments) {
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(name);
  process.setProcessEnvironment(environment);
  process.start(TALLYFOX_PATH, arguments);
  EXPECT_TRUE(process.waitForFinished(60000));
  return {process.exitCode(), linesOf(process.readAllStandardOutput()),
          linesOf(process.readAllStandardError())};
}

TEST(DumpMode, SummarisesASnapshotWithoutADisplay) {
  TempDir dir;
  const auto file = dir / "three.tfsnap";
  testsupport::writeSnapshot(
      file, {{-1, ""}, {0, "big"}, {0, "mid", 2000}, {0, "small", 10}, {1, "inner", 5000}}, "/data");
  const Outcome run = runTallyfox({"--dump", QString::fromStdString(file.string())});
  ASSERT_EQ(run.status, 0) << run.err.join('\n').toStdString();
  EXPECT_TRUE(run.err.isEmpty());
  ASSERT_EQ(run.out.size(), 2 + 3 + 4) << run.out.join('\n').toStdString();
  EXPECT_TRUE(run.out[0].startsWith("entries: 4  total: 7010 bytes (7.0 kB)  errors: 0  read: "));
  EXPECT_EQ(run.out[1], "root: /data");
  EXPECT_EQ(run.out[2], "  5.0 kB     /data/big");
  EXPECT_EQ(run.out[3], "  2.0 kB     /data/mid");
  EXPECT_EQ(run.out[4], "  10 bytes   /data/small");
  const QStringList names = {"big", "mid", "small", "/data"};
  const QStringList segments = {"1", "0", "0", "4"};
  for (int i = 0; i < 4; ++i) {
    const QRegularExpression line("^layout " + QRegularExpression::escape(names[i]) + ": " + segments[i] +
                                  " segments in \\d+ms$");
    EXPECT_TRUE(line.match(run.out[5 + i]).hasMatch()) << run.out[5 + i].toStdString();
  }
}

TEST(DumpMode, AFileOfNeitherFormatFailsOnStandardError) {
  TempDir dir;
  const auto file = dir / "notes.txt";
  testsupport::writeFile(file, "just some text, long enough to be read as a header of something");
  const Outcome run = runTallyfox({"--dump", QString::fromStdString(file.string())});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.out.isEmpty());
  ASSERT_EQ(run.err.size(), 1);
  EXPECT_TRUE(run.err[0].startsWith("Not a readable vok snapshot: ")) << run.err[0].toStdString();

  std::ostringstream out, err;
  EXPECT_EQ(DumpMode::run(dir / "missing.tfsnap", out, err), 1);
  EXPECT_TRUE(out.str().empty());
  EXPECT_FALSE(err.str().empty());
}

TEST(DumpMode, OnlyADumpFollowedByAFileCounts) {
  const char* last[] = {"tallyfox", "a.tfsnap", "--dump"};
  EXPECT_EQ(DumpMode::requestedFile(3, last), std::nullopt);
  const char* given[] = {"tallyfox", "--verbose", "--dump", "a.tfsnap", "--dump", "b.tfsnap"};
  EXPECT_EQ(DumpMode::requestedFile(6, given), std::filesystem::path("a.tfsnap"));
  const char* none[] = {"tallyfox"};
  EXPECT_EQ(DumpMode::requestedFile(1, none), std::nullopt);
}

}  // namespace
