#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace tallyfox {

// A question a model puts to its window, which answers it with a dialog: the model itself
// stays free of widgets, and a test answers in its place. The answer is given once; a
// request that is dropped unanswered (no window, the window closed) answers as cancelled,
// so whoever asked always hears back.
template <typename Answer>
class Request {
 public:
  using Reply = std::function<void(Answer)>;
  explicit Request(Reply reply) : reply_(std::move(reply)) {}
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;
  ~Request() { answer(Answer{}); }

  void answer(Answer value) {
    if (!reply_) return;
    Reply reply = std::move(reply_);
    reply_ = nullptr;
    reply(std::move(value));
  }
  bool isAnswered() const { return !reply_; }

 private:
  Reply reply_;
};

// A file to open or a place to save one; answered with the chosen path, or nothing.
struct FileRequest : Request<std::optional<std::filesystem::path>> {
  enum class Kind { open, save };
  FileRequest(Kind kind, Reply reply) : Request(std::move(reply)), kind(kind) {}

  Kind kind;
  QString message;
  // Where the chooser starts; for saving, the proposed name goes with it.
  std::filesystem::path folder;
  QString proposedName;
  // As Qt's file dialogs take them: "Snapshots (*.tfsnap *.vok)".
  QStringList nameFilters;
};

// Go ahead or not; answered true only by the confirming button.
struct ConfirmationRequest : Request<bool> {
  explicit ConfirmationRequest(Reply reply) : Request(std::move(reply)) {}

  QString title;
  QString message;
  QString confirmText;
  QString cancelText = QStringLiteral("Cancel");
  // The confirming button reads as dangerous and is not the default one.
  bool destructive = false;
};

using FileRequestPtr = std::shared_ptr<FileRequest>;
using ConfirmationRequestPtr = std::shared_ptr<ConfirmationRequest>;

// Where a model's questions go out. The window connects to the signals and answers.
class Requests : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

  // Sends the request; `reply` hears the answer on the main thread, possibly later.
  void ask(const FileRequestPtr& request) { emit fileRequested(request); }
  void ask(const ConfirmationRequestPtr& request) { emit confirmationRequested(request); }
  // Something went wrong that the user asked for and should hear about; nothing to answer.
  void alert(const QString& title, const QString& message) { emit alertRequested(title, message); }

 signals:
  void fileRequested(tallyfox::FileRequestPtr request);
  void confirmationRequested(tallyfox::ConfirmationRequestPtr request);
  void alertRequested(const QString& title, const QString& message);
};

}  // namespace tallyfox
