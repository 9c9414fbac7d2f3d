#include "ModelTestSupport.h"
#include "model/BrowserModel.h"
#include "model/DocumentController.h"
#include "model/PlaceStore.h"
#include "model/Requests.h"
#include "model/Settings.h"

#include <tallyfox/Preferences.h>

#include <gtest/gtest.h>

#include <QSignalSpy>

using namespace tallyfox;

namespace {

namespace fs = std::filesystem;

class DocumentControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"a.tfsnap", "b.tfsnap"})
      testsupport::writeSnapshot(home.path() / name, {{-1, ""}, {0, "x", 10}});
  }

  testsupport::ScopedHome home;
  Settings settings{Preferences::standard()};
  DocumentController documents{settings, {}};
};

TEST_F(DocumentControllerTest, ASecondOpenOfOneFileBringsTheFirstForward) {
  QSignalSpy opened(&documents, &DocumentController::documentOpened);
  QSignalSpy raised(&documents, &DocumentController::raiseRequested);
  BrowserModel* first = documents.openDocument(home.path() / "a.tfsnap");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(opened.count(), 1);
  EXPECT_EQ(raised.count(), 0);

  // Another spelling of the same file: relative, through a symbolic link.
  fs::create_symlink(home.path() / "a.tfsnap", home.path() / "link.tfsnap");
  const fs::path before = fs::current_path();
  fs::current_path(home.path());
  BrowserModel* again = documents.openDocument("a.tfsnap");
  fs::current_path(before);
  BrowserModel* linked = documents.openDocument(home.path() / "link.tfsnap");
  EXPECT_EQ(again, first);
  EXPECT_EQ(linked, first);
  EXPECT_EQ(opened.count(), 1);
  ASSERT_EQ(raised.count(), 2);
  EXPECT_EQ(raised[0][0].value<BrowserModel*>(), first);

  BrowserModel* second = documents.openDocument(home.path() / "b.tfsnap");
  EXPECT_NE(second, first);
  // A model reaches the other documents through its services (a rescan opens its new file).
  ASSERT_EQ(first->services().documents, &documents);
  EXPECT_EQ(first->services().documents->openDocument(home.path() / "b.tfsnap"), second);
  EXPECT_EQ(documents.browsers(), (std::vector<BrowserModel*>{first, second}));
  EXPECT_TRUE(testsupport::waitFor([&] { return second->state().isReady(); }));
}

TEST_F(DocumentControllerTest, SwitchingPutsAnotherSnapshotInTheWindowsPlace) {
  const fs::path a = home.path() / "a.tfsnap", b = home.path() / "b.tfsnap";
  BrowserModel* first = documents.openDocument(a);
  // The same file, through a symbolic link: nothing happens.
  fs::create_symlink(a, home.path() / "same.tfsnap");
  first->switchTo(home.path() / "same.tfsnap", false);
  EXPECT_EQ(documents.browsers(), std::vector<BrowserModel*>{first});

  // Kept: both are open.
  first->switchTo(b, true);
  BrowserModel* second = documents.documentFor(b);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(documents.browsers(), (std::vector<BrowserModel*>{first, second}));

  // Switched: the window's own document goes, also when the other file cannot be read.
  testsupport::writeFile(home.path() / "broken.tfsnap", "not a snapshot");
  second->switchTo(home.path() / "broken.tfsnap", false);
  BrowserModel* broken = documents.documentFor(home.path() / "broken.tfsnap");
  ASSERT_NE(broken, nullptr);
  EXPECT_EQ(documents.documentFor(b), nullptr);
  EXPECT_EQ(documents.browsers(), (std::vector<BrowserModel*>{first, broken}));
  EXPECT_TRUE(testsupport::waitFor([&] { return broken->state().isFailed(); }));
}

