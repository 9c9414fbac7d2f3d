#include "ModelTestSupport.h"
#include "SshServer.h"
#include "Subprocess.h"
#include "model/ChildScan.h"
#include "model/DocumentController.h"
#include "model/ScanController.h"
#include "model/Settings.h"
#include "model/SshTarget.h"
#include "model/StreamScanJob.h"

#include <tallyfox/DiskTree.h>
#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotFile.h>

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <sys/stat.h>

using namespace tallyfox;
using testsupport::TempDir;
using testsupport::waitFor;

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> filesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    if (it->is_regular_file()) files.push_back(it->path());
  return files;
}

ScanJob::Outcome runToEnd(ChildScan scan, const fs::path& folder) {
  std::optional<ScanJob::Outcome> outcome;
  StreamScanJob* job = StreamScanJob::start(std::move(scan), folder);
  QObject::connect(job, &StreamScanJob::finished, [&](const ScanJob::Outcome& o) { outcome = o; });
  EXPECT_TRUE(waitFor([&] { return outcome.has_value(); }, std::chrono::seconds(120)));
  return outcome.value_or(ScanJob::Outcome{});
}

// The columns of a snapshot file: everything after the header, which alone holds the scan's
// time and duration.
std::vector<std::uint8_t> columnBytes(const fs::path& file) {
  auto bytes = testsupport::readBytes(file);
  bytes.erase(bytes.begin(),
              bytes.begin() + std::ptrdiff_t(std::min(bytes.size(), SnapshotFile::headerSize)));
  return bytes;
}

fs::path makeScript(const fs::path& file, const std::string& body) {
  testsupport::writeFile(file, "#!/bin/sh\n" + body);
  ::chmod(file.c_str(), 0755);
  return file;
}

const QString tfscan = QString::fromStdString(testsupport::tfscanWords({}).front());

// A host reached through the test's own sshd, whose PATH is `bin`: the programs the test
// links there are all the host has.
class RemoteScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Preferences::standard()->set(Preferences::snapshotsFolderKey, snapshots.string());
    testsupport::writeFile(tree / "a" / "one.txt", std::string(50000, 'x'));
    testsupport::writeFile(tree / "a" / "two.txt", "2");
    testsupport::writeFile(tree / "b" / "c" / "three.txt", std::string(9000, 'y'));
    fs::create_directories(bin);
    if (!server.failure().empty()) GTEST_SKIP() << server.failure();
  }

  void give(const std::string& program, const fs::path& target) { fs::create_symlink(target, bin / program); }

  ChildScans::SshSetup setup(const fs::path& config, const fs::path& askpass = {}) const {
    return {QStringLiteral("ssh"),
            {QStringLiteral("-F"), QString::fromStdString(config.string())},
            QString::fromStdString(askpass.string())};
  }
  ChildScan overSsh(const QString& path, const fs::path& config) const {
    return ChildScans::overSsh(*SshTarget::parse(SshServer::alias), path, setup(config));
  }
  fs::path hostFolder() const { return RemoteSnapshots::folderOf(snapshots, SshServer::alias); }

  using SshServer = testsupport::SshServer;
  testsupport::ScopedHome home;
  fs::path tree = home.path() / "tree";
  fs::path snapshots = home.path() / "snapshots";
  TempDir far;
  fs::path bin = far / "bin";
  SshServer server{far / "bin"};
};

TEST_F(RemoteScanTest, ARemoteScanIsSavedUnderItsHostAndEqualsTheLocalScan) {
  give("tfscan", tfscan.toStdString());
  Settings settings{Preferences::standard()};
  DocumentController documents{settings, {}};
  ScanController controller{documents, settings};
  controller.setSshSetup(setup(server.config()));
  QSignalSpy opened(&documents, &DocumentController::documentOpened);

  controller.scanRemote(*SshTarget::parse(SshServer::alias), QString::fromStdString(tree.string()));
  EXPECT_EQ(controller.phase().text, QStringLiteral("tftest:") + QString::fromStdString(tree.string()));
  EXPECT_FALSE(controller.canChangeSpeed());
  ASSERT_TRUE(waitFor([&] { return !controller.phase().isBusy(); }, std::chrono::seconds(60)));
  ASSERT_EQ(controller.phase().kind, ScanController::Phase::Kind::idle)
      << controller.phase().text.toStdString();

  const auto saved = filesIn(hostFolder());
  ASSERT_EQ(saved.size(), 1u) << "only the snapshot, no temporary file";
  EXPECT_EQ(saved[0].filename().string().rfind("tree-", 0), 0u) << saved[0];
  EXPECT_EQ(RemoteSnapshots::hostOf(saved[0], snapshots), QStringLiteral("tftest"));
  ASSERT_EQ(opened.size(), 1);

  const fs::path local = home.path() / "local.tfsnap";
  ASSERT_EQ(testsupport::runTfscan({"-o", local.string(), tree.string()}).status, 0);
  EXPECT_EQ(columnBytes(saved[0]), columnBytes(local));
  EXPECT_EQ(SnapshotFile::readInfo(saved[0])->info.rootPath, tree.string());
}

