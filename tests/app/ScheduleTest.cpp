// Scheduled snapshots: the systemd units as written, checked by systemd itself, and turning
// the schedule on and off through a service manager that records what it was asked.
#include "ModelTestSupport.h"
#include "Subprocess.h"
#include "model/Schedule.h"
#include "model/Settings.h"

#include <tallyfox/Preferences.h>

#include <gtest/gtest.h>

#include <mutex>

using namespace tallyfox;

namespace {

namespace fs = std::filesystem;

std::string read(const fs::path& file) {
  const auto bytes = testsupport::readBytes(file);
  return {bytes.begin(), bytes.end()};
}

// Answers every command as `answers` says (success by default) and remembers the commands.
class RecordingServices : public UserServices {
 public:
  ServiceCommandResult systemctl(const QStringList& arguments) override {
    const std::lock_guard lock(mutex);
    commands << arguments.join(QLatin1Char(' '));
    for (const auto& [command, answer] : answers)
      if (arguments.join(QLatin1Char(' ')) == command) return answer;
    return {true, 0, QStringLiteral("running"), {}};
  }
  QStringList taken() {
    const std::lock_guard lock(mutex);
    return std::exchange(commands, {});
  }

  std::mutex mutex;
  QStringList commands;
  std::vector<std::pair<QString, ServiceCommandResult>> answers;
};

TEST(ScheduleUnitsTest, UnitsAsWrittenPassSystemdAnalyzeVerify) {
  if (testsupport::runProgram({"sh", "-c", "command -v systemd-analyze"}).status != 0)
    GTEST_SKIP() << "systemd-analyze is not installed (Debian package systemd)";
  testsupport::TempDir dir;
  // A folder whose name systemd would expand or split if it were written as it is.
  const fs::path tools = dir / "my tools 100% $HOME";
  fs::create_directories(tools);
  const fs::path tfscan = tools / "tfscan";
  fs::create_symlink("/bin/true", tfscan);
  for (const auto frequency : {ScheduleUnits::Frequency::daily, ScheduleUnits::Frequency::weekly}) {
    const fs::path units = dir / std::string(ScheduleUnits::rawValue(frequency));
    fs::create_directories(units);
    const auto service = ScheduleUnits::serviceText(tfscan);
    ASSERT_TRUE(service);
    testsupport::writeFile(units / ScheduleUnits::serviceName, *service);
    testsupport::writeFile(units / ScheduleUnits::timerName, ScheduleUnits::timerText(frequency));
    // verify reports an ExecStart whose program is missing or not executable, so a path
    // read back differently from what was meant fails here.
    const auto run = testsupport::runProgram({"systemd-analyze", "verify", "--man=no",
                                              (units / ScheduleUnits::serviceName).string(),
                                              (units / ScheduleUnits::timerName).string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "") << *service;
    const std::string timer = read(units / ScheduleUnits::timerName);
    EXPECT_NE(timer.find("OnCalendar=" + std::string(ScheduleUnits::rawValue(frequency)) + "\n"),
              std::string::npos);
    EXPECT_NE(timer.find("Persistent=true\n"), std::string::npos);
  }
  const auto service = *ScheduleUnits::serviceText(tfscan);
  for (const char* line : {"Type=oneshot\n", "Nice=19\n", "IOSchedulingClass=idle\n", " --scheduled\n"})
    EXPECT_NE(service.find(line), std::string::npos) << line;

  // What no unit can carry is refused rather than written wrong.
  EXPECT_FALSE(ScheduleUnits::serviceText("/opt/two\nlines/tfscan"));
  EXPECT_FALSE(ScheduleUnits::serviceText("/opt/\"quoted\"/tfscan"));
  EXPECT_FALSE(ScheduleUnits::serviceText("/opt/\xff/tfscan"));
  EXPECT_FALSE(ScheduleUnits::serviceText("bin/tfscan"));
}

class ScheduleTest : public ::testing::Test {
 protected:
  std::unique_ptr<Schedule> schedule(std::optional<fs::path> tfscan = fs::path("/usr/bin/tfscan")) {
    auto made =
        std::make_unique<Schedule>(settings, services, std::move(tfscan), ScheduleUnits::userUnitFolder());
    made->checkAvailability();
    EXPECT_TRUE(testsupport::waitFor(
        [&] { return made->availability().kind != Schedule::Availability::Kind::checking; }));
    services->taken();
    return made;
  }
  void settle(Schedule& s) {
    EXPECT_TRUE(testsupport::waitFor([&] { return !s.isBusy(); }));
  }

  testsupport::ScopedHome home;
  Settings settings{Preferences::standard()};
  std::shared_ptr<RecordingServices> services = std::make_shared<RecordingServices>();
  fs::path units = home.path() / ".config" / "systemd" / "user";
};

TEST_F(ScheduleTest, TurningOnInstallsAndStartsTheTimerAndOffRemovesIt) {
  ASSERT_EQ(ScheduleUnits::userUnitFolder(), units);
  auto s = schedule();
  EXPECT_EQ(s->availability().kind, Schedule::Availability::Kind::available);
  EXPECT_FALSE(s->isOn());

  s->setFrequency(ScheduleUnits::Frequency::weekly);
  s->setOn(true);
  settle(*s);
  EXPECT_TRUE(s->isOn());
  EXPECT_EQ(s->error(), QString());
  EXPECT_EQ(services->taken(), (QStringList{"daemon-reload", "enable --now tallyfox-snapshots.timer"}));
  EXPECT_EQ(read(units / ScheduleUnits::serviceName), *ScheduleUnits::serviceText("/usr/bin/tfscan"));
  EXPECT_EQ(read(units / ScheduleUnits::timerName),
            ScheduleUnits::timerText(ScheduleUnits::Frequency::weekly));
  // A new window finds it on, and the frequency as chosen.
  EXPECT_TRUE(schedule()->isOn());
  EXPECT_EQ(schedule()->frequency(), ScheduleUnits::Frequency::weekly);

  // Another frequency while on: the timer is rewritten and started again.
  s->setFrequency(ScheduleUnits::Frequency::daily);
  settle(*s);
  EXPECT_EQ(read(units / ScheduleUnits::timerName),
            ScheduleUnits::timerText(ScheduleUnits::Frequency::daily));
  EXPECT_EQ(services->taken(), (QStringList{"daemon-reload", "enable --now tallyfox-snapshots.timer",
                                            "restart tallyfox-snapshots.timer"}));

  s->setOn(false);
  settle(*s);
  EXPECT_FALSE(s->isOn());
  EXPECT_EQ(services->taken(), (QStringList{"disable --now tallyfox-snapshots.timer", "daemon-reload"}));
  EXPECT_FALSE(fs::exists(units / ScheduleUnits::serviceName));
  EXPECT_FALSE(fs::exists(units / ScheduleUnits::timerName));
}

TEST_F(ScheduleTest, WithoutASystemdUserInstanceItSaysSoAndStaysOff) {
  services->answers.push_back({"is-system-running", {true, 1, "offline", ""}});
  auto s = schedule();
  EXPECT_EQ(s->availability().kind, Schedule::Availability::Kind::unavailable);
  EXPECT_TRUE(s->availability().reason.contains(QStringLiteral("No systemd user instance")));
  s->setOn(true);
  settle(*s);
  EXPECT_FALSE(s->isOn());
  EXPECT_TRUE(services->taken().isEmpty());
  EXPECT_FALSE(fs::exists(units / ScheduleUnits::timerName));

  // Nor without tfscan to run.
  services->answers.clear();
  EXPECT_EQ(schedule(std::nullopt)->availability().kind, Schedule::Availability::Kind::unavailable);
}

TEST_F(ScheduleTest, AFailedStartLeavesNothingInstalledAndSaysWhy) {
  services->answers.push_back(
      {"enable --now tallyfox-snapshots.timer", {true, 1, "", "Failed to enable unit: Access denied"}});
  auto s = schedule();
  s->setOn(true);
  settle(*s);
  EXPECT_FALSE(s->isOn());
  EXPECT_TRUE(s->error().contains(QStringLiteral("Access denied"))) << s->error().toStdString();
  EXPECT_FALSE(fs::exists(units / ScheduleUnits::serviceName));
  EXPECT_FALSE(fs::exists(units / ScheduleUnits::timerName));
}

TEST_F(ScheduleTest, FoldersAndThresholdAreWhatTfscanReads) {
  EXPECT_EQ(settings.scheduledFolders(), (std::vector<std::string>{home.path().string()}));
  settings.setScheduledFolders({home.path().string() + "/Projects", "/"});
  settings.setGrowthAlertBytes(2'500'000'000);
  const auto store = Preferences::standard();
  EXPECT_EQ(store->scheduledFolders(), (std::vector<std::string>{home.path().string() + "/Projects", "/"}));
  EXPECT_EQ(store->getString(Preferences::scheduledFoldersKey), std::nullopt);  // a list, not a string
  EXPECT_EQ((*store->get(Preferences::scheduledFoldersKey))[0], "~/Projects");
  EXPECT_EQ(store->growthAlertBytes(), 2'500'000'000u);
}

}  // namespace
