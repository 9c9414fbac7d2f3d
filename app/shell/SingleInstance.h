#pragma once

#include "shell/InstanceRequest.h"

#include <QObject>
#include <QString>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

class QLocalServer;
class QLockFile;

namespace tallyfox {

// One Tallyfox per user session: a later launch hands its files to the running one over a
// local socket and exits. The socket lives in $XDG_RUNTIME_DIR (private to the user), else
// in the temporary folder under a name with the user id.
class SingleInstance : public QObject {
  Q_OBJECT
 public:
  // `name` is the socket's path; by default defaultName().
  explicit SingleInstance(QString name = defaultName(), QObject* parent = nullptr);
  ~SingleInstance() override;

  static QString defaultName();

  // Tries to give the files or folders (absolute paths, as bytes; none means "show
  // yourself") to a running instance, with newScan asking it to offer a new scan as well.
  // True when one took them: this process should end.
  bool handOff(const std::vector<std::filesystem::path>& files, bool newScan = false);
  // What a growth alert asks for: a snapshot compared with an earlier one (none: shown
  // alone), at a folder.
  using Comparison = InstanceRequest::Comparison;
  // Gives the comparison to a running instance; true when one took it.
  bool handOffComparison(const Comparison& comparison);
  // Becomes the instance others hand their files to. False when the socket cannot be made.
  bool listen();
  bool isListening() const;
  const QString& name() const { return name_; }

 signals:
  // Another launch asked for these files or folders, byte for byte as it named them; empty
  // when it was started without any.
  void filesRequested(const std::vector<std::filesystem::path>& files);
  // Another launch asked for the start window, to begin a new scan.
  void newScanRequested();
  void comparisonRequested(const tallyfox::SingleInstance::Comparison& comparison);

 private:
  void accept();
  // True when the instance acknowledged the request.
  bool send(const InstanceRequest& request);

  QString name_;
  std::unique_ptr<QLockFile> lock_;
  QLocalServer* server_ = nullptr;
};

}  // namespace tallyfox