TEST_F(RemoteScanTest, CancelEndsTheScanOnTheFarSide) {
  give("tfscan", tfscan.toStdString());
  std::optional<ScanJob::Outcome> outcome;
  // The whole disk: long enough to be cancelled while it runs.
  StreamScanJob* job = StreamScanJob::start(overSsh(QStringLiteral("/"), server.config()), hostFolder());
  QObject::connect(job, &StreamScanJob::finished, [&](const ScanJob::Outcome& o) { outcome = o; });
  ASSERT_TRUE(
      waitFor([&] { return !testsupport::descendantsNamed(server.pid(), "tfscan").empty() || outcome; }));
  ASSERT_FALSE(outcome) << outcome->error.toStdString();

  job->cancel();
  ASSERT_TRUE(waitFor([&] { return outcome.has_value(); }));
  EXPECT_TRUE(outcome->cancelled);
  EXPECT_FALSE(outcome->written);
  EXPECT_TRUE(waitFor([&] { return testsupport::descendantsNamed(server.pid(), "tfscan").empty(); }))
      << "tfscan still runs on the far side";
  EXPECT_TRUE(filesIn(hostFolder()).empty());
}

TEST_F(RemoteScanTest, AHostWithoutTfscanIsReadThroughNcduAndOneWithNeitherIsNamed) {
  const fs::path local = home.path() / "local.tfsnap";
  ASSERT_EQ(testsupport::runTfscan({"-o", local.string(), tree.string()}).status, 0);
  const DiskTreePtr expected = SnapshotFile::map(local);

  const ScanJob::Outcome none =
      runToEnd(overSsh(QString::fromStdString(tree.string()), server.config()), hostFolder());
  EXPECT_EQ(none.error, QStringLiteral("tfscan is not installed on tftest (nor ncdu or gdu)"));
  EXPECT_TRUE(filesIn(hostFolder()).empty());

  give("ncdu", "/usr/bin/ncdu");
  const ScanJob::Outcome outcome =
      runToEnd(overSsh(QString::fromStdString(tree.string()), server.config()), hostFolder());
  ASSERT_TRUE(outcome.written) << outcome.error.toStdString();
  const DiskTreePtr read = SnapshotFile::map(*outcome.written);
  EXPECT_EQ(read->rootPath(), tree.string());
  EXPECT_EQ(read->nodeCount(), expected->nodeCount());
  EXPECT_EQ(read->sizeOf(DiskTree::root), expected->sizeOf(DiskTree::root));
  EXPECT_EQ(filesIn(hostFolder()).size(), 1u);
}

TEST_F(RemoteScanTest, AnUnknownHostKeyIsTrustedOnlyWhenThePersonSaysSo) {
  give("tfscan", tfscan.toStdString());
  const fs::path asked = far / "asked";
  const fs::path no = makeScript(far / "no", "printf '%s' \"$1\" > " + asked.string() + "\necho no\n");
  const QString path = QString::fromStdString(tree.string());

  ScanJob::Outcome refused = runToEnd(ChildScans::overSsh(*SshTarget::parse(SshServer::alias), path,
                                                          setup(server.configWithUnknownHost(), no)),
                                      hostFolder());
  EXPECT_FALSE(refused.written);
  EXPECT_NE(refused.error.indexOf(QStringLiteral("Host key verification failed")), -1)
      << refused.error.toStdString();
  EXPECT_TRUE(filesIn(hostFolder()).empty());
  EXPECT_TRUE(fs::is_empty(server.emptyKnownHosts())) << "the key was not recorded";
  ASSERT_TRUE(fs::exists(asked)) << "the person was asked";
  EXPECT_NE(testsupport::readBytes(asked).size(), 0u);

  const fs::path yes = makeScript(far / "yes", "echo yes\n");
  ScanJob::Outcome trusted = runToEnd(ChildScans::overSsh(*SshTarget::parse(SshServer::alias), path,
                                                          setup(server.configWithUnknownHost(), yes)),
                                      hostFolder());
  EXPECT_TRUE(trusted.written) << trusted.error.toStdString();
  EXPECT_FALSE(fs::is_empty(server.emptyKnownHosts()));
}

