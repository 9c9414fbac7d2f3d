#include "Subprocess.h"
#include "ViewTestSupport.h"

#include "model/DocumentController.h"
#include "model/ScanController.h"
#include "model/Settings.h"
#include "shell/AppDelegate.h"
#include "shell/SingleInstance.h"
#include "shell/TallyfoxApp.h"
#include "views/BrowserWindow.h"
#include "views/WelcomeWindow.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QXmlStreamReader>

#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <thread>
#include <tuple>

namespace {

// Environment variables set for the lifetime of the object and put back after; child
// processes started meanwhile inherit them.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::initializer_list<std::pair<std::string, std::string>> values) {
    for (const auto& [name, value] : values) {
      const char* old = std::getenv(name.c_str());
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      ::setenv(name.c_str(), value.c_str(), 1);
    }
  }
  ~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second)
        ::setenv(it->first.c_str(), it->second->c_str(), 1);
      else
        ::unsetenv(it->first.c_str());
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The child takes the test's home with the rest of the environment.
QProcessEnvironment childEnvironment(const testsupport::ScopedHome&, const std::filesystem::path& runtime) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(runtime.string()));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  return env;
}

// This test process plays the running Tallyfox, listening where a second launch looks.
struct RunningInstance {
  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  std::filesystem::path runtime = dir / "run";
  tallyfox::Settings settings{tallyfox::Preferences::standard()};
  tallyfox::DocumentController documents{settings, {}};
  tallyfox::ScanController scans{documents, settings};
  tallyfox::AppDelegate app{scans, documents, settings};
  tallyfox::SingleInstance first{(std::filesystem::create_directories(runtime),
                                  QString::fromStdString((runtime / "io.quillon.Tallyfox.socket").string()))};

  RunningInstance() {
    QObject::connect(&first, &tallyfox::SingleInstance::filesRequested, &app,
                     &tallyfox::AppDelegate::handleRequest);
    QObject::connect(&first, &tallyfox::SingleInstance::newScanRequested, &app,
                     &tallyfox::AppDelegate::showWelcome);
  }
};

TEST(LaunchTest, SecondLaunchHandsItsFileToTheRunningInstance) {
  RunningInstance running;
  auto [home, dir, runtime, app] = std::tie(running.home, running.dir, running.runtime, running.app);
  const auto file = viewtests::writeSnapshot(dir / "handed.tfsnap", {{-1, "h"}, {0, "x", 10}});
  ASSERT_TRUE(running.first.listen());

  QProcess second;
  second.setProcessEnvironment(childEnvironment(home, runtime));
  // A relative path: the second launch resolves it against its own working folder.
  second.setWorkingDirectory(QString::fromStdString(dir.path().string()));
  second.start(QStringLiteral(TALLYFOX_PATH), {QStringLiteral("handed.tfsnap")});
  ASSERT_TRUE(second.waitForStarted());
  ASSERT_TRUE(viewtests::waitFor([&] { return app.windowFor(file) != nullptr; }))
      << second.readAllStandardError().toStdString();
  ASSERT_TRUE(viewtests::waitFor([&] { return second.state() == QProcess::NotRunning; }));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(app.browserWindows().size(), 1u);
}

TEST(LaunchTest, NewScanFromTheDesktopOffersTheStartWindowBesideOpenWindows) {
  RunningInstance running;
  auto [home, dir, runtime, app] = std::tie(running.home, running.dir, running.runtime, running.app);
  const auto file = viewtests::writeSnapshot(dir / "open.tfsnap", {{-1, "o"}, {0, "x", 10}});
  ASSERT_TRUE(running.first.listen());
  app.launch({file});
  ASSERT_TRUE(viewtests::waitFor([&] { return app.windowFor(file) != nullptr; }));
  ASSERT_EQ(app.welcomeWindow(), nullptr);

  // What the desktop entry's New Scan action runs.
  QProcess second;
  second.setProcessEnvironment(childEnvironment(home, runtime));
  second.start(QStringLiteral(TALLYFOX_PATH), {QStringLiteral("--new-scan")});
  ASSERT_TRUE(second.waitForStarted());
  ASSERT_TRUE(viewtests::waitFor([&] { return app.welcomeWindow() && app.welcomeWindow()->isVisible(); }))
      << second.readAllStandardError().toStdString();
  ASSERT_TRUE(viewtests::waitFor([&] { return second.state() == QProcess::NotRunning; }));
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(app.browserWindows().size(), 1u);

  const char* argv[] = {"tallyfox", "--new-scan", "a.tfsnap", "--", "--new-scan"};
  EXPECT_TRUE(tallyfox::TallyfoxApp::newScanFrom(3, argv));
  EXPECT_FALSE(tallyfox::TallyfoxApp::newScanFrom(1, argv));
  const char* after[] = {"tallyfox", "--", "--new-scan"};
  EXPECT_FALSE(tallyfox::TallyfoxApp::newScanFrom(3, after));
}