TEST_F(DocumentControllerTest, ClosingByFileReleasesTheDocumentAndItsFocus) {
  BrowserModel* a = documents.openDocument(home.path() / "a.tfsnap");
  BrowserModel* b = documents.openDocument(home.path() / "b.tfsnap");
  QSignalSpy closing(&documents, &DocumentController::closeRequested);
  documents.setFocused(a);
  EXPECT_EQ(documents.focused(), a);

  QPointer<BrowserModel> released(a);
  EXPECT_TRUE(documents.closeDocument(home.path() / "a.tfsnap"));
  ASSERT_EQ(closing.count(), 1);
  EXPECT_EQ(closing[0][0].value<BrowserModel*>(), a);
  EXPECT_EQ(documents.browsers(), (std::vector<BrowserModel*>{b}));
  EXPECT_EQ(documents.focused(), nullptr);
  EXPECT_EQ(documents.documentFor(home.path() / "a.tfsnap"), nullptr);
  EXPECT_TRUE(testsupport::waitFor([&] { return released.isNull(); }));
  EXPECT_FALSE(documents.closeDocument(home.path() / "a.tfsnap"));  // nothing left to close

  // Open again after closing: a new document, not the released one.
  QSignalSpy opened(&documents, &DocumentController::documentOpened);
  documents.openDocument(home.path() / "a.tfsnap");
  EXPECT_EQ(opened.count(), 1);
  EXPECT_EQ(documents.browsers().size(), 2u);

  // A window closed by the user reports its document gone.
  documents.documentClosed(b);
  EXPECT_EQ(documents.browsers().size(), 1u);
}

TEST_F(DocumentControllerTest, RecentDocumentsNewestFirstAndAtMostTwenty) {
  for (int i = 0; i < 25; ++i)
    documents.noteRecentDocument(home.path() / ("s" + std::to_string(i) + ".tfsnap"));
  documents.noteRecentDocument(home.path() / "s20.tfsnap");
  const auto recent = documents.recentDocuments();
  ASSERT_EQ(recent.size(), 20u);
  EXPECT_EQ(recent[0], home.path() / "s20.tfsnap");
  EXPECT_EQ(recent[1], home.path() / "s24.tfsnap");
  EXPECT_EQ(recent[19], home.path() / "s5.tfsnap");
  EXPECT_TRUE(Preferences::standard()->get(DocumentController::recentDocumentsKey)->is_array());
}

TEST(Settings, WritesResetsAndNotifiesOnlyOnChange) {
  testsupport::ScopedHome home;
  Settings settings(Preferences::standard());
  QSignalSpy speed(&settings, &Settings::scanSpeedChanged);
  QSignalSpy folder(&settings, &Settings::snapshotsFolderChanged);
  EXPECT_EQ(settings.scanSpeed(), ScanSpeed::fast);
  settings.setScanSpeed(ScanSpeed::fast);
  EXPECT_EQ(speed.count(), 0);
  settings.setScanSpeed(ScanSpeed::gentle);
  EXPECT_EQ(speed.count(), 1);
  // Shared with tfscan through the file: another reader of the store sees it.
  EXPECT_EQ(Preferences::standard()->scanSpeed(), ScanSpeed::gentle);
  settings.resetScanSpeed();
  EXPECT_EQ(settings.scanSpeed(), ScanSpeed::fast);
  EXPECT_EQ(speed.count(), 2);

  EXPECT_EQ(settings.snapshotsFolder(), home.path() / ".local/share/tallyfox");
  settings.setSnapshotsFolder(home.path() / "Snaps");
  EXPECT_EQ(folder.count(), 1);
  EXPECT_EQ(Preferences::standard()->getString(Preferences::snapshotsFolderKey), "~/Snaps");
  EXPECT_EQ(settings.snapshotsFolder(), home.path() / "Snaps");
  EXPECT_EQ(settings.snapshotsFolderText(), QStringLiteral("~/Snaps"));
  settings.resetSnapshotsFolder();
  EXPECT_EQ(settings.snapshotsFolder(), home.path() / ".local/share/tallyfox");
  EXPECT_EQ(folder.count(), 2);

  Settings none(std::nullopt);  // no home: defaults, and writes change nothing
  none.setScanSpeed(ScanSpeed::gentle);
  EXPECT_EQ(none.scanSpeed(), ScanSpeed::fast);
}

