#include "AppTestSupport.h"

#include <gtest/gtest.h>

#include <QTest>

namespace testsupport {

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
  return QTest::qWaitFor(done, int(deadline.count()));
}

void waitUntilLoaded(const tallyfox::BrowserModel& model) {
  EXPECT_TRUE(waitFor([&] { return !model.state().isLoading(); })) << "loading did not finish";
}

tallyfox::NodeId idOf(const tallyfox::BrowserModel& model, const std::string& name) {
  const auto& tree = *model.tree();
  for (tallyfox::NodeId id = 1; id < tree.totalNodes(); ++id)
    if (tree.name(id) == name) return id;
  ADD_FAILURE() << "no node named " << name;
  return -1;
}

std::optional<QString> FakeUpdaterDriver::start(Listener& listener) {
  if (state_->startError) return state_->startError;
  state_->listener = &listener;
  return std::nullopt;
}

namespace {

struct Recorder : tallyfox::FileManager,
                  tallyfox::Opener,
                  tallyfox::Clipboard,
                  tallyfox::Beep,
                  tallyfox::Trash,
                  tallyfox::Terminal {
  explicit Recorder(std::shared_ptr<RecordingDesktop::State> s) : state(std::move(s)) {}
  void reveal(const QByteArray& path) override { state->revealed << path; }
  void open(const QByteArray& path) override { state->opened << path; }
  void copyFileReference(const QByteArray& path) override { state->copiedReferences << path; }
  void copyText(const QString& text) override { state->copiedTexts << text; }
  void beep() override { ++state->beeps; }
  std::optional<QString> moveToTrash(const QByteArray& path) override {
    if (state->trashFails.contains(path)) return QStringLiteral("Permission denied");
    state->trashed << path;
    return std::nullopt;
  }
  tallyfox::EmptyingReport empty() override {
    ++state->emptied;
    return {state->emptyRefused, state->emptyError};
  }
  std::optional<QString> deletePermanently(const QByteArray& path, const QByteArray& base) override {
    if (state->deleteFails.contains(path)) return QStringLiteral("Read-only file system");
    state->deleted << path;
    state->deletedBelow << base;
    return std::nullopt;
  }
  std::optional<QString> openIn(const QByteArray& folder) override {
    state->terminals << folder;
    return std::nullopt;
  }
  std::shared_ptr<RecordingDesktop::State> state;
};

}  // namespace

tallyfox::Desktop RecordingDesktop::desktop() const {
  auto recorder = std::make_shared<Recorder>(state);
  return {recorder, recorder, recorder, recorder, recorder, recorder};
}

}  // namespace testsupport