TEST(LaunchTest, HandOffFindsNobodyWhenNoInstanceRuns) {
  testsupport::TempDir dir;
  tallyfox::SingleInstance lonely(QString::fromStdString((dir / "socket").string()));
  EXPECT_FALSE(lonely.handOff({"/x.tfsnap"}));
  // A stale socket file of a process that is gone does not stop the next one.
  EXPECT_TRUE(lonely.listen());
  std::vector<std::filesystem::path> received;
  QObject::connect(&lonely, &tallyfox::SingleInstance::filesRequested,
                   [&](const std::vector<std::filesystem::path>& f) { received = f; });
  // Names with line breaks, percent signs and bytes that are no UTF-8 travel intact.
  const std::vector<std::filesystem::path> odd{"/data/two\nlines.tfsnap", "/data/caf\xe9 100%25.tfsnap"};
  bool handed = false;
  // The client blocks on its socket, so it runs beside the event loop that serves it.
  std::thread client([&] { handed = tallyfox::SingleInstance(lonely.name()).handOff(odd); });
  EXPECT_TRUE(viewtests::waitFor([&] { return !received.empty(); }));
  client.join();
  EXPECT_TRUE(handed);
  EXPECT_EQ(received, odd);
}

// Any process of the user can write to the socket: only paths a launch could send are taken,
// never one that a NUL byte would cut short where the file is opened.
TEST(LaunchTest, RequestsTakeOnlyPathsALaunchCouldSend) {
  using tallyfox::InstanceRequest;
  const InstanceRequest request = InstanceRequest::parse(
      "relative.tfsnap\n/data/a.tfsnap%00/etc/passwd\n/data/ok.tfsnap\n"
      "compare /data/b.tfsnap%00x /data/a.tfsnap /srv\ncompare /data/b.tfsnap relative /srv\n"
      "compare /data/b.tfsnap  /srv\n\n");
  EXPECT_EQ(request.files, std::vector<std::filesystem::path>{"/data/ok.tfsnap"});
  const InstanceRequest::Comparison alone{"/data/b.tfsnap", "", "/srv"};
  EXPECT_EQ(request.comparisons, std::vector{alone});
  EXPECT_FALSE(request.newScan);

  const InstanceRequest sent{
      {"/data/two\nlines.tfsnap", "/data/caf\xe9 100%.vok"}, true, {{"/b", "/a", "/srv/x y"}}};
  EXPECT_TRUE(InstanceRequest::complete(sent.encoded()));
  EXPECT_EQ(InstanceRequest::parse(sent.encoded()), sent);
}