// Without a server: what comes back through the pipe is checked before it is kept.
TEST(StreamScanJobTest, AStreamCutShortOrNotASnapshotLeavesNothing) {
  testsupport::ScopedHome home;
  TempDir dir;
  testsupport::writeFile(dir / "tree" / "f", std::string(3000, 'z'));
  const fs::path whole = dir / "whole.tfsnap";
  ASSERT_EQ(testsupport::runTfscan({"-o", whole.string(), (dir / "tree").string()}).status, 0);
  const fs::path folder = dir / "saved";
  const auto size = fs::file_size(whole);

  auto printing = [&](const std::string& command) {
    ChildScan scan;
    scan.program = QStringLiteral("/bin/sh");
    scan.arguments = {QStringLiteral("-c"), QString::fromStdString(command)};
    scan.place = QStringLiteral("test");
    return runToEnd(scan, folder);
  };
  for (const std::string& command :
       {"head -c " + std::to_string(size - 100) + " " + whole.string(),
        "cat " + whole.string() + " " + whole.string(), std::string("echo hello"), std::string("true")}) {
    const ScanJob::Outcome outcome = printing(command);
    EXPECT_FALSE(outcome.written) << command;
    EXPECT_NE(outcome.error.indexOf(QStringLiteral("did not arrive whole")), -1)
        << outcome.error.toStdString();
    EXPECT_TRUE(testsupport::namesIn(folder).empty()) << command;
  }

  // A failing program's own words explain it; progress records never do.
  ChildScan failing = ChildScans::local(tfscan, QString::fromStdString((dir / "missing").string()));
  const ScanJob::Outcome failed = runToEnd(failing, folder);
  EXPECT_NE(failed.error.indexOf(QStringLiteral("missing")), -1) << failed.error.toStdString();
  EXPECT_EQ(failed.error.indexOf(QStringLiteral("progress")), -1);
  EXPECT_TRUE(testsupport::namesIn(folder).empty());

  const ScanJob::Outcome good = printing("cat " + whole.string());
  ASSERT_TRUE(good.written) << good.error.toStdString();
  EXPECT_EQ(testsupport::readBytes(*good.written), testsupport::readBytes(whole));
}

TEST(StreamScanJobTest, ReportsProgressFromTheRecordsOnStandardError) {
  testsupport::ScopedHome home;
  TempDir dir;
  ChildScan scan;
  scan.program = QStringLiteral("/bin/sh");
  scan.arguments = {QStringLiteral("-c"),
                    QStringLiteral("echo 'progress entries=7 bytes=10 seconds=0.1' >&2; "
                                   "echo 'progress entries=99 bytes=1000 seconds=0.3' >&2; exit 3")};
  std::vector<quint64> seen;
  std::optional<ScanJob::Outcome> outcome;
  StreamScanJob* job = StreamScanJob::start(scan, dir.path());
  QObject::connect(job, &StreamScanJob::entriesChanged, [&](quint64 n) { seen.push_back(n); });
  QObject::connect(job, &StreamScanJob::finished, [&](const ScanJob::Outcome& o) { outcome = o; });
  ASSERT_TRUE(waitFor([&] { return outcome.has_value(); }));
  EXPECT_EQ(seen, (std::vector<quint64>{7, 99}));
  EXPECT_FALSE(outcome->written);
}

