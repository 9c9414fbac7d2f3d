#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace tallyfox {

// Opens a terminal in a folder.
class Terminal {
 public:
  virtual ~Terminal() = default;
  // `folder` is the folder's exact bytes. Returns the reason when no terminal could start.
  virtual std::optional<QString> openIn(const QByteArray& folder) = 0;

  // ghostty, else the Debian alternative x-terminal-emulator, else $TERMINAL, else
  // gnome-terminal, konsole, xterm: the first found on PATH, started in the folder.
  static std::shared_ptr<Terminal> system();
};

}  // namespace tallyfox