// A preferences file too deep to read is set aside: the app runs on the defaults, says why
// where the settings are shown, and none of its writes replaces the file.
TEST(Settings, ARefusedFileIsExplainedAndNeverRewritten) {
  testsupport::ScopedHome home;
  const fs::path file = *Preferences::standardFile();
  const std::string deep = testsupport::deeplyNestedPreferences(100000);
  testsupport::writeFile(file, deep);
  Settings settings(Preferences::standard());
  EXPECT_EQ(settings.refusal(),
            QStringLiteral("~/.config/io.quillon.Tallyfox/preferences.json is nested deeper "
                           "than 100 levels, so Tallyfox uses its default settings and saves "
                           "no changes."));
  EXPECT_EQ(settings.scanSpeed(), ScanSpeed::fast);
  QSignalSpy speed(&settings, &Settings::scanSpeedChanged);
  settings.setScanSpeed(ScanSpeed::gentle);
  settings.setSnapshotsFolder(home.path() / "Snaps");
  settings.setBrowserWindowSize(QSize(900, 600));
  {
    PreferencesPlaceStore places(Preferences::standard());
    places.setValue("file:/a.tfsnap", {{"selection", 1}});
  }
  EXPECT_EQ(speed.count(), 0);
  EXPECT_EQ(settings.scanSpeed(), ScanSpeed::fast);
  const auto bytes = testsupport::readBytes(file);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), deep);

  fs::remove(file);
  EXPECT_EQ(settings.refusal(), QString());
}

TEST(PlaceStore, CollectsChangesAndWritesThemAtMostOnceADelay) {
  testsupport::ScopedHome home;
  const fs::path file = *Preferences::standardFile();
  {
    PreferencesPlaceStore places(Preferences::standard());
    // A held arrow key: many changes, and the file is not rewritten for each.
    for (int i = 0; i < 200; ++i) places.setValue("file:/a.tfsnap", {{"selection", i}});
    places.setValue("file:/b.tfsnap", {{"folder", "x"}});
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(places.value("file:/a.tfsnap")->at("selection"), 199);  // pending ones read back
    EXPECT_TRUE(testsupport::waitFor([&] { return fs::exists(file); }));
    EXPECT_EQ(Preferences::standard()->get(PreferencesPlaceStore::key)->at("file:/a.tfsnap").at("selection"),
              199);

    places.setValue("file:/b.tfsnap", nullptr);  // removed
    places.setValue("file:/c.tfsnap", {{"folder", "y"}});
  }  // the store goes (the app quits): what is pending is written at once
  const auto stored = Preferences::standard()->get(PreferencesPlaceStore::key);
  ASSERT_TRUE(stored);
  EXPECT_FALSE(stored->contains("file:/b.tfsnap"));
  EXPECT_EQ(stored->at("file:/c.tfsnap").at("folder"), "y");
  // Another key of the shared store is left alone.
  Preferences::standard()->set("scanSpeed", "gentle");
  PreferencesPlaceStore again(Preferences::standard());
  again.replaceAll({{"file:/d.tfsnap", 1}});
  again.flush();
  EXPECT_EQ(*Preferences::standard()->get(PreferencesPlaceStore::key),
            (nlohmann::json{{"file:/d.tfsnap", 1}}));
  EXPECT_EQ(Preferences::standard()->scanSpeed(), ScanSpeed::gentle);
}

TEST(Requests, AreAnsweredOnceAndAsCancelledWhenNobodyAnswers) {
  Requests requests;
  std::vector<std::optional<fs::path>> files;
  // No window listening: the asker still hears back.
  requests.ask(
      std::make_shared<FileRequest>(FileRequest::Kind::save, [&](auto answer) { files.push_back(answer); }));
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0], std::nullopt);

  std::vector<bool> answers;
  QObject::connect(&requests, &Requests::confirmationRequested, [](const ConfirmationRequestPtr& request) {
    request->answer(true);
    request->answer(false);  // a second answer is not heard
  });
  requests.ask(std::make_shared<ConfirmationRequest>([&](bool yes) { answers.push_back(yes); }));
  EXPECT_EQ(answers, std::vector<bool>{true});
}

}  // namespace