TEST(SshTargetTest, TakesHostsAsSshDoesAndRefusesWhatWouldBeAnOption) {
  const auto plain = SshTarget::parse(QStringLiteral(" server "));
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->label, QStringLiteral("server"));
  EXPECT_EQ(plain->destination(), QStringList{QStringLiteral("server")});

  const auto full = SshTarget::parse(QStringLiteral("alice@db-1.example.org:2222"));
  ASSERT_TRUE(full);
  EXPECT_EQ(full->destination(), (QStringList{"-p", "2222", "alice@db-1.example.org"}));

  const auto v6 = SshTarget::parse(QStringLiteral("[::1]:22"));
  ASSERT_TRUE(v6);
  EXPECT_EQ(v6->destination(), (QStringList{"-p", "22", "::1"}));

  for (const char* bad : {"", "-oProxyCommand=x", "alice@-x", "host:0", "host:99999", "host:abc", "a/b", "..",
                          "host name", "a@b@", "[::1"}) {
    QString why;
    EXPECT_FALSE(SshTarget::parse(QString::fromUtf8(bad), &why)) << bad;
    EXPECT_FALSE(why.isEmpty()) << bad;
  }
}

TEST(RemoteSnapshotsTest, ASnapshotIsRemoteByItsPlaceInTheSnapshotsFolder) {
  const fs::path folder = "/home/u/.local/share/tallyfox";
  EXPECT_EQ(RemoteSnapshots::hostOf(folder / "hosts" / "web" / "srv-2026.tfsnap", folder),
            QStringLiteral("web"));
  EXPECT_EQ(RemoteSnapshots::hostOf(folder / "srv-2026.tfsnap", folder), std::nullopt);
  EXPECT_EQ(RemoteSnapshots::hostOf(folder / "hosts" / "srv-2026.tfsnap", folder), std::nullopt);
  EXPECT_EQ(RemoteSnapshots::hostOf("/elsewhere/hosts/web/x.tfsnap", folder), std::nullopt);
  EXPECT_EQ(RemoteSnapshots::displayPath(QStringLiteral("web"), QStringLiteral("/srv")),
            QStringLiteral("web:/srv"));
}

TEST(AdministratorScanTest, SaysSoWhenPkexecIsMissing) {
  const auto scan = ChildScans::asAdministrator(tfscan, QStringLiteral("/nonexistent/pkexec"));
  ASSERT_TRUE(std::holds_alternative<QString>(scan));
  EXPECT_NE(std::get<QString>(scan).indexOf(QStringLiteral("pkexec is not installed")), -1);

  if (::access("/usr/bin/pkexec", X_OK) != 0) GTEST_SKIP() << "pkexec is not installed";
  const auto withPkexec = ChildScans::asAdministrator(tfscan, QStringLiteral("/usr/bin/pkexec"));
  ASSERT_TRUE(std::holds_alternative<ChildScan>(withPkexec));
  const ChildScan& run = std::get<ChildScan>(withPkexec);
  EXPECT_EQ(run.arguments, (QStringList{tfscan, "-o", "-", "--progress", "/"}));
  EXPECT_NE(
      run.explain(127,
                  {QStringLiteral("Error executing command as another user: No authentication agent found.")})
          .indexOf(QStringLiteral("No polkit authentication agent")),
      -1);
  EXPECT_NE(
      run.explain(127, {QStringLiteral("Error getting authority: Error initializing authority: Could not "
                                       "connect: No such file or directory")})
          .indexOf(QStringLiteral("polkit is not running")),
      -1);
}

TEST(PolkitPolicyTest, IsValidAgainstPolkitsDtd) {
  const char* dtd = "/usr/share/polkit-1/policyconfig-1.dtd";
  if (::access(dtd, R_OK) != 0) GTEST_SKIP() << "polkit's DTD is not installed (polkitd)";
  const auto run = testsupport::runProgram({"xmllint", "--noout", "--dtdvalid", dtd, TALLYFOX_POLKIT_POLICY});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string text(reinterpret_cast<const char*>(testsupport::readBytes(TALLYFOX_POLKIT_POLICY).data()),
                         testsupport::readBytes(TALLYFOX_POLKIT_POLICY).size());
  EXPECT_NE(text.find("<action id=\"io.quillon.Tallyfox.scan\">"), std::string::npos);
  EXPECT_NE(text.find("<allow_active>auth_admin_keep</allow_active>"), std::string::npos);
  EXPECT_NE(text.find("/tfscan</annotate>"), std::string::npos);
}

}  // namespace
