#pragma once

#include "model/SshTarget.h"

#include <QDialog>

#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tallyfox {

// Scan Remote Folder…: a host, offered from the hosts of ~/.ssh/config or typed
// ("user@host:port" too), and a folder on it.
class RemoteScanDialog : public QDialog {
  Q_OBJECT
 public:
  explicit RemoteScanDialog(QWidget* parent = nullptr);

  // What was chosen, once accepted.
  std::optional<SshTarget> target() const;
  QString path() const;

  QComboBox* hostField() const { return host_; }
  QLineEdit* pathField() const { return path_; }
  QString problem() const;

 signals:
  // The ssh configuration was read and its hosts offered.
  void hostsOffered();

 private:
  void check();

  QComboBox* host_;
  QLineEdit* path_;
  QLabel* problem_;
  QPushButton* scan_;
};

}  // namespace tallyfox