TEST(LaunchTest, WithoutADisplayItSaysSoInOneLine) {
  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  QProcessEnvironment env = childEnvironment(home, dir.path());
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(QLatin1String(name));
  QProcess app;
  app.setProcessEnvironment(env);
  app.start(QStringLiteral(TALLYFOX_PATH), {});
  ASSERT_TRUE(app.waitForFinished(30000));
  EXPECT_EQ(app.exitCode(), 1);
  const QString err = QString::fromUtf8(app.readAllStandardError());
  EXPECT_EQ(err.count(QLatin1Char('\n')), 1) << err.toStdString();
  EXPECT_TRUE(err.contains(QStringLiteral("tallyfox --dump FILE")));
  EXPECT_TRUE(err.contains(QStringLiteral("tfscan")));

  // The dump needs no display either.
  const auto file = viewtests::writeSnapshot(dir / "d.tfsnap", {{-1, "d"}, {0, "x", 10}});
  app.start(QStringLiteral(TALLYFOX_PATH), {QStringLiteral("--dump"), QString::fromStdString(file.string())});
  ASSERT_TRUE(app.waitForFinished(30000));
  EXPECT_EQ(app.exitCode(), 0);
  EXPECT_TRUE(app.readAllStandardOutput().startsWith("entries: 1"));

  // Nor does the help, which must not open a window where there is a display.
  app.start(QStringLiteral(TALLYFOX_PATH), {QStringLiteral("--help")});
  ASSERT_TRUE(app.waitForFinished(30000));
  EXPECT_EQ(app.exitCode(), 0);
  const QByteArray help = app.readAllStandardOutput();
  EXPECT_TRUE(help.startsWith("Usage: tallyfox [FILE...]")) << help.toStdString();
  EXPECT_TRUE(help.contains("--dump FILE"));
  EXPECT_TRUE(help.contains("tallyfox FOLDER"));

  // A dump without its file says so rather than opening the start window.
  app.start(QStringLiteral(TALLYFOX_PATH), {QStringLiteral("--dump")});
  ASSERT_TRUE(app.waitForFinished(30000));
  EXPECT_EQ(app.exitCode(), 2);
  EXPECT_TRUE(app.readAllStandardError().contains("--dump needs a snapshot file"));
}

TEST(LaunchTest, CommandLineFilesBecomeAbsolutePaths) {
  // Qt's options and their values are not files; after "--" everything is.
  const char* argv[] = {"tallyfox",  "-style",        "fusion", "a.tfsnap",
                        "--reverse", "-platform=xcb", "--",     "-b.vok"};
  const auto files = tallyfox::TallyfoxApp::filesFrom(8, argv);
  const std::filesystem::path here = std::filesystem::current_path();
  EXPECT_EQ(files, (std::vector{here / "a.tfsnap", here / "-b.vok"}));
}

// A name as a Latin-1 system of old would have written it: not UTF-8.
const std::string latin1SnapshotName = "caf\xe9.tfsnap";

TEST(LaunchTest, ASnapshotWhoseNameIsNotUtf8OpensFromTheCommandLine) {
  RunningInstance running;
  auto [home, dir, runtime, app] = std::tie(running.home, running.dir, running.runtime, running.app);
  const auto file = viewtests::writeSnapshot(dir / latin1SnapshotName, {{-1, "c"}, {0, "x", 10}});
  const std::string path = file.string();
  const char* argv[] = {"tallyfox", path.c_str()};
  const auto files = tallyfox::TallyfoxApp::filesFrom(2, argv);
  ASSERT_EQ(files, std::vector{file});
  app.launch(files);
  ASSERT_NE(app.windowFor(file), nullptr);
  ASSERT_TRUE(viewtests::waitFor([&] { return app.windowFor(file)->browser()->state().isReady(); }));
  EXPECT_EQ(app.windowFor(file)->browser()->fileURL(), file);
}

TEST(LaunchTest, ASnapshotWhoseNameIsNotUtf8OpensInTheRunningInstance) {
  RunningInstance running;
  auto [home, dir, runtime, app] = std::tie(running.home, running.dir, running.runtime, running.app);
  const auto file = viewtests::writeSnapshot(dir / latin1SnapshotName, {{-1, "c"}, {0, "x", 10}});
  ASSERT_TRUE(running.first.listen());

  // QProcess would pass the name as text; the second launch gets the bytes, as from a shell.
  const ScopedEnvironment environment{{"XDG_RUNTIME_DIR", runtime.string()},
                                      {"QT_QPA_PLATFORM", "offscreen"}};
  testsupport::ProgramRun second;
  std::thread launch([&] {
    second = testsupport::runProgram({TALLYFOX_PATH, latin1SnapshotName}, dir.path());
  });
  const bool opened = viewtests::waitFor([&] { return app.windowFor(file) != nullptr; });
  launch.join();
  ASSERT_TRUE(opened) << second.err;
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(app.browserWindows().size(), 1u);
  ASSERT_TRUE(viewtests::waitFor([&] { return app.windowFor(file)->browser()->state().isReady(); }));
  EXPECT_EQ(app.windowFor(file)->browser()->tree()->nodeCount(), 1u);
}

TEST(LaunchTest, AFolderOnTheCommandLineIsScanned) {
  RunningInstance running;
  auto [home, dir, runtime, app] = std::tie(running.home, running.dir, running.runtime, running.app);
  // Its name is not UTF-8 either, and it holds a snapshot file that is not opened.
  const std::filesystem::path folder = dir / "fotos\xe9";
  std::filesystem::create_directories(folder / "inner");
  testsupport::writeFile(folder / "inner" / "a.txt", std::string(5000, 'a'));
  viewtests::writeSnapshot(folder / "kept.tfsnap", {{-1, "k"}, {0, "x", 10}});
  const std::string path = folder.string();
  const char* argv[] = {"tallyfox", path.c_str()};
  app.launch(tallyfox::TallyfoxApp::filesFrom(2, argv));
  // The start window shows the scan, then the folder's window replaces it.
  ASSERT_NE(app.welcomeWindow(), nullptr);
  EXPECT_TRUE(app.welcomeWindow()->isVisible());
  EXPECT_NE(running.scans.phase(), tallyfox::ScanController::Phase::idle());
  ASSERT_TRUE(viewtests::waitFor([&] { return app.browserWindows().size() == 1; }))
      << running.scans.phase().text.toStdString();
  const tallyfox::BrowserModel* browser = app.browserWindows().front()->browser();
  ASSERT_TRUE(viewtests::waitFor([&] { return browser->state().isReady(); }));
  // What only the folder of these very bytes holds was found (a snapshot keeps its root's
  // path as text, so the path itself cannot show it).
  const tallyfox::DiskTree& tree = *browser->tree();
  EXPECT_EQ(tree.nodeCount(), 3);
  std::vector<std::string> names;
  for (const tallyfox::NodeId child : tree.children(tallyfox::DiskTree::root))
    names.push_back(tree.name(child));
  EXPECT_EQ(names, (std::vector<std::string>{"inner", "kept.tfsnap"}));
  EXPECT_EQ(app.windowFor(folder / "kept.tfsnap"), nullptr);
}

TEST(LaunchTest, AFolderHandedToTheRunningInstanceIsScanned) {
  RunningInstance running;
  auto [home, dir, runtime, app] = std::tie(running.home, running.dir, running.runtime, running.app);
  const std::filesystem::path folder = dir / "handed";
  std::filesystem::create_directories(folder / "sub");
  testsupport::writeFile(folder / "sub" / "b.txt", "b");
  ASSERT_TRUE(running.first.listen());

  QProcess second;
  second.setProcessEnvironment(childEnvironment(home, runtime));
  second.start(QStringLiteral(TALLYFOX_PATH), {QString::fromStdString(folder.string())});
  ASSERT_TRUE(second.waitForStarted());
  ASSERT_TRUE(viewtests::waitFor([&] { return app.browserWindows().size() == 1; }))
      << second.readAllStandardError().toStdString() << running.scans.phase().text.toStdString();
  EXPECT_EQ(app.browserWindows().front()->browser()->fileURL()->parent_path(),
            running.settings.snapshotsFolder());
  ASSERT_TRUE(viewtests::waitFor([&] { return second.state() == QProcess::NotRunning; }));
  EXPECT_EQ(second.exitCode(), 0);
}

TEST(DesktopFilesTest, DesktopEntryIsValidAndInstalled) {
  const QString entry = QStringLiteral(TALLYFOX_RESOURCES_DIR "/io.quillon.Tallyfox.desktop");
  QProcess validate;
  validate.start(QStringLiteral("desktop-file-validate"), {entry});
  if (!validate.waitForStarted()) GTEST_SKIP() << "desktop-file-validate is not installed";
  ASSERT_TRUE(validate.waitForFinished());
  EXPECT_EQ(validate.exitCode(), 0);
  EXPECT_EQ(validate.readAllStandardOutput() + validate.readAllStandardError(), QByteArray());

  testsupport::TempDir prefix;
  QProcess install;
  install.start(QStringLiteral("cmake"),
                {QStringLiteral("--install"), QStringLiteral(TALLYFOX_BINARY_DIR),
                 QStringLiteral("--component"), QStringLiteral("desktop"), QStringLiteral("--prefix"),
                 QString::fromStdString(prefix.path().string())});
  ASSERT_TRUE(install.waitForFinished(60000));
  ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();
  for (const char* installed :
       {"share/applications/io.quillon.Tallyfox.desktop", "share/mime/packages/io.quillon.Tallyfox.xml",
        "share/icons/hicolor/scalable/apps/io.quillon.Tallyfox.svg",
        "share/metainfo/io.quillon.Tallyfox.metainfo.xml", "share/man/man1/tallyfox.1.gz"})
    EXPECT_TRUE(std::filesystem::exists(prefix / installed)) << installed;
}

TEST(DesktopFilesTest, MimeTypesMatchEverySnapshotFormat) {
  QFile file(QStringLiteral(TALLYFOX_RESOURCES_DIR "/io.quillon.Tallyfox.xml"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  QXmlStreamReader xml(&file);
  QStringList types, globs, magic;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    const auto attributes = xml.attributes();
    if (xml.name() == QLatin1String("mime-type")) types << attributes.value(QLatin1String("type")).toString();
    if (xml.name() == QLatin1String("glob")) globs << attributes.value(QLatin1String("pattern")).toString();
    if (xml.name() == QLatin1String("match")) magic << attributes.value(QLatin1String("value")).toString();
  }
  ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  EXPECT_EQ(types, (QStringList{QStringLiteral("application/x-tallyfox-snapshot"),
                                QStringLiteral("application/x-vok-snapshot"),
                                QStringLiteral("application/x-ncdu-export")}));
  EXPECT_EQ(globs, (QStringList{QStringLiteral("*.tfsnap"), QStringLiteral("*.vok")}));
  EXPECT_EQ(magic, (QStringList{QStringLiteral("TFSNAP\\0\\0"), QStringLiteral("VOKSNAP\\0"),
                                QStringLiteral("[1,2,{\"progname\":"), QStringLiteral("[1,1,{\"progname\":"),
                                QStringLiteral("[1,0,{\"progname\":")}));

  // The desktop entry offers exactly these types.
  QFile entry(QStringLiteral(TALLYFOX_RESOURCES_DIR "/io.quillon.Tallyfox.desktop"));
  ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
  // And folders, which it scans.
  EXPECT_TRUE(
      entry.readAll().contains("MimeType=application/x-tallyfox-snapshot;application/x-vok-snapshot;"
                               "application/x-ncdu-export;inode/directory;"));
}

TEST(DesktopFilesTest, MetainfoIsValidAndNamesThisVersion) {
  const QString path = QStringLiteral(TALLYFOX_RESOURCES_DIR "/io.quillon.Tallyfox.metainfo.xml");
  QProcess validate;
  validate.start(QStringLiteral("appstreamcli"),
                 {QStringLiteral("validate"), QStringLiteral("--no-net"), path});
  if (!validate.waitForStarted()) GTEST_SKIP() << "appstreamcli is not installed";
  ASSERT_TRUE(validate.waitForFinished(60000));
  const QByteArray report = validate.readAllStandardOutput() + validate.readAllStandardError();
  EXPECT_EQ(validate.exitCode(), 0) << report.toStdString();
  // Warnings pass validation but still show in software centres' checks.
  EXPECT_FALSE(report.contains("\nW:") || report.startsWith("W:")) << report.toStdString();

  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  QXmlStreamReader xml(&file);
  QStringList releases, captions, launchables;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    if (xml.name() == QLatin1String("release"))
      releases << xml.attributes().value(QLatin1String("version")).toString();
    if (xml.name() == QLatin1String("caption")) captions << xml.readElementText();
    if (xml.name() == QLatin1String("launchable")) launchables << xml.readElementText();
  }
  ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  // Newest first: the version this build calls itself.
  ASSERT_FALSE(releases.isEmpty());
  EXPECT_EQ(releases.front(), QStringLiteral(TALLYFOX_VERSION));
  EXPECT_GE(captions.size(), 2);
  for (const QString& caption : captions) EXPECT_FALSE(caption.trimmed().isEmpty());
  EXPECT_EQ(launchables, QStringList{QStringLiteral("io.quillon.Tallyfox.desktop")});
}

}  // namespace
